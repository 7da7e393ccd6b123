#include <QApplication>

#include "app/start.h"
#include "platform/linux_driver_host.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    platform::LinuxDriverHost host;
    return app::runProgram(host);
}
