#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <algorithm>
#include <map>

#include "monitor/register_table.h"
#include "monitor_fixture.h"

namespace {

using monitor::LogPane;
using monitor_test::MonitorTest;

class ChangeLogPoll : public MonitorTest {
protected:
    void SetUp() override {
        MonitorTest::SetUp();
        activate();
    }

    void change(int offset, uint8_t value) {
        setRegister(offset, value);
        tick();
    }

    qlonglong counter(int offset) {
        return child<QLineEdit>(monitor::kRegisterRows[static_cast<std::size_t>(offset)].bitString)
            ->property("Tag")
            .toLongLong();
    }

    // The header lines of the left pane, in order.
    QStringList headers() const {
        QStringList found;
        for (const QString& line : leftLog)
            if (line.startsWith(" [ ")) found << line;
        return found;
    }
};

TEST_F(ChangeLogPoll, ThirdChangeOfModemControlWritesTheExampleRecord) {
    change(4, 0x01);
    change(4, 0x03);
    leftLog.clear();
    change(4, 0x0B);
    EXPECT_EQ(leftLog, QStringList({
                           "",
                           " [ 3 ]    Управление модемом:  регистр  $3FC",
                           "",
                           " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 1 ]    ON  >  DTR",
                           " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 2 ]    ON  >  RTS",
                           " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 4 ]    OFF >  OUT1",
                           " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 8 ]    ON  >  OUT2",
                           " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 16 ]  OFF >  LOOP",
                       }));
    EXPECT_EQ(counter(4), 3);
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(ChangeLogPoll, DataRegisterWritesOneLineToTheRightPane) {
    now = {7, 5, 9};
    change(0, 0x41);
    EXPECT_EQ(log, QStringList({" 07:05:09   $41      0 1 0 0 0 0 0 1      [ 1 ]     65"}));
    EXPECT_TRUE(leftLog.isEmpty());
}

TEST_F(ChangeLogPoll, FirstChangeAfterStartIsNumberOne) {
    change(2, 0x01);
    EXPECT_EQ(headers(), QStringList({" [ 1 ]    Индентификация прерываний:  регистр  $3FA"}));
}

TEST_F(ChangeLogPoll, EachRegisterWritesAHeaderAndOneLinePerNamedBit) {
    const std::map<int, int> bitLines = {{1, 4}, {2, 3}, {3, 8}, {4, 5}, {5, 7}, {6, 8}};
    for (const auto& [offset, lines] : bitLines) {
        SCOPED_TRACE(offset);
        leftLog.clear();
        change(offset, 0xFF);
        ASSERT_EQ(leftLog.size(), 3 + lines);
        EXPECT_TRUE(leftLog[0].isEmpty() && leftLog[2].isEmpty());
        EXPECT_TRUE(leftLog[1].startsWith(" [ 1 ]"));
        for (int line = 3; line < leftLog.size(); ++line)
            EXPECT_TRUE(leftLog[line].contains(QString("  : [ %1 ]").arg(offset)));
    }
}

TEST_F(ChangeLogPoll, NonUartPresetSilencesTheBlocksButNotTheData) {
    pick("LPT1");
    clearLogs();
    for (int offset = 0; offset < 7; ++offset) setRegister(offset, 0x81);
    tick();
    EXPECT_TRUE(leftLog.isEmpty());
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].contains("[ 1 ]"));
    for (int offset = 1; offset <= 6; ++offset) EXPECT_EQ(counter(offset), 0) << offset;

    // Back on COM1 the registers read 0 again, a change from what LPT1 showed.
    pick("COM1");
    tick();
    ASSERT_EQ(headers().size(), 6);
    EXPECT_EQ(headers()[3], " [ 1 ]    Управление модемом:  регистр  $3FC");
    for (const QString& header : headers()) EXPECT_TRUE(header.startsWith(" [ 1 ]"));
}

TEST_F(ChangeLogPoll, UncheckedDataControlSilencesTheDataRegisterAndKeepsItsCount) {
    change(0, 0x01);
    child<QCheckBox>("CheckBox2")->setChecked(false);
    log.clear();
    change(0, 0x02);
    EXPECT_TRUE(log.isEmpty());
    EXPECT_EQ(counter(0), 1);
    child<QCheckBox>("CheckBox2")->setChecked(true);
    change(0, 0x03);
    ASSERT_EQ(log.size(), 1);
    EXPECT_TRUE(log[0].contains("[ 2 ]"));
}

