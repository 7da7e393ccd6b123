#include "log/log_tools.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <cerrno>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QImage>
#include <QMainWindow>
#include <QMenuBar>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>
#include <deque>
#include <functional>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

#include "log/find_dialog.h"
#include "log/viewer_window.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Pair;
using Tones = std::vector<std::pair<int, int>>;

const QString kRecord = QStringLiteral("Ёё Регистр +5\n\n  DTR = 1\nDTR 0");
// kRecord as a log file: Windows-1251, CR LF after every line, an empty line included.
const QByteArray kRecordBytes(
    "\xA8\xB8 \xD0\xE5\xE3\xE8\xF1\xF2\xF0 +5\r\n\r\n  DTR = 1\r\nDTR 0\r\n");

// A main window with what the log tools take from it: the tools page with the base-port group
// and the modal switch, the two panes and the menu items.
class LogToolsTest : public ::testing::Test {
protected:
    LogToolsTest() {
        form.setObjectName(QStringLiteral("Form1"));
        auto* central = new QWidget(&form);
        form.setCentralWidget(central);
        auto* rows = new QVBoxLayout(central);
        page = new QWidget(central);
        auto* pageLayout = new QVBoxLayout(page);
        auto* basePort = new QGroupBox(page);
        basePort->setObjectName(QStringLiteral("GroupBox1"));
        pageLayout->addWidget(basePort);
        auto* modal = new QCheckBox(QStringLiteral("Mодал. окно"), page);
        modal->setObjectName(QStringLiteral("CheckBox3"));
        modal->setChecked(true);
        pageLayout->addWidget(modal);
        pageLayout->addStretch(1);
        rows->addWidget(page);
        for (QPlainTextEdit** pane : {&left, &right}) {
            *pane = new QPlainTextEdit(central);
            rows->addWidget(*pane);
        }
        left->setObjectName(QStringLiteral("RichEdit2"));
        right->setObjectName(QStringLiteral("RichEdit1"));

        QMenu* menu = form.menuBar()->addMenu(QStringLiteral("Файл"));
        using widgets::MainMenu;
        const std::tuple<const char*, QKeySequence, QAction * MainMenu::*> items[] = {
            {"N5", QKeySequence(Qt::CTRL | Qt::Key_O), &MainMenu::N5},
            {"LOG1", QKeySequence(Qt::CTRL | Qt::Key_S), &MainMenu::LOG1},
            {"N6", QKeySequence(Qt::CTRL | Qt::Key_X), &MainMenu::N6},
            {"CLOG1", QKeySequence(Qt::Key_F2), &MainMenu::CLOG1},
            {"N9", QKeySequence(Qt::CTRL | Qt::Key_F), &MainMenu::N9},
            {"LOG2", QKeySequence(Qt::CTRL | Qt::Key_Delete), &MainMenu::LOG2},
            {"N24", QKeySequence(Qt::CTRL | Qt::Key_R), &MainMenu::N24}};
        MainMenu handed;
        for (const auto& [name, key, place] : items) {
            auto* item = new QAction(QString::fromLatin1(name), &form);
            item->setObjectName(QString::fromLatin1(name));
            item->setShortcut(key);
            menu->addAction(item);
            handed.*place = item;
        }

        tools = new logs::LogTools(
            form, handed, {*page, *basePort, *modal}, *left, *right, viewer,
            [this](int hz, int ms) { tones.emplace_back(hz, ms); }, [this] { ++helpShown; });
        tools->setFileChooser([this](QFileDialog& dialog) {
            asked.push_back(dialog.objectName());
            std::optional<QString> answer = answers.empty() ? std::nullopt : answers.front();
            if (!answers.empty()) answers.pop_front();
            return answer;
        });
    }
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        QGuiApplication::clipboard()->clear();
    }
    void TearDown() override {
        viewer.close();
        QGuiApplication::clipboard()->clear();
    }

    template <typename T>
    T& control(const char* name) {
        auto* found = form.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return *found;
    }
    QToolButton& button(const char* name) { return control<QToolButton>(name); }
    QAction& item(const char* name) { return control<QAction>(name); }
    QCheckBox& modalSwitch() { return control<QCheckBox>("CheckBox3"); }
    QString path(const char* name) const { return folder.filePath(QString::fromLatin1(name)); }
    static QByteArray bytesOf(const QString& file) {
        QFile in(file);
        EXPECT_TRUE(in.open(QIODevice::ReadOnly)) << file.toStdString();
        return in.readAll();
    }
    static void writeBytes(const QString& file, const QByteArray& bytes) {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        ASSERT_EQ(out.write(bytes), bytes.size());
    }
    static void select(QPlainTextEdit& pane, int start, int length) {
        QTextCursor cursor = pane.textCursor();
        cursor.setPosition(start);
        cursor.setPosition(start + length, QTextCursor::KeepAnchor);
        pane.setTextCursor(cursor);
    }
    void showActive() {
        form.show();
        form.activateWindow();
        for (int round = 0; round < 3; ++round) QCoreApplication::processEvents();
        ASSERT_TRUE(form.isActiveWindow());
    }
    // Runs the command, closing every message box it shows; returns their texts.
    static QStringList messagesDuring(const std::function<void()>& command) {
        QStringList texts;
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&texts] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts << box->text();
                box->accept();
            }
        });
        watcher.start(5);
        command();
        return texts;
    }
    // Runs the command with the viewer modal and closes the viewer as soon as it is shown;
    // returns whether it was shown modally and which tones had sounded by then.
    std::pair<bool, Tones> whileModal(const std::function<void()>& command) {
        bool modal = false;
        Tones before;
        QTimer::singleShot(0, &viewer, [&] {
            modal = viewer.isVisible() && viewer.isModal();
            before = tones;
            viewer.close();
        });
        command();
        return {modal, before};
    }

    QTemporaryDir folder;
    Tones tones;
    Tones viewerTones;
    int helpShown = 0;
    std::deque<std::optional<QString>> answers;
    QStringList asked;
    logs::TForm2 viewer{[this](int hz, int ms) { viewerTones.emplace_back(hz, ms); }};
    QMainWindow form;
    QWidget* page = nullptr;
    QPlainTextEdit* left = nullptr;
    QPlainTextEdit* right = nullptr;
    logs::LogTools* tools = nullptr;
};

