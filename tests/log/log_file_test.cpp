#include "log/log_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <csignal>

namespace {

// "Базовый регистр" and "Ёё" in Windows-1251.
const QByteArray kCyrillicBytes(
    "\xC1\xE0\xE7\xEE\xE2\xFB\xE9 \xF0\xE5\xE3\xE8\xF1\xF2\xF0 \xA8\xB8");
const QString kCyrillicText = QStringLiteral("Базовый регистр Ёё");

class LogFile : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder_.isValid()); }

    QString path(const char* name) const { return folder_.filePath(QString::fromLatin1(name)); }
    static QByteArray bytesOf(const QString& file) {
        QFile in(file);
        EXPECT_TRUE(in.open(QIODevice::ReadOnly));
        return in.readAll();
    }
    static void writeBytes(const QString& file, const QByteArray& bytes) {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        ASSERT_EQ(out.write(bytes), bytes.size());
    }
    QStringList folderEntries() const {
        return QDir(folder_.path())
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    QTemporaryDir folder_;
};

struct EncodingCase {
    const char* name;
    QString text;
    QByteArray bytes;
};

class LogFileEncoding : public ::testing::TestWithParam<EncodingCase> {};

TEST_P(LogFileEncoding, WritesWindows1251WithCrLfAfterEveryLineAndNothingElse) {
    EXPECT_EQ(logs::encodeLog(GetParam().text).bytes, GetParam().bytes);
}

TEST_P(LogFileEncoding, ReadsBackTheSameText) {
    EXPECT_EQ(logs::decodeLog(GetParam().bytes).text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LogFileEncoding,
    ::testing::Values(EncodingCase{"EmptyPaneIsAnEmptyFile", QString(), QByteArray()},
                      EncodingCase{"OneEmptyLineIsOneLineBreak", QStringLiteral("\n"),
                                   QByteArray("\r\n\r\n")},
                      EncodingCase{"CyrillicLine", kCyrillicText, kCyrillicBytes + "\r\n"},
                      EncodingCase{"EmptyLinesBetweenRecordsKept",
                                   QStringLiteral("\n Базовый регистр порта : $3F8\n\nDTR 1"),
                                   "\r\n \xC1\xE0\xE7\xEE\xE2\xFB\xE9 \xF0\xE5\xE3\xE8\xF1\xF2\xF0 "
                                   "\xEF\xEE\xF0\xF2\xE0 : $3F8\r\n\r\nDTR 1\r\n"},
                      EncodingCase{"TrailingEmptyLineIsALineOfItsOwn", QStringLiteral("COM1\n"),
                                   QByteArray("COM1\r\n\r\n")}),
    [](const auto& testCase) { return std::string(testCase.param.name); });

TEST(LogFileEncoding, UnrepresentableCharactersBecomeOneQuestionMarkEach) {
    // U+4E2D and U+1F600 (outside the 16-bit plane); the euro sign does exist in Windows-1251.
    const logs::EncodedLog encoded = logs::encodeLog(QStringLiteral("a\u4E2D€\U0001F600b"));
    EXPECT_EQ(encoded.bytes, QByteArray("a?\x88?b\r\n"));
    EXPECT_EQ(encoded.substituted, 2);
}

TEST(LogFileEncoding, UndefinedByteAndNulShowAsReplacementCharacters) {
    const logs::DecodedLog decoded =
        logs::decodeLog(QByteArray("a\x98"
                                   "b\0c\r\n",
                                   7));
    EXPECT_EQ(decoded.text, QStringLiteral("a\uFFFDb\uFFFDc"));
    EXPECT_EQ(decoded.replaced, 2);
}

TEST(LogFileEncoding, LoneLfAndLoneCrEndLinesToo) {
    EXPECT_EQ(logs::decodeLog("one\ntwo\rthree\r\n\r\nfive").text,
              QStringLiteral("one\ntwo\nthree\n\nfive"));
}

TEST_F(LogFile, SavedFileHoldsExactlyTheEncodedBytes) {
    EXPECT_EQ(logs::saveLogFile(path("a.LOG.txt"), kCyrillicText + "\nLSR $60\n"), 0);
    EXPECT_EQ(bytesOf(path("a.LOG.txt")), kCyrillicBytes + "\r\nLSR $60\r\n\r\n");
}

TEST_F(LogFile, LoadingAndSavingAgainGivesTheSameBytes) {
    const QByteArray original = "\r\n" + kCyrillicBytes + "\r\n\r\nRBR $41 65 0 1 0 0 0 0 0 1\r\n";
    writeBytes(path("in.txt"), original);
    const logs::LoadedLog loaded = logs::loadLogFile(path("in.txt"));
    EXPECT_FALSE(loaded.truncated);
    EXPECT_EQ(loaded.replaced, 0);
    logs::saveLogFile(path("out.txt"), loaded.text);
    EXPECT_EQ(bytesOf(path("out.txt")), original);
}

TEST_F(LogFile, SavingOverAnExistingFileReplacesAllOfIt) {
    writeBytes(path("old.txt"), QByteArray(5000, 'x'));
    logs::saveLogFile(path("old.txt"), QStringLiteral("new"));
    EXPECT_EQ(bytesOf(path("old.txt")), QByteArray("new\r\n"));
    EXPECT_EQ(folderEntries(), QStringList{"old.txt"});
}

TEST_F(LogFile, SavingIntoAMissingFolderFailsWithTheFileName) {
    const QString target = path("missing/a.txt");
    try {
        logs::saveLogFile(target, QStringLiteral("x"));
        FAIL() << "the save reported success";
    } catch (const logs::LogFileError& error) {
        EXPECT_EQ(QString::fromStdString(error.what()), "Cannot create file " + target);
    }
    EXPECT_TRUE(folderEntries().isEmpty());
}

TEST_F(LogFile, SavingOntoAFolderFails) {
    ASSERT_TRUE(QDir(folder_.path()).mkdir(QStringLiteral("sub")));
    EXPECT_THROW(logs::saveLogFile(path("sub"), QStringLiteral("x")), logs::LogFileError);
    EXPECT_TRUE(QFileInfo(path("sub")).isDir());
}

// A file-size limit makes the write fail part way, as a full disk does, even for root.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }

private:
    rlimit saved_{};
    void (*previousHandler_)(int) = nullptr;
};

