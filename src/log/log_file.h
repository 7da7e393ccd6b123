#pragma once

#include <QByteArray>
#include <QString>
#include <stdexcept>
#include <utility>

namespace logs {

// Log files hold the text of a log pane exactly: one pane line per file line, every line ended
// by CR LF, in Windows-1251, with no header and no byte-order mark.
//
// Texts here are what QPlainTextEdit::toPlainText() gives and setPlainText() takes: lines
// separated by '\n'. A non-empty text of n separators is n + 1 lines (so a trailing empty line
// counts); the empty text is no line at all.

// A log file could not be created, written, put in place or opened. The message names the
// file; the command that met it ends there.
class LogFileError : public std::runtime_error {
public:
    explicit LogFileError(const QString& message, QString reason = {})
        : std::runtime_error(message.toStdString()), reason_(std::move(reason)) {}
    // The system's reason in its own words ("No space left on device"); empty when it gave none.
    const QString& reason() const { return reason_; }

private:
    QString reason_;
};

struct EncodedLog {
    QByteArray bytes;
    // Characters that Windows-1251 cannot hold; each is written as one '?'.
    int substituted = 0;
};

struct DecodedLog {
    QString text;
    // Bytes that are no text: the one byte Windows-1251 leaves undefined ($98) and NUL. Each
    // becomes U+FFFD, so a binary file shows as text and never cuts the box's content short.
    int replaced = 0;
};

struct LoadedLog : DecodedLog {
    // The file was longer than kLogFileLoadLimit and only its head was read; the text then
    // begins with a line of its own that says so.
    bool truncated = false;
    // Lines longer than kLongestLoadedLine, each shown as several lines.
    int linesBroken = 0;
};

// A pane holds at most 64 K characters, so a log file of this program is far smaller than
// this. The viewer takes about 0.2 s per MiB to decode and lay out (bench log_open_10mib_ms)
// and some 15 bytes of memory per byte shown, so a larger file is read only up to its last
// whole line within the limit: the window stays responsive for a file of any size.
inline constexpr qint64 kLogFileLoadLimit = 8 * 1024 * 1024;
// The text box lays out a line as a whole, and a line of a megabyte without a space in it
// (a binary file) takes it most of a minute; lines of this length take it milliseconds.
inline constexpr qsizetype kLongestLoadedLine = 4096;

EncodedLog encodeLog(const QString& text);
// CR LF, a lone LF and a lone CR each end a line; the last line's ending is no new line.
DecodedLog decodeLog(const QByteArray& bytes);

// Writes the text as a log file, replacing any existing file (through a link, the file it names).
// The file is written aside, synced to the disk and put in place only when complete, and every
// step is checked, so a failure (no access, bad path, disk full) leaves an existing file as it
// was, byte for byte, and no partial file behind; it throws LogFileError with the system's
// reason. Returns the number of characters written as '?'.
int saveLogFile(const QString& path, const QString& text);

// Reads a log file for the viewer: its head up to the load limit, with overlong lines broken;
// a file cut at the limit gets a first line that says how much of it is shown.
// Anything but a regular file that can be opened (a folder, a device, a
// pipe, a missing file) throws LogFileError without waiting on it.
LoadedLog loadLogFile(const QString& path);

}  // namespace logs
