#include "tunnel/tunnel_counters.h"

#include <cstdio>

namespace ostrevane {
namespace {

double PerPacket(std::uint64_t calls, std::uint64_t packets) {
    return packets == 0 ? 0.0 : static_cast<double>(calls) / static_cast<double>(packets);
}

std::uint64_t Load(const std::atomic<std::uint64_t>& counter) { return counter.load(std::memory_order_relaxed); }

}  // namespace

double TunnelCounterValues::CallsPerOutboundPacket() const {
    return PerPacket(divertReceives + relaySends + udpSends, packetsCaptured);
}

double TunnelCounterValues::CallsPerInboundPacket() const {
    return PerPacket(relayReceives + udpReceives + divertSends, packetsInjected);
}

std::string DescribeCounters(const TunnelCounterValues& v) {
    char text[400];
    std::snprintf(text, sizeof(text),
                  "captured=%llu injected=%llu dropped=%llu divertRecv=%llu divertSend=%llu relaySend=%llu "
                  "relayRecv=%llu udpSend=%llu udpRecv=%llu callsPerOutbound=%.2f callsPerInbound=%.2f",
                  static_cast<unsigned long long>(v.packetsCaptured), static_cast<unsigned long long>(v.packetsInjected),
                  static_cast<unsigned long long>(v.packetsDropped), static_cast<unsigned long long>(v.divertReceives),
                  static_cast<unsigned long long>(v.divertSends), static_cast<unsigned long long>(v.relaySends),
                  static_cast<unsigned long long>(v.relayReceives), static_cast<unsigned long long>(v.udpSends),
                  static_cast<unsigned long long>(v.udpReceives), v.CallsPerOutboundPacket(),
                  v.CallsPerInboundPacket());
    return text;
}

TunnelCounterValues CountersSince(const TunnelCounterValues& now, const TunnelCounterValues& before) {
    return {now.packetsCaptured - before.packetsCaptured, now.packetsInjected - before.packetsInjected,
            now.packetsDropped - before.packetsDropped,   now.divertReceives - before.divertReceives,
            now.divertSends - before.divertSends,         now.relaySends - before.relaySends,
            now.relayReceives - before.relayReceives,     now.udpSends - before.udpSends,
            now.udpReceives - before.udpReceives};
}

TunnelCounterValues TunnelCounters::Snapshot() const noexcept {
    return {Load(packetsCaptured), Load(packetsInjected), Load(packetsDropped), Load(divertReceives),
            Load(divertSends),     Load(relaySends),      Load(relayReceives),  Load(udpSends),
            Load(udpReceives)};
}

}  // namespace ostrevane
