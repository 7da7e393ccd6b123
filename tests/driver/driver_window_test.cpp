#include "driver/driver_window.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProxyStyle>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>
#include <optional>

#include "fake_port_host.h"
#include "log/viewer_window.h"
#include "portio/port_io.h"
#include "widgets/gauge.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

const QString kDetecting = QStringLiteral("Определение загруженной ОС ...");
const QString kConnecting = QStringLiteral("Попытка подключения к драйверу... ");
const QString kOpened = QStringLiteral("Драйвер успешно открыт ");
const QString kNotOpened = QStringLiteral("Проблема! Невозможно открыть драйвер! ");
const QString kNo9x =
    QStringLiteral("Windows 9x - не загружена, используемая платформа - Windows NT  ");
const QString kNoNt =
    QStringLiteral("Windows NT/2000/XP  - не загружена, используемая ОС - Windows 9x . ");
const QString k9xCopied = QStringLiteral("Windows 9x - драйвер скопирован ");
const QString kNtCopied = QStringLiteral("Windows NT/2000/XP - драйвер скопирован ");
const QString kRemoved = QStringLiteral(
    "Драйвер успешно удалён, но остаётся в памяти до следующего перезапуска программы .  ");
const QString kUntouched = QStringLiteral("untouched");

// Each test runs in its own temporary current directory holding the "Drivers" folder; the
// system roots of both families are folders in it, or empty.
class DriverWindow : public ::testing::Test {
protected:
    DriverWindow() {
        form = std::make_unique<driver::TForm5>(
            driver::MainWindowLinks{[this] { return portGone ? nullptr : &port; },
                                    [this](driver::RegisterInput state) { registerInput = state; },
                                    [this](const QString& text) { n19Caption = text; },
                                    [this] { return trouble; }},
            viewer,
            driver::Places{[this] { return roots; },
                           [this](QWidget*, const QString& text) { messages << text; }, nullptr});
    }

    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        previousDirectory = QDir::currentPath();
        ASSERT_TRUE(QDir::setCurrent(dir.path()));
        writeFile("Drivers/zevado.vxd", "vxd driver");
        writeFile("Drivers/Zevado.sys", "sys driver");
    }
    void TearDown() override { QDir::setCurrent(previousDirectory); }

    void writeFile(const QString& relative, const QByteArray& contents) {
        const QString path = dir.filePath(relative);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    QByteArray readFile(const QString& relative) {
        QFile file(dir.filePath(relative));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
    }
    bool exists(const QString& relative) { return QFile::exists(dir.filePath(relative)); }

    // A 9x root with its system folder, and an NT root whose system folder is in lower case,
    // as a copied Windows tree may well have it.
    void with9xRoot() {
        QDir(dir.path()).mkpath("WINDOWS/SYSTEM");
        roots.win9x = dir.filePath("WINDOWS").toStdString();
    }
    void withNtRoot() {
        QDir(dir.path()).mkpath("WINNT/system32");
        roots.nt = dir.filePath("WINNT").toStdString();
    }
    QString root9x() const { return QString::fromStdString(roots.win9x); }
    QString rootNt() const { return QString::fromStdString(roots.nt); }

    QStringList memoLines() const { return form->Memo1().toPlainText().split(u'\n'); }
    int gauge() const { return form->Gauge1().Progress(); }
    int percent() const { return form->Gauge1().PercentDone(); }

    QTemporaryDir dir;
    QString previousDirectory;
    app_test::FakePortHost host;
    portio::TPortIO port{host};
    bool portGone = false;
    std::optional<driver::RegisterInput> registerInput;
    QString n19Caption = kUntouched;
    QString trouble;  // why the driver host says the driver did not open
    QStringList messages;
    platform::WindowsRoots roots;
    logs::TForm2 viewer{[](int, int) {}};
    std::unique_ptr<driver::TForm5> form;
};

TEST_F(DriverWindow, WhereNeitherFamilyRunsInstallOnlyReportsBothAbsent) {
    form->SpeedButton1Click();
    EXPECT_THAT(memoLines(), ElementsAre("", kDetecting, kNo9x, kNoNt));
    EXPECT_EQ(gauge(), 1);
    EXPECT_EQ(percent(), 14);
    EXPECT_EQ(host.opens, 0);
    EXPECT_EQ(n19Caption, kUntouched);
}

