#include <unistd.h>
#include <QImage>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>

#include <gtest/gtest.h>

#include "help/about_window.h"
#include "help/help_texts.h"

namespace {

namespace fs = std::filesystem;

TEST(AboutText, HasSixtyThreeLinesInTheOrderOfTheFeatures) {
    const auto& lines = help::aboutText();
    ASSERT_EQ(lines.size(), 63u);
    EXPECT_EQ(lines.front(), "Программа предназначена для визуального ");
    EXPECT_EQ(lines[6], "следующие возможности:");
    int expected = 1;
    for (const std::string& line : lines) {
        if (line.size() > 3 && line[0] >= '1' && line[0] <= '8' && line.substr(1, 2) == ". ") {
            EXPECT_EQ(line[0] - '0', expected++) << line;
        }
    }
    EXPECT_EQ(expected, 9) << "eight numbered features";
    EXPECT_EQ(lines[lines.size() - 2], std::string(12, ' ') + std::string(25, '^'));
    EXPECT_EQ(lines.back(), "            Версия  1.1    (  13. 09. 04)");
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Программа использует драйвер I/O zevado."),
              lines.end());
}

TEST(HelpMenuBoxes, CaptionsAndTextsAreTheProgramsOwn) {
    EXPECT_EQ(help::helpBox().caption, "Помощь");
    EXPECT_EQ(help::helpBox().text.rfind("Для получения помощи нажмите значок [?] на "
                                         "соответсвующей панели. Также рекомендуется посетить "
                                         "сайт автора  ",
                                         0),
              0u);
    EXPECT_EQ(help::feedbackBox().caption, "Просьба");
    EXPECT_NE(
        help::feedbackBox().text.find("      Пожалуйста, будте корректны при составлении писем."),
        std::string::npos);
    EXPECT_EQ(help::thanksBox().caption, "Благодарности");
    EXPECT_EQ(help::thanksBox().text,
              "Если Вас не затруднит, присылайте свои отзывы и предложения или пишите в гостевую "
              "книгу.   ");
}

class HelpFiles : public ::testing::Test {
protected:
    fs::path root = fs::temp_directory_path() / ("quillmor-help-" + std::to_string(::getpid()));
    fs::path current = root / "cwd";
    fs::path program = root / "bin";

    void SetUp() override {
        fs::create_directories(current / "Doc");
        fs::create_directories(program / "Doc");
    }
    void TearDown() override { fs::remove_all(root); }
    static void touch(const fs::path& p) { std::ofstream(p) << "x"; }
};

TEST_F(HelpFiles, CurrentDirectoryComesFirstThenTheProgramsFolder) {
    touch(program / "Doc" / "Tool.txt");
    EXPECT_EQ(help::locateHelpFile(help::kToolHelp.file, current, program),
              (program / "Doc" / "Tool.txt").string());
    touch(current / "Doc" / "Tool.txt");
    EXPECT_EQ(help::locateHelpFile(help::kToolHelp.file, current, program),
              (current / "Doc" / "Tool.txt").string());
}

TEST_F(HelpFiles, MissingEverywhereGivesNoPathAndAFolderIsNoFile) {
    fs::create_directories(current / "Doc" / "uart.txt");
    EXPECT_EQ(help::locateHelpFile(help::kUartHelp.file, current, program), "");
}

TEST(HelpFilesOfTheBuild, AreWindows1251TextBesideTheProgram) {
    for (const char* name : {"uart.txt", "Tool.txt", "Install.txt"}) {
        std::ifstream in(fs::path(QUILLMOR_BUILD_DIR) / "Doc" / name, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), {});
        ASSERT_GT(bytes.size(), 500u) << name;
        // Windows-1251 writes Cyrillic as single bytes from $C0; UTF-8 would lead with $D0/$D1
        // followed by continuation bytes $80-$BF.
        int cyrillic = 0;
        for (unsigned char c : bytes) cyrillic += c >= 0xC0;
        EXPECT_GT(cyrillic, 100) << name;
        EXPECT_EQ(bytes.find("\xD0\xA0"), std::string::npos) << name << " looks like UTF-8";
    }
}

TEST(AboutWindow, ShowsItsTextAndClosesWithItsButton) {
    help::TForm3 form;
    EXPECT_EQ(form.windowTitle(), QStringLiteral("О программе"));
    auto* text = form.findChild<QPlainTextEdit*>(QStringLiteral("RichEdit1"));
    ASSERT_TRUE(text);
    EXPECT_EQ(text->document()->blockCount(), 63);
    EXPECT_EQ(form.findChild<QLabel*>(QStringLiteral("Label3"))->text(),
              QStringLiteral("QUILLMOR"));
    auto* ok = form.findChild<QPushButton*>(QStringLiteral("BitBtn1"));
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->text(), QStringLiteral("Это хорошо"));
    form.show();
    // The text stands on the window's grey face: that is the colour most of its pixels have.
    const QImage shown = text->viewport()->grab().toImage();
    std::map<QRgb, int> pixels;
    for (int y = 0; y < shown.height(); ++y)
        for (int x = 0; x < shown.width(); ++x) ++pixels[shown.pixel(x, y)];
    const auto most = std::max_element(pixels.begin(), pixels.end(),
                                       [](auto& a, auto& b) { return a.second < b.second; });
    EXPECT_EQ(QColor(most->first), form.palette().color(QPalette::Window));
    QTest::mouseClick(ok, Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
}

}  // namespace
