#include "monitor/change_log.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

namespace monitor {
namespace {

std::size_t characters(std::string_view utf8) {
    std::size_t n = 0;
    for (char c : utf8) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    return n;
}

// A port whose reads return a script, one value per call (or `fill`), and a clock that stands at
// 12:34:56 or, with `tick`, counts one second per question, so a test sees which read and which
// time stamp went into which line.
class ChangeLogRecord : public ::testing::Test {
protected:
    std::vector<std::string> record(int offset, int64_t count, const RecordTexts& texts) {
        return changeRecord(
            offset, count, texts,
            [this] {
                ++reads;
                return script.empty() ? fill : script[(reads - 1) % script.size()];
            },
            [this] {
                const int seconds = tick ? timeCalls : 56;
                ++timeCalls;
                return TimeOfDay{12, 34, seconds};
            });
    }

    std::vector<uint8_t> script;
    uint8_t fill = 0;
    bool tick = false;
    std::size_t reads = 0;
    int timeCalls = 0;
};

TEST_F(ChangeLogRecord, ModemControlExampleIsByteExact) {
    script = {0x0B};
    const std::vector<std::string> expected = {
        "",
        " [ 3 ]    Управление модемом:  регистр  $3FC",
        "",
        " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 1 ]    ON  >  DTR",
        " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 2 ]    ON  >  RTS",
        " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 4 ]    OFF >  OUT1",
        " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 8 ]    ON  >  OUT2",
        " 12:34:56  $0B     0 0 0 0 1 0 1 1  : [ 4 ] > [ 16 ]  OFF >  LOOP",
    };
    EXPECT_EQ(record(4, 3, {"$0B", "0 0 0 0 1 0 1 1", "", "$3FC"}), expected);
    EXPECT_EQ(reads, 5u);
    EXPECT_EQ(timeCalls, 5);
}

TEST_F(ChangeLogRecord, EvenNarrowAndDataLineExamplesAreByteExact) {
    fill = 0x61;
    EXPECT_EQ(record(5, 1, {"$61", "0 1 1 0 0 0 0 1", "", "$3FD"}).at(3),
              " 12:34:56  $61     0 1 1 0 0 0 0 1  : [ 5 ] > [ 1 ]    ON   > RxRD");
    fill = 0x60;
    EXPECT_EQ(record(5, 2, {"$60", "0 1 1 0 0 0 0 0", "", "$3FD"}).at(3),
              " 12:34:56  $60     0 1 1 0 0 0 0 0  : [ 5 ] > [ 1 ]    OFF >  RxRD");
    fill = 0xB0;
    EXPECT_EQ(record(6, 1, {"$B0", "1 0 1 1 0 0 0 0", "", "$3FE"}).back(),
              " 12:34:56  $B0     1 0 1 1 0 0 0 0  : [ 6 ] > [128]  ON  >  DCD");
    reads = 0;
    EXPECT_EQ(record(0, 7, {"$41", "0 1 0 0 0 0 0 1", "65", ""}),
              std::vector<std::string>{" 12:34:56   $41      0 1 0 0 0 0 0 1      [ 7 ]     65"});
    EXPECT_EQ(reads, 0u) << "the data register's line shows only the boxes' texts";
}

// The named bits of every register are its lowest ones, so names[i] is bit i.
struct BlockRow {
    int offset;
    std::size_t headerCharacters;
    BitStyle lowStyle;
    std::vector<std::string> names;
};

const BlockRow kBlocks[] = {
    {1, 37, BitStyle::Wide, {"RxRD", "TDE", "ERBK", "SINP"}},
    {2, 41, BitStyle::Wide, {"PND", "ID0", "ID1"}},
    {3, 29, BitStyle::Even, {"DAB0", "DAB1", "STOP", "PAR0", "PAR1", "PAR2", "BRK", "DLAB"}},
    {4, 34, BitStyle::Wide, {"DTR", "RTS", "OUT1", "OUT2", "LOOP"}},
    {5, 48, BitStyle::Even, {"RxRD", "OVRE", "PARE", "FRME", "BREK", "TBE", "TXE"}},
    {6, 32, BitStyle::Even, {"DCTS", "DDSR", "DRI", "DDCD", "CTS", "DSR", "RI", "DCD"}},
};

TEST_F(ChangeLogRecord, BlocksLogExactlyTheNamedBitsInMaskOrderWithOneReadEach) {
    for (const BlockRow& row : kBlocks) {
        SCOPED_TRACE(row.offset);
        const std::string_view header = kLoggedRegisters[row.offset - 1].header;
        EXPECT_EQ(characters(header), row.headerCharacters);
        EXPECT_TRUE(header.starts_with("    ") && header.ends_with(":  регистр  "));

        std::vector<std::string> offLines;
        for (uint8_t value : {uint8_t{0x00}, uint8_t{0xFF}}) {
            fill = value;
            reads = 0;
            const auto lines = record(row.offset, 1, {"$FF", "1 1 1 1 1 1 1 1", "", "$3F9"});
            ASSERT_EQ(lines.size(), 3 + row.names.size());
            EXPECT_EQ(reads, row.names.size());
            EXPECT_TRUE(lines[0].empty() && lines[2].empty());
            for (std::size_t bit = 0; bit < row.names.size(); ++bit) {
                const int mask = 1 << bit;
                const std::string maskText =
                    mask == 128 ? " > [128] " : " > [ " + std::to_string(mask) + " ] ";
                const BitStyleTexts& texts =
                    bitStyleTexts(mask < 16 ? row.lowStyle : BitStyle::Narrow);
                const std::string tail = "  : [ " + std::to_string(row.offset) + " ]" + maskText +
                                         std::string(value ? texts.on : texts.off) +
                                         std::string(value ? texts.onNameLead : texts.offNameLead) +
                                         row.names[bit];
                const std::string& line = lines[3 + bit];
                EXPECT_TRUE(line.ends_with(tail)) << line << "\n" << tail;
                if (value) {
                    EXPECT_EQ(line.size(), offLines[3 + bit].size()) << "ON and OFF widths";
                }
            }
            offLines = lines;
        }
    }
}

TEST_F(ChangeLogRecord, EachBitLineTakesItsStateFromItsOwnReadAndItsOwnTime) {
    script = {0xFF, 0x00};
    tick = true;
    const auto lines = record(6, 1, {"$0F", "0 0 0 0 1 1 1 1", "", "$3FE"});
    ASSERT_EQ(lines.size(), 11u);
    for (std::size_t i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        EXPECT_TRUE(lines[3 + i].starts_with(" 12:34:0" + std::to_string(i) +
                                             "  $0F     0 0 0 0 1 1 1 1  : [ 6 ]"));
        EXPECT_EQ(lines[3 + i].find(" OFF > ") != std::string::npos, i % 2 == 1);
    }
}

TEST_F(ChangeLogRecord, HeaderShowsLargeCountsAndTheCurrentAddress) {
    EXPECT_EQ(record(4, 1, {"$00", "0 0 0 0 0 0 0 0", "", "$2FC"}).at(1),
              " [ 1 ]    Управление модемом:  регистр  $2FC");
    EXPECT_EQ(record(2, 4'000'000'000, {"$01", "0 0 0 0 0 0 0 1", "", "$3FA"}).at(1),
              " [ 4000000000 ]    Индентификация прерываний:  регистр  $3FA");
}

TEST(ChangeLogTime, StampPadsHoursMinutesAndSecondsToTwoDigits) {
    const auto line = changeRecord(0, 1, {"$00", "0 0 0 0 0 0 0 0", "0", ""}, {}, [] {
        return TimeOfDay{7, 5, 9};
    });
    EXPECT_EQ(line.at(0), " 07:05:09   $00      0 0 0 0 0 0 0 0      [ 1 ]     0");
}

TEST(ChangeLogConditions, ScratchRegisterIsNeverLoggedNorRead) {
    int reads = 0;
    EXPECT_TRUE(changeRecord(7, 1, {}, [&] { return uint8_t(++reads); }, {}).empty());
    EXPECT_EQ(reads, 0);
    EXPECT_FALSE(changeIsLogged(7, "COM1", true));
    EXPECT_EQ(changeLogPane(7), LogPane::None);
}

TEST(ChangeLogConditions, DataFollowsCheckBoxAndRegistersFollowUartPresetName) {
    EXPECT_EQ(changeLogPane(0), LogPane::Right);
    EXPECT_TRUE(changeIsLogged(0, "LPT1", true));
    EXPECT_FALSE(changeIsLogged(0, "COM1", false));
    for (int offset = 1; offset <= 6; ++offset) {
        SCOPED_TRACE(offset);
        EXPECT_EQ(changeLogPane(offset), LogPane::Left);
        for (const char* preset : {"COM1", "COM2", "COM3", "COM4"})
            EXPECT_TRUE(changeIsLogged(offset, preset, false));
        for (const char* preset : {"LPT1", "com1", "COM1 ", "COM5", "НОВЫЙ", ""})
            EXPECT_FALSE(changeIsLogged(offset, preset, true));
    }
}

}  // namespace
}  // namespace monitor
