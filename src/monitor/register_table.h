#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace monitor {

// The controls of the register view, one row per register offset: the names the controls
// carry and the texts they show. The window builds every group from these rows.

struct RegisterRow {
    std::string_view registerGroup;
    std::string_view registerCaption;
    std::string_view hexReadBack;
    std::string_view decimalReadBack;
    std::string_view hexWriteBox;
    std::string_view decimalWriteBox;
    std::string_view hexWriteHint;
    std::string_view decimalWriteHint;
    std::string_view bitGroup;
    std::string_view bitCaption;
    std::string_view bitString;
};

inline constexpr int kRegisterCount = 8;

inline constexpr std::array<RegisterRow, kRegisterCount> kRegisterRows = {{
    {"GroupBox2", "Рег. UART [базовый]", "Edit3", "Edit4", "Edit5", "Edit6", "Запись в hex [ 0 ]",
     "Запись обычн. десятичное число [ 0 ]", "GroupBox4", "Биты данных [ 0 ]", "Edit11"},
    {"GroupBox3", "Рег. разр. прерываний", "Edit7", "Edit8", "Edit9", "Edit10",
     "Запись в hex  [ 1 ]", "Запись обычн. десятичное число  [ 1]", "GroupBox5",
     "Биты данных [+1 ]", "Edit12"},
    {"GroupBox6", "Рег. запр. прерываний", "Edit13", "Edit14", "Edit15", "Edit16",
     "Запись в hex [ 2 ]", "Запись обычн. десятичное число   [ 2 ]", "GroupBox8",
     "Биты данных [+2 ]", "Edit21"},
    {"GroupBox7", "Рег. формата данных", "Edit17", "Edit18", "Edit19", "Edit20",
     "Запись в hex  [ 3 ] ", "Запись обычн. десятичное число  [ 3 ]", "GroupBox9",
     "Биты данных [+3 ]", "Edit22"},
    {"GroupBox10", "Рег. управл. модемом", "Edit23", "Edit24", "Edit25", "Edit26",
     "Запись в hex  [ 4 ] ", "Запись обычн. десятичное число [ 4 ] ", "GroupBox14",
     "Биты данных [+4 ]", "Edit39"},
    {"GroupBox11", "Рег. сост. приёмоперед.", "Edit27", "Edit28", "Edit29", "Edit30",
     "Запись в hex [ 5 ]", "Запись обычн. десятичное число [ 5]", "GroupBox15", "Биты данных [+5 ]",
     "Edit40"},
    {"GroupBox12", "Рег. состояния. модема", "Edit31", "Edit32", "Edit33", "Edit34",
     "Запись в hex [ 6 ]", "Запись обычн. десятичное число [ 6 ]", "GroupBox16",
     "Биты данных [+6 ]", "Edit41"},
    {"GroupBox13", "Рег. сверхопер. памяти", "Edit35", "Edit36", "Edit37", "Edit38",
     "Запись в hex [ 7 ]", "Запись обычн. десятичное число  [ 7]", "GroupBox17",
     "Биты данных [+7 ]", "Edit42"},
}};

// The write buttons are numbered two per register from SpeedButton7, the bit buttons eight per
// register from Button1, bit 7 first.
std::string hexWriteButtonName(int offset);
std::string decimalWriteButtonName(int offset);
std::string bitButtonName(int offset, int bit);
std::string bitButtonHint(int offset, int bit);

struct Rgb {
    uint8_t red, green, blue;
};
inline constexpr Rgb kLime{0, 255, 0};
inline constexpr Rgb kAqua{0, 255, 255};
inline constexpr Rgb kYellow{255, 255, 0};

// The UART status lights, in the order the poll colours them.
struct LightRow {
    std::string_view name;
    std::string_view caption;
    std::string_view label;
    int offset;
    int bit;
    Rgb lit;
};

inline constexpr std::array<LightRow, 17> kLightRows = {{
    {"StaticText6", "TXE", "Передатчик пуст", 5, 6, kLime},
    {"StaticText7", "TBE", "Буфер перед. пуст", 5, 5, kLime},
    {"StaticText8", "FRM", "Ошибка блока", 5, 3, kLime},
    {"StaticText9", "PAR", "Ошибка пров. чётн.", 5, 2, kLime},
    {"StaticText10", "OVR", "Ошибка переполнен.", 5, 1, kLime},
    {"StaticText11", "RRD", "Данные нах. в приём.", 5, 0, kLime},
    {"StaticText12", "PND", "Отсутс. прерывание", 2, 0, kLime},
    {"StaticText13", "DLB", "Установка скорости", 3, 7, kLime},
    {"StaticText14", "DCD", "Несущая передачи", 6, 7, kLime},
    {"StaticText15", "RI", "Звонок активен", 6, 6, kLime},
    {"StaticText16", "DSR", "Данные готовы", 6, 5, kLime},
    {"StaticText17", "CTS", "Сброс передачи", 6, 4, kLime},
    {"StaticText18", "OU1", "OUT1 Включен", 4, 2, kLime},
    {"StaticText19", "OU2", "OUT2 Включен", 4, 3, kLime},
    {"StaticText20", "RTS", "RTS   Включен", 4, 1, kLime},
    {"StaticText21", "DTR", "DTR   Включен", 4, 0, kAqua},
    {"StaticText22", "BRK", "Останов. включен", 3, 6, kYellow},
}};

}  // namespace monitor
