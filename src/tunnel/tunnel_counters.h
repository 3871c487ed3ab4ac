// What the tunnel's threads count while packets move: packets captured, injected and lost, and
// the platform calls made for them (WinDivert receives and sends, relay and UDP socket calls).
// Relaxed atomics: each count is exact on its own, a snapshot of all of them is only near-exact.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace ostrevane {

struct TunnelCounterValues {
    std::uint64_t packetsCaptured = 0;  // diverted packets taken from the capture handle
    std::uint64_t packetsInjected = 0;  // replies handed back to the network stack
    std::uint64_t packetsDropped = 0;   // lost: queue overflow, no route or flow, failed send
    std::uint64_t divertReceives = 0;   // WinDivertRecv / WinDivertRecvEx calls
    std::uint64_t divertSends = 0;      // WinDivertSend calls (injections and put-backs)
    std::uint64_t relaySends = 0;       // send() calls on the relay's socket
    std::uint64_t relayReceives = 0;    // recv() calls on the relay's socket
    std::uint64_t udpSends = 0;         // data datagrams sent on the UDP path
    std::uint64_t udpReceives = 0;      // recvfrom() calls of the UDP path's receive thread

    // Calls made for outbound packets (capture, relay and UDP sends) per packet captured, and
    // for inbound ones (relay and UDP receives, injections) per packet injected; 0 without packets.
    double CallsPerOutboundPacket() const;
    double CallsPerInboundPacket() const;
};

// "captured=N injected=N dropped=N divertRecv=N divertSend=N relaySend=N relayRecv=N udpSend=N
// udpRecv=N callsPerOutbound=X.XX callsPerInbound=X.XX": one line for logs and benchmarks.
std::string DescribeCounters(const TunnelCounterValues& values);

// The difference of two snapshots, for what happened between them.
TunnelCounterValues CountersSince(const TunnelCounterValues& now, const TunnelCounterValues& before);

class TunnelCounters {
public:
    std::atomic<std::uint64_t> packetsCaptured{0};
    std::atomic<std::uint64_t> packetsInjected{0};
    std::atomic<std::uint64_t> packetsDropped{0};
    std::atomic<std::uint64_t> divertReceives{0};
    std::atomic<std::uint64_t> divertSends{0};
    std::atomic<std::uint64_t> relaySends{0};
    std::atomic<std::uint64_t> relayReceives{0};
    std::atomic<std::uint64_t> udpSends{0};
    std::atomic<std::uint64_t> udpReceives{0};

    static void Add(std::atomic<std::uint64_t>& counter, std::uint64_t count = 1) noexcept {
        counter.fetch_add(count, std::memory_order_relaxed);
    }
    TunnelCounterValues Snapshot() const noexcept;
};

}  // namespace ostrevane
