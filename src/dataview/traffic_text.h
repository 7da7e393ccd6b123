#pragma once

#include <QByteArray>
#include <QChar>
#include <QString>
#include <cstdint>
#include <memory>
#include <optional>

#include "comm/traffic_stream.h"
#include "traffic/session_log.h"
#include "traffic/traffic_rows.h"

namespace dataview {

enum class TimeStampKind { None, TimeOfDay, SinceOpened, SincePrevious };

// The one place that words the port's traffic: the data view paints these pieces, and a copy or
// a session log written "as the view shows it" joins them into lines, so the two never differ.
//
// A row reads: time stamp, direction ("TX" sent by the program, "RX" received), the entries as
// hex cells, then as text. A hex cell is two hex digits; a received byte with an error carries
// a letter after them (p parity, f framing, ! both); a mark is a cell of its own: BRK (break),
// OVR (overrun), QOV (input queue overflow), PAR and FRM (a parity or framing error the port
// reported without its byte), in lower case when the port could not say exactly where it was. The
// text is decoded as the terminal's received-lines memo decodes it, control characters shown as
// visible marks (← CR, ↓ LF, → TAB, · any other) and a mark as a diamond, so nothing in it is ever
// executed by a viewer.
namespace text {

QString timeStamp(TimeStampKind kind, int64_t rowUs, int64_t previousRowUs,
                  const traffic::OpeningClock& clock);
QString direction(uint8_t flags);
QString hexCell(const comm::TrafficEntry& e);
QChar textCell(const comm::TrafficEntry& e);
bool hasError(const comm::TrafficEntry& e);

// One row as a line: its columns joined by spaces, the text after " | ".
QString rowLine(const traffic::TrafficRows& rows, size_t index, TimeStampKind kind);

// Parses bytes typed as hex ("41 54 0D 0A", "41540D0A"; spaces and tabs between bytes ignored).
// On a wrong entry returns nothing and words the error (the wrong character and its position).
std::optional<QByteArray> parseHex(const QString& typed, QString& error);

}  // namespace text

// A session log written as the view shows it: the same rows and lines, one per line of the
// file, in UTF-8. A loss of entries is said on a line of its own.
class ShownFormat : public traffic::LogFormat {
public:
    ShownFormat(const traffic::RowRule& rule, TimeStampKind kind,
                const traffic::OpeningClock& clock);
    ~ShownFormat() override;
    void take(const comm::TrafficEntry* entries, size_t count, uint64_t lost,
              std::string& out) override;
    void finish(std::string& out) override;

private:
    // Only rows that can grow no more are written; the last one waits for its end.
    void writeClosedRows(std::string& out, bool all);

    std::unique_ptr<traffic::TrafficRows> rows_;
    TimeStampKind kind_;
    size_t written_ = 0;
};

}  // namespace dataview
