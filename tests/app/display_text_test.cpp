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

}  // namespace
}  // namespace ostrevane