TEST_F(LogToolsTest, ToolBarAndPaneSelectorStandBelowTheBasePortGroup) {
    auto* layout = qobject_cast<QBoxLayout*>(page->layout());
    ASSERT_NE(layout, nullptr);
    EXPECT_EQ(layout->itemAt(0)->widget()->objectName(), "GroupBox1");
    EXPECT_EQ(layout->itemAt(1)->widget()->objectName(), "ToolBar10");
    EXPECT_EQ(layout->itemAt(2)->widget()->objectName(), "GroupBox20");
    EXPECT_EQ(modalSwitch().parentWidget()->objectName(), "GroupBox20");
    EXPECT_EQ(layout->indexOf(&modalSwitch()), -1);

    QStringList bar;
    for (QAction* entry : control<QToolBar>("ToolBar10").actions()) {
        QWidget* widget = control<QToolBar>("ToolBar10").widgetForAction(entry);
        bar << (entry->isSeparator() ? QStringLiteral("-")
                                     : widget->objectName() + " " + widget->statusTip());
    }
    EXPECT_EQ(bar,
              QStringList({"SpeedButton30 Открыть LOG файл", "SpeedButton29 Сохранить LOG ",
                           "SpeedButton28 Очистить LOG", "-", "SpeedButton27 Cмотреть LOG",
                           "SpeedButton25 Найти в LOG файле то что надо", "SpeedButton26 Помощь"}));
    EXPECT_EQ(button("SpeedButton30").size(), QSize(24, 24));
    EXPECT_FALSE(button("SpeedButton30").icon().isNull());

    auto& leftRadio = control<QRadioButton>("RadioButton1");
    auto& rightRadio = control<QRadioButton>("RadioButton2");
    EXPECT_EQ(leftRadio.text(), "L");
    EXPECT_EQ(leftRadio.statusTip(), "Управлять левой панелью");
    EXPECT_TRUE(leftRadio.isChecked());
    EXPECT_EQ(rightRadio.text(), "R");
    EXPECT_EQ(rightRadio.statusTip(), "Управлять правой панелью");
    EXPECT_EQ(&tools->selectedPane(), left);
}

