#pragma once

#include <QColor>
#include <QObject>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>

#include "monitor/change_log.h"
#include "monitor/poll_timer.h"
#include "monitor/presets.h"
#include "monitor/register_table.h"
#include "platform/port_catalog.h"
#include "portio/port_io.h"
#include "widgets/hint.h"

class QCheckBox;
class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QToolButton;
class QWidget;

namespace monitor {

// The places of the main window that the monitor fills. The four panels and the two pages are
// the window's; the monitor gives each panel a layout of its own, and adds its group to the top
// of each page, leaving the page's layout open for what the window puts below.
struct MonitorHosts {
    QWidget* panel2;     // register groups of offsets 0-3
    QWidget* panel3;     // bit groups of offsets 0-3
    QWidget* panel4;     // register groups of offsets 4-7
    QWidget* panel5;     // bit groups of offsets 4-7
    QWidget* uartPage;   // the 17 UART status lights
    QWidget* toolsPage;  // the base-port group
};

// What the monitor needs of the window's two log panes. The poll hands each pane the lines of a
// tick in one append, in the order they were written, so a register storm costs one insert per
// pane per tick instead of one per line.
struct LogHooks {
    std::function<void(LogPane pane, const QStringList& lines)> append;
    // Gives the pane the keyboard focus, as every change record does.
    std::function<void(LogPane pane)> focus;
    TimeSource now;
};

// The register monitor of the main window: the eight registers at the base address, read on
// every tick of the 1 ms poll Timer1 and shown in hex, in decimal, as bit strings and as the
// UART status lights; and the choice of the base address from the preset box and the two
// address boxes (GCP). It builds its controls into the hosts, under the names the rest of the
// window finds them by, and is owned by the form.
//
// It also writes what the user types into the registers (the write buttons and the bit
// buttons) and logs every change of a bit string of +0 to +6 into a pane.
//
// The handlers are public so the window and tests can run them; they may throw
// ConversionError, which the signal connections hand to widgets::runCommand. Timer1 is created
// stopped: the window starts it once the base has been taken from the preset (applyPreset).
class RegisterMonitor : public QObject {
    Q_OBJECT
public:
    RegisterMonitor(QWidget* form, const MonitorHosts& hosts, portio::TPortIO& portIO, LogHooks log,
                    std::function<void(int hz, int ms)> confirmTone);

    PollTimer* timer() const { return Timer1; }
    int32_t baseAddress() const { return base_; }
    // One read of the register at base + offset; the poll's reads all go through here.
    uint8_t readRegister(int offset);
    // The terminal's lights are coloured between the bit strings and the UART lights of each
    // tick; until a step is set, that part of the tick does nothing.
    void setTerminalLightStep(std::function<void()> step) { terminalLightStep_ = std::move(step); }
    // Told, after each tick in which a bit string changed, the eight registers as the bit
    // strings show them and which changed (bit N: offset N): the changes the tick found anyway.
    using ChangeObserver =
        std::function<void(const std::array<uint8_t, kRegisterCount>& values, uint8_t changed)>;
    void setChangeObserver(ChangeObserver observer) { changeObserver_ = std::move(observer); }
    // The preset box names a UART (COM1 to COM4): the lights and the change log apply.
    bool watchesUart() const { return uartPreset_; }

    // "Отслеживать данные", the switch the settings keep.
    QCheckBox& dataControl() const { return *CheckBox2; }
    // The base-port group on the tools page.
    QWidget& basePortGroup() const { return *GroupBox1; }
    // The decimal write button of base + offset.
    QToolButton& decimalWriteButton(int offset) const { return *views_[offset].decimalButton; }
    // The write buttons and the base-port controls, which light up while their hint is shown.
    widgets::HintedControls hintedControls() const;

