#include "tunnel/relay_url.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace ostrevane {
namespace {

const std::wstring kRelayPath = L"/api/relay/client/c%201?engineerId=ENG-1";

std::string ParseError(const std::wstring& url) {
    try {
        ParseRelayUrl(url);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}

TEST(BuildRelayUrl, KeepsANonDefaultPortAndThePathWithItsQuery) {
    EXPECT_EQ(BuildRelayUrl(L"http://10.0.0.5:8080", kRelayPath),
              L"ws://10.0.0.5:8080/api/relay/client/c%201?engineerId=ENG-1");
}

TEST(BuildRelayUrl, LeavesOutTheDefaultPort) {
    EXPECT_EQ(BuildRelayUrl(L"http://10.0.0.5:80", kRelayPath), L"ws://10.0.0.5" + kRelayPath);
    EXPECT_EQ(BuildRelayUrl(L"http://10.0.0.5", kRelayPath), L"ws://10.0.0.5" + kRelayPath);
}

TEST(BuildRelayUrl, TurnsHttpsIntoWss) {
    EXPECT_EQ(BuildRelayUrl(L"https://10.0.0.5", kRelayPath), L"wss://10.0.0.5" + kRelayPath);
    EXPECT_EQ(BuildRelayUrl(L"https://10.0.0.5:80", kRelayPath), L"wss://10.0.0.5:80" + kRelayPath);
    EXPECT_EQ(BuildRelayUrl(L"https://10.0.0.5:443/", kRelayPath), L"wss://10.0.0.5" + kRelayPath);
}

TEST(BuildRelayUrl, CleansTheBaseUrlFirst) {
    EXPECT_EQ(BuildRelayUrl(L"  relay.example:9000//  ", kRelayPath), L"ws://relay.example:9000" + kRelayPath);
    EXPECT_EQ(BuildRelayUrl(L"", kRelayPath), L"ws://127.0.0.1:18650" + kRelayPath) << "the built-in default";
    EXPECT_EQ(BuildRelayUrl(L" \t ", kRelayPath), L"ws://127.0.0.1:18650" + kRelayPath);
    EXPECT_EQ(BuildRelayUrl(L"http://10.0.0.5:8080/", kRelayPath), L"ws://10.0.0.5:8080" + kRelayPath);
}

TEST(BuildRelayUrl, ReportsABaseUrlThatIsNoUrl) {
    EXPECT_THROW(BuildRelayUrl(L"ftp://10.0.0.5", kRelayPath), std::runtime_error);
}

TEST(ParseRelayUrl, SplitsAWsUrl) {
    const CrackedUrl parts = ParseRelayUrl(L"ws://10.0.0.5:8080" + kRelayPath);
    EXPECT_EQ(parts.host, L"10.0.0.5");
    EXPECT_EQ(parts.path, kRelayPath);
    EXPECT_EQ(parts.port, 8080);
    EXPECT_FALSE(parts.secure);
}

TEST(ParseRelayUrl, GivesTheSchemeDefaultPorts) {
    EXPECT_EQ(ParseRelayUrl(L"ws://h/x").port, 80);
    const CrackedUrl secure = ParseRelayUrl(L"wss://h/x");
    EXPECT_EQ(secure.port, 443);
    EXPECT_TRUE(secure.secure);
    EXPECT_TRUE(ParseRelayUrl(L"https://h:8443/x").secure);
    EXPECT_FALSE(ParseRelayUrl(L"http://h/x").secure);
}

TEST(ParseRelayUrl, UsesTheRootForAnEmptyPath) {
    EXPECT_EQ(ParseRelayUrl(L"ws://h:81").path, L"/");
    EXPECT_EQ(ParseRelayUrl(L"ws://h:81/").path, L"/");
    EXPECT_EQ(ParseRelayUrl(L"ws://h:81/?a=b").path, L"/?a=b");
}

TEST(ParseRelayUrl, ReplacesOnlyALowerCaseWsScheme) {
    EXPECT_EQ(ParseError(L"WS://h/x"), "WinHttpCrackUrl failed for URL: WS://h/x");
}

TEST(ParseRelayUrl, ReportsTheUrlAsGivenInUtf8) {
    EXPECT_EQ(ParseError(L"ftp://h/x"), "WinHttpCrackUrl failed for URL: ftp://h/x");
    EXPECT_EQ(ParseError(L"no url \u00e9"), "WinHttpCrackUrl failed for URL: no url \xc3\xa9");
}

}  // namespace
}  // namespace ostrevane