TEST_F(DriverWindow, Win9xDriverAbsentIsCopiedThenFullConnectWithThreeTones) {
    with9xRoot();
    form->SpeedButton1Click();
    EXPECT_THAT(memoLines(),
                ElementsAre("", kDetecting, "Копирование драйвера в " + root9x() + "\\SYSTEM\\",
                            k9xCopied, " ", kConnecting, kOpened, kNoNt));
    EXPECT_EQ(readFile("WINDOWS/SYSTEM/zevado.vxd"), "vxd driver");
    EXPECT_EQ(form->findChild<QLineEdit*>("Edit1")->text(), root9x());
    EXPECT_EQ(form->findChild<QLineEdit*>("Edit2")->text(), "");
    EXPECT_EQ(percent(), 100);
    EXPECT_EQ(registerInput, driver::RegisterInput::Allowed);
    EXPECT_EQ(n19Caption, "Закрыть драйвер");
    EXPECT_EQ(host.speakerPortWrites, 6);
    EXPECT_EQ(host.sleptMs, 450u);
    EXPECT_TRUE(port.Opened());
}

// The file is copied as "Zevado.sys" and looked for as "ZEVADO.SYS": the copied line must not
// depend on the case rules of the file system.
TEST_F(DriverWindow, NtDriverAbsentComesAfterThe9xAbsentLineAndIsFoundWhateverItsCase) {
    withNtRoot();
    form->SpeedButton1Click();
    EXPECT_THAT(memoLines(), ElementsAre("", kDetecting, kNo9x,
                                         "Копирование драйвера в " + rootNt() + "\\SYSTEM32\\",
                                         kNtCopied, " ", kConnecting, kOpened));
    EXPECT_EQ(readFile("WINNT/system32/Zevado.sys"), "sys driver");
    EXPECT_EQ(gauge(), 7);
}

TEST_F(DriverWindow, DriverInPlaceIsNotCopiedAndConnectsWithoutTonesOrStatus) {
    with9xRoot();
    writeFile("WINDOWS/SYSTEM/zevado.vxd", "installed earlier");
    form->SpeedButton1Click();
    EXPECT_THAT(
        memoLines(),
        ElementsAre("", kDetecting, "Windows 9x - драйвер уже установлен, установка не требуется.",
                    " ", kConnecting, kOpened, kNoNt));
    EXPECT_EQ(readFile("WINDOWS/SYSTEM/zevado.vxd"), "installed earlier");
    EXPECT_EQ(registerInput, std::nullopt);
    EXPECT_EQ(n19Caption, "Закрыть драйвер");
    EXPECT_EQ(host.speakerPortWrites, 0);
    EXPECT_EQ(percent(), 100);
}

TEST_F(DriverWindow, NtDriverInPlaceHasItsOwnInstalledLine) {
    withNtRoot();
    writeFile("WINNT/system32/Zevado.sys", "installed earlier");
    form->SpeedButton1Click();
    EXPECT_THAT(memoLines(),
                ElementsAre("", kDetecting,
                            "Windows NT/2000/XP - драйвер уже установлен, установка не требуется. ",
                            " ", kConnecting, kOpened, kNo9x));
}

TEST_F(DriverWindow, RefusedCopyLeavesOutItsLineButStillTriesTheDriver) {
    with9xRoot();
    QFile::remove(dir.filePath("Drivers/zevado.vxd"));
    host.driverPresent = false;
    trouble =
        QStringLiteral("quillmor: real ports cannot be reached: /dev/port: permission denied");
    form->SpeedButton1Click();
    EXPECT_THAT(memoLines(),
                ElementsAre("", kDetecting, "Копирование драйвера в " + root9x() + "\\SYSTEM\\",
                            " ", kConnecting, kNotOpened, trouble, kNoNt));
    EXPECT_FALSE(exists("WINDOWS/SYSTEM/zevado.vxd"));
    EXPECT_EQ(gauge(), 5);
    EXPECT_EQ(percent(), 71);
    EXPECT_EQ(n19Caption, kUntouched);
    EXPECT_EQ(registerInput, std::nullopt);
}

TEST_F(DriverWindow, MissingSystemFolderRefusesTheCopy) {
    roots.nt = dir.filePath("NOWIN").toStdString();
    form->SpeedButton1Click();
    EXPECT_FALSE(memoLines().contains(kNtCopied));
    EXPECT_TRUE(memoLines().contains(kOpened));
    EXPECT_FALSE(QDir(dir.filePath("NOWIN")).exists());
}

TEST_F(DriverWindow, ConnectAfterThePortComponentIsGoneFailsQuietly) {
    with9xRoot();
    portGone = true;
    form->SpeedButton1Click();
    EXPECT_EQ(memoLines().value(6), kNotOpened);
    EXPECT_EQ(gauge(), 5);
}