    // One tick of the poll.
    void Timer1Timer();
    // Takes the base address from the preset box and the address boxes, rewrites the boxes and
    // the write buttons' captions and logs the new base. Throws ConversionError when the box it
    // reads is not a number; the base then stays as it was.
    void GCP();
    // GCP without its log lines: sets the base, the address boxes and the write buttons.
    void applyPreset();
    void ComboBox1Change();
    // A UART of the machine picked to monitor: its address goes into the decimal box and the
    // preset "НОВЫЙ" is picked, as a user would; the log says once when a program has its tty
    // open, since the poll's reads then take bytes and events from the kernel's driver.
    void pickUart(const platform::PortInfo& uart);
    void SpeedButton24Click();
    void CheckBox2Click();
    void Edit1Change() { mark_ = SourceMark::Hex; }
    void Edit2Change() { mark_ = SourceMark::Decimal; }
    // The address boxes' key filters: true when the key reaches the box.
    bool Edit1KeyPress(const QKeyEvent& key) const;
    bool Edit2KeyPress(const QKeyEvent& key) const;

    // SpeedButton7Click to SpeedButton22Click: the low byte of the box's number goes to
    // base + offset. A box that holds no number throws ConversionError and nothing is written.
    void writeButtonClick(int offset, const QLineEdit& box);
    // Button1Click to Button64Click: inverts one bit of what the port reads now, which need not
    // be what the poll last showed.
    void bitButtonClick(int offset, int bit);
    // Edit11Change, Edit12Change, Edit21Change, Edit22Change, Edit39Change, Edit40Change and
    // Edit41Change: the change record of the register whose bit string has just changed. The
    // register's change counter is the bit-string box's "Tag" property.
    void bitStringChange(int offset);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct RegisterViews {
        QLineEdit* hex;
        QLineEdit* decimal;
        QLineEdit* bits;
        QToolButton* hexButton;
        QToolButton* decimalButton;
    };

    void buildRegisterGroups(QWidget* panel, int firstOffset);
    void buildBitGroups(QWidget* panel, int firstOffset);
    void buildLights(QWidget* page);
    void buildBasePortGroup(QWidget* page);
    template <class Format>
    void showReadBack(QLineEdit* box, int& shown, uint8_t value, Format format);
    // Remembers in shown what the poll last put into box, forgotten (kUnknown) whenever the
    // box's text is set.
    void forgetOnChange(QLineEdit* box, int& shown);
    // Returns whether the bit string changed.
    bool updateBitString(int offset);
    void writeLog(LogPane pane, const QStringList& lines);
    void flushLog();
    void updateLights();
    const QColor& unlit() const;

    portio::TPortIO& portIO_;
    LogHooks log_;
    std::function<void(int, int)> confirmTone_;
    std::function<void()> terminalLightStep_;
    ChangeObserver changeObserver_;
    QWidget* form_;

    int32_t base_ = 0;
    SourceMark mark_ = SourceMark::None;

    // Inside a tick the records are gathered here, per pane, and handed over once the bit
    // strings are done; a change outside a tick is written at once.
    bool batching_ = false;
    QStringList pendingLeft_;
    QStringList pendingRight_;
    LogPane focusAfterFlush_ = LogPane::None;

    PollTimer* Timer1 = nullptr;
    std::array<RegisterViews, kRegisterCount> views_{};
    // The values the poll last put into the read-back boxes and bit strings (kUnknown until
    // then, and again whenever a box's text is set) and the colours it last gave the lights: a
    // tick in which nothing changed touches no widget. Asking the widgets, their memory cold
    // after each wait, was a large share of an idle tick.
    static constexpr int kUnknown = -1;
    std::array<int, kRegisterCount> shownDecimal_{};
    std::array<int, kRegisterCount> shownHex_{};
    std::array<int, kRegisterCount> shownBits_{};
    std::array<QRgb, kLightRows.size()> shownLights_{};
    std::array<QLabel*, kLightRows.size()> lights_{};
    std::array<QColor, kLightRows.size()> litColours_{};
    QLineEdit* Edit1 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    // While ComboBox1's editor reports the end of an edit: an activation then is no pick.
    bool editorFinishing_ = false;
    bool uartPreset_ = false;
    QToolButton* SpeedButton24 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QWidget* GroupBox1 = nullptr;
};

}  // namespace monitor