TEST_F(LogToolsTest, FileDialogsOfferTheTwoLogFiltersAndNeverAskBeforeReplacing) {
    // Qt's dialogs collapse runs of spaces in a filter; the patterns are what counts.
    const QStringList filters = {QStringLiteral("Текстовый LOG файл  (*.LOG.txt)").simplified(),
                                 QStringLiteral("Текстовый файл  (*.txt)").simplified()};
    for (QFileDialog* dialog : {&tools->SaveDialog1(), &tools->OpenDialog1()}) {
        EXPECT_EQ(dialog->nameFilters(), filters);
        EXPECT_EQ(dialog->defaultSuffix(), "TXT");
    }
    EXPECT_TRUE(tools->SaveDialog1().testOption(QFileDialog::DontConfirmOverwrite));
    EXPECT_EQ(tools->SaveDialog1().acceptMode(), QFileDialog::AcceptSave);
    EXPECT_EQ(tools->OpenDialog1().acceptMode(), QFileDialog::AcceptOpen);
}

TEST_F(LogToolsTest, SaveWritesTheSelectedPaneAsWindows1251WithCrLf) {
    left->setPlainText(kRecord);
    right->setPlainText(QStringLiteral("right"));
    answers = {path("com.LOG.txt")};
    item("LOG1").trigger();
    EXPECT_EQ(asked, QStringList{"SaveDialog1"});
    EXPECT_EQ(bytesOf(path("com.LOG.txt")), kRecordBytes);
    EXPECT_THAT(tones, ElementsAre(Pair(1300, 150)));
}

TEST_F(LogToolsTest, SavingOverAnExistingFileReplacesIt) {
    writeBytes(path("old.txt"), QByteArray(4096, 'x'));
    left->setPlainText(QStringLiteral("DTR 0"));
    answers = {path("old.txt")};
    button("SpeedButton29").click();
    EXPECT_EQ(bytesOf(path("old.txt")), "DTR 0\r\n");
}

TEST_F(LogToolsTest, SavedLogOpensInTheViewerAsThePaneHeldIt) {
    left->setPlainText(kRecord);
    answers = {path("round.LOG.txt"), path("round.LOG.txt")};
    button("SpeedButton29").click();
    modalSwitch().setChecked(false);
    tones.clear();
    item("N5").trigger();
    EXPECT_EQ(asked, QStringList({"SaveDialog1", "OpenDialog1"}));
    EXPECT_EQ(viewer.RichEdit1().toPlainText(), kRecord);
    EXPECT_EQ(viewer.windowTitle(), path("round.LOG.txt"));
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_EQ(tools->openFileName(), path("round.LOG.txt"));
    EXPECT_THAT(tones, ElementsAre(Pair(1300, 150)));
    EXPECT_EQ(left->toPlainText(), kRecord);
}

TEST_F(LogToolsTest, OpenWithAModalViewerTonesOnlyOnceTheViewerIsClosed) {
    writeBytes(path("in.txt"), kRecordBytes);
    answers = {path("in.txt")};
    const auto [modal, tonesWhileShown] = whileModal([this] { button("SpeedButton30").click(); });
    EXPECT_TRUE(modal);
    EXPECT_THAT(tonesWhileShown, IsEmpty());
    EXPECT_THAT(tones, ElementsAre(Pair(1300, 150)));
    EXPECT_EQ(viewer.RichEdit1().toPlainText(), kRecord);
    EXPECT_EQ(viewer.windowTitle(), "Просмотр");
}

TEST_F(LogToolsTest, CancelledSaveWritesNothingButStillTones) {
    left->setPlainText(kRecord);
    button("SpeedButton29").click();
    EXPECT_EQ(asked, QStringList{"SaveDialog1"});
    EXPECT_TRUE(QDir(folder.path()).isEmpty());
    EXPECT_THAT(tones, ElementsAre(Pair(1300, 150)));
}

TEST_F(LogToolsTest, CancelledOpenShowsTheViewerAsItWasTitledWithTheLastFileOpened) {
    modalSwitch().setChecked(false);
    viewer.setText(QStringLiteral("earlier"));
    button("SpeedButton30").click();
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_EQ(viewer.RichEdit1().toPlainText(), "earlier");
    EXPECT_EQ(viewer.windowTitle(), "");
    EXPECT_THAT(tones, ElementsAre(Pair(1300, 150)));

    writeBytes(path("a.txt"), "A\r\n");
    answers = {path("a.txt"), std::nullopt};
    button("SpeedButton30").click();
    viewer.setText(QStringLiteral("changed"));
    button("SpeedButton30").click();
    EXPECT_EQ(viewer.RichEdit1().toPlainText(), "changed");
    EXPECT_EQ(viewer.windowTitle(), path("a.txt"));
}

