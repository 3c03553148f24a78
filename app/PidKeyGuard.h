// The keyboard rules of the PID fields, as an event filter installed on each of them.
//
// - The menu's shortcuts come first, also over a text field's own keys (Ctrl+A, Ctrl+D and
//   Ctrl+E select, delete and move there); a disabled item leaves the key to the field.
// - Every character a key press or an input method would type goes through the window's key
//   filter, one character at a time; a character it refuses is dropped and the others are typed.
// - Editing and navigation keys and the Ctrl combinations (the clipboard's among them) type no
//   character and pass, as in any text field.
#pragma once

#include <QObject>

#include <functional>

class QChar;
class QKeySequence;
class QWidget;

inline constexpr char16_t kBackspace = 8;

class PidKeyGuard : public QObject {
public:
    // The key filter turns a character it refuses into QChar().
    using KeyFilter = std::function<void(QObject* field, QChar& key)>;
    // window: whose menu shortcuts come first; also the guard's parent.
    PidKeyGuard(QWidget* window, KeyFilter keyFilter);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool IsEnabledMenuShortcut(const QKeySequence& keys) const;
    // True when the event has been dealt with here (some character was refused).
    bool FilterTyping(QObject* field, QEvent* event);

    QWidget* window_;
    KeyFilter keyFilter_;
};
