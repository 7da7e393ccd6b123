#include "log/viewer_window.h"

#include <QAction>
#include <QColorDialog>
#include <QFontDialog>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <utility>

#include "log/find_dialog.h"
#include "log/menu_keys.h"
#include "log/text_search.h"
#include "widgets/command.h"
#include "widgets/text_box.h"

namespace logs {

namespace {

const QString kCaption = QStringLiteral("Просмотр");

std::optional<QColor> runColorDialog(const QColor& start, QWidget* parent) {
    const QColor chosen = QColorDialog::getColor(start, parent);
    if (!chosen.isValid()) return std::nullopt;
    return chosen;
}

// Qt's font dialog offers no text colour, so the colour stays the one the dialog started from.
std::optional<TForm2::FontChoice> runFontDialog(const TForm2::FontChoice& start, QWidget* parent) {
    bool confirmed = false;
    const QFont chosen = QFontDialog::getFont(&confirmed, start.font, parent);
    if (!confirmed) return std::nullopt;
    return TForm2::FontChoice{chosen, start.color};
}

QAction* makeAction(QObject* owner, const char* name, const QString& caption,
                    const QKeySequence& key, const QString& hint = {}) {
    auto* action = new QAction(caption, owner);
    action->setObjectName(QString::fromLatin1(name));
    action->setShortcut(key);
    action->setStatusTip(hint);
    return action;
}

// A menu item that stands for an action: it shows the action's caption, hint, shortcut and
// enabled state, and runs the action. The shortcut is only shown; the key itself belongs to
// the action (or, for Ctrl+X, to "Выход").
void addActionItem(QMenu& menu, const char* name, QAction& action) {
    QAction* item = menu.addAction(QString());
    item->setObjectName(QString::fromLatin1(name));
    const auto follow = [item, &action] {
        item->setText(action.text() + u'\t' + action.shortcut().toString(QKeySequence::NativeText));
        item->setStatusTip(action.statusTip());
        item->setEnabled(action.isEnabled());
    };
    follow();
    QObject::connect(&action, &QAction::changed, item, follow);
    QObject::connect(item, &QAction::triggered, &action, &QAction::trigger);
}

}  // namespace

TForm2::TForm2(Tone confirmTone, QWidget* parent)
    : QDialog(parent),
      confirmTone_(std::move(confirmTone)),
      chooseColor_(runColorDialog),
      chooseFont_(runFontDialog),
      FontDialog1Font_{QFont(QStringLiteral("MS Sans Serif"), 8), Qt::black} {
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(kCaption);
    move(170, 103);
    resize(504, 348);

    RichEdit1_ = new widgets::TextBox(this);
    RichEdit1_->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1_->setFont(QFont(QStringLiteral("Arial"), 10, QFont::Bold));
    QPalette colours = RichEdit1_->palette();
    colours.setColor(QPalette::Base, Qt::white);
    colours.setColor(QPalette::Text, Qt::black);
    RichEdit1_->setPalette(colours);
    RichEdit1_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    RichEdit1_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    FindDialog1_ = new FindDialog(false, this);
    FindDialog1_->setObjectName(QStringLiteral("FindDialog1"));
    connect(FindDialog1_, &FindDialog::find, this,
            [this] { widgets::runCommand([this] { FindDialog1Find(); }); });

    buildActions();
    buildMenu();
    new MenuKeysFirst(*this);

    connect(RichEdit1_, &QPlainTextEdit::selectionChanged, this, &TForm2::updateActions);
    connect(RichEdit1_, &QPlainTextEdit::textChanged, this, &TForm2::updateActions);
    connect(RichEdit1_, &QPlainTextEdit::undoAvailable, this, &TForm2::updateActions);
    updateActions();
}

TForm2::~TForm2() = default;

void TForm2::buildActions() {
    EditCopy1 = makeAction(this, "EditCopy1", QStringLiteral("Копир"),
                           QKeySequence(Qt::CTRL | Qt::Key_C), QStringLiteral("Copy"));
    EditPaste1 = makeAction(this, "EditPaste1", QStringLiteral("&Встав"),
                            QKeySequence(Qt::CTRL | Qt::Key_V), QStringLiteral("Paste"));
    EditCut1 = makeAction(this, "EditCut1", QStringLiteral("Выр "),
                          QKeySequence(Qt::CTRL | Qt::Key_X), QStringLiteral("Cut"));
    EditSelectAll1 = makeAction(this, "EditSelectAll1", QStringLiteral("Выделит Все"),
                                QKeySequence(Qt::CTRL | Qt::Key_A));
    EditUndo1 = makeAction(this, "EditUndo1", QStringLiteral("&Верн"),
                           QKeySequence(Qt::ALT | Qt::Key_Backspace));
    EditDelete1 =
        makeAction(this, "EditDelete1", QStringLiteral("Удалить"), QKeySequence(Qt::Key_Delete));

    connect(EditCopy1, &QAction::triggered, RichEdit1_, &QPlainTextEdit::copy);
    connect(EditPaste1, &QAction::triggered, RichEdit1_, &QPlainTextEdit::paste);
    connect(EditCut1, &QAction::triggered, RichEdit1_, &QPlainTextEdit::cut);
    connect(EditSelectAll1, &QAction::triggered, RichEdit1_, &QPlainTextEdit::selectAll);
    connect(EditUndo1, &QAction::triggered, RichEdit1_, &QPlainTextEdit::undo);
    connect(EditDelete1, &QAction::triggered, this,
            [this] { RichEdit1_->textCursor().removeSelectedText(); });

    // The keys of the action list work without menu items, except Ctrl+X, which "Выход"
    // takes first: an action in no widget has no live shortcut.
    addActions({EditCopy1, EditPaste1, EditSelectAll1, EditUndo1, EditDelete1});
}

void TForm2::buildMenu() {
    auto* MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
    const auto command = [this](void (TForm2::*handler)()) {
        return [this, handler] { widgets::runCommand([this, handler] { (this->*handler)(); }); };
    };

    QMenu* N1 = MainMenu1->addMenu(QStringLiteral("Файл"));
    N1->setObjectName(QStringLiteral("N1"));
    QAction* N6 = N1->addAction(QStringLiteral("Выход"));
    N6->setObjectName(QStringLiteral("N6"));
    N6->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_X));
    connect(N6, &QAction::triggered, this, &QWidget::close);

    QMenu* N2 = MainMenu1->addMenu(QStringLiteral("Правка"));
    N2->setObjectName(QStringLiteral("N2"));
    QAction* N8 = N2->addAction(QStringLiteral("Поиск"));
    N8->setObjectName(QStringLiteral("N8"));
    N8->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(N8, &QAction::triggered, this, command(&TForm2::N8Click));
    N2->addSeparator()->setObjectName(QStringLiteral("N14"));
    addActionItem(*N2, "N11", *EditCopy1);
    addActionItem(*N2, "N15", *EditPaste1);
    addActionItem(*N2, "N16", *EditCut1);
    addActionItem(*N2, "N12", *EditSelectAll1);
    N2->addSeparator()->setObjectName(QStringLiteral("N17"));
    addActionItem(*N2, "N13", *EditUndo1);
    // Whether the clipboard holds text is asked only here, where the answer is shown, never
    // when another program changes the clipboard: asking means a round trip to that program,
    // which may be slow or hang, and the window with it. Ctrl+V needs no answer beforehand:
    // with the action disabled the key reaches the text box, which pastes what there is.
    EditPaste1->setEnabled(false);
    connect(N2, &QMenu::aboutToShow, this,
            [this] { EditPaste1->setEnabled(RichEdit1_->canPaste()); });

    QMenu* N3 = MainMenu1->addMenu(QStringLiteral("Вид"));
    N3->setObjectName(QStringLiteral("N3"));
    QAction* N9 = N3->addAction(QStringLiteral("Фон"));
    N9->setObjectName(QStringLiteral("N9"));
    connect(N9, &QAction::triggered, this, command(&TForm2::N9Click));
    QAction* N10 = N3->addAction(QStringLiteral("Шрифт"));
    N10->setObjectName(QStringLiteral("N10"));
    connect(N10, &QAction::triggered, this, command(&TForm2::N10Click));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setMenuBar(MainMenu1);
    layout->addWidget(RichEdit1_);
}

