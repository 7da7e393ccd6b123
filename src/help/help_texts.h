#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace help {

// One help text: its file, named as the program has always named it (relative to the current
// directory, with a backslash), and the viewer's caption while it is shown.
struct HelpTopic {
    std::string_view file;
    std::string_view caption;
};

inline constexpr HelpTopic kUartHelp{"Doc\\uart.txt", "Работа с панелью приёмопередатчиком UART"};
inline constexpr HelpTopic kToolHelp{"Doc\\Tool.txt", "Работа с панелью инструментов контроллера"};
inline constexpr HelpTopic kInstallHelp{"Doc\\Install.txt", "Установка драйвера"};

// Where a help file is: the name taken against the current directory if a file is there, else
// against the program's own folder, so help works however the program was started. Empty when
// neither holds it.
std::string locateHelpFile(std::string_view file, const std::string& currentDirectory,
                           const std::string& programDirectory);

// The three information boxes of the help menu.
struct MessageBoxText {
    std::string caption;
    std::string text;
};
MessageBoxText helpBox();
MessageBoxText feedbackBox();
MessageBoxText thanksBox();

// The about window's text, line by line.
const std::vector<std::string>& aboutText();

}  // namespace help
