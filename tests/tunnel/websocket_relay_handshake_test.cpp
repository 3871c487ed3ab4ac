// The relay's connection and upgrade handshake against a scripted raw peer on loopback.
#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

#include "support/relay_connect.h"
#include "support/scripted_peer.h"
#include "tunnel/websocket_relay.h"

namespace ostrevane {
namespace {

using testing::PeerConnection;
using testing::ScriptedPeer;

const std::wstring kRelayPath = L"/api/relay/client/c%201?engineerId=ENG-1";

using testing::ConnectError;
std::string ExpectedRequest(const std::string& hostHeader) {
    return "GET /api/relay/client/c%201?engineerId=ENG-1 HTTP/1.1\r\n"
           "Host: " + hostHeader + "\r\n"
           "Upgrade: websocket\r\n"
           "Connection: Upgrade\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
           "Sec-WebSocket-Version: 13\r\n"
           "\r\n";
}

// Reads the request, answers with `response`, and waits (up to `patience` ms) for the client to close.
ScriptedPeer::Script Answer(std::string response, std::string* request, bool* clientClosed,
                            unsigned patience = testing::kPeerWaitMs) {
    return [=](PeerConnection& peer) {
        *request = peer.ReadUntil("\r\n\r\n");
        peer.SendAll(response);
        *clientClosed = peer.WaitForEnd(nullptr, patience);
    };
}

TEST(RelayHandshake, SendsTheFixedRequestNamingTheNonDefaultPort) {
    std::string request;
    bool closed = false;
    ScriptedPeer peer(Answer(testing::SwitchingProtocolsResponse(), &request, &closed));
    {
        WebSocketRelay relay(peer.Url(kRelayPath));
        ASSERT_EQ(ConnectError(relay), "connected");
        EXPECT_TRUE(relay.IsConnected());
    }
    peer.Join();
    EXPECT_EQ(request, ExpectedRequest("127.0.0.1:" + std::to_string(peer.port())));
    EXPECT_TRUE(closed) << "destroying the relay closes the connection";
}

TEST(RelayHandshake, LeavesPort80OutOfTheHostHeader) {
    std::string request;
    bool closed = false;
    std::unique_ptr<ScriptedPeer> peer;
    try {
        peer = std::make_unique<ScriptedPeer>(Answer(testing::SwitchingProtocolsResponse(), &request, &closed), 80);
    } catch (const std::runtime_error& error) {
        GTEST_SKIP() << "127.0.0.1:80 cannot be listened on here (" << error.what()
                     << "); the request builder's port-80 rule is checked on its own";
    }
    {
        WebSocketRelay relay(L"ws://127.0.0.1" + kRelayPath);
        ASSERT_EQ(ConnectError(relay), "connected");
    }
    peer->Join();
    EXPECT_EQ(request, ExpectedRequest("127.0.0.1"));
}

TEST(RelayHandshake, ReportsARefusedUpgradeWithItsStatusLine) {
    std::string request;
    bool closed = false;
    ScriptedPeer peer(Answer("HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n", &request, &closed));
    WebSocketRelay relay(peer.Url(kRelayPath));
    EXPECT_EQ(ConnectError(relay), "WebSocket HTTP upgrade failed, status 403: HTTP/1.1 403 Forbidden");
    EXPECT_FALSE(relay.IsConnected());
    peer.Join();
    EXPECT_TRUE(closed) << "a failed connect closes its socket at once";
}

TEST(RelayHandshake, GivesUpOnAnAnswerWithoutEmptyLineAfter16385Bytes) {
    std::string request;
    bool closed = false;
    // Exactly 16385 bytes: a client that wanted one more would wait 8 s and fail differently.
    std::string answer = "HTTP/1.1 101 Switching Protocols\r\n";
    answer += std::string(16385 - answer.size(), 'x');
    // The client reads the answer a byte at a time, which under Wine is a call into its server
    // per byte: on a busy machine that can take more than the peer's usual 15 s.
    ScriptedPeer peer(Answer(answer, &request, &closed, 120000));
    WebSocketRelay relay(peer.Url(kRelayPath));
    EXPECT_EQ(ConnectError(relay), "WebSocket handshake response was too large.");
    peer.Join();
    EXPECT_TRUE(closed);
}

TEST(RelayHandshake, GivesUpAfterEightSecondsOfSilence) {
    ScriptedPeer peer([](PeerConnection& connection) {
        connection.ReadUntil("\r\n\r\n");
        connection.WaitForEnd();
    });
    WebSocketRelay relay(peer.Url(kRelayPath));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ConnectError(relay), "WebSocket handshake receive failed, error 10060");  // WSAETIMEDOUT
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(7500)) << "the handshake waits 8 s for the service";
    EXPECT_LT(waited, std::chrono::seconds(14));
}

