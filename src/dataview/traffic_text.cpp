#include "dataview/traffic_text.h"

#include <QCoreApplication>
#include <QDateTime>
#include <array>

#include "terminal/ansi_code_page.h"

namespace dataview {

namespace text {

namespace {

// Marks that the usual fixed-pitch fonts have (the Unicode control pictures they often lack):
// an arrow for CR, LF and TAB, a middle dot for any other control character.
constexpr char16_t kCrMark = 0x2190;     // ←
constexpr char16_t kLfMark = 0x2193;     // ↓
constexpr char16_t kTabMark = 0x2192;    // →
constexpr char16_t kOtherMark = 0x00B7;  // ·
constexpr char16_t kMarkDiamond = 0x25C6;
constexpr uint8_t kTab = 9;
constexpr uint8_t kLf = 10;
constexpr uint8_t kCr = 13;
constexpr uint8_t kDel = 0x7F;

constexpr uint8_t kErrorFlags = comm::kTrafficParityError | comm::kTrafficFramingError;

// "+12.345": seconds and milliseconds of a span of time.
QString span(int64_t us) {
    const int64_t ms = (us < 0 ? 0 : us) / 1000;
    return QStringLiteral("+%1.%2").arg(ms / 1000).arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

// The local time of day of a wall-clock moment. Asking for the local time looks at the time
// zone each time, and a log asks for every row, so the answer is kept for the second it is in.
QString timeOfDay(int64_t wallUs) {
    thread_local int64_t cachedSecond = -1;
    thread_local QString cachedText;
    const int64_t ms = wallUs / 1000;
    const int64_t second = ms / 1000;
    if (second != cachedSecond) {
        cachedSecond = second;
        cachedText =
            QDateTime::fromMSecsSinceEpoch(second * 1000).toString(QStringLiteral("hh:mm:ss"));
    }
    return cachedText + QStringLiteral(".%1").arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

}  // namespace

QString timeStamp(TimeStampKind kind, int64_t rowUs, int64_t previousRowUs,
                  const traffic::OpeningClock& clock) {
    switch (kind) {
        case TimeStampKind::None:
            return {};
        case TimeStampKind::TimeOfDay:
            return timeOfDay(clock.openedAtWallUs + (rowUs - clock.openedAtUs));
        case TimeStampKind::SinceOpened:
            return span(rowUs - clock.openedAtUs);
        case TimeStampKind::SincePrevious:
            return span(rowUs - previousRowUs);
    }
    return {};
}

QString direction(uint8_t flags) {
    return (flags & comm::kTrafficSent) ? QStringLiteral("TX") : QStringLiteral("RX");
}

bool hasError(const comm::TrafficEntry& e) {
    return comm::isTrafficMark(e) || (e.flags & kErrorFlags) != 0;
}

QString hexCell(const comm::TrafficEntry& e) {
    if (comm::isTrafficMark(e)) {
        const QString mark = (e.flags & comm::kTrafficBreak)           ? QStringLiteral("BRK")
                             : (e.flags & comm::kTrafficOverrun)       ? QStringLiteral("OVR")
                             : (e.flags & comm::kTrafficQueueOverflow) ? QStringLiteral("QOV")
                             : (e.flags & comm::kTrafficParityError)   ? QStringLiteral("PAR")
                                                                       : QStringLiteral("FRM");
        return (e.flags & comm::kTrafficUnplaced) ? mark.toLower() : mark;
    }
    static const char kDigits[] = "0123456789ABCDEF";
    QString cell;
    cell += QLatin1Char(kDigits[e.value >> 4]);
    cell += QLatin1Char(kDigits[e.value & 15]);
    const uint8_t errors = e.flags & kErrorFlags;
    if (errors == kErrorFlags)
        cell += QLatin1Char('!');
    else if (errors == comm::kTrafficParityError)
        cell += QLatin1Char('p');
    else if (errors == comm::kTrafficFramingError)
        cell += QLatin1Char('f');
    return cell;
}

QChar textCell(const comm::TrafficEntry& e) {
    if (comm::isTrafficMark(e)) return QChar(kMarkDiamond);
    switch (e.value) {
        case kCr:
            return QChar(kCrMark);
        case kLf:
            return QChar(kLfMark);
        case kTab:
            return QChar(kTabMark);
        default:
            if (e.value < 0x20 || e.value == kDel) return QChar(kOtherMark);
    }
    return terminal::AnsiCodePage::instance().toChar(e.value);
}

QString rowLine(const traffic::TrafficRows& rows, size_t index, TimeStampKind kind) {
    const traffic::TrafficRows::Row& row = rows.row(index);
    const int64_t rowUs = rows.entry(row.first).timeUs;
    const int64_t previousUs = index > 0 ? rows.entry(rows.row(index - 1).first).timeUs : rowUs;
    QString line = timeStamp(kind, rowUs, previousUs, rows.clock(row.opening));
    if (!line.isEmpty()) line += QLatin1Char(' ');
    line += direction(rows.entry(row.first).flags);
    QString shown;
    for (uint64_t n = row.first; n < row.first + row.count; ++n) {
        const comm::TrafficEntry& e = rows.entry(n);
        line += QLatin1Char(' ') + hexCell(e);
        shown += textCell(e);
    }
    return line + QStringLiteral(" | ") + shown;
}

std::optional<QByteArray> parseHex(const QString& typed, QString& error) {
    QByteArray bytes;
    int high = -1;
    for (qsizetype i = 0; i < typed.size(); ++i) {
        const QChar c = typed[i];
        if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (high >= 0) {
                error = QCoreApplication::translate(
                            "dataview", "Байт из одной цифры перед позицией %1: нужны две цифры")
                            .arg(i + 1);
                return std::nullopt;
            }
            continue;
        }
        const int digit = c.isDigit() && c.unicode() < 128 ? c.unicode() - '0'
                          : (c.toLower() >= QLatin1Char('a') && c.toLower() <= QLatin1Char('f'))
                              ? c.toLower().unicode() - 'a' + 10
                              : -1;
        if (digit < 0) {
            error = QCoreApplication::translate(
                        "dataview", "Неверный символ «%1» в позиции %2: ожидаются цифры 0-9, A-F")
                        .arg(c)
                        .arg(i + 1);
            return std::nullopt;
        }
        if (high < 0) {
            high = digit;
        } else {
            bytes.append(static_cast<char>(high * 16 + digit));
            high = -1;
        }
    }
    if (high >= 0) {
        error = QCoreApplication::translate("dataview",
                                            "Последний байт из одной цифры: нужны две цифры");
        return std::nullopt;
    }
    return bytes;
}

}  // namespace text

namespace {

// Enough for the rows that wait to be written and the one before them.
constexpr size_t kShownLogEntries = 4 * traffic::kMaxRowEntries * 1024;

}  // namespace

ShownFormat::ShownFormat(const traffic::RowRule& rule, TimeStampKind kind,
                         const traffic::OpeningClock& clock)
    : rows_(std::make_unique<traffic::TrafficRows>(kShownLogEntries, rule)), kind_(kind) {
    rows_->beginOpening(clock);
}

ShownFormat::~ShownFormat() = default;

void ShownFormat::take(const comm::TrafficEntry* entries, size_t count, uint64_t lost,
                       std::string& out) {
    if (lost > 0) {
        writeClosedRows(out, true);
        rows_->countLost(lost);
        out += QCoreApplication::translate("dataview", "--- пропущено записей: %1 ---\n")
                   .arg(lost)
                   .toStdString();
    }
    // In pieces that the row store holds whole, so no row is dropped before it is written.
    constexpr size_t kPiece = kShownLogEntries / 2;
    for (size_t done = 0; done < count; done += kPiece) {
        rows_->append(entries + done, std::min(kPiece, count - done));
        written_ -= std::min(written_, rows_->takeRowsRemoved());
        writeClosedRows(out, false);
    }
}

void ShownFormat::finish(std::string& out) {
    writeClosedRows(out, true);
}

void ShownFormat::writeClosedRows(std::string& out, bool all) {
    const size_t until =
        all ? rows_->rowCount() : (rows_->rowCount() > 0 ? rows_->rowCount() - 1 : 0);
    for (; written_ < until; ++written_) {
        out += text::rowLine(*rows_, written_, kind_).toStdString();
        out += '\n';
    }
}

}  // namespace dataview
