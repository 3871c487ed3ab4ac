// Frames on a connected relay against a scripted raw peer on loopback: what the client writes
// byte for byte, how it reads what the service sends, and how it is closed from outside.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "support/scripted_peer.h"
#include "tunnel/websocket_protocol.h"
#include "tunnel/websocket_relay.h"

namespace ostrevane {
namespace {

using testing::ClientFrame;
using testing::PatternBytes;
using testing::PeerConnection;
using testing::ScriptedPeer;
using testing::ServerFrame;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kPromptly = std::chrono::seconds(5);

// A peer that accepts the upgrade and then runs `rest`.
ScriptedPeer::Script Upgraded(std::function<void(PeerConnection&)> rest) {
    return [rest = std::move(rest)](PeerConnection& peer) {
        if (peer.ReadUntil("\r\n\r\n").empty() || !peer.SendAll(testing::SwitchingProtocolsResponse())) {
            return;
        }
        rest(peer);
    };
}

std::shared_ptr<WebSocketRelay> Connected(const ScriptedPeer& peer) {
    auto relay = std::make_shared<WebSocketRelay>(peer.Url());
    relay->Connect();
    return relay;
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(RelaySendFrame, WritesMaskedBinaryFramesWithEveryLengthForm) {
    const std::size_t lengths[] = {100, 125, 126, 65535, 65536, 1 << 20};
    const Bytes headers[] = {
        {0x82, 0xE4}, {0x82, 0xFD}, {0x82, 0xFE, 0x00, 0x7E}, {0x82, 0xFE, 0xFF, 0xFF},
        {0x82, 0xFF, 0, 0, 0, 0, 0, 0x01, 0, 0}, {0x82, 0xFF, 0, 0, 0, 0, 0, 0x10, 0, 0},
    };
    std::vector<ClientFrame> frames(std::size(lengths));
    ScriptedPeer peer(Upgraded([&](PeerConnection& connection) {
        for (ClientFrame& frame : frames) {
            if (!connection.ReadClientFrame(frame)) {
                return;
            }
        }
    }));
    auto relay = Connected(peer);
    std::vector<std::pair<DWORD, DWORD>> ticks;
    for (std::size_t i = 0; i < std::size(lengths); ++i) {
        const DWORD before = GetTickCount();
        ASSERT_TRUE(relay->SendFrame(websocket::kBinary, PatternBytes(lengths[i], static_cast<std::uint8_t>(i))));
        ticks.emplace_back(before, GetTickCount());
    }
    peer.Join();
    for (std::size_t i = 0; i < std::size(lengths); ++i) {
        const ClientFrame& frame = frames[i];
        const Bytes& header = headers[i];
        ASSERT_EQ(frame.header.size(), header.size() + 4) << lengths[i];
        EXPECT_EQ(Bytes(frame.header.begin(), frame.header.end() - 4), header) << lengths[i];
        EXPECT_EQ(frame.payload, PatternBytes(lengths[i], static_cast<std::uint8_t>(i))) << lengths[i];
        // The key is the frame's number times the golden ratio constant, mixed with the tick count.
        const std::uint32_t tick = frame.maskingKey ^ static_cast<std::uint32_t>((i + 1) * 0x9E3779B9ull);
        EXPECT_GE(tick, ticks[i].first) << "frame " << i + 1;
        EXPECT_LE(tick, ticks[i].second) << "frame " << i + 1;
    }
}

TEST(RelaySendFrames, WritesEachPayloadAsItsOwnFrameWithItsOwnKey) {
    std::vector<ClientFrame> frames(3);
    ScriptedPeer peer(Upgraded([&](PeerConnection& connection) {
        for (ClientFrame& frame : frames) {
            if (!connection.ReadClientFrame(frame)) {
                return;
            }
        }
    }));
    auto relay = Connected(peer);
    ASSERT_TRUE(relay->SendFrame(websocket::kBinary, Text("first")));
    const std::vector<Bytes> batch{PatternBytes(1400, 1), PatternBytes(70000, 2)};
    const DWORD before = GetTickCount();
    ASSERT_TRUE(relay->SendFrames(websocket::kBinary, batch));
    const DWORD after = GetTickCount();
    peer.Join();
    EXPECT_EQ(frames[0].payload, Text("first"));
    for (std::size_t i = 0; i < batch.size(); ++i) {
        const ClientFrame& frame = frames[i + 1];
        EXPECT_TRUE(frame.fin);
        EXPECT_EQ(frame.opcode, websocket::kBinary);
        EXPECT_EQ(frame.payload, batch[i]);
        const std::uint32_t tick = frame.maskingKey ^ static_cast<std::uint32_t>((i + 2) * 0x9E3779B9ull);
        EXPECT_GE(tick, before) << "the frame counter goes on across the batch";
        EXPECT_LE(tick, after);
    }
}

TEST(RelaySendFrame, KeepsFramesOfTwoThreadsApart) {
    constexpr int kPerThread = 300;
    int intact = 0;
    ScriptedPeer peer(Upgraded([&](PeerConnection& connection) {
        ClientFrame frame;
        for (int i = 0; i < 2 * kPerThread && connection.ReadClientFrame(frame); ++i) {
            // Each thread sends payloads filled with its own byte at its own length.
            const bool fromFirst = frame.payload == Bytes(1400, 0x11);
            const bool fromSecond = frame.payload == Bytes(70000, 0x22);
            intact += (frame.opcode == websocket::kBinary && (fromFirst || fromSecond)) ? 1 : 0;
        }
    }));
    auto relay = Connected(peer);
    auto sendMany = [&](std::uint8_t fill, std::size_t length) {
        const Bytes payload(length, fill);
        int sent = 0;
        for (int i = 0; i < kPerThread; ++i) {
            sent += relay->SendFrame(websocket::kBinary, payload) ? 1 : 0;
        }
        return sent;
    };
    auto first = std::async(std::launch::async, sendMany, 0x11, 1400);
    auto second = std::async(std::launch::async, sendMany, 0x22, 70000);
    EXPECT_EQ(first.get(), kPerThread);
    EXPECT_EQ(second.get(), kPerThread);
    peer.Join();
    EXPECT_EQ(intact, 2 * kPerThread);
}

TEST(RelayReceive, AnswersAPingWithAMaskedPongOfTheSamePayload) {
    ClientFrame pong;
    ScriptedPeer peer(Upgraded([&](PeerConnection& connection) {
        connection.SendAll(ServerFrame(0x89, Text("ab")));
        connection.SendAll(ServerFrame(0x82, Text("packet")));
        connection.ReadClientFrame(pong);
    }));
    auto relay = Connected(peer);
    Bytes message;
    ASSERT_TRUE(relay->ReceiveMessage(message));
    EXPECT_EQ(message, Text("packet"));
    peer.Join();
    ASSERT_EQ(pong.header.size(), 6u);
    EXPECT_EQ(pong.header[0], 0x8A);
    EXPECT_EQ(pong.header[1], 0x82);
    EXPECT_EQ(pong.payload, Text("ab"));
}

TEST(RelayReceive, DeliversAFragmentedMessageWhole) {
    const Bytes packet = PatternBytes(3000);
    ScriptedPeer peer(Upgraded([&](PeerConnection& connection) {
        connection.SendAll(ServerFrame(0x02, Bytes(packet.begin(), packet.begin() + 1000)));
        connection.SendAll(ServerFrame(0x00, Bytes(packet.begin() + 1000, packet.begin() + 1001)));
        connection.SendAll(ServerFrame(0x89, Text("p")));
        connection.SendAll(ServerFrame(0x80, Bytes(packet.begin() + 1001, packet.end())));
        connection.WaitForEnd();
    }));
    auto relay = Connected(peer);
    Bytes message;
    ASSERT_TRUE(relay->ReceiveMessage(message));
    EXPECT_EQ(message, packet);
}

TEST(RelayReceive, EndsAtACloseFrameWithoutAnsweringIt) {
    Bytes afterClose;
    bool ended = false;
    ScriptedPeer peer(Upgraded([&](PeerConnection& connection) {
        connection.SendAll(ServerFrame(0x88, Bytes{0x03, 0xE8}));
        ended = connection.WaitForEnd(&afterClose);
    }));
    auto relay = Connected(peer);
    Bytes message;
    EXPECT_FALSE(relay->ReceiveMessage(message));
    relay->Close();
    peer.Join();
    EXPECT_TRUE(ended);
    EXPECT_TRUE(afterClose.empty()) << "no close frame or anything else goes back";
}

TEST(RelayReceive, ReadsManyFramesArrivingInOneSegment) {
    Bytes burst;
    for (int i = 0; i < 500; ++i) {
        const Bytes frame = ServerFrame(i == 250 ? 0x89 : 0x82, PatternBytes(100 + i, static_cast<std::uint8_t>(i)));
        burst.insert(burst.end(), frame.begin(), frame.end());
    }
    ClientFrame pong;
    ScriptedPeer peer(Upgraded([&](PeerConnection& connection) {
        connection.SendAll(burst);
        connection.ReadClientFrame(pong);
        connection.WaitForEnd();
    }));
    auto relay = Connected(peer);
    Bytes message;
    for (int i = 0; i < 500; ++i) {
        if (i == 250) {
            continue;  // the ping
        }
        ASSERT_TRUE(relay->ReceiveMessage(message)) << i;
        ASSERT_EQ(message, PatternBytes(100 + i, static_cast<std::uint8_t>(i))) << i;
    }
    relay->Close();
    peer.Join();
    EXPECT_EQ(pong.opcode, websocket::kPong);
    EXPECT_EQ(pong.payload, PatternBytes(350, 250));
}

TEST(RelayReceive, AcceptsAFrameOfExactly4MiB) {
    const Bytes packet = PatternBytes(4u << 20);
    ScriptedPeer peer(Upgraded([&](PeerConnection& connection) {
        connection.SendAll(ServerFrame(0x82, packet));
        connection.WaitForEnd();
    }));
    auto relay = Connected(peer);
    Bytes message;
    ASSERT_TRUE(relay->ReceiveMessage(message));
    EXPECT_EQ(message, packet);
}

TEST(RelayReceive, RefusesOneByteMoreWithoutWaitingForThePayload) {
    bool clientEndedFirst = false;
    ScriptedPeer peer(Upgraded([&](PeerConnection& connection) {
        // Only the header: a client that tried to read the payload would wait until the peer gives up.
        connection.SendAll(testing::ServerFrameHeader(0x82, (4u << 20) + 1));
        clientEndedFirst = connection.WaitForEnd();
    }));
    auto relay = Connected(peer);
    Bytes message;
    EXPECT_FALSE(relay->ReceiveMessage(message));
    relay->Close();
    peer.Join();
    EXPECT_TRUE(clientEndedFirst);
}

TEST(RelayReceive, TreatsAnEmptyBinaryMessageAsAFailure) {
    ScriptedPeer peer(Upgraded([](PeerConnection& connection) {
        connection.SendAll(ServerFrame(0x82, {}));
        connection.WaitForEnd();
    }));
    auto relay = Connected(peer);
    Bytes message;
    EXPECT_FALSE(relay->ReceiveMessage(message));
}

TEST(RelayReceive, WaitsLongerThanTheHandshakeTimeoutOncePacketsFlow) {
    ScriptedPeer peer(Upgraded([](PeerConnection& connection) {
        std::this_thread::sleep_for(std::chrono::seconds(9));
        connection.SendAll(ServerFrame(0x82, Text("late")));
        connection.WaitForEnd();
    }));
    auto relay = Connected(peer);
    Bytes message;
    ASSERT_TRUE(relay->ReceiveMessage(message));
    EXPECT_EQ(message, Text("late"));
}

TEST(RelayClose, EndsAReceiveBlockedOnAnotherThread) {
    bool peerSawEnd = false;
    ScriptedPeer peer(Upgraded([&](PeerConnection& connection) { peerSawEnd = connection.WaitForEnd(); }));
    auto relay = Connected(peer);
    auto receive = std::async(std::launch::async, [shared = relay] {
        Bytes message;
        return shared->ReceiveMessage(message);
    });
    EXPECT_EQ(receive.wait_for(std::chrono::milliseconds(300)), std::future_status::timeout)
        << "the receive must block while the service is silent";
    relay->Close();
    ASSERT_EQ(receive.wait_for(kPromptly), std::future_status::ready);
    EXPECT_FALSE(receive.get());
    EXPECT_FALSE(relay->IsConnected());
    Bytes message;
    EXPECT_FALSE(relay->ReceiveMessage(message));
    EXPECT_FALSE(relay->SendFrame(websocket::kBinary, Text("x")));
    peer.Join();
    EXPECT_TRUE(peerSawEnd);
}

TEST(RelayClose, AnUnconnectedRelayNeitherSendsNorReceives) {
    WebSocketRelay relay(L"ws://127.0.0.1:1/x");
    Bytes message{1, 2, 3};
    EXPECT_FALSE(relay.IsConnected());
    EXPECT_FALSE(relay.ReceiveMessage(message));
    EXPECT_FALSE(relay.SendFrame(websocket::kBinary, message));
    relay.Close();
    relay.Close();
}

}  // namespace
}  // namespace ostrevane
