#include "app/PidKeyGuard.h"

#include <QAction>
#include <QCoreApplication>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QWidget>

#include <algorithm>
#include <utility>

PidKeyGuard::PidKeyGuard(QWidget* window, KeyFilter keyFilter)
    : QObject(window), window_(window), keyFilter_(std::move(keyFilter)) {}

bool PidKeyGuard::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::ShortcutOverride: {
        // An override left unaccepted lets the shortcut fire.
        auto* key = static_cast<QKeyEvent*>(event);
        if (IsEnabledMenuShortcut(QKeySequence(key->keyCombination())))
            return true;
        break;
    }
    case QEvent::KeyPress:
    case QEvent::InputMethod:
        if (FilterTyping(watched, event))
            return true;
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

bool PidKeyGuard::IsEnabledMenuShortcut(const QKeySequence& keys) const {
    const QList<QAction*> actions = window_->findChildren<QAction*>();
    return std::any_of(actions.begin(), actions.end(), [&keys](const QAction* action) {
        return action->isEnabled() && !action->shortcut().isEmpty() &&
               action->shortcut().matches(keys) == QKeySequence::ExactMatch;
    });
}

bool PidKeyGuard::FilterTyping(QObject* field, QEvent* event) {
    QString typed;
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        // Ctrl and Ctrl+Shift combinations are the field's commands (the clipboard's among them),
        // not typing. Alt or Meta may still type a character where the keyboard gives one, and
        // that goes through the filter; menu mnemonics fire as shortcuts before any key press.
        const Qt::KeyboardModifiers mods =
            key->modifiers() & (Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier);
        if (mods == Qt::ControlModifier || mods == (Qt::ControlModifier | Qt::ShiftModifier))
            return false;
        typed = key->text();
    } else
        typed = static_cast<QInputMethodEvent*>(event)->commitString();
    if (typed.isEmpty())
        return false;
    // Editing and navigation keys and the clipboard combinations type no printable character:
    // they pass, as they would in any text field.
    const bool control = std::all_of(typed.begin(), typed.end(), [](QChar c) {
        return c.unicode() != kBackspace && (c.unicode() < u' ' || c.unicode() == 0x7F);
    });
    if (control && event->type() == QEvent::KeyPress)
        return false;

    QString kept;
    for (QChar c : typed) {
        keyFilter_(field, c);
        if (!c.isNull())
            kept += c;
    }
    if (kept == typed)
        return false;
    auto* edit = static_cast<QLineEdit*>(field);
    if (event->type() == QEvent::KeyPress) {
        if (!kept.isEmpty())
            edit->insert(kept);
        return true;
    }
    auto* method = static_cast<QInputMethodEvent*>(event);
    QInputMethodEvent filtered(method->preeditString(), method->attributes());
    filtered.setCommitString(kept, method->replacementStart(), method->replacementLength());
    QCoreApplication::sendEvent(field, &filtered);
    return true;
}
