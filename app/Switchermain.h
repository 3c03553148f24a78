// The main window of the KV6251 configuration tool, and the state every command shares.
//
// The window is the form resources/Switchermain.ui (every component a member, named as the
// form names it); this class wires the handlers and holds the rules behind the controls:
// Connect/Disconnect/Exit and the connection look, the clock, the PID key filter and exit
// rule, the output-mode rule, Send and Get, the port menu, Open and Save, and About.
//
// Every handler runs on the GUI thread, to its end, blocking the window meanwhile. The shared
// switch configuration and port number below are plain process-wide values, touched only on
// the GUI thread; the link's receiver thread never sees them.
#pragma once

#include "protocol/SwitchConfig.h"
#include "ui_Switchermain.h"

#include <QFileDialog>
#include <QMainWindow>
#include <QString>
#include <QTimer>

#include <array>
#include <cstdint>

class PidKeyGuard;
struct TransferDetail;

// ---- shared state ---------------------------------------------------------------------------
// The switch configuration, in its fixed order, and the chosen port (1..9 for COM1..COM9, 0
// when none is set).
extern uint16_t PidA;
extern uint16_t PidB;
extern uint16_t PidC;
extern uint16_t PidD;
extern int16_t Mode;
extern int16_t PortNumber;

class Tfrm_Main;
extern Tfrm_Main* frm_Main;

// ---- operator texts shown by this window ----------------------------------------------------
inline constexpr const char* kStatusConnected = "Connected!";
inline constexpr const char* kStatusDisconnected = "Disconnected!";
// Names of the output modes, indexed by the item index of the output-mode group.
inline constexpr std::array<const char*, 2> kModeNames = {"Double", "Single"};
inline constexpr int kModeDouble = 0;
inline constexpr int kModeSingle = 1;
inline constexpr const char* kMsgNoCommunication = "USB no communication.";
inline constexpr const char* kMsgSaveSuccessful = "File save successful!";
inline constexpr const char* kMsgSaveError = "Error at Save.";
inline constexpr const char* kMsgSaveException = "Error in save!";
inline constexpr const char* kMsgCannotOpen = "Cannot open input file.";
inline constexpr const char* kMsgCorrupted = "File corrupted!";
// The port panel: " %d" after a choice from the menu, " %d " after loading the port file.
inline constexpr const char* kPortChosenFormat = " %d";
inline constexpr const char* kPortLoadedFormat = " %d ";
inline constexpr const char* kClockFormat = " %2.2d:%2.2d:%2.2d";
// File dialogs for switcher configuration files.
inline constexpr const char* kSwiFilter = "Switcher Files (*.swi)";
inline constexpr const char* kSwiSuffix = "swi";

inline constexpr int kClockIntervalMs = 1000;
inline constexpr int kPortItemCount = 9;

class Tfrm_Main : public QMainWindow, public Ui::Tfrm_Main {
    Q_OBJECT

public:
    explicit Tfrm_Main(QWidget* parent = nullptr);
    ~Tfrm_Main() override;
    Tfrm_Main(const Tfrm_Main&) = delete;
    Tfrm_Main& operator=(const Tfrm_Main&) = delete;

    // Components the form file cannot hold.
    QAction* N1 = nullptr; // separators of the File menu
    QAction* N2 = nullptr;
    QTimer* Timer1 = nullptr;
    QFileDialog* dlg_Open = nullptr; // built on first use (FileDialog)
    QFileDialog* dlg_Save = nullptr;

    // ---- handlers (each takes the component whose event fired) ----
    void FormActivate(QObject* Sender);
    void Timer1Timer(QObject* Sender);
    void bt_ConnectClick(QObject* Sender);
    void bt_DisconnectClick(QObject* Sender);
    void bt_ExitClick(QObject* Sender);
    void bt_AboutClick(QObject* Sender);
    // Key filter: lets digits and backspace through; any other character becomes QChar().
    void txt_PidAKeyPress(QObject* Sender, QChar& Key);
    void txt_PidAExit(QObject* Sender);
    void rdg_ModeClick(QObject* Sender);
    void bt_SendClick(QObject* Sender);
    void bt_GetClick(QObject* Sender);
    void bt_OpenClick(QObject* Sender);
    void bt_SaveClick(QObject* Sender);
    void mn_Port_COM1Click(QObject* Sender);

    // Writes the send file from the shared configuration and uploads it: a transfer result
    // code (0 success, 1..11 failures). detail, when given, receives what the code rests on.
    int SendConfiguration(TransferDetail* detail = nullptr);

    // The nine port items, mn_Port_COM1 first.
    std::array<QAction*, kPortItemCount> PortItems() const;
    QLineEdit* PidField(int index) const;
    // Shows a value in a PID field whole. Typing is limited to the form's four characters, but
    // a value from a file may have five (65535) and must not be cut.
    void SetPidText(QLineEdit* field, const QString& text);
    // Whether the window shows the connected look.
    bool ConnectedLook() const { return connectedLook_; }
    // Puts the window back into the disconnected look when the link has stopped by itself
    // (a reopen failed and was reported); run after every link message and on every tick.
    void CheckLinkLook();

protected:
    void changeEvent(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void WireHandlers();
    bool AnyPidFilled() const;
    // The PIDs the four fields hold, with the shared mode.
    SwitchConfig ConfigFromFields() const;
    // Shows the shared PIDs in the fields; Switch B's fields are emptied unless withSwitchB.
    void ShowPids(bool withSwitchB);
    QFileDialog* FileDialog(QFileDialog::AcceptMode mode);
    void ApplyLinkLook(bool connected);
    bool IsPidField(const QObject* object) const;
    void OnFocusChanged(QWidget* old, QWidget* now);
    void RefreshPortTooltips();
    void RunPendingActivation();
    void SetSwitchBColour(bool grey);

    bool connectedLook_ = false;
    // Activation runs FormActivate once when the window first becomes active and once each
    // time it becomes active again after the About window closed.
    bool activationPending_ = true;
    // Set while the program itself moves the focus away from a PID field (by disabling it);
    // the exit rule follows the operator's moves only.
    bool programMovesFocus_ = false;
    bool placed_ = false;
    // The typing limit of the PID fields, as the form sets it.
    int pidTypingLimit_ = 0;
    PidKeyGuard* pidKeyGuard_ = nullptr; // the PID fields' keyboard rules, around txt_PidAKeyPress
};
