#include "app/display_text.h"

#include <gtest/gtest.h>

#include <string>

namespace ostrevane {
namespace {

TEST(ShortenForDisplay, KeepsTextUpToTheMaximumWhole) {
    const std::wstring exactly24(24, L'D');
    EXPECT_EQ(ShortenForDisplay(exactly24, 24), exactly24);
    EXPECT_EQ(ShortenForDisplay(L"SITE-0001", 24), L"SITE-0001");
    EXPECT_EQ(ShortenForDisplay(L"", 24), L"");
}

TEST(ShortenForDisplay, CutsLongerTextToMaximumMinusThreeAndDots) {
    const std::wstring text25 = L"ABCDEFGHIJKLMNOPQRSTUVWXY";
    ASSERT_EQ(text25.size(), 25u);
    EXPECT_EQ(ShortenForDisplay(text25, 24), L"ABCDEFGHIJKLMNOPQRSTU...");
    EXPECT_EQ(ShortenForDisplay(text25, 24).size(), 24u);
    const std::wstring chinese(31, L'网');
    EXPECT_EQ(ShortenForDisplay(chinese, 30), std::wstring(27, L'网') + L"...");
}

TEST(ShortenForDisplay, ShowsOnlyTheFirstLine) {
    EXPECT_EQ(ShortenForDisplay(L"192.168.1.0/24\r\n10.20.0.0/16", 30), L"192.168.1.0/24");
    EXPECT_EQ(ShortenForDisplay(L"192.168.1.0/24\n10.20.0.0/16", 30), L"192.168.1.0/24");
    EXPECT_EQ(ShortenForDisplay(L"192.168.1.0/24\r10.20.0.0/16", 30), L"192.168.1.0/24");
    const std::wstring longFirst = L"0123456789012345678901234567890123\r\nshort";
    EXPECT_EQ(ShortenForDisplay(longFirst, 30), L"012345678901234567890123456...");
}

TEST(ShortenForDisplay, TrimsTheWholeTextBeforeTakingTheFirstLine) {
    EXPECT_EQ(ShortenForDisplay(L"  \r\n 10.20.0.0/16\r\n192.168.1.0/24 ", 30), L"10.20.0.0/16");
    EXPECT_EQ(ShortenForDisplay(L"\t100.64.0.2  ", 28), L"100.64.0.2");
    // Blanks before the first line break stay: only the whole text is trimmed.
    EXPECT_EQ(ShortenForDisplay(L"a  \r\nb", 30), L"a  ");
}

TEST(ShortenForDisplay, CountsTheLengthAfterTrimming) {
    EXPECT_EQ(ShortenForDisplay(L"   " + std::wstring(24, L'x') + L"   ", 24), std::wstring(24, L'x'));
}

TEST(ShortenForDisplay, TinyMaximumGivesOnlyTheDots) {
    EXPECT_EQ(ShortenForDisplay(L"abcdef", 3), L"...");
    EXPECT_EQ(ShortenForDisplay(L"abcdef", 0), L"...");
    EXPECT_EQ(ShortenForDisplay(L"abcdef", 4), L"a...");
}

TEST(StatusLineOf, IsTheLastNonBlankLineTrimmed) {
    EXPECT_EQ(StatusLineOf(L"软件隧道未运行。\r\n连接授权成功：c1\r\n工程师端软件隧道已启动：c1"), L"工程师端软件隧道已启动：c1");
    EXPECT_EQ(StatusLineOf(L"Error: WinHttpSendRequest: 无法连接。\r\n"), L"Error: WinHttpSendRequest: 无法连接。")
        << "a system text's trailing line break is not the outcome";
    EXPECT_EQ(StatusLineOf(L"a\n b \r\n\r\n  \r\n"), L"b");
    EXPECT_EQ(StatusLineOf(L"single"), L"single");
    EXPECT_EQ(StatusLineOf(L""), L"");
    EXPECT_EQ(StatusLineOf(L"\r\n \r\n"), L"");
}

}  // namespace
}  // namespace ostrevane
