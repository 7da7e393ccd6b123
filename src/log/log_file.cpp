#include "log/log_file.h"

#include <errno.h>
#include <iconv.h>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSysInfo>
#include <algorithm>
#include <memory>
#include <string>

namespace logs {

namespace {

constexpr const char* kCodePage = "WINDOWS-1251";
// QString::toUcs4() and fromUcs4() use the machine's byte order.
constexpr const char* kUcs4 =
    QSysInfo::ByteOrder == QSysInfo::LittleEndian ? "UTF-32LE" : "UTF-32BE";
constexpr char32_t kReplacementCharacter = U'\uFFFD';

struct Converted {
    QByteArray bytes;
    int replaced = 0;
};

// Runs iconv over the whole input. An input unit the target cannot take is skipped and
// `replacement` written in its place, so no input unit is lost without a trace.
Converted convert(const char* from, const char* to, const char* input, size_t size,
                  size_t inputUnit, QByteArrayView replacement) {
    const iconv_t opened = iconv_open(to, from);
    if (opened == reinterpret_cast<iconv_t>(-1))
        throw std::runtime_error(std::string("no converter from ") + from + " to " + to);
    const std::unique_ptr<void, int (*)(iconv_t)> converter(opened, iconv_close);

    Converted result;
    result.bytes.resize(static_cast<qsizetype>(size / inputUnit) * replacement.size());
    char* in = const_cast<char*>(input);
    size_t inLeft = size;
    char* out = result.bytes.data();
    size_t outLeft = static_cast<size_t>(result.bytes.size());
    const auto grow = [&](qsizetype extra) {
        const qsizetype written = out - result.bytes.data();
        result.bytes.resize(result.bytes.size() + extra);
        out = result.bytes.data() + written;
        outLeft = static_cast<size_t>(result.bytes.size() - written);
    };
    while (inLeft > 0) {
        if (iconv(converter.get(), &in, &inLeft, &out, &outLeft) != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) {
            grow(result.bytes.size() + 16);
            continue;
        }
        // EILSEQ, or EINVAL for a unit cut off at the end: one unit without an equivalent.
        const size_t skip = std::min(inputUnit, inLeft);
        in += skip;
        inLeft -= skip;
        if (outLeft < static_cast<size_t>(replacement.size())) grow(replacement.size() + 16);
        out = std::copy(replacement.begin(), replacement.end(), out);
        outLeft -= static_cast<size_t>(replacement.size());
        ++result.replaced;
    }
    result.bytes.resize(out - result.bytes.data());
    return result;
}

// Breaks every line longer than kLongestLoadedLine into lines of that length.
int breakLongLines(QString& text) {
    int broken = 0;
    QString result;
    qsizetype lineStart = 0;
    while (lineStart <= text.size()) {
        qsizetype lineEnd = text.indexOf(u'\n', lineStart);
        if (lineEnd < 0) lineEnd = text.size();
        if (lineEnd - lineStart > kLongestLoadedLine) {
            if (broken++ == 0) result = text.first(lineStart);
            for (qsizetype piece = lineStart; piece < lineEnd; piece += kLongestLoadedLine) {
                if (piece > lineStart) result += u'\n';
                result +=
                    QStringView(text).sliced(piece, std::min(kLongestLoadedLine, lineEnd - piece));
            }
            if (lineEnd < text.size()) result += u'\n';
        } else if (broken > 0) {
            result +=
                QStringView(text).sliced(lineStart, std::min(lineEnd + 1, text.size()) - lineStart);
        }
        lineStart = lineEnd + 1;
    }
    if (broken > 0) text = std::move(result);
    return broken;
}

}  // namespace

EncodedLog encodeLog(const QString& text) {
    if (text.isEmpty()) return {};
    const QList<uint> units = text.toUcs4();
    Converted converted = convert(kUcs4, kCodePage, reinterpret_cast<const char*>(units.data()),
                                  static_cast<size_t>(units.size()) * sizeof(uint), sizeof(uint),
                                  QByteArrayView("?"));
    // A single-byte code page: every '\n' byte is a line break of the text.
    converted.bytes.replace('\n', "\r\n");
    converted.bytes.append("\r\n");
    return {converted.bytes, converted.replaced};
}

DecodedLog decodeLog(const QByteArray& bytes) {
    const Converted converted =
        convert(kCodePage, kUcs4, bytes.constData(), static_cast<size_t>(bytes.size()), 1,
                QByteArrayView(reinterpret_cast<const char*>(&kReplacementCharacter),
                               sizeof kReplacementCharacter));
    DecodedLog result;
    result.text = QString::fromUcs4(reinterpret_cast<const char32_t*>(converted.bytes.constData()),
                                    converted.bytes.size() / qsizetype(sizeof(char32_t)));
    result.replaced = converted.replaced;
    const qsizetype nulls = result.text.count(QChar(u'\0'));
    if (nulls > 0) {
        result.text.replace(QChar(u'\0'), QChar(kReplacementCharacter));
        result.replaced += static_cast<int>(nulls);
    }
    result.text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.text.replace(u'\r', u'\n');
    if (result.text.endsWith(u'\n')) result.text.chop(1);
    return result;
}

int saveLogFile(const QString& path, const QString& text) {
    const EncodedLog encoded = encodeLog(text);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        throw LogFileError(("Cannot create file " + path).toStdString());
    if (file.write(encoded.bytes) != encoded.bytes.size() || !file.commit())
        throw LogFileError(("Cannot write file " + path).toStdString());
    return encoded.substituted;
}

LoadedLog loadLogFile(const QString& path) {
    // Opening a pipe would wait for a writer, and a device may never end.
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        throw LogFileError(("Cannot open file " + path).toStdString());
    QByteArray bytes = file.read(kLogFileLoadLimit + 1);
    if (file.error() != QFileDevice::NoError)
        throw LogFileError(("Cannot read file " + path).toStdString());
    const bool truncated = bytes.size() > kLogFileLoadLimit;
    if (truncated) {
        bytes.truncate(kLogFileLoadLimit);
        const qsizetype lastBreak = bytes.lastIndexOf('\n');
        if (lastBreak >= 0) bytes.truncate(lastBreak + 1);
    }
    LoadedLog result{decodeLog(bytes), truncated};
    result.linesBroken = breakLongLines(result.text);
    return result;
}

}  // namespace logs
