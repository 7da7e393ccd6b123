#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace app {

// SIGTERM, SIGHUP and SIGINT (a session that ends, `kill`, Ctrl+C in the shell that started
// the program) end it the way its own close does, on the main thread's event loop: the handler
// only writes the signal's number into a pipe, which the loop watches. Each handler is good for
// one signal: a second one, while the close is under way, ends the process at once.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    // onSignal runs on the event loop for the first signal that arrives. Only one object of
    // this class may exist at a time.
    explicit TerminationSignals(std::function<void()> onSignal, QObject* parent = nullptr);
    ~TerminationSignals() override;

private:
    void signalled();

    std::function<void()> onSignal_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace app
