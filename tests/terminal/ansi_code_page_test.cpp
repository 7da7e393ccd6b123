#include <gtest/gtest.h>

#include "terminal/ansi_code_page.h"

namespace {

using terminal::AnsiCodePage;

TEST(AnsiCodePage, BytesReadAsWindows1251Characters) {
    const AnsiCodePage& page = AnsiCodePage::instance();
    EXPECT_EQ(page.toChar('A'), QChar(u'A'));
    EXPECT_EQ(page.toChar(0xC0), QChar(u'А')) << "Cyrillic capital A";
    EXPECT_EQ(page.toChar(0xFF), QChar(u'я'));
    EXPECT_EQ(page.toChar(0xB8), QChar(u'ё'));
    EXPECT_EQ(page.toChar(0x98), QChar(QChar::ReplacementCharacter)) << "the undefined byte";
}

TEST(AnsiCodePage, EncodeIsTheInverseAndSubstitutesWhatTheCodePageLacks) {
    const AnsiCodePage& page = AnsiCodePage::instance();
    EXPECT_EQ(page.encode(QStringLiteral("AT Z")), QByteArray("AT Z"));
    EXPECT_EQ(page.encode(QStringLiteral("Ая")), QByteArray("\xC0\xFF"));
    EXPECT_EQ(page.encode(QStringLiteral("a€b")), QByteArray("a\x88"
                                                             "b"));
    EXPECT_EQ(page.encode(QStringLiteral("x中y")), QByteArray("x?y"));
}

}  // namespace
