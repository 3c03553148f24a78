#include "protocol/SwitchConfig.h"

std::string FormatConfigText(const SwitchConfig& c) {
    const char colon = kConfigFieldSeparator;
    return std::to_string(c.PidA) + colon + std::to_string(c.PidB) + colon + std::to_string(c.PidC) + colon +
           std::to_string(c.PidD) + colon + std::to_string(c.Mode);
}

bool SplitConfigText(std::string_view text, std::array<std::string_view, kConfigFieldCount>* fields) {
    for (int i = 0; i < kConfigFieldCount; ++i) {
        const size_t colon = text.find(kConfigFieldSeparator);
        const bool last = i == kConfigFieldCount - 1;
        if ((colon == std::string_view::npos) != last)
            return false;
        (*fields)[static_cast<size_t>(i)] = text.substr(0, colon);
        text.remove_prefix(last ? text.size() : colon + 1);
    }
    return true;
}
