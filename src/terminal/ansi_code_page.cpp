#include "terminal/ansi_code_page.h"

#include <iconv.h>

#include <QSysInfo>
#include <memory>
#include <stdexcept>

namespace terminal {

namespace {

constexpr const char* kCodePage = "WINDOWS-1251";

QChar convertByte(iconv_t converter, uint8_t byte) {
    char in = static_cast<char>(byte);
    char16_t out = 0;
    char* inPtr = &in;
    size_t inLeft = 1;
    char* outPtr = reinterpret_cast<char*>(&out);
    size_t outLeft = sizeof out;
    iconv(converter, nullptr, nullptr, nullptr, nullptr);
    if (iconv(converter, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<size_t>(-1) ||
        outLeft != 0)
        return QChar(QChar::ReplacementCharacter);
    return QChar(out);
}

}  // namespace

const AnsiCodePage& AnsiCodePage::instance() {
    static const AnsiCodePage page;
    return page;
}

AnsiCodePage::AnsiCodePage() {
    // UTF-16 in the machine's byte order, which is what QChar holds.
    const char* utf16 = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "UTF-16LE" : "UTF-16BE";
    const iconv_t opened = iconv_open(utf16, kCodePage);
    if (opened == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("no converter from ") + kCodePage);
    const std::unique_ptr<void, int (*)(iconv_t)> converter(opened, iconv_close);
    for (int byte = 0; byte < 256; ++byte) {
        chars_[byte] = convertByte(converter.get(), static_cast<uint8_t>(byte));
        if (chars_[byte] != QChar(QChar::ReplacementCharacter))
            bytes_.insert(chars_[byte].unicode(), static_cast<uint8_t>(byte));
    }
}

QByteArray AnsiCodePage::encode(const QString& text) const {
    QByteArray encoded;
    encoded.reserve(text.size());
    for (const QChar c : text) encoded.append(static_cast<char>(bytes_.value(c.unicode(), '?')));
    return encoded;
}

}  // namespace terminal
