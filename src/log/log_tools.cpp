#include "log/log_tools.h"

#include <QAction>
#include <QBoxLayout>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QMainWindow>
#include <QMessageBox>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QToolBar>
#include <QToolButton>
#include <stdexcept>
#include <string>
#include <utility>

#include "log/find_dialog.h"
#include "log/log_file.h"
#include "log/menu_keys.h"
#include "log/text_search.h"
#include "log/viewer_window.h"
#include "widgets/command.h"
#include "widgets/hint.h"

namespace logs {

namespace {

// The two entries of the file dialogs, as "description (pattern)"; the system's filter
// "Текстовый LOG файл  (*.LOG.txt)|*.LOG.txt|Текстовый файл  (*.txt)|*.TXT" in Qt's form. Qt
// shows each description with its runs of spaces collapsed and matches the pattern in the
// parentheses.
const QStringList kLogFileFilters = {QStringLiteral("Текстовый LOG файл  (*.LOG.txt)"),
                                     QStringLiteral("Текстовый файл  (*.txt)")};
// A name typed without an extension gets this one, as the system's dialogs give it.
const QString kDefaultSuffix = QStringLiteral("TXT");

enum class Glyph { Open, Save, Clear, View, Find, Help };

// Draws a page with a folded corner: the base of the open, view and find glyphs.
void drawPage(QPainter& painter, const QRectF& page) {
    QPainterPath outline;
    outline.moveTo(page.topLeft());
    outline.lineTo(page.right() - 4, page.top());
    outline.lineTo(page.right(), page.top() + 4);
    outline.lineTo(page.bottomRight());
    outline.lineTo(page.bottomLeft());
    outline.closeSubpath();
    painter.setBrush(Qt::white);
    painter.drawPath(outline);
    for (qreal y = page.top() + 5; y < page.bottom() - 1; y += 2.5)
        painter.drawLine(QPointF(page.left() + 2, y), QPointF(page.right() - 2, y));
}

void drawMagnifier(QPainter& painter, QPointF centre, qreal radius) {
    painter.setBrush(QColor(200, 230, 255));
    painter.drawEllipse(centre, radius, radius);
    painter.setPen(QPen(Qt::black, 2.0, Qt::SolidLine, Qt::RoundCap));
    const QPointF handle = centre + QPointF(radius * 0.7, radius * 0.7);
    painter.drawLine(handle, handle + QPointF(4, 4));
}

QIcon glyph(Glyph kind) {
    QPixmap picture(16, 16);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1.0));
    switch (kind) {
        case Glyph::Open:
            painter.setBrush(QColor(240, 200, 80));
            painter.drawRect(QRectF(1.5, 4.5, 13, 10));
            painter.drawRect(QRectF(1.5, 2.5, 5, 2));
            break;
        case Glyph::Save:
            painter.setBrush(QColor(40, 60, 160));
            painter.drawRect(QRectF(1.5, 1.5, 13, 13));
            painter.setBrush(Qt::white);
            painter.drawRect(QRectF(4.5, 1.5, 7, 5));
            painter.setBrush(QColor(200, 200, 200));
            painter.drawRect(QRectF(4.5, 9.5, 7, 5));
            break;
        case Glyph::Clear:
            drawPage(painter, QRectF(2.5, 1.5, 10, 13));
            painter.setPen(QPen(Qt::red, 2.0, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(6, 6), QPointF(14, 14));
            painter.drawLine(QPointF(14, 6), QPointF(6, 14));
            break;
        case Glyph::View:
            drawPage(painter, QRectF(1.5, 1.5, 10, 13));
            painter.setBrush(Qt::white);
            painter.drawEllipse(QPointF(10.5, 10.5), 5, 3);
            painter.setBrush(Qt::black);
            painter.drawEllipse(QPointF(10.5, 10.5), 1.5, 1.5);
            break;
        case Glyph::Find:
            drawPage(painter, QRectF(1.5, 1.5, 10, 13));
            drawMagnifier(painter, QPointF(9.5, 8.5), 3.5);
            break;
        case Glyph::Help:
            painter.setBrush(QColor(255, 255, 200));
            painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
            painter.setFont(QFont(QStringLiteral("Sans Serif"), 9, QFont::Bold));
            painter.setPen(QColor(0, 0, 160));
            painter.drawText(QRectF(1.5, 1.5, 13, 13), Qt::AlignCenter, QStringLiteral("?"));
            break;
    }
    return QIcon(picture);
}

using widgets::setHint;

std::optional<QString> runFileDialog(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

QFileDialog* makeFileDialog(QWidget& owner, const char* name, QFileDialog::AcceptMode mode) {
    auto* dialog = new QFileDialog(&owner);
    dialog->setObjectName(QString::fromLatin1(name));
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                        : QFileDialog::AnyFile);
    // Saving over an existing file replaces it without a question.
    dialog->setOption(QFileDialog::DontConfirmOverwrite);
    dialog->setNameFilters(kLogFileFilters);
    dialog->setDefaultSuffix(kDefaultSuffix);
    return dialog;
}

}  // namespace

