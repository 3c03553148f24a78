#include "app/LinkMessageSink.h"

#include "app/OperatorBoxes.h"
#include "app/Switchermain.h"
#include "platform/MessageSink.h"

#include <QCoreApplication>
#include <QString>
#include <QThread>

#include <cstdio>

namespace {

void ShowLinkMessage(const OperatorMessage& message) {
    ShowBox(frm_Main, QString::fromStdString(message.text), message.flags,
            QString::fromStdString(MessageDetails(message)));
    if (frm_Main)
        frm_Main->CheckLinkLook();
}

} // namespace

void LinkMessageSink(const OperatorMessage& message) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        std::fprintf(stderr, "%s\n", message.text.c_str());
        return;
    }
    if (QThread::currentThread() == app->thread()) {
        ShowLinkMessage(message);
        return;
    }
    // The application object outlives every receiver thread: the window closes the link before
    // the event loop ends.
    QMetaObject::invokeMethod(
        app, [message] { ShowLinkMessage(message); }, Qt::QueuedConnection);
}