TEST_F(LogFile, WriteFailingPartWayLeavesTheOldFileAndNoPartialFile) {
    const QByteArray old = kCyrillicBytes + "\r\n";
    writeBytes(path("log.txt"), old);
    const QString bigText(200000, u'Ж');
    {
        const FileSizeLimit limit(4096);
        EXPECT_THROW(logs::saveLogFile(path("log.txt"), bigText), logs::LogFileError);
    }
    EXPECT_EQ(bytesOf(path("log.txt")), old);
    EXPECT_EQ(folderEntries(), QStringList{"log.txt"});
}

TEST_F(LogFile, LoadingAMissingFileFailsWithTheFileName) {
    try {
        logs::loadLogFile(path("none.txt"));
        FAIL() << "the load reported success";
    } catch (const logs::LogFileError& error) {
        EXPECT_EQ(QString::fromStdString(error.what()), "Cannot open file " + path("none.txt"));
    }
}

TEST_F(LogFile, LoadingAFolderOrADeviceFails) {
    EXPECT_THROW(logs::loadLogFile(folder_.path()), logs::LogFileError);
    EXPECT_THROW(logs::loadLogFile(QStringLiteral("/dev/zero")), logs::LogFileError);
}

TEST_F(LogFile, LoadingAPipeFailsInsteadOfWaitingForAWriter) {
    ASSERT_EQ(mkfifo(path("pipe").toLocal8Bit().constData(), 0600), 0);
    EXPECT_THROW(logs::loadLogFile(path("pipe")), logs::LogFileError);
}

TEST_F(LogFile, BinaryFileLoadsAsTextWithEveryByteAccountedFor) {
    QByteArray everyByte;
    for (int value = 0; value < 256; ++value) everyByte.append(static_cast<char>(value));
    writeBytes(path("binary.bin"), everyByte);
    const logs::LoadedLog loaded = logs::loadLogFile(path("binary.bin"));
    EXPECT_EQ(loaded.replaced, 2);  // NUL and $98
    EXPECT_EQ(loaded.text.count(QChar(u'\uFFFD')), 2);
    EXPECT_FALSE(loaded.text.contains(QChar(u'\0')));
    EXPECT_TRUE(loaded.text.endsWith(QStringLiteral("юя")));
}

TEST_F(LogFile, HugeFileIsReadUpToTheLastWholeLineWithinTheLimitAndSaysSo) {
    const QByteArray line = "THR $55 85 0 1 0 1 0 1 0 1\r\n";  // 28 bytes
    QFile out(path("huge.txt"));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    const qint64 lines = logs::kLogFileLoadLimit / line.size() + 10;
    for (qint64 index = 0; index < lines; ++index) out.write(line);
    // The rest of the 100 MB as a hole: no time or disk spent on it.
    ASSERT_TRUE(out.resize(100LL * 1024 * 1024));
    out.close();

    const logs::LoadedLog loaded = logs::loadLogFile(path("huge.txt"));
    EXPECT_TRUE(loaded.truncated);
    EXPECT_EQ(loaded.replaced, 0);
    const QStringList loadedLines = loaded.text.split(u'\n');
    const qint64 wholeLines = logs::kLogFileLoadLimit / line.size();
    EXPECT_EQ(loadedLines.first(),
              QStringLiteral("*** Файл показан не весь: первые %1 байт из 104857600 ***")
                  .arg(wholeLines * line.size()));
    EXPECT_EQ(loadedLines.size(), 1 + wholeLines);
    EXPECT_EQ(loadedLines[1], QStringLiteral("THR $55 85 0 1 0 1 0 1 0 1"));
    EXPECT_EQ(loadedLines.last(), QStringLiteral("THR $55 85 0 1 0 1 0 1 0 1"));
}

TEST_F(LogFile, OverlongLinesAreShownAsSeveralLinesOfTheLongestLength) {
    const qsizetype longest = logs::kLongestLoadedLine;
    writeBytes(path("long.txt"), "first\r\n" + QByteArray(2 * longest + 5, 'a') + "\r\n" +
                                     QByteArray(longest, 'b') + "\r\nlast\r\n");
    const logs::LoadedLog loaded = logs::loadLogFile(path("long.txt"));
    EXPECT_EQ(loaded.linesBroken, 1);
    EXPECT_EQ(loaded.text.split(u'\n'),
              QStringList({"first", QString(longest, u'a'), QString(longest, u'a'), "aaaaa",
                           QString(longest, u'b'), "last"}));
}

TEST_F(LogFile, FileOfExactlyTheLimitIsReadWhole) {
    const QByteArray line = "LSR $60 96 0 1\r\n";  // 16 bytes
    writeBytes(path("limit.txt"), line.repeated(logs::kLogFileLoadLimit / line.size()));
    const logs::LoadedLog loaded = logs::loadLogFile(path("limit.txt"));
    EXPECT_FALSE(loaded.truncated);
    EXPECT_EQ(loaded.text.count(u'\n') + 1, logs::kLogFileLoadLimit / line.size());
}

}  // namespace
