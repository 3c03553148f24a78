#include "app/OperatorBoxes.h"

#include "platform/MessageSink.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QMessageBox>
#include <QScreen>
#include <QStyle>
#include <QStyleFactory>

// The resource initialiser has to be named outside any namespace.
static void InitPictureResource() {
    Q_INIT_RESOURCE(kv6251);
}

namespace {

// The forms' fixed layout puts each group box's caption into the top edge of its frame; of Qt's
// built-in styles, "Windows" draws it there.
constexpr const char* kWidgetStyle = "Windows";
constexpr const char* kProgramIcon = ":/pictures/program.png";
constexpr const char* kFormFont = "MS Sans Serif";
constexpr const char* kDesktopId = "com.norvell.kv6251";
// The icon bits of a message box's flags; the low bits would choose buttons (every box has Ok).
constexpr int kIconMask = 0xF0;

QMessageBox::Icon IconForFlags(int flags) {
    switch (flags & kIconMask) {
    case kIconError:
        return QMessageBox::Critical;
    case kIconExclamation:
        return QMessageBox::Warning;
    case kIconInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

void RunBox(QWidget* parent, const QString& caption, const QString& text, QMessageBox::Icon icon,
            const QString& details) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
    if (!details.isEmpty())
        box.setDetailedText(details);
    // A box raised in the middle of a Send (the link's own message) is answered with the normal
    // pointer, not under the Send's wait cursor.
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    if (busy)
        QApplication::restoreOverrideCursor();
}

} // namespace

void ShowBox(QWidget* parent, const QString& text, int flags, const QString& details) {
    RunBox(parent, QString::fromUtf8(kCaption), text, IconForFlags(flags), details);
}

void ShowPlainMessage(QWidget* parent, const QString& text) {
    RunBox(parent, QString::fromUtf8(kApplicationTitle), text, QMessageBox::NoIcon, {});
}

void ShowExceptionMessage(const QString& what) {
    RunBox(nullptr, QString::fromUtf8(kApplicationTitle), what, QMessageBox::Critical, {});
}

void CentreOnScreen(QWidget* window) {
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame(QPoint(0, 0), window->frameGeometry().size());
    frame.moveCenter(screen->availableGeometry().center());
    window->move(frame.topLeft()); // move() places the frame
}

void LoadPictures() {
    static const bool loaded = (InitPictureResource(), true);
    (void)loaded;
}

void PrepareApplication(QApplication& app) {
    LoadPictures();
    // The forms ask for "MS Sans Serif" at fixed pixel sizes. Where it is missing, prefer the
    // narrow sans faces of similar width, so that the texts fit the fixed-size labels, before the
    // wide default face.
    QFont::insertSubstitutions(QString::fromUtf8(kFormFont),
                               {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("Nimbus Sans"), QStringLiteral("Nimbus Sans L"), QStringLiteral("Arial"),
                                QStringLiteral("Helvetica")});
    if (QStyle* style = QStyleFactory::create(QString::fromUtf8(kWidgetStyle)))
        QApplication::setStyle(style);
    app.setWindowIcon(QIcon(QString::fromUtf8(kProgramIcon)));
    // Lets the desktop match the windows to the installed desktop entry and its icon.
    QGuiApplication::setDesktopFileName(QString::fromUtf8(kDesktopId));
}