LogTools::LogTools(QMainWindow& form, const widgets::MainMenu& menu, const ToolsPlace& place,
                   QPlainTextEdit& RichEdit2, QPlainTextEdit& RichEdit1, TForm2& viewer,
                   Tone confirmTone, std::function<void()> toolBarHelp)
    : QObject(&form),
      form_(form),
      RichEdit2_(RichEdit2),
      RichEdit1_(RichEdit1),
      viewer_(viewer),
      confirmTone_(std::move(confirmTone)),
      toolBarHelp_(std::move(toolBarHelp)),
      chooseFile_(runFileDialog) {
    setObjectName(QStringLiteral("LogTools"));
    CheckBox3 = &place.CheckBox3;
    buildToolBar();
    buildPaneSelector();
    placeOnToolsPage(place);

    FindDialog1_ = new FindDialog(true, &form_);
    FindDialog1_->setObjectName(QStringLiteral("FindDialog1"));
    connect(FindDialog1_, &FindDialog::find, this,
            [this] { widgets::runCommand([this] { FindDialog1Find(); }); });

    connectMenu(menu);
    new MenuKeysFirst(form_);
}

LogTools::~LogTools() = default;

QFileDialog& LogTools::SaveDialog1() {
    if (!SaveDialog1_) SaveDialog1_ = makeFileDialog(form_, "SaveDialog1", QFileDialog::AcceptSave);
    return *SaveDialog1_;
}

QFileDialog& LogTools::OpenDialog1() {
    if (!OpenDialog1_) OpenDialog1_ = makeFileDialog(form_, "OpenDialog1", QFileDialog::AcceptOpen);
    return *OpenDialog1_;
}

widgets::HintedControls LogTools::hintedControls() const {
    using widgets::HintLook;
    return {{RadioButton1, HintLook::BlackCaption},
            {RadioButton2, HintLook::BlackCaption},
            {CheckBox3, HintLook::BlackCaption}};
}

void LogTools::buildToolBar() {
    auto* bar = new QToolBar(&form_);
    bar->setObjectName(QStringLiteral("ToolBar10"));
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setIconSize(QSize(16, 16));
    ToolBar10 = bar;

    struct Button {
        QToolButton** button;
        const char* name;
        const char* hint;
        Glyph glyph;
        void (LogTools::*click)();
    };
    const Button buttons[] = {
        {&SpeedButton30, "SpeedButton30", "Открыть LOG файл", Glyph::Open,
         &LogTools::SpeedButton30Click},
        {&SpeedButton29, "SpeedButton29", "Сохранить LOG ", Glyph::Save,
         &LogTools::SpeedButton29Click},
        {&SpeedButton28, "SpeedButton28", "Очистить LOG", Glyph::Clear,
         &LogTools::SpeedButton28Click},
        {&SpeedButton27, "SpeedButton27", "Cмотреть LOG", Glyph::View,
         &LogTools::SpeedButton27Click},
        {&SpeedButton25, "SpeedButton25", "Найти в LOG файле то что надо", Glyph::Find,
         &LogTools::SpeedButton25Click},
        {&SpeedButton26, "SpeedButton26", "Помощь", Glyph::Help, &LogTools::SpeedButton26Click},
    };
    for (const Button& entry : buttons) {
        auto* button = new QToolButton(bar);
        button->setObjectName(QString::fromLatin1(entry.name));
        button->setFixedSize(24, 24);
        button->setAutoRaise(true);
        button->setIcon(glyph(entry.glyph));
        setHint(button, QString::fromUtf8(entry.hint));
        connect(button, &QToolButton::clicked, this, [this, click = entry.click] {
            widgets::runCommand([this, click] { (this->*click)(); });
        });
        bar->addWidget(button);
        if (entry.button == &SpeedButton28) bar->addSeparator();
        *entry.button = button;
    }
}

void LogTools::buildPaneSelector() {
    auto* group = new QGroupBox(&form_);
    group->setObjectName(QStringLiteral("GroupBox20"));
    auto* row = new QHBoxLayout(group);
    const auto addRadio = [&](QRadioButton*& radio, const char* name, const char* caption,
                              const char* hint) {
        radio = new QRadioButton(QString::fromUtf8(caption), group);
        radio->setObjectName(QString::fromLatin1(name));
        setHint(radio, QString::fromUtf8(hint));
        connect(radio, &QRadioButton::clicked, this,
                [this] { widgets::runCommand([this] { RadioButtonClick(); }); });
        row->addWidget(radio);
    };
    addRadio(RadioButton1, "RadioButton1", "L", "Управлять левой панелью");
    addRadio(RadioButton2, "RadioButton2", "R", "Управлять правой панелью");
    RadioButton1->setChecked(true);

    GroupBox20 = group;
    // Taking it from the page takes it out of the page's layout too.
    CheckBox3->setParent(group);
    row->addWidget(CheckBox3);
    row->addStretch(1);
    CheckBox3->show();
    // clicked, not toggled: restoring the setting at start is no click and sounds nothing.
    connect(CheckBox3, &QCheckBox::clicked, this,
            [this] { widgets::runCommand([this] { CheckBox3Click(); }); });
}

