// Throughput of the WebSocket relay over loopback with 1400-byte binary messages, each way,
// against an in-process raw peer: the relay sends (one SendFrame per message, then SendFrames
// with batches of waiting messages) while the peer only counts bytes, then the peer sends
// prepared frames while the relay receives whole messages.
// Usage: websocket_relay_benchmark [messages [batch]]   (defaults 200000 and 32)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "support/scripted_peer.h"
#include "tunnel/websocket_protocol.h"
#include "tunnel/websocket_relay.h"

namespace {

using namespace ostrevane;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kMessageSize = 1400;
constexpr std::size_t kClientFrameSize = kMessageSize + 4 + 4;  // 16-bit length form and masking key

void Report(const std::string& direction, std::size_t messages, Clock::duration elapsed) {
    const double seconds = std::chrono::duration<double>(elapsed).count();
    std::printf("%-22s %zu messages of %zu bytes in %.3f s: %.1f MB/s, %.0f messages/s\n", direction.c_str(),
                messages, kMessageSize, seconds, messages * kMessageSize / seconds / 1e6, messages / seconds);
}

// Handshake on the peer's side.
bool AcceptUpgrade(testing::PeerConnection& peer) {
    return !peer.ReadUntil("\r\n\r\n").empty() && peer.SendAll(testing::SwitchingProtocolsResponse());
}

// batch 1: one SendFrame per message; more: SendFrames with that many messages at a time.
bool MeasureSend(std::size_t messages, std::size_t batch) {
    std::size_t received = 0;
    Clock::time_point done;
    testing::ScriptedPeer peer([&](testing::PeerConnection& connection) {
        if (!AcceptUpgrade(connection)) {
            return;
        }
        std::vector<char> buffer(1 << 20);
        const std::size_t expected = messages * kClientFrameSize;
        while (received < expected) {
            const int count = recv(connection.socket(), buffer.data(), static_cast<int>(buffer.size()), 0);
            if (count < 1) {
                break;
            }
            received += static_cast<std::size_t>(count);
        }
        done = Clock::now();
    });
    WebSocketRelay relay(peer.Url());
    relay.Connect();
    const std::vector<std::vector<std::uint8_t>> packets(batch, testing::PatternBytes(kMessageSize));
    const Clock::time_point start = Clock::now();
    for (std::size_t i = 0; i < messages; i += batch) {
        const std::size_t count = std::min(batch, messages - i);
        const bool sent = batch == 1 ? relay.SendFrame(websocket::kBinary, packets[0])
                                     : relay.SendFrames(websocket::kBinary, std::span(packets.data(), count));
        if (!sent) {
            std::printf("send failed after %zu messages\n", i);
            return false;
        }
    }
    peer.Join();
    if (received != messages * kClientFrameSize) {
        std::printf("peer received %zu bytes, expected %zu\n", received, messages * kClientFrameSize);
        return false;
    }
    Report(batch == 1 ? "send, one per write" : "send, " + std::to_string(batch) + " per write", messages,
           done - start);
    return true;
}

bool MeasureReceive(std::size_t messages) {
    const std::vector<std::uint8_t> frame = testing::ServerFrame(0x82, testing::PatternBytes(kMessageSize));
    testing::ScriptedPeer peer([&](testing::PeerConnection& connection) {
        if (!AcceptUpgrade(connection)) {
            return;
        }
        // Frames go out in batches of 1000 per write.
        std::vector<std::uint8_t> batch;
        for (int i = 0; i < 1000; ++i) {
            batch.insert(batch.end(), frame.begin(), frame.end());
        }
        for (std::size_t sent = 0; sent < messages; sent += 1000) {
            const std::size_t count = std::min<std::size_t>(1000, messages - sent);
            if (!connection.SendAll(std::span(batch.data(), count * frame.size()))) {
                return;
            }
        }
        connection.WaitForEnd();
    });
    auto relay = std::make_shared<WebSocketRelay>(peer.Url());
    relay->Connect();
    std::vector<std::uint8_t> message;
    const Clock::time_point start = Clock::now();
    for (std::size_t i = 0; i < messages; ++i) {
        if (!relay->ReceiveMessage(message) || message.size() != kMessageSize) {
            std::printf("receive failed after %zu messages\n", i);
            return false;
        }
    }
    const Clock::duration elapsed = Clock::now() - start;
    relay->Close();
    peer.Join();
    Report("receive", messages, elapsed);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t messages = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 200000;
    const std::size_t batch = argc > 2 ? std::max<std::size_t>(2, std::strtoull(argv[2], nullptr, 10)) : 32;
    const bool ok = MeasureSend(messages, 1) && MeasureSend(messages, batch) && MeasureReceive(messages);
    return ok ? 0 : 1;
}
