#include "help/about_window.h"

#include <QFrame>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

#include "help/help_texts.h"
#include "widgets/text_box.h"

namespace help {

TForm3::TForm3(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral("О программе"));
    setFixedSize(299, 296);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPointSize(8);
    setFont(font);

    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("Panel1"));
    panel->setFrameShape(QFrame::Box);
    panel->setGeometry(rect());

    Image1 = new QLabel(panel);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(59, 5, 32, 32);
    Image2 = new QLabel(panel);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(94, 5, 132, 34);

    auto* name = new QLabel(QStringLiteral("QUILLMOR"), panel);
    name->setObjectName(QStringLiteral("Label3"));
    name->setGeometry(28, 44, 230, 22);
    name->setAlignment(Qt::AlignCenter);
    QFont nameFont(QStringLiteral("Small Fonts"));
    nameFont.setPixelSize(20);
    nameFont.setBold(true);
    name->setFont(nameFont);
    name->setStyleSheet(QStringLiteral("color: red;"));

    RichEdit1 = new widgets::TextBox(panel);
    RichEdit1->setObjectName(QStringLiteral("RichEdit1"));
    RichEdit1->setGeometry(8, 73, 281, 157);
    RichEdit1->setFrameShape(QFrame::NoFrame);
    RichEdit1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // The text is drawn on the view's base colour, which is white unless it is the grey face.
    QPalette face = RichEdit1->palette();
    face.setColor(QPalette::Base, face.color(QPalette::Window));
    RichEdit1->setPalette(face);
    QStringList lines;
    for (const std::string& line : aboutText()) lines << QString::fromStdString(line);
    RichEdit1->setPlainText(lines.join(QLatin1Char('\n')));

    auto* ok = new QPushButton(QStringLiteral("Это хорошо"), panel);
    ok->setObjectName(QStringLiteral("BitBtn1"));
    ok->setGeometry(89, 252, 105, 27);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

void TForm3::setPictures(const QPixmap& icon, const QPixmap& title) {
    Image1->setPixmap(icon);
    Image2->setPixmap(title);
}

}  // namespace help
