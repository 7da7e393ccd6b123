#pragma once

#include <QElapsedTimer>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "comm/comm.h"
#include "dataview/traffic_text.h"
#include "traffic/file_sender.h"
#include "traffic/session_log.h"
#include "widgets/main_menu.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSettings;
class QSpinBox;
class QTimer;

namespace dataview {

class TrafficView;

// The data view "Данные порта": a window of its own beside the main window, showing every byte
// the terminal's port receives and sends (TrafficView), with pause, search, copy and clear; a
// field that sends bytes typed as hex; RTS and DTR switched while the port is open; a session
// log to a file; and sending a file.
//
// It reads the port's traffic stream on a timer of its own, never per byte, so the window and
// the 1 ms poll go on whatever the line does; the log and the sending run on threads of their
// own and are only watched from that timer. Closing the port ends a log and a sending; closing
// the window ends a sending (a log goes on, the window only hides).
class DataViewWindow : public QWidget {
    Q_OBJECT
public:
    // Shows a message to the user; the default is a warning box over the window.
    using Messenger = std::function<void(const QString& text)>;

    // The component must outlive the window; the menu's NRTS and NDTR say which lines the page
    // raised at the opening.
    DataViewWindow(comm::TCustomComm& comm, const widgets::MainMenu& menu,
                   QWidget* parent = nullptr);
    ~DataViewWindow() override;

    void setMessenger(Messenger messenger);
    // The window's place and options, in a group of their own.
    void loadSettings(QSettings& settings);
    void saveSettings(QSettings& settings) const;

    TrafficView& view() const { return *view_; }
    // What the buttons do once a file is chosen.
    void startLog(const QString& path);
    void stopLog();
    void sendFile(const QString& path);
    void cancelSending();
    void sendHex();
    // One turn of the window's timer: takes the new traffic and watches the log and the
    // sending. Tests call it to go on without waiting.
    void tick();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls();
    void applyRowRule();
    void followOpening();
    // One turn of the timer: takes new traffic, and shows it with the log's and the sending's
    // progress.
    void turn();
    // Takes at most so many entries; whether more wait.
    bool takeTurn(size_t entries);
    void showTurn();
    bool takeTraffic(size_t limit);
    void watchLog();
    void endLogWithThePort();
    void watchSending();
    void showLineStates();
    void setLine(bool rts, bool on);
    void findNext();
    void chooseLogFile();
    void chooseFileToSend();
    void showDropped();

    comm::TCustomComm& comm_;
    widgets::MainMenu menu_;
    Messenger message_;
    std::shared_ptr<comm::TrafficStream> stream_;
    uint64_t position_ = 0;
    bool wasOpen_ = false;
    std::vector<comm::TrafficEntry> batch_;
    std::unique_ptr<traffic::SessionLog> log_;
    std::unique_ptr<traffic::FileSender> sender_;
    QElapsedTimer sendingFor_;
    QElapsedTimer shownAt_;

    QTimer* timer_ = nullptr;
    TrafficView* view_ = nullptr;
    QComboBox* timeStamps_ = nullptr;
    QComboBox* rowSplit_ = nullptr;
    QSpinBox* rowBytes_ = nullptr;
    QSpinBox* silenceMs_ = nullptr;
    QPushButton* pause_ = nullptr;
    QLineEdit* findEdit_ = nullptr;
    QComboBox* findKind_ = nullptr;
    QLabel* dropped_ = nullptr;
    QCheckBox* rts_ = nullptr;
    QCheckBox* dtr_ = nullptr;
    QLineEdit* hexEdit_ = nullptr;
    QComboBox* logFormat_ = nullptr;
    QCheckBox* logAppend_ = nullptr;
    QPushButton* logButton_ = nullptr;
    QLabel* logStatus_ = nullptr;
    QSpinBox* charDelay_ = nullptr;
    QSpinBox* lineDelay_ = nullptr;
    QPushButton* sendFileButton_ = nullptr;
    QPushButton* cancelSend_ = nullptr;
    QProgressBar* sendProgress_ = nullptr;
    QLabel* sendStatus_ = nullptr;
};

}  // namespace dataview
