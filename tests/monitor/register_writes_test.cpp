#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <optional>
#include <string>

#include "monitor/register_table.h"
#include "monitor_fixture.h"

namespace {

using monitor::kRegisterRows;
using monitor_test::MonitorTest;
using monitor_test::qs;

constexpr uint8_t kUntouched = 0x5A;

struct WriteCase {
    const char* name;
    int offset;
    bool decimalBox;
    const char* text;
    std::optional<uint8_t> written;  // none: the port keeps its value
};

void PrintTo(const WriteCase& c, std::ostream* out) {
    *out << c.name;
}

class WriteButton : public MonitorTest, public testing::WithParamInterface<WriteCase> {};

// The press goes through the button's click, so the case also proves which button is wired to
// which box and register.
TEST_P(WriteButton, WritesTheLowByteOfTheBoxsNumberOrNothing) {
    const WriteCase& c = GetParam();
    activate();
    host.ports.fill(kUntouched);
    const auto& row = kRegisterRows[static_cast<std::size_t>(c.offset)];
    auto* box = child<QLineEdit>(c.decimalBox ? row.decimalWriteBox : row.hexWriteBox);
    box->setText(QString::fromUtf8(c.text));
    const std::string button = c.decimalBox ? monitor::decimalWriteButtonName(c.offset)
                                            : monitor::hexWriteButtonName(c.offset);
    child<QToolButton>(button)->click();

    for (int offset = 0; offset < 8; ++offset) {
        const uint8_t expected = offset == c.offset && c.written ? *c.written : kUntouched;
        EXPECT_EQ(host.ports[port(offset)], expected) << "offset " << offset;
    }
    EXPECT_EQ(box->text(), QString::fromUtf8(c.text)) << "the box keeps its text";
    EXPECT_TRUE(log.isEmpty());
    EXPECT_TRUE(leftLog.isEmpty());
    EXPECT_TRUE(tones.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, WriteButton,
    testing::Values(WriteCase{"DollarHexInTheDecimalBox", 0, true, "$FF", 255},
                    WriteCase{"DecimalInTheHexBox", 0, false, "255", 255},
                    WriteCase{"HexWithoutDollarIsNoNumber", 0, false, "FF", std::nullopt},
                    WriteCase{"TwoFiftySixWrapsToZero", 0, true, "256", 0},
                    WriteCase{"ThreeHundredKeepsItsLowByte", 3, true, "300", 44},
                    WriteCase{"MinusOneIsAllOnes", 5, false, "-1", 255},
                    WriteCase{"ZeroXPrefix", 1, false, "0x41", 65},
                    WriteCase{"EmptyBoxWritesNothing", 2, true, "", std::nullopt},
                    WriteCase{"CyrillicWritesNothing", 4, true, "сто", std::nullopt},
                    WriteCase{"ScratchFromItsDecimalButton", 7, true, "65", 65},
                    WriteCase{"ModemStatusFromItsHexButton", 6, false, "$41", 65}),
    [](const testing::TestParamInfo<WriteCase>& param) { return std::string(param.param.name); });

TEST_F(MonitorTest, WriteGoesToTheBaseChosenAtThatMoment) {
    activate();
    pick("COM2");
    child<QLineEdit>("Edit26")->setText("$0B");
    child<QToolButton>("SpeedButton16")->click();
    EXPECT_EQ(host.ports[0x2FC], 0x0B);
    EXPECT_EQ(host.ports[0x3FC], 0);
}

TEST_F(MonitorTest, EachBitButtonInvertsItsOwnBitAndASecondPressRestores) {
    activate();
    for (int n = 1; n <= 64; ++n) {
        SCOPED_TRACE(n);
        const int offset = (n - 1) / 8;
        const uint8_t mask = static_cast<uint8_t>(1 << (7 - (n - 1) % 8));
        host.ports.fill(0);
        setRegister(offset, 0x3C);
        auto* button = child<QPushButton>("Button" + std::to_string(n));
        button->click();
        for (int other = 0; other < 8; ++other) {
            const uint8_t expected = other == offset ? 0x3C ^ mask : 0;
            EXPECT_EQ(host.ports[port(other)], expected) << "offset " << other;
        }
        button->click();
        EXPECT_EQ(host.ports[port(offset)], 0x3C);
    }
}

TEST_F(MonitorTest, BitToggleWorksOnThePortsValueNotTheDisplayedOne) {
    activate();
    setRegister(4, 0x01);
    tick();
    ASSERT_EQ(text("Edit23"), "$01");
    setRegister(4, 0xF0);  // changed since the display, as another program might
    child<QPushButton>("Button40")->click();
    EXPECT_EQ(host.ports[port(4)], 0xF1);
    EXPECT_EQ(host.readPorts.back(), port(4));
}

TEST_F(MonitorTest, WritesAndTogglesWithTheDriverClosedDoNothing) {
    activate();
    host.ports.fill(kUntouched);
    host.driverPresent = false;
    portIO.OpenDriver();
    child<QLineEdit>("Edit5")->setText("$11");
    child<QToolButton>("SpeedButton7")->click();
    child<QPushButton>("Button1")->click();
    EXPECT_EQ(host.ports[port(0)], kUntouched);
    EXPECT_TRUE(host.readPorts.empty());
}

}  // namespace
