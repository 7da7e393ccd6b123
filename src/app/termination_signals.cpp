#include "app/termination_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>
#include <iterator>
#include <utility>

namespace app {

namespace {

constexpr int kSignals[] = {SIGTERM, SIGHUP, SIGINT};
// What the signals did before, given back when the watch ends.
struct sigaction before[std::size(kSignals)];

// The pipe's write end, for the handler; -1 while no object watches.
volatile sig_atomic_t writeEnd = -1;
int readEnd = -1;

extern "C" void noteSignal(int number) {
    const int savedErrno = errno;
    const char byte = static_cast<char>(number);
    if (writeEnd >= 0) {
        [[maybe_unused]] const ssize_t ignored = ::write(writeEnd, &byte, 1);
    }
    errno = savedErrno;
}

}  // namespace

TerminationSignals::TerminationSignals(std::function<void()> onSignal, QObject* parent)
    : QObject(parent), onSignal_(std::move(onSignal)) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("quillmor: no pipe for signals: SIGTERM ends the program without its close");
        return;
    }
    readEnd = ends[0];
    writeEnd = ends[1];
    notifier_ = new QSocketNotifier(readEnd, QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::signalled);
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &before[i]);
}

TerminationSignals::~TerminationSignals() {
    if (!notifier_) return;
    for (size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &before[i], nullptr);
    // A handler that still runs must not write into a descriptor closed or reused meanwhile.
    const int writing = writeEnd;
    writeEnd = -1;
    ::close(writing);
    ::close(readEnd);
    readEnd = -1;
}

void TerminationSignals::signalled() {
    char numbers[16];
    while (::read(readEnd, numbers, sizeof numbers) > 0) {
    }
    // One close is enough, however many signals came in the meantime.
    notifier_->setEnabled(false);
    if (onSignal_) onSignal_();
}

}  // namespace app
