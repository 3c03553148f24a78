// The application object of the program: an exception that escapes a handler is shown to the
// operator and the program goes on running, so that one failed command does not lose the
// session. Qt itself must never see an exception pass through its event loop.
#pragma once

#include "app/OperatorBoxes.h"

#include <QApplication>

#include <exception>

class SwitcherApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override {
        try {
            return QApplication::notify(receiver, event);
        } catch (const std::exception& error) {
            ShowExceptionMessage(QString::fromLocal8Bit(error.what()));
        } catch (...) {
            ShowExceptionMessage(QString());
        }
        return false;
    }
};
