#include <QApplication>

#include "app/start.h"
#include "platform/linux_driver_host.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const platform::PortBackend backend = app::portBackendAtStart();
    platform::LinuxDriverHost host(backend);
    return app::runProgram(host, backend);
}
