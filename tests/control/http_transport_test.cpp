#include "control/http_transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>

#include "platform/winsock.h"
#include "support/scripted_peer.h"

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

// A server that takes the request and never answers. On Windows closing the request handle ends
// the synchronous wait at once; Wine lets it run into its time-out (2 s here), so only the failure
// is checked for it. No later request goes out until requests are allowed again.
TEST(CancelHttpRequests, FailsARequestUnderWayAndRefusesLaterOnes) {
    std::promise<void> requested;
    testing::ScriptedPeer peer([&](testing::PeerConnection& connection) {
        if (!connection.ReadUntil("\r\n\r\n").empty()) {
            requested.set_value();
            connection.WaitForEnd();
        }
    });
    const std::wstring base = L"http://127.0.0.1:" + std::to_wstring(peer.port());
    auto request = std::async(std::launch::async, [&] {
        try {
            SendHttpRequest(L"GET", base + L"/api/slow", L"", HttpTimeouts{2000, 2000, 2000, 2000});
        } catch (const std::runtime_error& error) {
            return std::string(error.what());
        }
        return std::string("answered");
    });
    ASSERT_EQ(requested.get_future().wait_for(std::chrono::seconds(10)), std::future_status::ready);
    CancelHttpRequests();
    ASSERT_EQ(request.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    const std::string failure = request.get();
    EXPECT_EQ(failure.rfind("WinHttpReceiveResponse", 0), 0u) << failure;
    try {
        SendHttpRequest(L"GET", base + L"/api/later", L"");
        ADD_FAILURE() << "a request went out after the cancel";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "HTTP request cancelled: the client is closing.");
    }
    EXPECT_FALSE(DownloadToFile(base + L"/file", L"C:\\ostrevane-cancelled-download")) << "downloads too";
    AllowHttpRequestsAgain();
    peer.Join();
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
