#include "help/help_texts.h"

#include <sys/stat.h>

namespace help {

namespace {

// The author's addresses; this build names none.
constexpr std::string_view kAuthorSite = "";
constexpr std::string_view kAuthorEmail = "";

bool isFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// The about text, 63 lines; several end in spaces on purpose.
constexpr std::string_view kAboutText = R"(Программа предназначена для визуального 
контроля, документирования и изучения 
процессов, происходящих в UART, когда 
приложения работают с COM портом ПК. 
Работает в Windows 9x/ME/NT/2000/XP 
и в Linux. Программа имеет 
следующие возможности:

1. Непрерывный контроль всех восьми 
регистров UART (базового, разрешения 
прерываний, запроса прерываний, формата 
данных, управления модемом, состояния 
линии, состояния модема, сверхоперативного) 
в формате 8 x 8: каждый сразу в виде 
байта (0-255), HEX ($00-$FF) и состояний 
битов 0-7 (1-2-4-8-16-32-64-128).

2. Запись значений регистров в HEX и 
байтовом виде, установка и сброс 
отдельных битов.

3. Отслеживание изменений регистров и 
ведение LOG по командам UART, 
бит за битом, с временем каждого 
изменения.

4. LOG принятых и переданных данных на 
уровне машинных кодов (HEX, байт, 
состояние битов).

5. Просмотр и сохранение LOG файлов, 
поиск в них, выбор шрифта и цвета 
окна просмотра.

6. Встроенный приёмопередатчик для 
стандартных настроек порта (биты данных, 
стоповые биты, скорость, чётность, 
контроль ошибок): передача и приём 
текста и команд модема, управление 
сигналами RTS, DTR, XON и BREAK.

7. Индикатор активного состояния команд 
UART (17 основных команд): ошибки, 
сигналы модема, BREAK, DLAB.

8. Управление любым портом компьютера: 
группа регистров и битов, регистр 0 - 
базовый, остальные +1 ... +7, с LOG 
данных базового регистра.

Программа использует драйвер I/O zevado.
Тестовый приёмопередатчик на базе QUILLMOR comm

            Сайт: -

            E-mail: -

            Автор: разработчики QUILLMOR

            QUILLMOR, 2026, GNU GPL 3 или новее

            ^^^^^^^^^^^^^^^^^^^^^^^^^
            Версия  1.1    (  13. 09. 04))";

}  // namespace

std::string locateHelpFile(std::string_view file, const std::string& currentDirectory,
                           const std::string& programDirectory) {
    std::string relative(file);
    for (char& c : relative)
        if (c == '\\') c = '/';
    for (const std::string& folder : {currentDirectory, programDirectory}) {
        if (folder.empty()) continue;
        std::string path = folder + "/" + relative;
        if (isFile(path)) return path;
    }
    return {};
}

MessageBoxText helpBox() {
    return {"Помощь",
            "Для получения помощи нажмите значок [?] на соответсвующей панели. Также "
            "рекомендуется посетить сайт автора  " +
                std::string(kAuthorSite)};
}

MessageBoxText feedbackBox() {
    return {"Просьба", "Если у Вас возникли затруднения, Вы можете написать автору на email     " +
                           std::string(kAuthorEmail) +
                           "      Пожалуйста, будте корректны при составлении писем."};
}

MessageBoxText thanksBox() {
    return {"Благодарности",
            "Если Вас не затруднит, присылайте свои отзывы и предложения или пишите в гостевую "
            "книгу.   "};
}

const std::vector<std::string>& aboutText() {
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> result;
        std::string_view rest = kAboutText;
        for (size_t end; (end = rest.find('\n')) != std::string_view::npos;
             rest.remove_prefix(end + 1))
            result.emplace_back(rest.substr(0, end));
        result.emplace_back(rest);
        return result;
    }();
    return lines;
}

}  // namespace help