// Right below the base-port group, where the modal switch stood.
void LogTools::placeOnToolsPage(const ToolsPlace& place) {
    auto* page = qobject_cast<QBoxLayout*>(place.page.layout());
    if (!page) throw std::logic_error("the tools page has no box layout");
    const int at = page->indexOf(&place.basePortGroup) + 1;
    page->insertWidget(at, ToolBar10);
    page->insertWidget(at + 1, GroupBox20);
}

void LogTools::connectMenu(const widgets::MainMenu& menu) {
    const std::pair<QAction*, QToolButton*> clicks[] = {{menu.N5, SpeedButton30},
                                                        {menu.LOG1, SpeedButton29},
                                                        {menu.CLOG1, SpeedButton27},
                                                        {menu.N9, SpeedButton25},
                                                        {menu.LOG2, SpeedButton28}};
    for (const auto& [item, button] : clicks)
        connect(item, &QAction::triggered, button, &QToolButton::click);
    connect(menu.N6, &QAction::triggered, &form_, &QWidget::close);
    N24 = menu.N24;
    N24->setCheckable(true);
    N24->setChecked(false);
    connect(N24, &QAction::triggered, this,
            [this] { widgets::runCommand([this] { N24Click(); }); });
}

void LogTools::setFileChooser(FileChooser chooser) {
    chooseFile_ = std::move(chooser);
}

QPlainTextEdit& LogTools::selectedPane() const {
    return RadioButton1->isChecked() ? RichEdit2_ : RichEdit1_;
}

void LogTools::tone(int hz, int ms) const {
    if (confirmTone_) confirmTone_(hz, ms);
}

void LogTools::showViewer() {
    viewer_.showViewer(CheckBox3->isChecked());
}

void LogTools::SpeedButton30Click() {
    if (const std::optional<QString> chosen = chooseFile_(OpenDialog1())) {
        openFileName_ = *chosen;
        OpenDialog1_->selectFile(*chosen);
        viewer_.setText(loadLogFile(*chosen).text);
    }
    viewer_.setCaption(openFileName_);
    showViewer();
    tone(1300, 150);
}

void LogTools::SpeedButton29Click() {
    if (const std::optional<QString> chosen = chooseFile_(SaveDialog1())) {
        SaveDialog1_->selectFile(*chosen);
        try {
            saveLogFile(*chosen, selectedPane().toPlainText());
        } catch (const LogFileError& failure) {
            // A log the user believes saved would be lost: no tone, and a word on why.
            QMessageBox::warning(
                &form_, QGuiApplication::applicationDisplayName(),
                QStringLiteral("LOG не сохранён в файл %1\n%2").arg(*chosen, failure.reason()));
            return;
        }
    }
    tone(1300, 150);
}

void LogTools::SpeedButton28Click() {
    selectedPane().clear();
    tone(300, 150);
    tone(500, 150);
}

// Through the clipboard, as the user would do it by hand (pasting empties the viewer first):
// afterwards the clipboard holds the log and the pane's whole text stays selected. An empty
// pane copies nothing, so the viewer shows the text the clipboard held before, if any.
void LogTools::SpeedButton27Click() {
    QPlainTextEdit& pane = selectedPane();
    pane.selectAll();
    pane.copy();
    viewer_.pasteClipboard();
    showViewer();
    tone(300, 150);
}

void LogTools::SpeedButton25Click() {
    FindDialog1_->execute();
    tone(1300, 150);
}

void LogTools::SpeedButton26Click() {
    if (toolBarHelp_) toolBarHelp_();
}

void LogTools::FindDialog1Find() {
    findForward(selectedPane(), FindDialog1_->findText());
    tone(700, 50);
    tone(400, 100);
}

void LogTools::CheckBox3Click() {
    if (viewer_.isVisible()) viewer_.close();
    tone(1300, 50);
}

void LogTools::RadioButtonClick() {
    tone(1300, 50);
}

// Automatic sizing holds the window at the size its contents ask for; without it the user
// sizes the window freely. The check mark shows the free state.
void LogTools::N24Click() {
    autoSizing_ = !autoSizing_;
    if (QLayout* layout = form_.layout()) {
        layout->setSizeConstraint(autoSizing_ ? QLayout::SetFixedSize
                                              : QLayout::SetDefaultConstraint);
        if (!autoSizing_) {
            form_.setMinimumSize(0, 0);
            form_.setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        }
    }
    N24->setChecked(!autoSizing_);
    tone(1300, 250);
    tone(400, 250);
}

}  // namespace logs
