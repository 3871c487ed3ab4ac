#include "control/http_transport.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/winsock.h"

namespace ostrevane {
namespace {

TEST(CrackUrl, SplitsHostPortPathAndQuery) {
    const CrackedUrl plain = CrackUrl(L"http://127.0.0.1:18650");
    EXPECT_EQ(plain.host, L"127.0.0.1");
    EXPECT_EQ(plain.port, 18650);
    EXPECT_EQ(plain.path, L"/") << "a URL of scheme, host and port requests the root";
    EXPECT_FALSE(plain.secure);
    const CrackedUrl withQuery = CrackUrl(L"http://host:8080/api/relay/client/a%20b?engineerId=ENG-1");
    EXPECT_EQ(withQuery.path, L"/api/relay/client/a%20b?engineerId=ENG-1");
}

TEST(CrackUrl, UsesTheSchemeDefaultPorts) {
    const CrackedUrl secure = CrackUrl(L"https://control.example/api");
    EXPECT_TRUE(secure.secure);
    EXPECT_EQ(secure.port, 443);
    EXPECT_EQ(CrackUrl(L"http://control.example/").port, 80);
}

TEST(CrackUrl, ReportsAnUncrackableUrl) {
    try {
        CrackUrl(L"not a url");
        FAIL() << "no error";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()).rfind("WinHttpCrackUrl", 0), 0u) << error.what();
    }
}

}  // namespace
}  // namespace ostrevane

namespace ostrevane {
namespace {

TEST(SendHttpRequest, ARefusedConnectionSaysWhyInWinHttpsOwnWords) {
    WinsockSession winsock;
    ASSERT_EQ(winsock.Start(), 0);
    const UniqueSocket bound(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));  // bound, never listening: refuses
    ASSERT_TRUE(bound);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(bound.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    int length = sizeof(address);
    ASSERT_EQ(getsockname(bound.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);
    try {
        SendHttpRequest(L"GET", L"http://127.0.0.1:" + std::to_wstring(ntohs(address.sin_port)) + L"/", L"");
        FAIL() << "no exception";
    } catch (const std::runtime_error& error) {
        const std::string text = error.what();
        EXPECT_EQ(text.find("WinHttpReceiveResponse: "), 0u) << text;
        EXPECT_EQ(text.find("failed."), std::string::npos) << text;
    }
}

}  // namespace
}  // namespace ostrevane
