// The log commands on a pane holding 10,000 record lines: saving it as a log file, a search
// that matches only at the very end, and "Cмотреть LOG" until the viewer has painted the text;
// then opening a log file of 10 MiB in the viewer.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTemporaryDir>
#include <QVBoxLayout>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "log/find_dialog.h"
#include "log/log_file.h"
#include "log/log_tools.h"
#include "log/viewer_window.h"

namespace {

constexpr int kLines = 10'000;
constexpr int kRounds = 10;

// Lines as the register change log writes them: a header per record, then its bits.
QString recordLines() {
    const QStringList bits = {QStringLiteral("   CTS (Clear To Send)              = 1"),
                              QStringLiteral("   DSR (Data Set Ready)             = 0"),
                              QStringLiteral("   RI  (Ring Indicator)             = 0"),
                              QStringLiteral("   DCD (Data Carrier Detect)        = 1")};
    QStringList lines;
    lines.reserve(kLines);
    for (int record = 0; lines.size() < kLines - 1; ++record) {
        lines << QStringLiteral("12:%1:%2  Регистр модема +6 = $B0  изменение № %3")
                     .arg(record / 60 % 60, 2, 10, QLatin1Char('0'))
                     .arg(record % 60, 2, 10, QLatin1Char('0'))
                     .arg(record);
        for (const QString& bit : bits)
            if (lines.size() < kLines - 1) lines << bit;
    }
    lines << QStringLiteral("   Последняя строка: DDCD");
    return lines.join(u'\n');
}

double medianMs(const std::function<void()>& command) {
    std::vector<double> times;
    for (int round = 0; round < kRounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        command();
        times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QTemporaryDir folder;

    // The parts of the main window the log commands take.
    QMainWindow form;
    auto* central = new QWidget(&form);
    form.setCentralWidget(central);
    auto* rows = new QVBoxLayout(central);
    auto* page = new QWidget(central);
    auto* pageLayout = new QVBoxLayout(page);
    auto* basePort = new QWidget(page);
    pageLayout->addWidget(basePort);
    auto* modal = new QCheckBox(page);
    modal->setObjectName(QStringLiteral("CheckBox3"));
    pageLayout->addWidget(modal);
    rows->addWidget(page);
    auto* left = new QPlainTextEdit(central);
    auto* right = new QPlainTextEdit(central);
    rows->addWidget(left);
    rows->addWidget(right);
    widgets::MainMenu menu;
    for (QAction* widgets::MainMenu::*place :
         {&widgets::MainMenu::N5, &widgets::MainMenu::LOG1, &widgets::MainMenu::N6,
          &widgets::MainMenu::CLOG1, &widgets::MainMenu::N9, &widgets::MainMenu::LOG2,
          &widgets::MainMenu::N24}) {
        menu.*place = new QAction(&form);
        form.addAction(menu.*place);
    }
    logs::TForm2 viewer({});
    logs::LogTools tools(form, menu, {*page, *basePort, *modal}, *left, *right, viewer, {});
    const QString file = folder.filePath(QStringLiteral("bench.LOG.txt"));
    tools.setFileChooser([&file](QFileDialog&) { return std::optional<QString>(file); });
    form.show();
    left->setPlainText(recordLines());
    QApplication::processEvents();

    std::printf("BENCH log_save_ms %.2f ms\n", medianMs([&] { tools.SpeedButton29Click(); }));

    tools.FindDialog1().setFindText(QStringLiteral("DDCD"));
    std::printf("BENCH log_find_ms %.2f ms\n", medianMs([&] {
                    left->moveCursor(QTextCursor::Start);
                    tools.FindDialog1Find();
                }));

    const double viewMs = medianMs([&] {
        tools.SpeedButton27Click();
        viewer.RichEdit1().viewport()->repaint();
        QApplication::processEvents();
        viewer.close();
    });
    std::printf("BENCH log_view_ms %.2f ms\n", viewMs);

    // "Открыть LOG файл" on a log file of 10 MiB, until the viewer has painted it.
    const QString big = folder.filePath(QStringLiteral("big.LOG.txt"));
    {
        const QString text = recordLines();
        QByteArray bytes = logs::encodeLog(text).bytes;
        QFile out(big);
        out.open(QIODevice::WriteOnly);
        for (qint64 written = 0; written < 10 * 1024 * 1024; written += bytes.size())
            out.write(bytes);
    }
    tools.setFileChooser([&big](QFileDialog&) { return std::optional<QString>(big); });
    const double openMs = medianMs([&] {
        tools.SpeedButton30Click();
        viewer.RichEdit1().viewport()->repaint();
        QApplication::processEvents();
        viewer.close();
    });
    std::printf("BENCH log_open_10mib_ms %.2f ms\n", openMs);
    return 0;
}