// On Linux the buttons work on the port helper: its one line comes after the Windows families,
// and only a helper that was set up is worth reconnecting the driver for.
TEST_F(DriverWindow, PortHelperIsSetUpAfterTheWindowsFamiliesAndReconnectsOnlyWhenDone) {
    std::vector<bool> calls;
    platform::PortHelperSetup answer{true, "помощник готов"};
    form = std::make_unique<driver::TForm5>(
        driver::MainWindowLinks{[this] { return &port; }, [](driver::RegisterInput) {},
                                [this](const QString& text) { n19Caption = text; }},
        viewer,
        driver::Places{[this] { return roots; }, [](QWidget*, const QString&) {},
                       [&](bool install) {
                           calls.push_back(install);
                           return answer;
                       }});
    form->SpeedButton1Click();
    EXPECT_THAT(memoLines(), ElementsAre("", kDetecting, kNo9x, kNoNt, "помощник готов", " ",
                                         kConnecting, kOpened));
    EXPECT_TRUE(port.Opened());
    EXPECT_EQ(n19Caption, "Закрыть драйвер");

    const int opens = host.opens;
    qsizetype before = memoLines().size();
    answer = {false, "не подтверждено"};
    form->SpeedButton1Click();
    EXPECT_THAT(memoLines().mid(before),
                ElementsAre("", kDetecting, kNo9x, kNoNt, "не подтверждено"));
    EXPECT_EQ(host.opens, opens) << "an install that set nothing up must not reconnect";

    before = memoLines().size();
    form->SpeedButton2Click();
    EXPECT_THAT(memoLines().mid(before),
                ElementsAre("", "Подготовка к удалению драйвера...", kDetecting,
                            "Поиск драйвера... ", "не подтверждено", "Выход ! "));
    EXPECT_THAT(calls, ElementsAre(true, true, false));
}

TEST_F(DriverWindow, RemoveWithNoFileNamesTheFullPathAndStopsTheGaugeAtStepTwo) {
    with9xRoot();
    form->SpeedButton2Click();
    EXPECT_THAT(messages, ElementsAre("Драйвер отсутствует, в   " + root9x() +
                                      "\\SYSTEM\\zevado.vxd  удаление не требуется. "));
    EXPECT_THAT(memoLines(), ElementsAre("", "Подготовка к удалению драйвера...", kDetecting,
                                         "Поиск драйвера... ", "Выход ! "));
    EXPECT_EQ(gauge(), 2);
    EXPECT_EQ(percent(), 28);
}

TEST_F(DriverWindow, RemoveDeletesThe9xFileAndLeavesTheDriverOpen) {
    with9xRoot();
    writeFile("WINDOWS/SYSTEM/zevado.vxd", "driver");
    ASSERT_TRUE(port.OpenDriver());
    form->SpeedButton2Click();
    EXPECT_FALSE(exists("WINDOWS/SYSTEM/zevado.vxd"));
    EXPECT_THAT(memoLines(),
                ElementsAre("", "Подготовка к удалению драйвера...", kDetecting,
                            "Поиск драйвера... ", "Windows 9x - Драйвер обнаружен... ",
                            "Попытка удаления драйвера  " + root9x() + "\\SYSTEM\\zevado.vxd...",
                            kRemoved, "Выход ! "));
    EXPECT_THAT(messages, IsEmpty());
    EXPECT_EQ(gauge(), 7);
    EXPECT_TRUE(port.Opened());
}

// With no 9x root the NT part still runs, so the button is of use on an NT system.
TEST_F(DriverWindow, RemoveOnNtSystemDeletesTheNtFile) {
    withNtRoot();
    writeFile("WINNT/system32/Zevado.sys", "driver");
    form->SpeedButton2Click();
    EXPECT_FALSE(exists("WINNT/system32/Zevado.sys"));
    EXPECT_THAT(memoLines().mid(3),
                ElementsAre("Поиск драйвера... ", "Windows NT/2000/XP - Драйвер обнаружен... ",
                            "Попытка удаления драйвера  " + rootNt() + "\\SYSTEM32\\Zevado.sys...",
                            kRemoved));
    EXPECT_EQ(gauge(), 7);
}

TEST_F(DriverWindow, RemoveWithNoNtFileSaysSoWithItsOwnSpacing) {
    withNtRoot();
    form->SpeedButton2Click();
    EXPECT_THAT(messages, ElementsAre("Драйвер отсутствует, в " + rootNt() +
                                      "\\SYSTEM32\\Zevado.sys   удаление не требуется.  "));
    EXPECT_EQ(memoLines().last(), "Поиск драйвера... ");
}

// A folder where the driver file should be is no driver file; no message box names it as
// one that could not be deleted.
TEST_F(DriverWindow, FolderInPlaceOfTheDriverIsReportedAbsent) {
    with9xRoot();
    QDir(dir.path()).mkpath("WINDOWS/SYSTEM/zevado.vxd");
    form->SpeedButton2Click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages.first().startsWith("Драйвер отсутствует"));
    EXPECT_TRUE(QDir(dir.filePath("WINDOWS/SYSTEM/zevado.vxd")).exists());
}

