#include <unistd.h>
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "help/help_commands.h"
#include "log/viewer_window.h"

namespace {

namespace fs = std::filesystem;
using Tones = std::vector<std::pair<int, int>>;

// A main window with the help menu's items, a viewer and an about box, as the program has them.
class HelpMenu : public ::testing::Test {
protected:
    fs::path programDir =
        fs::temp_directory_path() / ("quillmor-helpmenu-" + std::to_string(::getpid()));
    QMainWindow window;
    Tones tones;
    Tones viewerTones;  // the viewer's own activation tone
    logs::TForm2 viewer{[this](int hz, int ms) { viewerTones.emplace_back(hz, ms); }};
    QDialog about;
    std::vector<help::MessageBoxText> boxes;
    widgets::MainMenu items;
    std::unique_ptr<help::HelpCommands> commands;

    void SetUp() override {
        fs::create_directories(programDir / "Doc");
        // "Панель" in Windows-1251.
        std::ofstream(programDir / "Doc" / "Tool.txt", std::ios::binary)
            << "\xCF\xE0\xED\xE5\xEB\xFC\r\n";
        QMenu* menu = window.menuBar()->addMenu(QStringLiteral("Помощь"));
        using widgets::MainMenu;
        for (auto [name, place] : {std::pair{"Help1", &MainMenu::Help1},
                                   {"N16", &MainMenu::N16},
                                   {"N26", &MainMenu::N26},
                                   {"N27", &MainMenu::N27},
                                   {"N28", &MainMenu::N28}}) {
            QAction* item = menu->addAction(QString::fromLatin1(name));
            item->setObjectName(QString::fromLatin1(name));
            items.*place = item;
        }
        items.N28->setShortcut(Qt::Key_F1);
        commands = std::make_unique<help::HelpCommands>(
            &window, items, viewer, about, [this](int hz, int ms) { tones.emplace_back(hz, ms); },
            programDir.string(),
            [this](QWidget*, const help::MessageBoxText& box) { boxes.push_back(box); });
        window.show();
        window.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    void TearDown() override { fs::remove_all(programDir); }

    // Runs `check` once the modal viewer is up, then closes it.
    void whenViewerShows(std::function<void()> check) {
        QTimer::singleShot(0, &viewer, [this, check] {
            check();
            viewer.close();
        });
    }
};

TEST_F(HelpMenu, F1OpensTheToolHelpWithItsCaptionAndTonesFollowTheClose) {
    bool shown = false;
    whenViewerShows([&] {
        shown = viewer.isVisible();
        EXPECT_EQ(viewer.windowTitle(),
                  QStringLiteral("Работа с панелью инструментов контроллера"));
        EXPECT_EQ(viewer.RichEdit1().toPlainText(), QStringLiteral("Панель"));
        EXPECT_TRUE(tones.empty()) << "no tone while the viewer is open";
    });
    QTest::keyClick(&window, Qt::Key_F1);
    EXPECT_TRUE(shown);
    EXPECT_EQ(tones, (Tones{{500, 150}, {700, 150}}));
}

TEST_F(HelpMenu, HiddenItemIsInNoMenu) {
    QAction* hidden = window.findChild<QAction*>(QStringLiteral("N28"));
    for (QMenu* menu : window.findChildren<QMenu*>())
        EXPECT_FALSE(menu->actions().contains(hidden));
    EXPECT_TRUE(window.actions().contains(hidden));
}

TEST_F(HelpMenu, MissingHelpFileShowsNothingAndPlaysNothing) {
    fs::remove(programDir / "Doc" / "Tool.txt");
    QTest::keyClick(&window, Qt::Key_F1);
    EXPECT_FALSE(viewer.isVisible());
    EXPECT_TRUE(tones.empty());
}

TEST_F(HelpMenu, MessageItemsShowTheirBoxesAndNothingElse) {
    for (const char* name : {"Help1", "N26", "N27"})
        window.findChild<QAction*>(QString::fromLatin1(name))->trigger();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[0].caption, "Помощь");
    EXPECT_EQ(boxes[1].caption, "Просьба");
    EXPECT_EQ(boxes[2].caption, "Благодарности");
    EXPECT_TRUE(tones.empty());
}

TEST_F(HelpMenu, AboutItemShowsTheAboutWindowModally) {
    bool modal = false;
    QTimer::singleShot(0, &about, [&] {
        modal = about.isVisible() && about.isModal();
        about.accept();
    });
    window.findChild<QAction*>(QStringLiteral("N16"))->trigger();
    EXPECT_TRUE(modal);
    EXPECT_TRUE(tones.empty());
}

}  // namespace