TEST_F(LogToolsTest, SaveThatCannotCreateTheFileSaysWhyAndEndsWithoutATone) {
    left->setPlainText(kRecord);
    answers = {path("missing/folder/x.txt")};
    const QStringList messages = messagesDuring([this] { button("SpeedButton29").click(); });
    EXPECT_FALSE(QFile::exists(path("missing/folder/x.txt")));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(path("missing/folder/x.txt")));
    EXPECT_TRUE(messages[0].contains(qt_error_string(ENOENT))) << messages[0].toStdString();
    EXPECT_THAT(tones, IsEmpty());
}

// A small file system of its own, filled to the last block, with one log file saved before.
class FullDisk {
public:
    explicit FullDisk(const QString& folder) : folder_(folder) {
        QDir().mkpath(folder_);
        mounted_ = mount("tmpfs", folder_.toLocal8Bit().constData(), "tmpfs", 0, "size=64k") == 0;
        if (!mounted_) {
            reason_ = qt_error_string(errno);
            return;
        }
        QFile existing(folder_ + QStringLiteral("/existing.LOG.txt"));
        existing.open(QIODevice::WriteOnly);
        existing.write("oldcontent");
        existing.close();
        QFile filler(folder_ + QStringLiteral("/filler"));
        filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
        while (filler.write(QByteArray(4096, 'f')) > 0) {
        }
    }
    ~FullDisk() {
        if (mounted_) umount2(folder_.toLocal8Bit().constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    const QString& reason() const { return reason_; }

private:
    QString folder_;
    bool mounted_ = false;
    QString reason_;
};

TEST_F(LogToolsTest, SaveOnAFullDiskKeepsTheOldFileSaysWhyAndEndsWithoutATone) {
    const QString disk = path("disk");
    const FullDisk full(disk);
    if (!full.mounted())
        GTEST_SKIP() << "no file system of our own: " << full.reason().toStdString();
    const QString target = disk + QStringLiteral("/existing.LOG.txt");
    left->setPlainText(kRecord.repeated(100));
    answers = {target};
    const QStringList messages = messagesDuring([this] { item("LOG1").trigger(); });
    EXPECT_EQ(bytesOf(target), "oldcontent");
    EXPECT_EQ(QDir(disk).entryList(QDir::Files | QDir::Hidden),
              QStringList({"existing.LOG.txt", "filler"}));
    ASSERT_EQ(messages.size(), 1);
    EXPECT_TRUE(messages[0].contains(target));
    EXPECT_TRUE(messages[0].contains(qt_error_string(ENOSPC))) << messages[0].toStdString();
    EXPECT_THAT(tones, IsEmpty());
}

TEST_F(LogToolsTest, OpenThatCannotReadTheFileNeitherRetitlesNorShowsTheViewer) {
    modalSwitch().setChecked(false);
    viewer.setText(QStringLiteral("kept"));
    answers = {path("absent.txt")};
    button("SpeedButton30").click();
    EXPECT_FALSE(viewer.isVisible());
    EXPECT_EQ(viewer.windowTitle(), "Просмотр");
    EXPECT_EQ(viewer.RichEdit1().toPlainText(), "kept");
    EXPECT_THAT(tones, IsEmpty());
}

TEST_F(LogToolsTest, ClearEmptiesOnlyTheSelectedPane) {
    left->setPlainText(QStringLiteral("left"));
    right->setPlainText(QStringLiteral("right"));
    control<QRadioButton>("RadioButton2").click();
    tones.clear();
    item("LOG2").trigger();
    EXPECT_EQ(left->toPlainText(), "left");
    EXPECT_EQ(right->toPlainText(), "");
    EXPECT_THAT(tones, ElementsAre(Pair(300, 150), Pair(500, 150)));
}

TEST_F(LogToolsTest, PaneSwitchOnlyTones) {
    control<QRadioButton>("RadioButton2").click();
    EXPECT_EQ(&tools->selectedPane(), right);
    control<QRadioButton>("RadioButton1").click();
    EXPECT_EQ(&tools->selectedPane(), left);
    EXPECT_THAT(tones, ElementsAre(Pair(1300, 50), Pair(1300, 50)));
}

TEST_F(LogToolsTest, ViewCopiesThePaneThroughTheClipboardAndLeavesItSelected) {
    modalSwitch().setChecked(false);
    viewer.setText(QStringLiteral("old"));
    left->setPlainText(kRecord);
    right->setPlainText(QStringLiteral("right"));
    item("CLOG1").trigger();
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_FALSE(viewer.isModal());
    EXPECT_EQ(viewer.RichEdit1().toPlainText(), kRecord);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), kRecord);
    EXPECT_EQ(left->textCursor().selectionStart(), 0);
    EXPECT_EQ(left->textCursor().selectionEnd(), kRecord.size());
    EXPECT_EQ(right->toPlainText(), "right");
    EXPECT_THAT(tones, ElementsAre(Pair(300, 150)));
}

