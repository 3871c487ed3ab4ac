// Cost per packet of the tunnel's translation, checksums included: outbound as the capture
// thread runs it (copy to an exact-length buffer, validation, translation, queueing) and inbound
// as the relay threads run it (validation, translation, injection into a send that does nothing),
// for small and large packets and small and large connection tables. Prints nanoseconds per
// packet, the best of several rounds. Run it by hand under Wine; it is not a test.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "support/genuine_divert.h"
#include "support/packet_builder.h"
#include "tunnel/capture_loop.h"
#include "tunnel/translation.h"

namespace ostrevane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using testing::Ip;

constexpr std::uint32_t kTunnelAddress = Ip(100, 64, 0, 7);
constexpr int kRounds = 5;

long long gInjected = 0;

BOOL CountingSend(HANDLE, const VOID*, UINT, UINT* sentLength, const WINDIVERT_ADDRESS*) {
    ++gInjected;
    *sentLength = 0;
    return TRUE;
}

struct Workload {
    std::vector<Bytes> outbound;  // one packet per flow, as a program sends it
    std::vector<Bytes> replies;   // the site's answer to each, as the relay delivers it
};

// TCP segments of exactly packetSize bytes from distinct local ports to hosts of a remapped network.
Workload MakeWorkload(std::size_t packetSize, std::size_t flows) {
    Workload workload;
    for (std::size_t i = 0; i < flows; ++i) {
        testing::PacketFields fields;
        fields.protocol = 6;
        fields.source = Ip(192, 168, 1, 50);
        fields.destination = Ip(100, 80, 0, 1 + i % 250);
        fields.sourcePort = static_cast<std::uint16_t>(10000 + i);
        fields.destinationPort = 443;
        fields.payload.assign(packetSize - 40, static_cast<std::uint8_t>(i));
        workload.outbound.push_back(testing::BuildPacket(fields));
        testing::PacketFields reply = testing::ReplyTo(fields);
        reply.source = Ip(192, 168, 1, 1 + i % 250);
        reply.destination = kTunnelAddress;
        workload.replies.push_back(testing::BuildPacket(reply));
    }
    return workload;
}

void Configure(TunnelDataPath& path, const testing::GenuineDivert& genuine) {
    path.api = std::make_unique<DivertApi>();
    path.api->calcChecksums = genuine.checksumFunction();
    path.api->send = &CountingSend;
    path.injectionHandle = reinterpret_cast<HANDLE>(0x5151);
    path.assignedAddress = kTunnelAddress;
    path.mappings = {{Ip(192, 168, 1, 0), 24, Ip(100, 80, 0, 0), 24, true},
                     {Ip(10, 20, 0, 0), 16, Ip(10, 20, 0, 0), 16, false},
                     {Ip(172, 16, 0, 0), 16, Ip(100, 81, 0, 0), 16, true}};
}

void TranslateOut(TunnelDataPath& path, const Bytes& sent) {
    Bytes packet(sent.begin(), sent.end());  // the capture loop's one copy per packet
    const auto view = ValidatePacket(packet);
    WINDIVERT_ADDRESS address{};
    address.Outbound = 1;
    address.Network.IfIdx = 4;
    TranslateOutbound(path, std::move(packet), *view, address);
}

double OutboundNanoseconds(TunnelDataPath& path, const Workload& workload, std::size_t packets) {
    double best = 1e30;
    for (int round = 0; round < kRounds; ++round) {
        const auto start = Clock::now();
        for (std::size_t i = 0; i < packets; ++i) {
            TranslateOut(path, workload.outbound[i % workload.outbound.size()]);
        }
        const std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
        best = std::min(best, elapsed.count() / static_cast<double>(packets));
    }
    return best;
}

double InboundNanoseconds(TunnelDataPath& path, const Workload& workload, std::size_t packets) {
    double best = 1e30;
    Bytes scratch;
    scratch.reserve(65535);
    for (int round = 0; round < kRounds; ++round) {
        const auto start = Clock::now();
        for (std::size_t i = 0; i < packets; ++i) {
            const Bytes& reply = workload.replies[i % workload.replies.size()];
            scratch.assign(reply.begin(), reply.end());  // translation works in place: start fresh
            DispatchInbound(path, scratch);
        }
        const std::chrono::duration<double, std::nano> elapsed = Clock::now() - start;
        best = std::min(best, elapsed.count() / static_cast<double>(packets));
    }
    return best;
}

int Run() {
    testing::GenuineDivert genuine;
    if (!genuine.loaded()) {
        std::fprintf(stderr, "the genuine WinDivert.dll could not be loaded\n");
        return 1;
    }
    std::printf("%-10s %-8s %14s %14s\n", "packet", "flows", "outbound ns", "inbound ns");
    bool allUnderTarget = true;
    for (std::size_t packetSize : {std::size_t{60}, std::size_t{1400}}) {
        for (std::size_t flows : {std::size_t{10}, std::size_t{10000}}) {
            TunnelDataPath path;
            Configure(path, genuine);
            const Workload workload = MakeWorkload(packetSize, flows);
            for (const Bytes& packet : workload.outbound) {
                TranslateOut(path, packet);  // fills the connection table
            }
            path.sendQueue.Clear();
            if (path.flows.size() != flows) {
                std::fprintf(stderr, "expected %zu flows, found %zu\n", flows, path.flows.size());
                return 1;
            }
            const std::size_t packets = packetSize < 1000 ? 200000 : 100000;
            const double out = OutboundNanoseconds(path, workload, packets);
            gInjected = 0;
            const double in = InboundNanoseconds(path, workload, packets);
            if (gInjected != static_cast<long long>(packets) * kRounds) {
                std::fprintf(stderr, "only %lld of the replies were injected\n", gInjected);
                return 1;
            }
            std::printf("%-10zu %-8zu %14.0f %14.0f\n", packetSize, flows, out, in);
            allUnderTarget = allUnderTarget && out < 1000 && in < 1000;
            path.injectionHandle = INVALID_HANDLE_VALUE;  // nothing to close: the handle is made up
        }
    }
    std::printf("target under 1000 ns per packet: %s\n", allUnderTarget ? "met" : "missed");
    return 0;
}

}  // namespace
}  // namespace ostrevane

int main() { return ostrevane::Run(); }
