#include "app/Switchermain.h"

#include "app/Kv6251_about.h"
#include "app/LinkMessageSink.h"
#include "app/OperatorBoxes.h"
#include "app/PidKeyGuard.h"
#include "files/NumberText.h"
#include "files/PortFile.h"
#include "files/SwiFile.h"
#include "link/PacketTrace.h"
#include "link/Ser921.h"
#include "platform/MessageSink.h"
#include "platform/PortMap.h"
#include "platform/RootDir.h"
#include "transfer/Utiltrp.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QLayout>
#include <QPalette>
#include <QScopedValueRollback>
#include <QShowEvent>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>

uint16_t PidA = 0;
uint16_t PidB = 0;
uint16_t PidC = 0;
uint16_t PidD = 0;
int16_t Mode = 0;
int16_t PortNumber = 0;

Tfrm_Main* frm_Main = nullptr;

namespace {

// Characters with codes up to this one (spaces and control characters) count as blank when
// deciding whether a PID field is filled.
constexpr char16_t kLastBlank = 32;

QString Text(const char* text) {
    return QString::fromUtf8(text);
}
QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

bool IsFilled(const QLineEdit* field) {
    const QString text = field->text();
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > kLastBlank; });
}

uint16_t FieldValue(const QLineEdit* field) {
    return TextToU16(field->text().toStdString());
}

SwitchConfig SharedConfig() {
    return SwitchConfig{PidA, PidB, PidC, PidD, Mode};
}

void StoreSharedConfig(const SwitchConfig& config) {
    PidA = config.PidA;
    PidB = config.PidB;
    PidC = config.PidC;
    PidD = config.PidD;
    Mode = config.Mode;
}

std::string LocalPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// The wait cursor while a Send or Get blocks the window; gone before any message box shows.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

[[noreturn]] void EndProcess(int code) {
    StopPacketTrace(); // the last lines of a trace are still in memory
    std::fflush(nullptr);
    std::_Exit(code);
}

// " 09:05:07" for 9:05:07.
QString FormatClock(int hours, int minutes, int seconds) {
    return QString::asprintf(kClockFormat, hours, minutes, seconds);
}

// The name of an output mode; empty for an index outside the table (no item selected).
QString ModeName(int index) {
    if (index < 0 || index >= static_cast<int>(kModeNames.size()))
        return {};
    return Text(kModeNames[static_cast<size_t>(index)]);
}

} // namespace

// ---- construction ---------------------------------------------------------------------------

Tfrm_Main::Tfrm_Main(QWidget* parent) : QMainWindow(parent) {
    LoadPictures();
    setupUi(this);

    // The form file cannot name separators; the File menu holds two.
    std::array<QAction**, 2> separators = {&N1, &N2};
    size_t found = 0;
    for (QAction* action : mn_File->actions()) {
        if (action->isSeparator() && found < separators.size()) {
            *separators[found] = action;
            action->setObjectName(found == 0 ? QStringLiteral("N1") : QStringLiteral("N2"));
            ++found;
        }
    }

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(kClockIntervalMs);

    // Fixed border with system menu and minimise only; the client area is the form's.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    layout()->activate();

    pidTypingLimit_ = txt_PidA->maxLength();

    // The window starts in the disconnected look, showing the selected mode's name.
    ApplyLinkLook(false);
    lbl_Mode->setText(ModeName(rdg_Mode->ItemIndex()));
    RefreshPortTooltips();

    WireHandlers();
    SetMessageSink(LinkMessageSink);
    frm_Main = this;

    txt_PidA->setFocus();
    Timer1->start();
}

Tfrm_Main::~Tfrm_Main() {
    // The base class destroys the controls after this body; moving the focus away from a
    // dying field, or a key in it, must not reach this half-destroyed window.
    disconnect(qApp, nullptr, this, nullptr);
    delete pidKeyGuard_;
    Timer1->stop();
    // No receiver thread may outlive the window that shows its messages.
    if (IsConnected() == 1 || ReceiverRunning())
        CloseLink();
    if (frm_Main == this) {
        SetMessageSink({});
        frm_Main = nullptr;
    }
}

