#pragma once

#include <QImage>
#include <QWidget>
#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "timeline/lanes.h"
#include "timeline/recorder.h"

namespace timeline {

// The timing diagram: a time ruler and one row per lane, each row its name, its value at the
// cursor and its trace. Like a logic analyser's trace view it draws only the visible time, one
// pixel column at a time: a column asks the lane's ring for the records it spans (two binary
// searches) and their summary, so a frame costs the same for a second as for an hour.
// Readable without colour: edges are drawn, a level's height says 0 or 1, values and bytes are
// written out, errors named, an unknown value is a hatched band.
//
// Mouse: left button sets marker A, right button marker B, the wheel scrolls (with Ctrl:
// zooms round the mouse). Keys: + and - zoom, Left and Right scroll, Up and Down choose the
// lane, N and P jump to the lane's next and previous change, A and B set a marker at the
// cursor, Home and End show the oldest and newest records.
class TraceView : public QWidget {
    Q_OBJECT
public:
    static constexpr double kMinUsPerPixel = 0.01;
    static constexpr double kMaxUsPerPixel = 1e7;  // more than an hour across any window

    explicit TraceView(const Recorder& recorder, QWidget* parent = nullptr);

    void setLanes(std::vector<Lane> lanes);
    const std::vector<Lane>& lanes() const { return lanes_; }

    // The time at the trace's left edge and the zoom.
    void setView(int64_t startUs, double usPerPixel);
    int64_t startUs() const { return startUs_; }
    double usPerPixel() const { return usPerPixel_; }
    int traceWidth() const;
    // Zooms by factor (above 1: out) keeping the time under x in place.
    void zoom(double factor, int x);
    void zoomCentred(double factor);
    void scrollPixels(int pixels);
    // Shows the newest record at the right edge; the view stays there while following.
    void setFollow(bool follow);
    bool follow() const { return follow_; }
    void showNewest();
    // Shows every record held.
    void showAll();

    // Marker 0 (A) and 1 (B).
    void setMarker(int which, std::optional<int64_t> timeUs);
    std::optional<int64_t> marker(int which) const { return markers_[which]; }
    void setCursorTime(std::optional<int64_t> timeUs);
    std::optional<int64_t> cursorTime() const { return cursor_; }
    int selectedLane() const { return selected_; }
    void selectLane(int index);
    // Moves the cursor to the selected lane's next (or previous) change and brings it into view;
    // false when there is none.
    bool jumpToChange(bool forward);

    int timeToX(int64_t timeUs) const;
    int64_t xToTime(int x) const;

    // Draws every trace anew at the next paint (the records were cleared).
    void redrawAll();

    static QString timeText(int64_t timeUs);
    static QString durationText(int64_t us);

signals:
    // The view, the markers, the cursor or the lane choice changed.
    void viewChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void updateTraces();
    // Draws the traces of pixel columns x0 to x1 - 1 into the kept picture.
    void renderColumns(int x0, int x1);
    void paintRuler(QPainter& painter) const;
    void paintLane(QPainter& painter, const Lane& lane, int top, int x0, int x1) const;
    void paintBitLane(QPainter& painter, const Lane& lane, int top, int x0, int x1) const;
    void paintValueLane(QPainter& painter, const Lane& lane, int top, int x0, int x1) const;
    void paintEventLane(QPainter& painter, const Lane& lane, int top, int x0, int x1) const;
    void paintMarkers(QPainter& painter) const;
    QString laneValueText(const Lane& lane) const;
    // The first time of pixel column x of the trace.
    int64_t columnTime(int x) const;

    const Recorder& recorder_;
    std::vector<Lane> lanes_;
    int64_t startUs_ = 0;
    double usPerPixel_ = 10000;  // 12 s across a 1366-pixel screen
    bool follow_ = true;
    std::array<std::optional<int64_t>, 2> markers_;
    std::optional<int64_t> cursor_;
    int selected_ = 0;
    // The traces as last drawn, and the view and the newest time they were drawn for.
    QImage traces_;
    bool tracesValid_ = false;
    int64_t drawnStartUs_ = 0;
    double drawnUsPerPixel_ = 0;
    int64_t drawnUpToUs_ = 0;
};

}  // namespace timeline
