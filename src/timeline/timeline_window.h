#pragma once

#include <QElapsedTimer>
#include <QSettings>
#include <QWidget>
#include <functional>
#include <string>
#include <vector>

#include "timeline/export.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QTimer;
class QToolButton;

namespace timeline {

class Recording;
class TraceView;

// The timeline window: the lane list (tick to show, drag to order), the trace view, the
// recording's controls (pause, clear, follow, zoom, save as VCD or CSV) and a line with the
// markers, the time between them and what the ring holds. It repaints at most 20 times a
// second (following the newest records, at every frame; else only after new records or a
// change of the view), and less often when a frame takes long to draw.
class TimelineWindow : public QWidget {
    Q_OBJECT
public:
    TimelineWindow(Recording& recording, std::string programVersion, QWidget* parent = nullptr);

    TraceView& traceView() const { return *view_; }
    // Saves what the recording holds to path as VCD or CSV, with a progress bar when it takes
    // longer than a moment; the file appears under its name only when it is whole. Returns the
    // error text (the system's reason), empty on success.
    QString saveTo(const QString& path, bool vcd);
    // The lanes shown, in order.
    std::vector<std::string> laneNames() const;
    void setLaneNames(const std::vector<std::string>& names);

    // The lanes and the geometry, in the group "Timeline" of the settings file.
    void loadSettings(QSettings& settings);
    void saveSettings(QSettings& settings) const;

private:
    void buildLaneList();
    void lanesEdited();
    void saveClicked(bool vcd);
    void refresh();
    void updateStatus();

    Recording& recording_;
    const std::string programVersion_;
    TraceView* view_ = nullptr;
    QListWidget* laneList_ = nullptr;
    QToolButton* pause_ = nullptr;
    QToolButton* follow_ = nullptr;
    QCheckBox* bitsOnly_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer* frame_ = nullptr;
    bool uartLanes_ = true;
    bool dirty_ = true;
    QElapsedTimer sinceFrame_;
    qint64 lastFrameMs_ = 0;
    bool exporting_ = false;
};

}  // namespace timeline