TEST_F(LogToolsTest, ViewWithTheModalSwitchOnShowsModallyAndTonesAfterwards) {
    right->setPlainText(QStringLiteral("DTR 1"));
    control<QRadioButton>("RadioButton2").setChecked(true);
    const auto [modal, tonesWhileShown] = whileModal([this] { button("SpeedButton27").click(); });
    EXPECT_TRUE(modal);
    EXPECT_THAT(tonesWhileShown, IsEmpty());
    EXPECT_THAT(tones, ElementsAre(Pair(300, 150)));
    EXPECT_EQ(viewer.RichEdit1().toPlainText(), "DTR 1");
}

TEST_F(LogToolsTest, ViewingAnEmptyPaneShowsWhatTheClipboardHeld) {
    modalSwitch().setChecked(false);
    QGuiApplication::clipboard()->setText(QStringLiteral("from elsewhere"));
    button("SpeedButton27").click();
    EXPECT_EQ(viewer.RichEdit1().toPlainText(), "from elsewhere");
}

// In a fresh X session the clipboard offers data of no format at all, and another program may
// have left an image there: the view then shows an empty viewer, and so does its own paste.
TEST_F(LogToolsTest, ViewingAnEmptyPaneWithNoTextOnTheClipboardShowsAnEmptyViewer) {
    modalSwitch().setChecked(false);
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::red);
    auto* image = new QMimeData;
    image->setImageData(picture);
    for (QMimeData* clipboard : {new QMimeData, image}) {
        QGuiApplication::clipboard()->setMimeData(clipboard);
        viewer.setText(QStringLiteral("old"));
        tones.clear();
        button("SpeedButton27").click();
        EXPECT_TRUE(viewer.isVisible());
        EXPECT_EQ(viewer.RichEdit1().toPlainText(), "");
        EXPECT_THAT(tones, ElementsAre(Pair(300, 150)));
        viewer.RichEdit1().paste();
        EXPECT_EQ(viewer.RichEdit1().toPlainText(), "");
    }
}

TEST_F(LogToolsTest, ModalViewOfAVisibleViewerIsRefusedBeforeTheTone) {
    modalSwitch().setChecked(false);
    left->setPlainText(QStringLiteral("first"));
    button("SpeedButton27").click();
    modalSwitch().setChecked(true);
    left->setPlainText(QStringLiteral("second"));
    tones.clear();
    button("SpeedButton27").click();
    EXPECT_TRUE(viewer.isVisible());
    EXPECT_FALSE(viewer.isModal());
    EXPECT_EQ(viewer.RichEdit1().toPlainText(), "second");
    EXPECT_THAT(tones, IsEmpty());
}

TEST_F(LogToolsTest, ModalSwitchClosesAnOpenViewerAndTones) {
    modalSwitch().setChecked(false);
    button("SpeedButton27").click();
    ASSERT_TRUE(viewer.isVisible());
    tones.clear();
    modalSwitch().click();
    EXPECT_TRUE(modalSwitch().isChecked());
    EXPECT_FALSE(viewer.isVisible());
    EXPECT_THAT(tones, ElementsAre(Pair(1300, 50)));
    modalSwitch().setChecked(false);
    EXPECT_THAT(tones, ElementsAre(Pair(1300, 50)));
}

class LogToolsFind : public LogToolsTest {
protected:
    void find(const QString& text) {
        tools->FindDialog1().setFindText(text);
        tools->FindDialog1().findNext();
    }
    QString selected(const QPlainTextEdit& pane) const { return pane.textCursor().selectedText(); }
};

