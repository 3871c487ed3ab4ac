// Closing a relay from another thread while it connects or receives: the call in progress ends
// at once, through the socket's cancelled I/O. On Windows a shutdown alone does not end a receive
// already in progress; Wine wakes it anyway, so the test watches the cancel call itself.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>

#include "support/scripted_peer.h"
#include "tunnel/websocket_relay.h"

namespace ostrevane {
namespace {

using testing::PeerConnection;
using testing::ScriptedPeer;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kPromptly = std::chrono::seconds(5);

std::atomic<SOCKET> cancelledSocket{INVALID_SOCKET};
std::atomic<int> cancelCalls{0};

BOOL RecordingCancel(HANDLE handle, LPOVERLAPPED overlapped) {
    cancelledSocket = reinterpret_cast<SOCKET>(handle);
    ++cancelCalls;
    return CancelIoEx(handle, overlapped);
}

class RelayAbort : public ::testing::Test {
protected:
    void SetUp() override {
        cancelledSocket = INVALID_SOCKET;
        cancelCalls = 0;
        SetSocketCancelForTesting(&RecordingCancel);
    }
    void TearDown() override { SetSocketCancelForTesting(nullptr); }
};

TEST_F(RelayAbort, CloseCancelsTheIoOfAReceiveThatWaitsForEver) {
    ScriptedPeer peer([&](PeerConnection& connection) {
        if (!connection.ReadUntil("\r\n\r\n").empty() && connection.SendAll(testing::SwitchingProtocolsResponse())) {
            connection.WaitForEnd();  // then silence until the client goes
        }
    });
    auto relay = std::make_shared<WebSocketRelay>(peer.Url());
    relay->Connect();
    auto receive = std::async(std::launch::async, [relay] {
        Bytes message;
        return relay->ReceiveMessage(message);
    });
    EXPECT_EQ(receive.wait_for(std::chrono::milliseconds(200)), std::future_status::timeout) << "the peer is silent";
    relay->Close();
    ASSERT_EQ(receive.wait_for(kPromptly), std::future_status::ready) << "the receive outlived Close";
    EXPECT_FALSE(receive.get());
    EXPECT_EQ(cancelCalls.load(), 1);
    EXPECT_NE(cancelledSocket.load(), INVALID_SOCKET) << "the relay's own socket had its I/O cancelled";
    relay.reset();
    peer.Join();
}

TEST_F(RelayAbort, CloseEndsAConnectWhoseHandshakeNeverComes) {
    std::promise<void> requested;
    ScriptedPeer peer([&](PeerConnection& connection) {
        if (!connection.ReadUntil("\r\n\r\n").empty()) {
            requested.set_value();
            connection.WaitForEnd();  // accepts the connection, never answers it
        }
    });
    auto relay = std::make_shared<WebSocketRelay>(peer.Url());
    auto connect = std::async(std::launch::async, [relay] {
        try {
            relay->Connect();
        } catch (const std::runtime_error& error) {
            return std::string(error.what());
        }
        return std::string("connected");
    });
    ASSERT_EQ(requested.get_future().wait_for(kPromptly), std::future_status::ready);
    relay->Close();
    // The handshake's own time-out is 8 s and would give another text.
    ASSERT_EQ(connect.wait_for(kPromptly), std::future_status::ready) << "the connect outlived Close";
    EXPECT_EQ(connect.get(), "Relay connection was cancelled.");
    EXPECT_GE(cancelCalls.load(), 1);
    EXPECT_FALSE(relay->IsConnected());
    relay.reset();
    peer.Join();
}

TEST_F(RelayAbort, AClosedRelayNeverConnects) {
    WebSocketRelay relay(L"ws://127.0.0.1:" + std::to_wstring(testing::UnusedLoopbackPort()) + L"/relay");
    relay.Close();
    try {
        relay.Connect();
        ADD_FAILURE() << "connected";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Relay connection was cancelled.");
    }
}

}  // namespace
}  // namespace ostrevane