void Tfrm_Main::WireHandlers() {
    connect(bt_Connect, &QToolButton::clicked, this, [this] { bt_ConnectClick(bt_Connect); });
    connect(mn_Connect, &QAction::triggered, this, [this] { bt_ConnectClick(mn_Connect); });
    connect(bt_Disconnect, &QToolButton::clicked, this, [this] { bt_DisconnectClick(bt_Disconnect); });
    connect(mn_Disconnect, &QAction::triggered, this, [this] { bt_DisconnectClick(mn_Disconnect); });
    connect(bt_Exit, &QToolButton::clicked, this, [this] { bt_ExitClick(bt_Exit); });
    connect(mn_Exit, &QAction::triggered, this, [this] { bt_ExitClick(mn_Exit); });
    connect(bt_About, &QToolButton::clicked, this, [this] { bt_AboutClick(bt_About); });
    connect(mn_About, &QAction::triggered, this, [this] { bt_AboutClick(mn_About); });
    connect(bt_Get, &QToolButton::clicked, this, [this] { bt_GetClick(bt_Get); });
    connect(mn_Get, &QAction::triggered, this, [this] { bt_GetClick(mn_Get); });
    // The menu items of Open, Save and Send run the commands of their buttons.
    connect(bt_Open, &QToolButton::clicked, this, [this] { bt_OpenClick(bt_Open); });
    connect(mn_Open, &QAction::triggered, this, [this] { bt_OpenClick(mn_Open); });
    connect(bt_Save, &QToolButton::clicked, this, [this] { bt_SaveClick(bt_Save); });
    connect(mn_Save, &QAction::triggered, this, [this] { bt_SaveClick(mn_Save); });
    connect(bt_Send, &QToolButton::clicked, this, [this] { bt_SendClick(bt_Send); });
    connect(mn_Send, &QAction::triggered, this, [this] { bt_SendClick(mn_Send); });

    for (QAction* item : PortItems())
        connect(item, &QAction::triggered, this, [this, item] { mn_Port_COM1Click(item); });
    connect(mn_Port, &QMenu::aboutToShow, this, &Tfrm_Main::RefreshPortTooltips);

    connect(rdg_Mode, &RadioGroup::itemClicked, this, [this] { rdg_ModeClick(rdg_Mode); });
    connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(Timer1); });

    pidKeyGuard_ = new PidKeyGuard(this, [this](QObject* field, QChar& key) { txt_PidAKeyPress(field, key); });
    for (int i = 0; i < kPidCount; ++i) {
        QLineEdit* field = PidField(i);
        field->installEventFilter(pidKeyGuard_);
        // Once a longer value from a file has been shortened, the typing limit holds again.
        connect(field, &QLineEdit::textChanged, this, [this, field](const QString& text) {
            if (field->maxLength() > pidTypingLimit_ && text.size() <= pidTypingLimit_)
                field->setMaxLength(pidTypingLimit_);
        });
    }
    connect(qApp, &QApplication::focusChanged, this, &Tfrm_Main::OnFocusChanged);
}

std::array<QAction*, kPortItemCount> Tfrm_Main::PortItems() const {
    return {mn_Port_COM1, mn_Port_COM2, mn_Port_COM3, mn_Port_COM4, mn_Port_COM5,
            mn_Port_COM6, mn_Port_COM7, mn_Port_COM8, mn_Port_COM9};
}

QLineEdit* Tfrm_Main::PidField(int index) const {
    switch (index) {
    case 0:
        return txt_PidA;
    case 1:
        return txt_PidB;
    case 2:
        return txt_PidC;
    case 3:
        return txt_PidD;
    default:
        return nullptr;
    }
}

void Tfrm_Main::SetPidText(QLineEdit* field, const QString& text) {
    // A line edit cuts any text to its maximum length, also text set by the program; widen the
    // limit to the value first (the textChanged hook narrows it again once the text fits).
    field->setMaxLength(std::max(pidTypingLimit_, static_cast<int>(text.size())));
    field->setText(text);
}

bool Tfrm_Main::AnyPidFilled() const {
    for (int i = 0; i < kPidCount; ++i)
        if (IsFilled(PidField(i)))
            return true;
    return false;
}

SwitchConfig Tfrm_Main::ConfigFromFields() const {
    return SwitchConfig{FieldValue(txt_PidA), FieldValue(txt_PidB), FieldValue(txt_PidC), FieldValue(txt_PidD), Mode};
}

