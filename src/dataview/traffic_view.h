#pragma once

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QString>
#include <cstdint>

#include "dataview/traffic_text.h"
#include "traffic/traffic_rows.h"

namespace dataview {

// The newest entries the data view keeps: 1 MiB of traffic (8 MiB of entries and at most twice
// that for their rows), about 90 s of a line at 115200 baud in both directions, or the last
// fortieth of a second of the fastest pseudo-terminal line. Older entries are dropped and
// counted.
inline constexpr size_t kViewEntries = size_t{1} << 20;

// The rows of the port's traffic: time stamp, direction, hex and text side by side, error marks
// on the bytes. It paints only the rows in sight, from the bounded store it keeps, so its cost
// per frame does not grow with the traffic. While its last row is in sight it follows the newest
// row; scrolled back, it keeps its place as new rows come and old ones go.
//
// Entries are selected with the mouse (in the hex or the text column) and copied as hex or as
// text (Ctrl+C: as text, Ctrl+A selects all); a search finds bytes from the selection on.
class TrafficView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit TrafficView(QWidget* parent = nullptr);

    void beginOpening(const traffic::OpeningClock& clock);
    // Takes entries into the rows; the user sees them at the next showAppended, so a burst
    // taken in many small parts is laid out and painted once.
    void append(const comm::TrafficEntry* entries, size_t count);
    void showAppended();
    void countLost(uint64_t count);
    void clear();
    void setRule(const traffic::RowRule& rule);
    void setTimeStamps(TimeStampKind kind);

    const traffic::TrafficRows& rows() const { return rows_; }
    // The selected entries, first and last included; false when nothing is selected.
    bool selection(uint64_t& first, uint64_t& last) const;
    void select(uint64_t first, uint64_t last);
    QString selectedHex() const;
    QString selectedText() const;
    // Finds the bytes after the start of the selection (or from the oldest kept entry), going
    // round to the oldest once; selects them and brings them into sight. False when absent.
    bool findNext(const QByteArray& bytes);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Columns {
        int time = 0;
        int direction = 0;
        int hex = 0;
        int text = 0;
        int end = 0;
    };
    Columns columns() const;
    int cellsPerRow() const;
    int cellWidth() const;
    // The entry under a point of the viewport, or the nearest one in its row.
    bool entryAt(const QPoint& point, uint64_t& number) const;
    void updateScrollBars();
    void scrollToRow(size_t row);
    bool following() const;

    traffic::TrafficRows rows_;
    TimeStampKind timeStamps_ = TimeStampKind::TimeOfDay;
    int charWidth_ = 8;
    int lineHeight_ = 16;
    bool selecting_ = false;
    bool hasSelection_ = false;
    uint64_t anchor_ = 0;
    uint64_t cursor_ = 0;
    bool appendedUnshown_ = false;
};

}  // namespace dataview
