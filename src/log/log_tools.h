#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <optional>

#include "widgets/hint.h"
#include "widgets/main_menu.h"

class QAction;
class QCheckBox;
class QFileDialog;
class QMainWindow;
class QPlainTextEdit;
class QRadioButton;
class QToolButton;
class QWidget;

namespace logs {

class FindDialog;
class TForm2;

// The main window's log commands: the tool bar ToolBar10 (open, save, clear, view, find, help)
// and the pane selector GroupBox20, put on the tools page below the base-port group, and the
// menu items of the main window that repeat the buttons (each item clicks its button, so the
// button's tones sound too), Exit and the resize switch. The commands act on the pane that
// RadioButton1/RadioButton2 select at the moment they run, and show the viewer modally while
// CheckBox3 is checked.
//
// The main window has made its menu items (N5, LOG1, N6, CLOG1, N9, LOG2, N24) and CheckBox3
// already; they are handed in. Its menu keys come before the keys of its edit boxes, so
// Ctrl+X in a pane closes the window and Ctrl+Del clears the selected pane.
//
// The window is taken to start with automatic sizing on, as it was created; the first Ctrl+R
// lets the user size it freely, the next one fits it to its contents again.
// Where the tools stand: the tools page, the base-port group on it that they go right below,
// and the main window's modal switch CheckBox3, which moves into the pane selector.
struct ToolsPlace {
    QWidget& page;
    QWidget& basePortGroup;
    QCheckBox& CheckBox3;
};

class LogTools : public QObject {
    Q_OBJECT
public:
    using Tone = std::function<void(int hz, int ms)>;
    // Runs a file dialog modally: the full path of the file the user chose, or nothing when
    // the dialog was cancelled.
    using FileChooser = std::function<std::optional<QString>(QFileDialog& dialog)>;

    // Everything given must outlive this object, which the main window owns.
    LogTools(QMainWindow& form, const widgets::MainMenu& menu, const ToolsPlace& place,
             QPlainTextEdit& RichEdit2, QPlainTextEdit& RichEdit1, TForm2& viewer, Tone confirmTone,
             std::function<void()> toolBarHelp = {});
    ~LogTools() override;

    // The real file dialogs are the default; tests put a chooser of their own.
    void setFileChooser(FileChooser chooser);

    // RichEdit2 while RadioButton1 is checked, else RichEdit1.
    QPlainTextEdit& selectedPane() const;
    bool autoSizing() const { return autoSizing_; }
    // The pane selector's switches, which light up while their hint is shown.
    widgets::HintedControls hintedControls() const;

    FindDialog& FindDialog1() const { return *FindDialog1_; }
    QFileDialog& SaveDialog1();
    QFileDialog& OpenDialog1();
    // The full path of the last file chosen in OpenDialog1; empty while none was chosen.
    const QString& openFileName() const { return openFileName_; }

    void SpeedButton30Click();
    void SpeedButton29Click();
    void SpeedButton28Click();
    void SpeedButton27Click();
    void SpeedButton25Click();
    void SpeedButton26Click();
    void FindDialog1Find();
    void CheckBox3Click();
    void RadioButtonClick();
    void N24Click();

private:
    void buildToolBar();
    void buildPaneSelector();
    void placeOnToolsPage(const ToolsPlace& place);
    void connectMenu(const widgets::MainMenu& menu);
    void tone(int hz, int ms) const;
    void showViewer();

    QMainWindow& form_;
    QPlainTextEdit& RichEdit2_;
    QPlainTextEdit& RichEdit1_;
    TForm2& viewer_;
    Tone confirmTone_;
    std::function<void()> toolBarHelp_;
    FileChooser chooseFile_;
    bool autoSizing_ = true;
    QString openFileName_;

    QWidget* ToolBar10 = nullptr;
    QWidget* GroupBox20 = nullptr;
    QToolButton* SpeedButton30 = nullptr;
    QToolButton* SpeedButton29 = nullptr;
    QToolButton* SpeedButton28 = nullptr;
    QToolButton* SpeedButton27 = nullptr;
    QToolButton* SpeedButton25 = nullptr;
    QToolButton* SpeedButton26 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QAction* N24 = nullptr;
    FindDialog* FindDialog1_ = nullptr;
    // Made on first use: a file dialog watches its folder from the moment it exists, and each
    // watch is one more file the event loop waits on between all the poll's ticks.
    QFileDialog* SaveDialog1_ = nullptr;
    QFileDialog* OpenDialog1_ = nullptr;
};

}  // namespace logs