void TForm2::updateActions() {
    const bool selected = RichEdit1_->textCursor().hasSelection();
    EditCopy1->setEnabled(selected);
    EditCut1->setEnabled(selected);
    EditDelete1->setEnabled(selected);
    EditSelectAll1->setEnabled(!RichEdit1_->document()->isEmpty());
    EditUndo1->setEnabled(RichEdit1_->document()->isUndoAvailable());
}

void TForm2::setText(const QString& text) {
    RichEdit1_->setPlainText(text);
}

void TForm2::pasteClipboard() {
    RichEdit1_->clear();
    RichEdit1_->paste();
}

void TForm2::setCaption(const QString& caption) {
    setWindowTitle(caption);
}

void TForm2::showViewer(bool modal) {
    if (!modal) {
        show();
        raise();
        activateWindow();
        return;
    }
    if (isVisible()) throw VisibleModalError();
    exec();
}

void TForm2::setColorChooser(ColorChooser chooser) {
    chooseColor_ = std::move(chooser);
}

void TForm2::setFontChooser(FontChooser chooser) {
    chooseFont_ = std::move(chooser);
}

void TForm2::N8Click() {
    FindDialog1_->execute();
}

void TForm2::N9Click() {
    const std::optional<QColor> chosen = chooseColor_(ColorDialog1Color_, this);
    if (!chosen) return;
    ColorDialog1Color_ = *chosen;
    QPalette colours = RichEdit1_->palette();
    colours.setColor(QPalette::Base, *chosen);
    RichEdit1_->setPalette(colours);
}

void TForm2::N10Click() {
    const std::optional<FontChoice> chosen = chooseFont_(FontDialog1Font_, this);
    if (!chosen) return;
    FontDialog1Font_ = *chosen;
    RichEdit1_->setFont(chosen->font);
    QPalette colours = RichEdit1_->palette();
    colours.setColor(QPalette::Text, chosen->color);
    RichEdit1_->setPalette(colours);
}

void TForm2::FindDialog1Find() {
    findForward(*RichEdit1_, FindDialog1_->findText());
}

void TForm2::done(int result) {
    QDialog::done(result);
    setWindowTitle(kCaption);
}

bool TForm2::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate && confirmTone_)
        widgets::runCommand([this] { confirmTone_(1300, 150); });
    return QDialog::event(event);
}

void TForm2::keyPressEvent(QKeyEvent* event) {
    // Esc is no way out of this window; only its menu and its frame close it.
    if (event->matches(QKeySequence::Cancel)) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace logs
