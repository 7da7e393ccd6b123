#include <QApplication>

#include "app/event_loop.h"
#include "app/start.h"
#include "platform/linux_driver_host.h"

int main(int argc, char* argv[]) {
    app::useQtEventLoop();
    QApplication application(argc, argv);
    const platform::PortBackend backend = app::portBackendAtStart();
    platform::LinuxDriverHost host(backend);
    return app::runProgram(host, backend);
}
