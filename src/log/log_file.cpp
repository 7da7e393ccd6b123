#include "log/log_file.h"

#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
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

// The new content of a file, written beside it under a hidden name of its own. Each step
// returns the system's error number, 0 on success. Until it has replaced the target, the
// destructor removes it, so whichever step fails leaves no partial file behind.
class PendingFile {
public:
    explicit PendingFile(QByteArray target) : target_(std::move(target)) {}
    ~PendingFile() {
        if (descriptor_ >= 0) ::close(descriptor_);
        if (!name_.isEmpty() && !placed_) ::unlink(name_.constData());
    }
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // A file that replaces another keeps its permissions; a new one gets the usual ones. Only a
    // regular file is replaced: a folder, a device or a pipe of that name stays as it is.
    int create() {
        struct stat existing {};
        const bool replacing = ::stat(target_.constData(), &existing) == 0;
        if (replacing && !S_ISREG(existing.st_mode))
            return S_ISDIR(existing.st_mode) ? EISDIR : ENOTSUP;
        const qsizetype slash = target_.lastIndexOf('/');
        const QByteArray prefix = target_.first(slash + 1) + '.' + target_.sliced(slash + 1) + '.';
        for (int attempt = 0; descriptor_ < 0; ++attempt) {
            name_ = prefix + QByteArray::number(QRandomGenerator::global()->generate(), 36);
            descriptor_ = ::open(name_.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (descriptor_ < 0 && (errno != EEXIST || attempt == 100)) {
                const int failure = errno;
                name_.clear();
                return failure;
            }
        }
        if (replacing && ::fchmod(descriptor_, existing.st_mode & 07777) != 0) return errno;
        return 0;
    }
    int write(const QByteArray& bytes) {
        const char* next = bytes.constData();
        size_t left = static_cast<size_t>(bytes.size());
        while (left > 0) {
            const ssize_t written = ::write(descriptor_, next, left);
            if (written < 0 && errno == EINTR) continue;
            // A regular file takes at least one byte or says why not; nothing at all is a fault.
            if (written <= 0) return written < 0 ? errno : EIO;
            next += written;
            left -= static_cast<size_t>(written);
        }
        return 0;
    }
    // A file system may report a full disk only when the data reaches it.
    int sync() { return ::fsync(descriptor_) == 0 ? 0 : errno; }
    int close() {
        const int result = ::close(descriptor_);
        descriptor_ = -1;
        return result == 0 ? 0 : errno;
    }
    int replaceTarget() {
        if (::rename(name_.constData(), target_.constData()) != 0) return errno;
        placed_ = true;
        return 0;
    }

private:
    QByteArray target_;
    QByteArray name_;
    int descriptor_ = -1;
    bool placed_ = false;
};

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
    const QFileInfo chosen(path);
    PendingFile file(QFile::encodeName(chosen.exists() ? chosen.canonicalFilePath() : path));
    const auto check = [&path](int code, const char* failure) {
        if (code != 0)
            throw LogFileError(QString::fromLatin1(failure) + path, qt_error_string(code));
    };
    check(file.create(), "Cannot create file ");
    check(file.write(encoded.bytes), "Cannot write file ");
    check(file.sync(), "Cannot write file ");
    check(file.close(), "Cannot write file ");
    check(file.replaceTarget(), "Cannot replace file ");
    return encoded.substituted;
}

LoadedLog loadLogFile(const QString& path) {
    // Opening a pipe would wait for a writer, and a device may never end.
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        throw LogFileError("Cannot open file " + path);
    QByteArray bytes = file.read(kLogFileLoadLimit + 1);
    if (file.error() != QFileDevice::NoError) throw LogFileError("Cannot read file " + path);
    const bool truncated = bytes.size() > kLogFileLoadLimit;
    if (truncated) {
        bytes.truncate(kLogFileLoadLimit);
        const qsizetype lastBreak = bytes.lastIndexOf('\n');
        if (lastBreak >= 0) bytes.truncate(lastBreak + 1);
    }
    LoadedLog result{decodeLog(bytes), truncated};
    result.linesBroken = breakLongLines(result.text);
    if (truncated)
        result.text.prepend(QStringLiteral("*** Файл показан не весь: первые %1 байт из %2 ***\n")
                                .arg(bytes.size())
                                .arg(file.size()));
    return result;
}

}  // namespace logs
