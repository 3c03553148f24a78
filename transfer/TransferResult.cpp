#include "transfer/TransferResult.h"

#include <cstdio>
#include <string_view>

std::string TransferResultText(int code) {
    if (code == kTransferOk)
        return kMsgProcessSuccessful;
    char text[24];
    std::snprintf(text, sizeof text, kMsgErrorCode, code);
    return text;
}

std::string TransferResultMeaning(int code) {
    if (code < 0 || code >= kTransferCodeCount)
        return kTransferMeaningUnknown;
    return kTransferMeanings[code];
}

std::string TransferResultDetails(int code, const TransferDetail& detail) {
    std::string text = TransferResultMeaning(code);
    char line[160];
    if (code == kTransferSizesDiffer && detail.sentSize >= 0 && detail.readSize >= 0) {
        std::snprintf(line, sizeof line, kDetailSizesFormat, detail.sentSize, detail.readSize);
        text += '\n';
        text += line;
    } else if (code == kTransferContentsDiffer && detail.firstDiff >= 0) {
        std::snprintf(line, sizeof line, kDetailDifferenceFormat, detail.firstDiff,
                      static_cast<unsigned>(detail.sentByte), static_cast<unsigned>(detail.readByte), detail.diffCount);
        text += '\n';
        text += line;
    }
    if (!detail.unwrittenSendFile.empty()) {
        // Spliced rather than printed: a path has no length limit.
        const std::string_view format = kDetailSendFileFormat;
        const size_t at = format.find("%s");
        text += '\n';
        text.append(format.substr(0, at)).append(detail.unwrittenSendFile).append(format.substr(at + 2));
    }
    return text;
}