TEST_F(LogToolsFind, FindButtonShowsTheModelessDialogWithAllItsBoxes) {
    item("N9").trigger();
    logs::FindDialog& dialog = tools->FindDialog1();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_FALSE(dialog.isModal());
    EXPECT_TRUE(dialog.findChild<QCheckBox*>("MatchCase")->isVisibleTo(&dialog));
    EXPECT_TRUE(dialog.findChild<QCheckBox*>("WholeWord")->isVisibleTo(&dialog));
    EXPECT_THAT(tones, ElementsAre(Pair(1300, 150)));
    dialog.close();
}

TEST_F(LogToolsFind, StartsAtTheTopWithoutASelectionEvenWithTheCaretFurtherDown) {
    left->setPlainText(QStringLiteral("DTR 1\nRTS 1\nDTR 0"));
    left->moveCursor(QTextCursor::End);
    find(QStringLiteral("DTR"));
    EXPECT_EQ(left->textCursor().selectionStart(), 0);
    EXPECT_EQ(selected(*left), "DTR");
    find(QStringLiteral("DTR"));
    EXPECT_EQ(left->textCursor().selectionStart(), 12);
    EXPECT_THAT(tones, ElementsAre(Pair(700, 50), Pair(400, 100), Pair(700, 50), Pair(400, 100)));
}

TEST_F(LogToolsFind, IsCaseSensitiveAndStillTonesWhenNothingIsFound) {
    left->setPlainText(QStringLiteral("DTR 1"));
    find(QStringLiteral("dtr"));
    EXPECT_FALSE(left->textCursor().hasSelection());
    EXPECT_THAT(tones, ElementsAre(Pair(700, 50), Pair(400, 100)));
}

TEST_F(LogToolsFind, FindsNothingRightAfterViewBecauseTheWholeTextIsSelected) {
    modalSwitch().setChecked(false);
    left->setPlainText(QStringLiteral("DTR 1\nDTR 0"));
    button("SpeedButton27").click();
    find(QStringLiteral("DTR"));
    EXPECT_EQ(selected(*left), QStringLiteral("DTR 1\u2029DTR 0"));
}

TEST_F(LogToolsFind, SearchesTheRightPaneWhenItIsSelected) {
    left->setPlainText(QStringLiteral("CTS"));
    right->setPlainText(QStringLiteral("RI CTS"));
    control<QRadioButton>("RadioButton2").setChecked(true);
    find(QStringLiteral("CTS"));
    EXPECT_EQ(right->textCursor().selectionStart(), 3);
    EXPECT_FALSE(left->textCursor().hasSelection());
}

TEST_F(LogToolsTest, CtrlRTwiceReturnsToAutomaticSizingWithoutTheCheckMark) {
    showActive();
    left->setFocus();
    QTest::keyClick(left, Qt::Key_R, Qt::ControlModifier);
    EXPECT_FALSE(tools->autoSizing());
    EXPECT_TRUE(item("N24").isChecked());
    EXPECT_EQ(form.layout()->sizeConstraint(), QLayout::SetDefaultConstraint);
    EXPECT_NE(form.minimumSize(), form.maximumSize());
    QTest::keyClick(left, Qt::Key_R, Qt::ControlModifier);
    EXPECT_TRUE(tools->autoSizing());
    EXPECT_FALSE(item("N24").isChecked());
    EXPECT_EQ(form.layout()->sizeConstraint(), QLayout::SetFixedSize);
    QCoreApplication::processEvents();
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_THAT(tones,
                ElementsAre(Pair(1300, 250), Pair(400, 250), Pair(1300, 250), Pair(400, 250)));
}

TEST_F(LogToolsTest, MenuKeysInAPaneComeBeforeItsEditing) {
    left->setPlainText(QStringLiteral("DTR 1 RTS"));
    right->setPlainText(QStringLiteral("right"));
    showActive();
    left->setFocus();
    left->moveCursor(QTextCursor::End);
    QTest::keyClick(left, Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(left->toPlainText(), "");
    EXPECT_EQ(right->toPlainText(), "right");

    right->setFocus();
    select(*right, 0, 5);
    QTest::keyClick(right, Qt::Key_X, Qt::ControlModifier);
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(right->toPlainText(), "right");
}

TEST_F(LogToolsTest, HelpButtonRunsTheToolBarHelp) {
    button("SpeedButton26").click();
    EXPECT_EQ(helpShown, 1);
    EXPECT_THAT(tones, IsEmpty());
}

}  // namespace
