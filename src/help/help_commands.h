#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <string>

#include "help/help_texts.h"
#include "widgets/main_menu.h"

class QAction;
class QDialog;
class QWidget;

namespace logs {
class TForm2;
}

namespace help {

// Shows a help text in the viewer, modally, with the topic's caption; returns once the viewer
// is closed. A help file that cannot be found or read ends the command before anything shows.
void showHelpText(logs::TForm2& viewer, const HelpTopic& topic,
                  const std::string& programDirectory);

// The help menu's commands and the help buttons: the help texts in the viewer, the three
// information boxes and the about window. It is handed the help menu's items (Help1, N16, N26,
// N27, N28) of the main window; the hidden item N28 leaves the menu but keeps its F1 working in the
// window.
class HelpCommands : public QObject {
    Q_OBJECT
public:
    using Tone = std::function<void(int hz, int ms)>;
    using ShowBox = std::function<void(QWidget* owner, const MessageBoxText& box)>;

    // programDirectory is where the help files are looked for when the current directory has
    // none. showBox defaults to a modal information box owned by the main window.
    HelpCommands(QWidget* mainWindow, const widgets::MainMenu& menu, logs::TForm2& viewer,
                 QDialog& about, Tone confirmTone, std::string programDirectory,
                 ShowBox showBox = {});

    // A help button of the main window: showHelpText(), then two tones once it is closed.
    void showHelp(const HelpTopic& topic);
    void Help1Click();
    void N16Click();
    void N26Click();
    void N27Click();

private:
    void connectItem(QAction* item, void (HelpCommands::*handler)());

    QWidget* mainWindow_;
    logs::TForm2& viewer_;
    QDialog& about_;
    Tone confirmTone_;
    std::string programDirectory_;
    ShowBox showBox_;
};

}  // namespace help
