#include "terminal/owner_thread.h"

#include <QMetaObject>
#include <QObject>
#include <QThread>
#include <exception>
#include <memory>

namespace terminal {

namespace {

void deleteOnOwnThread(QObject* receiver) {
    if (receiver->thread() == QThread::currentThread())
        delete receiver;
    else
        receiver->deleteLater();
}

}  // namespace

comm::RunOnOwner makeRunOnOwner() {
    std::shared_ptr<QObject> receiver(new QObject, deleteOnOwnThread);
    return [receiver](const std::function<void()>& call) {
        std::exception_ptr failure;
        QMetaObject::invokeMethod(
            receiver.get(),
            [&call, &failure] {
                try {
                    call();
                } catch (...) {
                    failure = std::current_exception();
                }
            },
            Qt::BlockingQueuedConnection);
        if (failure) std::rethrow_exception(failure);
    };
}

}  // namespace terminal
