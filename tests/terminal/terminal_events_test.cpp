// The handlers of the port's line events: received lines, event lines, error lines, bounds,
// and the handover into the GUI thread.
#include <QTextDocument>
#include <QThread>
#include <stdexcept>
#include <thread>

#include "comm/comm.h"
#include "terminal/owner_thread.h"

#include "terminal_fixture.h"

namespace terminal_test {
namespace {

using Events = TerminalTest;

struct RxCase {
    const char* name;
    std::string bytes;
    QStringList lines;
    QString rxLine;
};

class ReceivedLines : public TerminalTest, public testing::WithParamInterface<RxCase> {};

TEST_P(ReceivedLines, CrEndsALineWhileNulAndLfAreSkipped) {
    usePty();
    click("SpeedButton1");
    ASSERT_TRUE(receive(GetParam().bytes));
    EXPECT_EQ(memo("Memo2")->lines(), GetParam().lines);
    EXPECT_EQ(page->RxLine(), GetParam().rxLine);
    EXPECT_TRUE(memo("Memo1")->lines().contains("Сигнал RX обнаружен..."));
}

INSTANTIATE_TEST_SUITE_P(
    Events, ReceivedLines,
    testing::Values(RxCase{"CrLfEndsOneLineAndTheRestWaits", "AB\r\nC", {"AB"}, "C"},
                    RxCase{"LfAloneEndsNothing", "\n", {}, ""},
                    RxCase{"CrCrAddsTheLineThenAnEmptyOne", "X\r\r", {"X", ""}, ""},
                    RxCase{"FirstLineMayBeEmpty", "\rY\r", {"", "Y"}, ""},
                    RxCase{"NulNeverReachesTheMemo", std::string("A\0B\r", 4), {"AB"}, ""},
                    RxCase{"BytesAreWindows1251", "\xCF\xF0\xE8\xE2\xE5\xF2\r", {"Привет"}, ""}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(Events, RxLineSurvivesReopening) {
    usePty();
    click("SpeedButton1");
    ASSERT_TRUE(receive("AB"));
    click("SpeedButton1");
    click("SpeedButton1");
    ASSERT_TRUE(receive("C\r"));
    EXPECT_EQ(memo("Memo2")->lines(), QStringList{"ABC"});
}

TEST_F(Events, CountBeyondTheBufferIsReadInPiecesWithNothingLost) {
    usePty();
    page->Comm1().SetReadBufSize(16);
    click("SpeedButton1");
    const std::string line(100, 'z');
    ASSERT_TRUE(receive(line + "\r"));
    EXPECT_EQ(memo("Memo2")->lines(), QStringList{QString::fromStdString(line)});
    for (const QString& read : memo("Memo1")->lines().filter("Чтение "))
        EXPECT_LE(read.section(u' ', 1, 1).toInt(), 16) << read.toStdString();
}

TEST_F(Events, DeviceThatNeverSendsCrKeepsOnlyTheNewestCharacters) {
    usePty();
    click("SpeedButton1");
    std::string stream;
    for (int i = 0; i < 3 * terminal::kRxLineLimit; ++i) stream += static_cast<char>('a' + i % 26);
    ASSERT_TRUE(receive(stream));
    ASSERT_EQ(page->RxLine().size(), terminal::kRxLineLimit);
    EXPECT_EQ(page->RxLine().toStdString(),
              stream.substr(stream.size() - static_cast<size_t>(terminal::kRxLineLimit)));
}

TEST_F(Events, MemosKeepTheirNewestLines) {
    for (int i = 0; i < terminal::kStatusMemoLines + 5; ++i) page->Comm1Break();
    EXPECT_EQ(memo("Memo1")->lines().size(), terminal::kStatusMemoLines);

    usePty();
    click("SpeedButton1");
    std::string lines;
    for (int i = 0; i < terminal::kReceivedMemoLines + 10; ++i) lines += std::to_string(i) + "\r";
    ASSERT_TRUE(receive(lines));
    const QStringList received = memo("Memo2")->lines();
    ASSERT_EQ(received.size(), terminal::kReceivedMemoLines);
    EXPECT_EQ(received.first(), "10");
    EXPECT_EQ(received.last(), QString::number(terminal::kReceivedMemoLines + 9));
}

TEST_F(Events, FullMemoDropsExactlyItsOldestLinesWhateverTheBatch) {
    terminal::TerminalMemo memo(QStringLiteral("Small"), 3, nullptr);
    memo.appendLines({"a", "b"});
    memo.appendLine("c");
    EXPECT_EQ(memo.lines(), QStringList({"a", "b", "c"}));
    memo.appendLines({"d", "e"});
    EXPECT_EQ(memo.lines(), QStringList({"c", "d", "e"}));
    memo.appendLines({"1", "2", "3", "4", "5"});
    EXPECT_EQ(memo.lines(), QStringList({"3", "4", "5"}));
    memo.appendLine(QString());
    EXPECT_EQ(memo.lines(), QStringList({"4", "5", ""}));
    memo.appendLines({"x", "y", "z"});
    EXPECT_EQ(memo.lines(), QStringList({"x", "y", "z"}));
    EXPECT_EQ(memo.document()->blockCount(), 3);
}

// A quiet memo shows a line at once; lines that follow within the frame wait and go in
// together, the ones pushed out meanwhile never reaching the document, while every line is
// still reported in order.
TEST_F(Events, FloodOfLinesGoesInOnceAFrameWithNothingReportedLost) {
    terminal::TerminalMemo memo(QStringLiteral("Small"), 3, nullptr);
    QStringList reported;
    QObject::connect(&memo, &terminal::TerminalMemo::linesAppended,
                     [&](const QStringList& lines) { reported += lines; });
    memo.appendLine("a");
    EXPECT_EQ(memo.toPlainText(), "a");
    for (const char* line : {"b", "c", "d", "e", "f", "g", "h"}) memo.appendLine(line);
    EXPECT_EQ(memo.toPlainText(), "a") << "the flood waits for the next frame";
    EXPECT_EQ(reported, QStringList({"a", "b", "c", "d", "e", "f", "g", "h"}));
    EXPECT_TRUE(pumpUntil([&] { return memo.toPlainText() != "a"; }));
    EXPECT_EQ(memo.toPlainText(), "f\ng\nh");
    memo.appendLine("i");
    EXPECT_EQ(memo.lines(), QStringList({"g", "h", "i"}));
}

TEST_F(Events, EventLinesHaveTheirTextsAndSignalsReadAsOffOnAClosedPort) {
    page->Comm1RxFlag();
    page->Comm1TxEmpty();
    page->Comm1Break();
    page->Comm1Cts();
    page->Comm1Dsr();
    page->Comm1Ring();
    page->Comm1Rlsd();
    EXPECT_EQ(memo("Memo1")->lines(),
              QStringList({"RX: Сигнал RX обнаружен...", "ТX: Сигнал ТX обнаружен...",
                           "Break: Обнаружен сигнал прерывания...", "CTS: Off", "DSR: Off",
                           "RING: Off", "RLSD: Off"}));
}

struct ErrorCase {
    const char* name;
    int32_t errors;
    QStringList lines;
};

class ErrorLines : public TerminalTest, public testing::WithParamInterface<ErrorCase> {};

TEST_P(ErrorLines, FlagsAddTheirLinesInTableOrder) {
    page->Comm1Error(GetParam().errors);
    EXPECT_EQ(memo("Memo1")->lines(), GetParam().lines);
}

const QStringList kRxOver = {"Произошло входное буферное переполнение .",
                             "разместите входной буфер, или символ был получен впоследствии",
                             "конец--файла (EOF) символа"};

INSTANTIATE_TEST_SUITE_P(
    Events, ErrorLines,
    testing::Values(
        ErrorCase{"NoneAddsNothing", 0, {}},
        ErrorCase{"UnknownBitsAddNothing", 0x4000 | 0x2000 | 0x0020, {}},
        ErrorCase{"FrameBeforeRxOver", static_cast<int32_t>(comm::CE_RXOVER | comm::CE_FRAME),
                  QStringList{"Аппаратные Средства обнаружили ошибку конфигурации."} + kRxOver},
        ErrorCase{"BreakFirstTxFullLast",
                  static_cast<int32_t>(comm::CE_TXFULL | comm::CE_BREAK),
                  {"Аппаратными средствами обнаружено условие запроса прерывания",
                   "Приложение пыталось передать символ, но выход", "буфер был полным."}},
        ErrorCase{"ModeHasTwoLines",
                  static_cast<int32_t>(comm::CE_MODE),
                  {"Неподдерживаемый способ запроса или  hFile параметр",
                   "is invalid. Если этот параметр определяется - это единственная рабочая "
                   "ошибка"}},
        ErrorCase{"OverrunThenParity",
                  static_cast<int32_t>(comm::CE_RXPARITY | comm::CE_OVERRUN),
                  {"Символьное-буферное превышение. Следующий символ потерян.",
                   "Аппаратными средствами обнаружина ошибка четности.."}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(Events, AllElevenFlagsGiveFifteenLines) {
    page->Comm1Error(static_cast<int32_t>(0x9F1F));
    EXPECT_EQ(memo("Memo1")->lines().size(), 15);
}

// COM1 and COM2 of the simulated PC are joined by a null-modem cable: COM1's DTR is COM2's
// DSR.
TEST_F(Events, ModemEventLogsTheStateOfTheLineWhenHandled) {
    combo("ComboBox2")->setEditText(QStringLiteral("Com2"));
    click("SpeedButton1");
    ASSERT_TRUE(page->Comm1().IsOpen()) << calls.join('\n').toStdString();
    comm::TComm far(terminal::makeRunOnOwner());
    far.SetDeviceName("Com1");
    far.Open();
    const auto logged = [this](const char* line) {
        return pumpUntil([&] { return memo("Memo1")->lines().contains(qs(line)); });
    };
    far.SetDtr(false);
    EXPECT_TRUE(logged("DSR: Off"));
    far.SetDtr(true);
    EXPECT_TRUE(logged("DSR: On"));
    far.Close();
}

TEST_F(Events, RunOnOwnerRunsOnTheGuiThreadAndCarriesTheExceptionBack) {
    const comm::RunOnOwner run = terminal::makeRunOnOwner();
    bool onGuiThread = false;
    bool rethrown = false;
    bool done = false;
    std::thread watcher([&] {
        run([&] { onGuiThread = QThread::currentThread() == qApp->thread(); });
        try {
            run([] { throw std::runtime_error("handler failed"); });
        } catch (const std::runtime_error&) {
            rethrown = true;
        }
        done = true;
    });
    const bool finished = pumpUntil([&] { return done; });
    watcher.join();
    ASSERT_TRUE(finished);
    EXPECT_TRUE(onGuiThread);
    EXPECT_TRUE(rethrown);
}

}  // namespace
}  // namespace terminal_test