void Tfrm_Main::ShowPids(bool withSwitchB) {
    const uint16_t pids[kPidCount] = {PidA, PidB, PidC, PidD};
    for (int i = 0; i < kPidCount; ++i) {
        const bool switchB = i >= 2;
        SetPidText(PidField(i), switchB && !withSwitchB ? QString() : QString::number(pids[i]));
    }
}

QFileDialog* Tfrm_Main::FileDialog(QFileDialog::AcceptMode mode) {
    // Built when first needed: the two dialogs cost more to build than the rest of the window.
    QFileDialog*& dialog = mode == QFileDialog::AcceptOpen ? dlg_Open : dlg_Save;
    if (dialog)
        return dialog;
    dialog = new QFileDialog(this);
    dialog->setObjectName(mode == QFileDialog::AcceptOpen ? QStringLiteral("dlg_Open") : QStringLiteral("dlg_Save"));
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog->setNameFilter(Text(kSwiFilter));
    if (mode == QFileDialog::AcceptSave)
        dialog->setDefaultSuffix(Text(kSwiSuffix));
    return dialog;
}

bool Tfrm_Main::IsPidField(const QObject* object) const {
    return object && (object == txt_PidA || object == txt_PidB || object == txt_PidC || object == txt_PidD);
}

// ---- start-up, activation, end --------------------------------------------------------------

void Tfrm_Main::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        RunPendingActivation();
}

void Tfrm_Main::RunPendingActivation() {
    // Message boxes, file dialogs, menus and other applications take the activation away and
    // give it back without a pending run; only start-up and the About window leave one.
    if (!activationPending_)
        return;
    activationPending_ = false;
    FormActivate(this);
}

void Tfrm_Main::FormActivate(QObject* Sender) {
    (void)Sender;
    PidA = 0;
    PidB = 0;
    PidC = 0;
    PidD = 0;
    // Mode follows the group's selection, so that a Send or Save after re-activation sends
    // the mode the window shows.
    Mode = static_cast<int16_t>(rdg_Mode->ItemIndex());

    // Load the port setting: a file that cannot be read means no port, and the menu and the
    // panel keep what they show.
    int16_t port = 0;
    if (!LoadPortSetting(&port)) {
        PortNumber = 0;
        return;
    }
    PortNumber = port;
    if (PortNumber >= 1 && PortNumber <= kPortItemCount)
        PortItems()[static_cast<size_t>(PortNumber - 1)]->setChecked(true);
    lbl_PortSerial->setText(QString::asprintf(kPortLoadedFormat, PortNumber));
}

void Tfrm_Main::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    // Centred on the desktop when first shown; later the operator's place is kept.
    if (!placed_) {
        placed_ = true;
        CentreOnScreen(this);
    }
}

void Tfrm_Main::closeEvent(QCloseEvent* event) {
    // Closing from the title bar shuts the link down too, so that no receiver thread outlives
    // the window (also one still repairing a lost link).
    if (IsConnected() == 1 || ReceiverRunning())
        CloseLink();
    QMainWindow::closeEvent(event);
}

void Tfrm_Main::bt_ExitClick(QObject* Sender) {
    (void)Sender;
    if (IsConnected() == 1)
        CloseLink();
    close();
    EndProcess(EXIT_SUCCESS);
}

// ---- connection look and clock --------------------------------------------------------------

void Tfrm_Main::ApplyLinkLook(bool connected) {
    connectedLook_ = connected;
    bt_Connect->setEnabled(!connected);
    mn_Connect->setEnabled(!connected);
    bt_Disconnect->setEnabled(connected);
    mn_Disconnect->setEnabled(connected);
    bt_Get->setEnabled(connected);
    mn_Get->setEnabled(connected);
    mn_Port->menuAction()->setEnabled(!connected);
    RedLed->setVisible(!connected); // uncovers GreenLed while connected
    lbl_Status->setText(Text(connected ? kStatusConnected : kStatusDisconnected));
}

void Tfrm_Main::CheckLinkLook() {
    // A link that stopped by itself (its reopen failed) needs the operator to connect again;
    // a link that is only lost repairs itself and keeps the connected look.
    if (connectedLook_ && IsConnected() == 0 && LinkStopFlag() == 1)
        ApplyLinkLook(false);
}

