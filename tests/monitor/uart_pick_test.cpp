// A UART of the machine picked to monitor. Its card cannot exist here, so the test hands the
// monitor the entry the catalog would list; its tty is a pseudo-terminal this test holds open.
#include <gtest/gtest.h>

#include "monitor_fixture.h"
#include "pseudo_terminal.h"

namespace monitor_test {
namespace {

platform::PortInfo pciUart(const std::string& device) {
    platform::PortInfo uart;
    uart.device = device;
    uart.ioPort = 0xC000;
    uart.irq = 11;
    uart.uartType = "16550A";
    uart.pciCard = "0000:00:04.0 [1b36:0003]";
    return uart;
}

TEST_F(MonitorTest, PickedUartIsTakenAsNewPortAndAnOpenTtyIsToldOnce) {
    activate();
    commtest::PseudoTerminal heldOpen;
    monitor->pickUart(pciUart(heldOpen.path));
    EXPECT_EQ(combo->currentText(), qs("НОВЫЙ"));
    EXPECT_EQ(edit2->text(), "49152");
    EXPECT_EQ(edit1->text(), "$C000");
    EXPECT_EQ(monitor->baseAddress(), 0xC000);
    EXPECT_TRUE(log.contains(qs(" Базовый регистр порта : $C000")));
    EXPECT_EQ(log.filter(QString::fromStdString(heldOpen.path) + qs(" открыт")).size(), 1)
        << log.join('\n').toStdString();

    clearLogs();
    monitor->pickUart(pciUart("/dev/quillmor-no-such-tty"));
    EXPECT_EQ(monitor->baseAddress(), 0xC000);
    EXPECT_TRUE(log.filter(qs("открыт")).isEmpty());
}

}  // namespace
}  // namespace monitor_test