TEST_F(DriverWindow, LogAndGaugeCarryOverAndEachRunStartsAtStepOne) {
    with9xRoot();
    form->SpeedButton1Click();
    ASSERT_EQ(gauge(), 7);
    const qsizetype firstRun = memoLines().size();
    QFile::remove(dir.filePath("WINDOWS/SYSTEM/zevado.vxd"));
    form->SpeedButton2Click();
    EXPECT_EQ(memoLines().size(), firstRun + 5);
    EXPECT_EQ(memoLines().value(firstRun), "");
    EXPECT_EQ(gauge(), 2);
}

TEST_F(DriverWindow, HelpShowsTheInstallTextModallyUnderItsCaption) {
    writeFile("Doc/Install.txt", QByteArray("\xd3\xf1\xf2\xe0\xed\xee\xe2\xea\xe0"));
    QString caption;
    QString shownText;
    bool modal = false;
    QTimer::singleShot(0, &viewer, [&] {
        caption = viewer.windowTitle();
        shownText = viewer.RichEdit1().toPlainText();
        modal = viewer.isModal() && viewer.isVisible();
        viewer.close();
    });
    form->BitBtn2Click();
    EXPECT_EQ(caption, "Установка драйвера");
    EXPECT_EQ(shownText, "Установка");
    EXPECT_TRUE(modal);
}

TEST_F(DriverWindow, MissingHelpFileEndsTheCommandBeforeTheViewer) {
    viewer.setText(QStringLiteral("earlier"));
    form->findChild<QAbstractButton*>("BitBtn2")->click();
    EXPECT_FALSE(viewer.isVisible());
    EXPECT_EQ(viewer.RichEdit1().toPlainText(), "earlier");
}

TEST_F(DriverWindow, ButtonsCarryTheirCaptionsAndShowTheirHintsInTheStatusBar) {
    const std::pair<const char*, QString> buttons[] = {{"SpeedButton1", "Установ."},
                                                       {"SpeedButton2", "Удалить"},
                                                       {"BitBtn1", "Закрыть"},
                                                       {"BitBtn2", "&Help"}};
    for (const auto& [name, caption] : buttons)
        EXPECT_EQ(form->findChild<QAbstractButton*>(name)->text(), caption) << name;

    auto* install = form->findChild<QAbstractButton*>("SpeedButton1");
    QStatusTipEvent tip(install->statusTip());
    QCoreApplication::sendEvent(install, &tip);
    const auto* panel = form->findChild<QWidget*>("StatusBar1")->findChild<QLabel*>();
    EXPECT_EQ(panel->text(), "Для установки драйвера нажмите эту кнопку");
}

// Notes the texts a style paints, to see whether a caption was elided.
class PaintedTexts : public QProxyStyle {
public:
    void drawItemText(QPainter* painter, const QRect& rect, int flags, const QPalette& palette,
                      bool enabled, const QString& text, QPalette::ColorRole role) const override {
        texts << text;
        QProxyStyle::drawItemText(painter, rect, flags, palette, enabled, text, role);
    }
    mutable QStringList texts;
};

// At the window's own size every button of the tool bar is on show whole: none hidden behind
// an overflow arrow, cut off, covered by another control or with its caption elided.
TEST_F(DriverWindow, AllFourToolBarButtonsAreWholeAndReachableAtTheWindowsSize) {
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    for (const char* name : {"SpeedButton1", "SpeedButton2", "BitBtn1", "BitBtn2"}) {
        auto* button = form->findChild<QAbstractButton*>(name);
        ASSERT_NE(button, nullptr) << name;
        EXPECT_TRUE(button->isVisible()) << name;
        const QRect place(button->mapTo(form.get(), QPoint(0, 0)), button->size());
        EXPECT_TRUE(form->rect().contains(place)) << name;
        EXPECT_EQ(form->childAt(place.center()), button) << name;
        PaintedTexts painted;
        button->setStyle(&painted);
        button->grab();
        button->setStyle(nullptr);
        EXPECT_EQ(painted.texts.join(u'|').toStdString(), button->text().toStdString()) << name;
    }
}

TEST_F(DriverWindow, CaptionGaugeAndCloseButton) {
    EXPECT_EQ(form->windowTitle(), QString(46, u' ') + "Установка драйвера");
    EXPECT_EQ(form->Gauge1().MaxValue(), 7);
    EXPECT_EQ(form->Gauge1().Progress(), 0);
    EXPECT_EQ(form->Gauge1().ForeColor(), QColor(Qt::blue));

    QTimer::singleShot(0, form.get(),
                       [this] { form->findChild<QAbstractButton*>("BitBtn1")->click(); });
    form->exec();
    EXPECT_FALSE(form->isVisible());
}

}  // namespace
