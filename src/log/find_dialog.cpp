#include "log/find_dialog.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace logs {

FindDialog::FindDialog(bool matchCaseShown, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Найти"));
    setModal(false);

    auto* label = new QLabel(QStringLiteral("&Что:"), this);
    text_ = new QLineEdit(this);
    text_->setObjectName(QStringLiteral("FindText"));
    label->setBuddy(text_);
    auto* wholeWord = new QCheckBox(QStringLiteral("Только слово &целиком"), this);
    wholeWord->setObjectName(QStringLiteral("WholeWord"));
    auto* matchCase = new QCheckBox(QStringLiteral("С &учетом регистра"), this);
    matchCase->setObjectName(QStringLiteral("MatchCase"));
    matchCase->setVisible(matchCaseShown);

    auto* direction = new QGroupBox(QStringLiteral("Направление"), this);
    auto* up = new QRadioButton(QStringLiteral("&Вверх"), direction);
    auto* down = new QRadioButton(QStringLiteral("В&низ"), direction);
    down->setChecked(true);
    auto* directionLayout = new QHBoxLayout(direction);
    directionLayout->addWidget(up);
    directionLayout->addWidget(down);

    findNext_ = new QPushButton(QStringLiteral("&Найти далее"), this);
    findNext_->setObjectName(QStringLiteral("FindNext"));
    findNext_->setDefault(true);
    findNext_->setEnabled(false);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);

    auto* layout = new QGridLayout(this);
    layout->addWidget(label, 0, 0);
    layout->addWidget(text_, 0, 1, 1, 2);
    layout->addWidget(findNext_, 0, 3);
    auto* boxes = new QVBoxLayout;
    boxes->addWidget(wholeWord);
    boxes->addWidget(matchCase);
    boxes->addStretch();
    layout->addLayout(boxes, 1, 0, 1, 2);
    layout->addWidget(direction, 1, 2);
    layout->addWidget(cancel, 1, 3, Qt::AlignTop);

    // As in the system's dialog, there is nothing to find while the text is empty.
    connect(text_, &QLineEdit::textChanged, this,
            [this](const QString& text) { findNext_->setEnabled(!text.isEmpty()); });
    connect(findNext_, &QPushButton::clicked, this, &FindDialog::findNext);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

QString FindDialog::findText() const {
    return text_->text();
}

void FindDialog::setFindText(const QString& text) {
    text_->setText(text);
}

void FindDialog::execute() {
    show();
    raise();
    activateWindow();
}

void FindDialog::findNext() {
    if (!findText().isEmpty()) emit find();
}

}  // namespace logs
