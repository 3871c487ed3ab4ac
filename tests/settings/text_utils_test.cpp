#include "settings/text_utils.h"

#include <gtest/gtest.h>

#include <random>

namespace ostrevane {
namespace {

TEST(NormalizeServerUrl, TrimsAddsSchemeAndDropsTrailingSlashes) {
    EXPECT_EQ(NormalizeServerUrl(L"  10.0.0.5:8080/ "), L"http://10.0.0.5:8080");
    EXPECT_EQ(NormalizeServerUrl(L"https://host//"), L"https://host");
    EXPECT_EQ(NormalizeServerUrl(L"http:\\\\host\\api\\"), L"http://host/api");
    EXPECT_EQ(NormalizeServerUrl(L"ab"), L"http://ab");
    EXPECT_EQ(NormalizeServerUrl(L"///"), L"http:");
    EXPECT_EQ(NormalizeServerUrl(L"ws://relay:1"), L"ws://relay:1");
}

TEST(NormalizeServerUrl, EmptyOrBlankGivesTheDefault) {
    EXPECT_EQ(NormalizeServerUrl(L""), kDefaultServerUrl);
    EXPECT_EQ(NormalizeServerUrl(L" \t\r\n"), kDefaultServerUrl);
}

TEST(NormalizeServerUrl, DefaultIsPlainHttpWithPortAndNoTrailingSlash) {
    const std::wstring url = kDefaultServerUrl;
    EXPECT_EQ(url.rfind(L"http://", 0), 0u);
    EXPECT_NE(url.find(L':', 7), std::wstring::npos);
    EXPECT_NE(url.back(), L'/');
    EXPECT_EQ(NormalizeServerUrl(url), url);
}

TEST(TrimWhitespace, RemovesOnlyOuterWhiteSpace) {
    EXPECT_EQ(TrimWhitespace(L"\t a b \r\n"), L"a b");
    EXPECT_EQ(TrimWhitespace(L"   "), L"");
    EXPECT_EQ(TrimWhitespace(L""), L"");
    EXPECT_EQ(TrimWhitespace(L"x"), L"x");
}

TEST(SplitNetworkList, CutsAtCommasSemicolonsAndWhiteSpace) {
    const auto items = SplitNetworkList(L"10.1.0.0/16, 10.2.0.0/16;;\r\n 10.3.0.0/16 ");
    EXPECT_EQ(items, (std::vector<std::wstring>{L"10.1.0.0/16", L"10.2.0.0/16", L"10.3.0.0/16"}));
    EXPECT_TRUE(SplitNetworkList(L",;\r\n;,\n").empty());
    EXPECT_EQ(SplitNetworkList(L"a a"), (std::vector<std::wstring>{L"a", L"a"}));
}

TEST(Utf8Conversion, RoundTripsChineseAndReplacesMalformedBytes) {
    const std::string chinese = "\xE5\xB7\xA5\xE7\xA8\x8B\xE5\xB8\x88";  // 工程师
    EXPECT_EQ(Utf8ToWide(chinese), L"\u5DE5\u7A0B\u5E08");
    EXPECT_EQ(WideToUtf8(Utf8ToWide(chinese)), chinese);
    EXPECT_EQ(Utf8ToWide(std::string("a\xFF" "b")), L"a\uFFFDb");
    EXPECT_EQ(Utf8ToWide(std::string("a\0b", 3)), std::wstring(L"a\0b", 3));
    EXPECT_EQ(WideToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xEF\xBF\xBD");
    EXPECT_EQ(Utf8ToWide(""), L"");
    EXPECT_EQ(WideToUtf8(L""), "");
}

TEST(PercentEncode, EncodesEverythingButUnreservedCharacters) {
    EXPECT_EQ(PercentEncode(L"a b/\u00E9"), L"a%20b%2F%C3%A9");
    EXPECT_EQ(PercentEncode(L"\u5DE5"), L"%E5%B7%A5");
    EXPECT_EQ(PercentEncode(L"AZaz09-_.~"), L"AZaz09-_.~");
    EXPECT_EQ(PercentEncode(L"?&=+"), L"%3F%26%3D%2B");
}

TEST(TextUtilities, SurviveArbitraryInput) {
    std::mt19937 random(20261208);
    for (int round = 0; round < 3000; ++round) {
        std::wstring text(random() % 64, L'\0');
        for (wchar_t& c : text) {
            c = static_cast<wchar_t>(random() % 3 == 0 ? random() % 128 : random() % 0x10000);
        }
        const std::wstring normalized = NormalizeServerUrl(text);
        EXPECT_FALSE(normalized.empty());
        EXPECT_NE(normalized.back(), L'/');
        for (const std::wstring& item : SplitNetworkList(text)) {
            EXPECT_FALSE(item.empty());
            EXPECT_EQ(item.find_first_of(L",;\r\n "), std::wstring::npos);
        }
        const std::wstring encoded = PercentEncode(text);
        for (wchar_t c : encoded) {
            EXPECT_LT(c, 128);
        }
        EXPECT_EQ(TrimWhitespace(TrimWhitespace(text)), TrimWhitespace(text));
    }
}

TEST(LowerCaseText, EveryCharacterLoweredNothingElseChanged) {
    EXPECT_EQ(LowerCaseText(L"RustDesk - 318 ABC"), L"rustdesk - 318 abc");
    EXPECT_EQ(LowerCaseText(L"C:\\ProgramData\\Ostrevane"), L"c:\\programdata\\ostrevane");
    EXPECT_EQ(LowerCaseText(L"中文-X"), L"中文-x");
    EXPECT_EQ(LowerCaseText(L""), L"");
}

}  // namespace
}  // namespace ostrevane
