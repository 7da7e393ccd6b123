#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <span>

#include "comm/comm.h"
#include "monitor/change_log.h"
#include "widgets/bounded_text_view.h"
#include "widgets/hint.h"
#include "widgets/main_menu.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMainWindow;
class QToolButton;
class QWidget;

namespace monitor {
class RegisterMonitor;
}

namespace terminal {

// The memos hold at most this many lines; the oldest go first, so a device that streams for
// hours leaves the newest data on the page.
inline constexpr int kStatusMemoLines = 1000;
inline constexpr int kReceivedMemoLines = 5000;
// The characters waiting for their carriage return. A device that never sends one keeps only
// its newest characters this long.
inline constexpr qsizetype kRxLineLimit = 4096;

// A memo of the page: read-only to the program's logic, it only ever gains lines at its end and
// keeps the newest of them. It gathers the lines of a device that streams at full speed, and
// follows its newest line while the user is looking at it.
class TerminalMemo : public widgets::BoundedTextView {
    Q_OBJECT
public:
    TerminalMemo(const QString& objectName, int maximumLines, QWidget* parent);
};

// What the page needs of the main window.
struct TerminalHooks {
    // The window's confirmation tone.
    std::function<void(int hz, int ms)> confirmTone;
    // The speaker itself (the port-I/O component's Sound), for the tones that do not reopen
    // the driver.
    std::function<void(int hz, int ms)> sound;
    // Appends lines to one of the two log panes.
    std::function<void(monitor::LogPane pane, const QStringList& lines)> appendLog;
};

// The terminal page "Тест": the group "UART приёмопередатчик" with the port and line-setting
// boxes, the buttons SEND, XON, BRK and OPEN, the five signal lights, the status memo Memo1
// and the received-lines memo Memo2. It owns the serial port component Comm1, whose line events
// it turns into Memo1 lines and whose received text it gathers into lines of Memo2. It colours
// its lights from the monitored registers on each tick of the monitor's poll, and runs the
// items of the menu "Управление" that the window has built (N11, N14, XON1, BREK1; NRTS and
// NDTR are check marks, read when the port opens, and N22 decides the tones of the port).
//
// The form owns it. Commands run through widgets::runCommand, so a refusal of the port ends
// the command and goes to the window's error handler. The line-event handlers run on the GUI
// thread while the watcher waits; an error there goes back to the watcher, which ends.
class TerminalPage : public QObject {
    Q_OBJECT
public:
    TerminalPage(QMainWindow* form, QWidget* page, monitor::RegisterMonitor& monitor,
                 QLabel* statusPanel2, const widgets::MainMenu& menu, TerminalHooks hooks);
    ~TerminalPage() override;

    comm::TComm& Comm1() { return Comm1_; }
    // The window's close: stops the watcher and closes the port, if it is open.
    void Close();
    const QString& RxLine() const { return RxLine_; }
    // The "?" button; the program connects it to the help text of this page.
    QToolButton& helpButton() const { return *SpeedButton23; }
    // The page's principal controls, which light up while their hint is shown.
    widgets::HintedControls hintedControls() const;

    // The light step of the poll: while the port is open one read of the monitored register
    // per light, BRK, RTS, DTR and LOP in this order; while it is closed no read, RTS, DTR, XON
    // and BRK unlit and LOP as it was.
    void lightStep();

    void SpeedButton1Click();
    void SpeedButton2Click();
    void SpeedButton3Click();
    void SpeedButton4Click();
    // The change handlers of the line-setting boxes, with the position of the chosen item
    // (-1 for a typed text).
    void ComboBaudrateChange(int position);
    void ComboBox3Change(int position);
    void ComboBox4Change(int position);
    void ComboBox5Change(int position);
    void ComboBox6Change(int position);
    // The speed typed into ComboBaudrate, when the typing has ended.
    void ComboBaudrateTyped();

    void Comm1Break();
    void Comm1Cts();
    void Comm1Dsr();
    void Comm1Ring();
    void Comm1Rlsd();
    void Comm1Error(int32_t Errors);
    void Comm1RxChar(int32_t Count);
    void Comm1RxFlag();
    void Comm1TxEmpty();

private:
    void buildGroup(QWidget* page);
    QComboBox* newLineSettingBox(int setting, QWidget* parent);
    void connectMenu();
    void connectEvents();
    void connectPort();
    void lineSettingChange(int setting, int position);
    int componentOrdinal(int setting) const;
    void showComponentLine();
    QString realSpeedSuffix() const;
    void takeReceived(std::span<const uint8_t> bytes);
    QString deviceName() const;
    bool speakerOn() const;
    QColor unlit() const;

    QMainWindow* form_;
    // N11, N14, XON1 and BREK1 click the page's buttons; NRTS, NDTR and N22 are read.
    widgets::MainMenu menu_;
    monitor::RegisterMonitor& monitor_;
    QLabel* statusPanel2_;
    TerminalHooks hooks_;
    QString RxLine_;
    // The unlit colour the light step last gave the four lights while the port was closed
    // (0 while it is open): a closed port's tick then touches no light.
    QRgb closedLightsShown_ = 0;

    QComboBox* ComboBox2 = nullptr;
    // ComboBaudrate, ComboBox3, ComboBox4, ComboBox5 and ComboBox6.
    std::array<QComboBox*, 5> lineSettingBoxes_{};
    // The ordinal each box's text names; for the speed box also the typed speed it shows (0
    // for a list item) and its text without the real rate.
    std::array<int, 5> shownOrdinals_{};
    uint32_t shownTypedRate_ = 0;
    QString shownSpeedText_;
    QLineEdit* Edit43 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QToolButton* SpeedButton2 = nullptr;
    QToolButton* SpeedButton3 = nullptr;
    QToolButton* SpeedButton4 = nullptr;
    QToolButton* SpeedButton23 = nullptr;
    std::array<QLabel*, 5> lights_{};  // StaticText1 to StaticText5
    TerminalMemo* Memo1 = nullptr;
    TerminalMemo* Memo2 = nullptr;
    QCheckBox* CheckBox1 = nullptr;

    // Last, so the port is closed and its watcher stopped before the controls its handlers
    // write to are gone.
    comm::TComm Comm1_;
};

}  // namespace terminal
