#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <QToolButton>
#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "comm/comm_error.h"
#include "monitor/register_monitor.h"
#include "monitor/values.h"
#include "port_space_host.h"
#include "pseudo_terminal.h"
#include "terminal/terminal_page.h"
#include "widgets/command.h"

inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace terminal_test {

inline QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The page in a stand-in main window that has the menu items the page is handed, over a
// register monitor on a plain port array. Tones, speaker calls, log-pane appends and the
// messages of the error handler are recorded, each in one list in the order they came.
class TerminalTest : public testing::Test {
protected:
    void SetUp() override {
        portIO.OpenDriver();
        using widgets::MainMenu;
        for (auto [item, place] : {std::pair{"N11", &MainMenu::N11},
                                   {"N14", &MainMenu::N14},
                                   {"XON1", &MainMenu::XON1},
                                   {"BREK1", &MainMenu::BREK1},
                                   {"NRTS", &MainMenu::NRTS},
                                   {"NDTR", &MainMenu::NDTR},
                                   {"N22", &MainMenu::N22}}) {
            auto* action = new QAction(qs(item), &form);
            action->setObjectName(qs(item));
            const std::string_view mark(item);
            action->setCheckable(mark == "NRTS" || mark == "NDTR" || mark == "N22");
            form.addAction(action);
            menu.*place = action;
        }
        menu.N22->setChecked(true);
        std::array<QWidget*, 7> pages{};
        for (QWidget*& w : pages) w = new QWidget(&form);
        monitor = new monitor::RegisterMonitor(
            &form, {pages[0], pages[1], pages[2], pages[3], pages[4], pages[5]}, portIO,
            {[](monitor::LogPane, const QStringList&) {}, [](monitor::LogPane) {},
             [] {
                 return monitor::TimeOfDay{12, 0, 0};
             }},
            [](int, int) {});
        monitor->GCP();
        statusPanel = new QLabel(&form);
        page = new terminal::TerminalPage(
            &form, pages[6], *monitor, statusPanel, menu,
            {[this](int hz, int ms) { record(QStringLiteral("tone %1 %2").arg(hz).arg(ms)); },
             [this](int hz, int ms) { record(QStringLiteral("sound %1 %2").arg(hz).arg(ms)); },
             [this](monitor::LogPane pane, const QStringList& lines) {
                 const QString name = pane == monitor::LogPane::Left ? "RichEdit2" : "RichEdit1";
                 for (const QString& line : lines) record(name + ": " + line);
             }});
        widgets::setErrorHandler([this](std::exception_ptr error) {
            try {
                std::rethrow_exception(error);
            } catch (const comm::ECommError& e) {
                record(QStringLiteral("Ошибка: ") + QString::fromStdString(e.what()));
            } catch (...) {
                record(QStringLiteral("dropped"));
            }
        });
    }

    void TearDown() override {
        page->Close();
        widgets::setErrorHandler({});
        pty.reset();
    }

    // A pseudo-terminal whose slave the page opens by its path; the test holds the master.
    void usePty() {
        pty.emplace();
        ASSERT_GE(pty->master, 0);
        combo("ComboBox2")->setEditText(QString::fromStdString(pty->path));
    }

    // Runs the event loop until done() holds, for at most the limit; returns done().
    static bool pumpUntil(const std::function<bool()>& done, int limitMs = 2000) {
        QElapsedTimer since;
        since.start();
        while (!done()) {
            if (since.elapsed() > limitMs) return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        return true;
    }
    // The bytes that Comm1RxChar has reported reading.
    int bytesRead() {
        int total = 0;
        for (const QString& line : memo("Memo1")->lines())
            if (line.startsWith(QStringLiteral("Чтение ")))
                total += line.section(u' ', 1, 1).toInt();
        return total;
    }
    // Feeds the bytes at the master end as fast as the pty takes them, until the page reports
    // having read them all.
    bool receive(std::string_view bytes) {
        const int expected = bytesRead() + static_cast<int>(bytes.size());
        size_t sent = 0;
        return pumpUntil(
            [&] {
                if (sent < bytes.size()) {
                    const ssize_t n =
                        ::write(pty->master, bytes.data() + sent, bytes.size() - sent);
                    if (n > 0) sent += static_cast<size_t>(n);
                }
                return bytesRead() == expected;
            },
            5000);
    }

    // A test that wants to know what had happened by each call sets a snapshot; its text is
    // added to each entry.
    void record(const QString& entry) { calls << (snapshot ? entry + " @" + snapshot() : entry); }
    void tick() {
        host.readPorts.clear();
        monitor->Timer1Timer();
    }
    void click(std::string_view name) { button(name)->click(); }
    void pick(std::string_view name, const QString& item) {
        QComboBox* box = combo(name);
        const int index = box->findText(item, Qt::MatchExactly);
        ASSERT_GE(index, 0) << item.toStdString();
        box->setCurrentIndex(index);
        emit box->activated(index);
    }

    template <class T>
    T* child(std::string_view name) {
        T* widget = form.findChild<T*>(qs(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QAction* action(std::string_view name) { return child<QAction>(name); }
    QToolButton* button(std::string_view name) { return child<QToolButton>(name); }
    QComboBox* combo(std::string_view name) { return child<QComboBox>(name); }
    terminal::TerminalMemo* memo(std::string_view name) {
        return child<terminal::TerminalMemo>(name);
    }
    QColor lightColour(std::string_view name) {
        return child<QLabel>(name)->palette().color(QPalette::Window);
    }
    QColor unlit() const { return form.palette().color(QPalette::Button); }
    uint16_t port(int offset) const {
        return monitor::registerPort(monitor->baseAddress(), offset);
    }

    monitor_test::PortSpaceHost host;
    portio::TPortIO portIO{host};
    QMainWindow form;
    monitor::RegisterMonitor* monitor = nullptr;
    QLabel* statusPanel = nullptr;
    widgets::MainMenu menu;
    terminal::TerminalPage* page = nullptr;
    QStringList calls;
    std::function<QString()> snapshot;
    std::optional<commtest::PseudoTerminal> pty;
};

}  // namespace terminal_test
