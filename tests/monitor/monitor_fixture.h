#pragma once

#include <gtest/gtest.h>

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <ostream>
#include <string_view>
#include <utility>
#include <vector>

#include "monitor/register_monitor.h"
#include "monitor/values.h"
#include "port_space_host.h"

// Failures then show the text rather than its bytes.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace monitor_test {

inline QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A monitor built into a bare form over a port array, with the window's parts replaced by
// recorders: each pane's lines, every append and focus call, and the tones. The clock stands at
// 12:34:56 unless a test moves it.
class MonitorTest : public testing::Test {
protected:
    void SetUp() override {
        portIO.OpenDriver();
        for (QFrame*& panel : panels) panel = new QFrame(&form);
        uartPage = new QWidget(&form);
        toolsPage = new QWidget(&form);
        monitor = new monitor::RegisterMonitor(
            &form, {panels[0], panels[1], panels[2], panels[3], uartPage, toolsPage}, portIO,
            {[this](monitor::LogPane pane, const QStringList& lines) {
                 appends.emplace_back(pane, lines.size());
                 (pane == monitor::LogPane::Right ? log : leftLog) << lines;
             },
             [this](monitor::LogPane pane) { focused.push_back(pane); }, [this] { return now; }},
            [this](int hz, int ms) { tones.emplace_back(hz, ms); });
        combo = child<QComboBox>("ComboBox1");
        edit1 = child<QLineEdit>("Edit1");
        edit2 = child<QLineEdit>("Edit2");
    }

    // What the main window does when it is activated.
    void activate() {
        monitor->GCP();
        clearLogs();
    }

    void clearLogs() {
        log.clear();
        leftLog.clear();
        appends.clear();
        focused.clear();
    }

    void tick() {
        host.readPorts.clear();
        monitor->Timer1Timer();
    }

    // A pick from the drop-down list, as the list reports it.
    void pick(const QString& item) {
        const int index = combo->findText(item);
        ASSERT_GE(index, 0) << item.toStdString();
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }

    uint16_t port(int offset) const {
        return monitor::registerPort(monitor->baseAddress(), offset);
    }
    void setRegister(int offset, uint8_t value) { host.ports[port(offset)] = value; }

    template <class T>
    T* child(std::string_view name) {
        T* widget = form.findChild<T*>(qs(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString text(std::string_view name) { return child<QLineEdit>(name)->text(); }
    QColor lightColour(std::string_view name) {
        return child<QLabel>(name)->palette().color(QPalette::Window);
    }
    QColor unlit() const { return form.palette().color(QPalette::Button); }

    PortSpaceHost host;
    portio::TPortIO portIO{host};
    QWidget form;
    std::array<QFrame*, 4> panels{};
    QWidget* uartPage = nullptr;
    QWidget* toolsPage = nullptr;
    monitor::RegisterMonitor* monitor = nullptr;
    QComboBox* combo = nullptr;
    QLineEdit* edit1 = nullptr;
    QLineEdit* edit2 = nullptr;
    QStringList log;  // the right pane
    QStringList leftLog;
    std::vector<std::pair<monitor::LogPane, qsizetype>> appends;  // pane and number of lines
    std::vector<monitor::LogPane> focused;
    monitor::TimeOfDay now{12, 34, 56};
    std::vector<std::pair<int, int>> tones;
};

}  // namespace monitor_test
