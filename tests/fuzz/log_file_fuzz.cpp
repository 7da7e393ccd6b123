// Any file opened as a log: it loads as text the viewer can lay out (no CR, no NUL, no line
// longer than the limit, every byte that is no text counted), and a log this program could have
// written reads back to the very bytes it would write again.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "log/log_file.h"

namespace {

void check(bool holds) {
    if (!holds) std::abort();
}

// Lines ended by CR LF only, the last one too: the form saveLogFile writes. A pane shows no
// line and one empty line alike, and saves both as an empty file, so a file of one line break
// alone is never one of ours.
bool writtenByUs(const QByteArray& bytes) {
    if (bytes.isEmpty()) return true;
    if (!bytes.endsWith("\r\n") || bytes == "\r\n") return false;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')) return false;
        if (bytes[i] == '\n' && (i == 0 || bytes[i - 1] != '\r')) return false;
    }
    return true;
}

const QString& logPath() {
    static QTemporaryDir folder;
    static const QString path = folder.filePath(QStringLiteral("fuzz.LOG.txt"));
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    {
        QFile file(logPath());
        check(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        check(file.write(bytes) == bytes.size());
    }
    const logs::LoadedLog loaded = logs::loadLogFile(logPath());

    check(!loaded.truncated);
    check(!loaded.text.contains(u'\r') && !loaded.text.contains(QChar(u'\0')));
    check(loaded.replaced == bytes.count('\x98') + bytes.count('\0'));
    for (QStringView line : QStringView(loaded.text).split(u'\n'))
        check(line.size() <= logs::kLongestLoadedLine);

    if (loaded.replaced == 0 && loaded.linesBroken == 0 && writtenByUs(bytes)) {
        const logs::EncodedLog again = logs::encodeLog(loaded.text);
        check(again.bytes == bytes && again.substituted == 0);
    }
    return 0;
}