TEST_F(ChangeLogPoll, ScratchRegisterIsNeverLogged) {
    change(7, 0xFF);
    change(7, 0x00);
    EXPECT_TRUE(log.isEmpty());
    EXPECT_TRUE(leftLog.isEmpty());
    EXPECT_TRUE(focused.empty());
}

TEST_F(ChangeLogPoll, OneTickWritesItsRecordsInRegisterOrderWithOneAppendPerPane) {
    for (int offset : {6, 2, 0, 5, 1, 4, 3}) setRegister(offset, 0x01);
    tick();
    ASSERT_EQ(headers().size(), 6);
    for (int offset = 1; offset <= 6; ++offset)
        EXPECT_TRUE(
            headers()[offset - 1].endsWith(QString("$3F%1").arg(8 + offset, 0, 16).toUpper()))
            << headers()[offset - 1].toStdString();
    EXPECT_EQ(log.size(), 1);
    const qsizetype leftLines = 6 * 3 + 4 + 3 + 8 + 5 + 7 + 8;
    EXPECT_EQ(appends, (std::vector<std::pair<LogPane, qsizetype>>{{LogPane::Right, 1},
                                                                   {LogPane::Left, leftLines}}));
}

TEST_F(ChangeLogPoll, HeaderFollowsTheBaseAndCountersSurviveAPortChange) {
    change(4, 0x01);
    pick("COM2");
    tick();  // COM2's modem control reads 0
    EXPECT_EQ(headers().last(), " [ 2 ]    Управление модемом:  регистр  $2FC");
    EXPECT_EQ(counter(4), 2);
}

TEST_F(ChangeLogPoll, EachLoggedBitReadsThePortOnceMore) {
    change(4, 0x01);
    const auto readsOf = [&](uint16_t p) {
        return std::count(host.readPorts.begin(), host.readPorts.end(), p);
    };
    // A quiet tick reads the modem control register 14 times (views and lights).
    EXPECT_EQ(readsOf(port(4)), 14 + 5);
    EXPECT_EQ(host.readPorts.size(), 97u + 5u);
    tick();
    EXPECT_EQ(readsOf(port(4)), 14);
}

// The line status register loses its data-ready bit after the poll has read it: the bit string
// still shows the bit, while the handler's own read logs it OFF.
TEST_F(ChangeLogPoll, OnOffWordComesFromTheHandlersReadNotTheBitString) {
    int reads = 0;
    host.afterRead = [&](uint16_t p) {
        // decimal, hex and the eight bit reads of the poll
        if (p == port(5) && ++reads == 10) host.ports[p] = 0x60;
    };
    change(5, 0x61);
    ASSERT_EQ(leftLog.size(), 3 + 7);
    EXPECT_EQ(leftLog[3], " 12:34:56  $61     0 1 1 0 0 0 0 1  : [ 5 ] > [ 1 ]    OFF >  RxRD");
    EXPECT_TRUE(leftLog[8].endsWith(" ON  >  TBE"));
}

TEST_F(ChangeLogPoll, EachLineIsStampedWithTheTimeAtItsOwnRead) {
    int seconds = 0;
    host.afterRead = [&](uint16_t) { now.seconds = ++seconds % 60; };
    change(2, 0x06);
    ASSERT_EQ(leftLog.size(), 6);
    EXPECT_NE(leftLog[3].left(9), leftLog[4].left(9));
    EXPECT_NE(leftLog[4].left(9), leftLog[5].left(9));
}

TEST_F(ChangeLogPoll, FocusGoesToThePaneOfTheTicksLastRecord) {
    change(0, 0x01);
    EXPECT_EQ(focused, std::vector<LogPane>{LogPane::Right});
    focused.clear();
    setRegister(0, 0x02);
    setRegister(3, 0x02);
    tick();
    EXPECT_EQ(focused, std::vector<LogPane>{LogPane::Left});
    focused.clear();
    tick();
    EXPECT_TRUE(focused.empty());
}

TEST_F(ChangeLogPoll, ChangeOutsideATickIsWrittenAtOnce) {
    child<QLineEdit>("Edit11")->setText("0 0 0 0 0 0 0 1");
    EXPECT_EQ(log.size(), 1);
    EXPECT_EQ(focused, std::vector<LogPane>{LogPane::Right});
}

}  // namespace