void Tfrm_Main::bt_ConnectClick(QObject* Sender) {
    (void)Sender;
    if (OpenLink(PortNumber) != 1)
        return; // the link has told the operator why
    ApplyLinkLook(true);
    txt_PidAExit(txt_PidA);
}

void Tfrm_Main::bt_DisconnectClick(QObject* Sender) {
    (void)Sender;
    if (IsConnected() == 0)
        return;
    CloseLink();
    ApplyLinkLook(false);
}

void Tfrm_Main::Timer1Timer(QObject* Sender) {
    (void)Sender;
    const QTime now = QTime::currentTime();
    lbl_Timer->setText(FormatClock(now.hour(), now.minute(), now.second()));
    CheckLinkLook();
}

// ---- PID fields and output mode -------------------------------------------------------------

void Tfrm_Main::txt_PidAKeyPress(QObject* Sender, QChar& Key) {
    (void)Sender;
    const bool digit = Key.unicode() >= u'0' && Key.unicode() <= u'9';
    if (!digit && Key.unicode() != kBackspace)
        Key = QChar();
}

void Tfrm_Main::OnFocusChanged(QWidget* old, QWidget* now) {
    // The exit rule follows the operator's focus moves between the window's controls. The
    // window losing activation (now is nullptr or another window) and the menu bar taking
    // the keyboard do not count, nor does a field losing the focus because the program
    // disabled it.
    if (programMovesFocus_ || !IsPidField(old) || !now || now == old || now->window() != this)
        return;
    if (now == MainMenu1 || qobject_cast<QMenu*>(now))
        return;
    txt_PidAExit(old);
}

void Tfrm_Main::txt_PidAExit(QObject* Sender) {
    (void)Sender;
    if (!AnyPidFilled()) {
        bt_Send->setEnabled(false);
        mn_Send->setEnabled(false);
        bt_Save->setEnabled(false);
        mn_Save->setEnabled(false);
        return;
    }
    const bool connected = IsConnected() == 1;
    bt_Send->setEnabled(connected);
    mn_Send->setEnabled(connected);
    bt_Save->setEnabled(true);
    mn_Save->setEnabled(true);
    StoreSharedConfig(ConfigFromFields());
}

void Tfrm_Main::SetSwitchBColour(bool grey) {
    // The caption takes the group's text colour; the fields inherit it only while they are
    // disabled and drawn greyed anyway.
    const QColor colour =
        grey ? QApplication::palette().color(QPalette::Disabled, QPalette::WindowText) : QColor(Qt::black);
    QPalette palette = grp_Input2->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::WindowText, colour);
        palette.setColor(group, QPalette::Text, colour);
    }
    grp_Input2->setPalette(palette);
}

void Tfrm_Main::rdg_ModeClick(QObject* Sender) {
    (void)Sender;
    const int index = rdg_Mode->ItemIndex();
    lbl_Mode->setText(ModeName(index));
    Mode = static_cast<int16_t>(index);
    if (Mode == kModeDouble) {
        txt_PidC->setEnabled(true);
        txt_PidD->setEnabled(true);
        lbl_PidC->setEnabled(true);
        lbl_PidD->setEnabled(true);
        SetSwitchBColour(false);
    } else if (Mode == kModeSingle) {
        txt_PidC->setText(QString());
        txt_PidD->setText(QString());
        {
            const QScopedValueRollback<bool> quiet(programMovesFocus_, true);
            txt_PidC->setEnabled(false);
            txt_PidD->setEnabled(false);
        }
        lbl_PidC->setEnabled(false);
        lbl_PidD->setEnabled(false);
        SetSwitchBColour(true);
    }
}

// ---- Send and Get -------------------------------------------------------------------------

int Tfrm_Main::SendConfiguration(TransferDetail* detail) {
    return SendSwitchConfig(SharedConfig(), detail);
}

void Tfrm_Main::bt_SendClick(QObject* Sender) {
    (void)Sender;
    if (IsConnected() == 0) {
        ShowBox(this, Text(kMsgNoCommunication), kIconError);
        return;
    }
    StoreSharedConfig(ConfigFromFields());

    TransferDetail detail;
    int code = 0;
    {
        const WaitCursor busy;
        code = SendConfiguration(&detail);
    }
    ShowBox(this, Text(TransferResultText(code)), code == kTransferOk ? kIconInformation : kIconError,
            Text(TransferResultDetails(code, detail)));
}

