#include "help/help_commands.h"

#include <QAction>
#include <QDialog>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QWidget>
#include <stdexcept>
#include <utility>

#include "log/log_file.h"
#include "log/viewer_window.h"
#include "widgets/command.h"

namespace help {

namespace {

void informationBox(QWidget* owner, const MessageBoxText& box) {
    QMessageBox message(QMessageBox::Information, QString::fromStdString(box.caption),
                        QString::fromStdString(box.text), QMessageBox::Ok, owner);
    message.exec();
}

class MissingHelpFile : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace

HelpCommands::HelpCommands(QWidget* mainWindow, const widgets::MainMenu& menu, logs::TForm2& viewer,
                           QDialog& about, Tone confirmTone, std::string programDirectory,
                           ShowBox showBox)
    : QObject(mainWindow),
      mainWindow_(mainWindow),
      viewer_(viewer),
      about_(about),
      confirmTone_(std::move(confirmTone)),
      programDirectory_(std::move(programDirectory)),
      showBox_(showBox ? std::move(showBox) : ShowBox(informationBox)) {
    connectItem(menu.Help1, &HelpCommands::Help1Click);
    connectItem(menu.N16, &HelpCommands::N16Click);
    connectItem(menu.N26, &HelpCommands::N26Click);
    connectItem(menu.N27, &HelpCommands::N27Click);
    if (QAction* hidden = menu.N28) {
        // Never shown in the menu, yet F1 works: the window itself carries the item.
        for (QObject* holder : hidden->associatedObjects())
            if (auto* shownIn = qobject_cast<QMenu*>(holder)) shownIn->removeAction(hidden);
        mainWindow_->addAction(hidden);
        connect(hidden, &QAction::triggered, this,
                [this] { widgets::runCommand([this] { showHelp(kToolHelp); }); });
    }
}

void HelpCommands::connectItem(QAction* item, void (HelpCommands::*handler)()) {
    if (item)
        connect(item, &QAction::triggered, this,
                [this, handler] { widgets::runCommand([this, handler] { (this->*handler)(); }); });
}

void showHelpText(logs::TForm2& viewer, const HelpTopic& topic,
                  const std::string& programDirectory) {
    const std::string path =
        locateHelpFile(topic.file, QDir::currentPath().toStdString(), programDirectory);
    if (path.empty()) throw MissingHelpFile(std::string(topic.file));
    viewer.setText(logs::loadLogFile(QString::fromStdString(path)).text);
    viewer.setCaption(QString::fromUtf8(topic.caption.data(), qsizetype(topic.caption.size())));
    viewer.showViewer(true);
}

void HelpCommands::showHelp(const HelpTopic& topic) {
    showHelpText(viewer_, topic, programDirectory_);
    confirmTone_(500, 150);
    confirmTone_(700, 150);
}

void HelpCommands::Help1Click() {
    showBox_(mainWindow_, helpBox());
}
void HelpCommands::N16Click() {
    about_.exec();
}
void HelpCommands::N26Click() {
    showBox_(mainWindow_, feedbackBox());
}
void HelpCommands::N27Click() {
    showBox_(mainWindow_, thanksBox());
}

}  // namespace help