TEST(RelayHandshake, ReportsAServiceThatHangsUpBeforeAnswering) {
    ScriptedPeer peer([](PeerConnection& connection) { connection.ReadUntil("\r\n\r\n"); });
    WebSocketRelay relay(peer.Url(kRelayPath));
    EXPECT_TRUE(ConnectError(relay).starts_with("WebSocket handshake receive failed, error "));
}

TEST(RelayHandshake, LeavesFrameBytesBehindTheAnswerForTheFrameReader) {
    ScriptedPeer peer([](PeerConnection& connection) {
        connection.ReadUntil("\r\n\r\n");
        const std::vector<std::uint8_t> packet{0x45, 0x00, 0x00, 0x14};
        std::string both = testing::SwitchingProtocolsResponse();
        for (std::uint8_t b : testing::ServerFrame(0x82, packet)) {
            both.push_back(static_cast<char>(b));
        }
        connection.SendAll(both);  // one write: answer and first frame arrive together
        connection.WaitForEnd();
    });
    WebSocketRelay relay(peer.Url(kRelayPath));
    ASSERT_EQ(ConnectError(relay), "connected");
    std::vector<std::uint8_t> message;
    ASSERT_TRUE(relay.ReceiveMessage(message));
    EXPECT_EQ(message, (std::vector<std::uint8_t>{0x45, 0x00, 0x00, 0x14}));
}

TEST(RelayConnect, OpensWssWithATlsHelloNamingTheHostAndNeverTheUpgradeInClear) {
    std::vector<std::uint8_t> hello;
    ScriptedPeer peer([&hello](PeerConnection& connection) {
        std::vector<std::uint8_t> header;
        if (connection.ReadExactly(5, header) && header[0] == 0x16) {  // a TLS handshake record
            connection.ReadExactly(std::size_t{header[3]} << 8 | header[4], hello);
        }
    });  // then closes without an answer
    WebSocketRelay relay(L"wss://localhost:" + std::to_wstring(peer.port()) + kRelayPath);
    EXPECT_EQ(ConnectError(relay), "TLS handshake with localhost failed: the server closed the connection.");
    peer.Join();
    const std::string text(hello.begin(), hello.end());
    EXPECT_NE(text.find("localhost"), std::string::npos) << "the host name goes out for the server to choose by";
    EXPECT_EQ(text.find("GET "), std::string::npos);
    EXPECT_FALSE(relay.IsConnected());
}

TEST(RelayConnect, NamesTheAddressAndErrorOfAFailedTcpConnect) {
    const std::uint16_t port = testing::UnusedLoopbackPort();
    WebSocketRelay relay(L"ws://127.0.0.1:" + std::to_wstring(port) + kRelayPath);
    EXPECT_EQ(ConnectError(relay),
              "Relay TCP connect failed to 127.0.0.1:" + std::to_string(port) + ", error 10061");  // WSAECONNREFUSED
    EXPECT_FALSE(relay.IsConnected());
}

TEST(RelayConnect, ReportsAnUnparsableUrl) {
    WebSocketRelay relay(L"ftp://127.0.0.1/x");
    EXPECT_EQ(ConnectError(relay), "WinHttpCrackUrl failed for URL: ftp://127.0.0.1/x");
}

}  // namespace
}  // namespace ostrevane
