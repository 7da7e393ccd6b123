#pragma once

#include <QColor>
#include <QDialog>
#include <QFont>
#include <QString>
#include <functional>
#include <optional>
#include <stdexcept>

class QAction;
class QPlainTextEdit;

namespace logs {

class FindDialog;

// Showing the viewer modally while it is visible already.
class VisibleModalError : public std::runtime_error {
public:
    VisibleModalError() : std::runtime_error("Cannot make a visible window modal") {}
};

// The viewer "Просмотр": a resizable window with one large, editable text box RichEdit1 in
// which callers put a copy of a log pane, a log file or a help text. It offers the find
// dialog, six edit actions, and a choice of background colour and font; nothing in it is ever
// saved. It is created at start, hidden, and closing it only hides it: the text, colour and
// font stay, but the caption goes back to "Просмотр" whenever it closes, by whatever means.
// Each time it becomes the active window it sounds its confirmation tone.
//
// Ctrl+X belongs to both "Выход" and the cut action; the menu comes first, so the key closes
// the window, and cutting is left to the menu item "Выр ". Every menu key of the window comes
// before the text box's own use of it.
class TForm2 : public QDialog {
    Q_OBJECT
public:
    // Plays a confirmation tone of hz hertz for ms milliseconds.
    using Tone = std::function<void(int hz, int ms)>;
    struct FontChoice {
        QFont font;
        QColor color;
    };
    // The colour and font dialogs, run modally from the given starting choice: the choice the
    // user confirmed, or nothing when the dialog was cancelled.
    using ColorChooser = std::function<std::optional<QColor>(const QColor& start, QWidget* parent)>;
    using FontChooser =
        std::function<std::optional<FontChoice>(const FontChoice& start, QWidget* parent)>;

    explicit TForm2(Tone confirmTone, QWidget* parent = nullptr);
    ~TForm2() override;

    // What the main window, the help and the driver window do with the viewer.
    // Replaces the content of RichEdit1 with the text, as plain text.
    void setText(const QString& text);
    // Empties RichEdit1 and pastes the clipboard's text into it; a clipboard without text
    // (empty, or an image) leaves it empty.
    void pasteClipboard();
    void setCaption(const QString& caption);
    // Modally, returning when the viewer has been closed, or modelessly, returning at once.
    // Modally while it is visible throws VisibleModalError and leaves the viewer as it is.
    void showViewer(bool modal);
    // close() closes it.

    QPlainTextEdit& RichEdit1() const { return *RichEdit1_; }
    FindDialog& FindDialog1() const { return *FindDialog1_; }

    // The real colour and font dialogs are the defaults; tests put choosers of their own.
    void setColorChooser(ColorChooser chooser);
    void setFontChooser(FontChooser chooser);

    // "Поиск", "Фон", "Шрифт" and a press of the find dialog's find button.
    void N8Click();
    void N9Click();
    void N10Click();
    void FindDialog1Find();

    void done(int result) override;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildActions();
    void buildMenu();
    void updateActions();

    Tone confirmTone_;
    ColorChooser chooseColor_;
    FontChooser chooseFont_;
    // What the dialogs start from: the last confirmed choice, not the box's current look.
    QColor ColorDialog1Color_ = Qt::black;
    FontChoice FontDialog1Font_;

    QPlainTextEdit* RichEdit1_ = nullptr;
    FindDialog* FindDialog1_ = nullptr;
    QAction* EditCopy1 = nullptr;
    QAction* EditCut1 = nullptr;
    QAction* EditDelete1 = nullptr;
    QAction* EditPaste1 = nullptr;
    QAction* EditSelectAll1 = nullptr;
    QAction* EditUndo1 = nullptr;
};

}  // namespace logs