void Tfrm_Main::bt_GetClick(QObject* Sender) {
    (void)Sender;
    SwitchConfig box;
    {
        const WaitCursor busy;
        if (GetSwitchConfig(&box) != kTransferOk)
            return; // Get tells the operator nothing, not even a failure
    }
    StoreSharedConfig(box);
    rdg_Mode->setItemIndex(Mode);
    ShowPids(rdg_Mode->ItemIndex() == kModeDouble); // Single shows Switch B empty
    rdg_ModeClick(rdg_Mode);
}

// ---- port menu ----------------------------------------------------------------------------

void Tfrm_Main::mn_Port_COM1Click(QObject* Sender) {
    const auto items = PortItems();
    for (QAction* item : items)
        item->setChecked(false);
    if (auto* clicked = qobject_cast<QAction*>(Sender))
        clicked->setChecked(true);
    for (size_t i = 0; i < items.size(); ++i) {
        if (items[i]->isChecked()) {
            PortNumber = static_cast<int16_t>(i + 1);
            break;
        }
    }
    lbl_PortSerial->setText(QString::asprintf(kPortChosenFormat, PortNumber));
    // A port file that cannot be written is not worth a message: the choice holds for this run.
    (void)SavePortSetting(PortNumber);
}

void Tfrm_Main::RefreshPortTooltips() {
    // Each item names the device its number opens; a link made in the root directory since
    // the last look changes that, so this runs whenever the menu opens.
    const auto items = PortItems();
    for (size_t i = 0; i < items.size(); ++i)
        items[i]->setToolTip(Text(PortDevicePath(static_cast<int>(i + 1))));
}

// ---- Open and Save ------------------------------------------------------------------------

void Tfrm_Main::bt_OpenClick(QObject* Sender) {
    (void)Sender;
    QFileDialog* dialog = FileDialog(QFileDialog::AcceptOpen);
    if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return;
    SwitchConfig config;
    switch (LoadSwiFile(LocalPath(dialog->selectedFiles().constFirst()), &config)) {
    case SwiLoadResult::CannotOpen:
        ShowBox(this, Text(kMsgCannotOpen), kIconError);
        return;
    case SwiLoadResult::Corrupted:
        // Nothing is taken from a damaged file: shared state and window stay as they were.
        ShowPlainMessage(this, Text(kMsgCorrupted));
        return;
    case SwiLoadResult::Ok:
        break;
    }
    StoreSharedConfig(config);
    rdg_Mode->setItemIndex(Mode);
    rdg_ModeClick(rdg_Mode);
    ShowPids(true); // a file's Switch B shows even in Single
}

void Tfrm_Main::bt_SaveClick(QObject* Sender) {
    (void)Sender;
    try {
        QFileDialog* dialog = FileDialog(QFileDialog::AcceptSave);
        if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
            return;
        const QString path = dialog->selectedFiles().constFirst();
        // What the exit rule is about to store: the fields, or with none filled the PIDs as they
        // are. The rule runs only once the file is written: a failed save changes nothing else.
        const SwitchConfig saved = AnyPidFilled() ? ConfigFromFields() : SharedConfig();
        std::string reason;
        // The file is written aside and renamed over the old one only when complete, so a
        // failure leaves any earlier file as it was.
        if (!SaveSwiFile(LocalPath(path), saved, &reason)) {
            ShowBox(this, Text(kMsgSaveError), kIconError, Text(reason));
            return;
        }
        txt_PidAExit(txt_PidA);
        ShowBox(this, Text(kMsgSaveSuccessful), kIconExclamation);
    } catch (...) {
        ShowPlainMessage(this, Text(kMsgSaveException));
    }
}

// ---- About --------------------------------------------------------------------------------

void Tfrm_Main::bt_AboutClick(QObject* Sender) {
    (void)Sender;
    {
        const std::unique_ptr<Tfrm_About> about(new Tfrm_About(nullptr));
        frm_About = about.get();
        about->exec();
        frm_About = nullptr;
    }
    // The main window becomes the active form again: its activation step runs, now if the
    // window already holds the activation, else when it gets it back.
    activationPending_ = true;
    activateWindow();
    if (isActiveWindow())
        RunPendingActivation();
}
