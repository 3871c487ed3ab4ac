// Packets per second and round-trip time through the whole tunnel: the stand-in driver's harness
// sends UDP packets as a local program would, the engine translates and relays them to the
// reference service's simulated site, which echoes them, and the harness collects the injected
// replies. Measured for 64- and 1400-byte packets over the UDP path and over the WebSocket.
// Run against a service: tools/reference_service/run_with_service.sh -- tools/wine-run engine_benchmark.exe [packets]
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "settings/json_value.h"
#include "settings/text_utils.h"
#include "support/divert_files_choice.h"
#include "support/divert_harness.h"
#include "support/packet_builder.h"
#include "support/service_client.h"
#include "tunnel/tunnel_engine.h"

namespace {

using namespace ostrevane;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr std::uint32_t kLocal = testing::Ip(192, 168, 77, 10);

std::vector<std::uint8_t> UdpPacket(const TunnelEngine& engine, std::size_t totalLength, std::uint16_t sourcePort) {
    std::uint32_t destination = testing::Ip(10, 20, 0, 7);
    for (const RouteMapping& mapping : engine.routeMappings()) {
        if ((destination & PrefixMask(mapping.targetPrefix)) == mapping.targetNetwork) {
            destination = mapping.mappingNetwork | (destination & ~PrefixMask(mapping.targetPrefix));
        }
    }
    testing::PacketFields fields;
    fields.protocol = 17;
    fields.source = kLocal;
    fields.destination = destination;
    fields.sourcePort = sourcePort;
    fields.destinationPort = 9;
    fields.payload.assign(totalLength - 28, 0x42);
    return testing::BuildPacket(fields);
}

struct Grant {
    std::wstring connectionId;
    std::wstring address;
    std::vector<std::wstring> routes;
};

Grant RequestGrant() {
    const JsonValue data = testing::ServiceCall(
        "POST", "/api/connections/request",
        R"({"deviceNumber":"SITE-0001","deviceSecret":"OVK-DEMO-7F3A-2C91-5E08","targetNetwork":"ALL","engineerId":"ENG-00000001","clientPublicKey":""})");
    Grant grant{Utf8ToWide(testing::JsonText(data, L"connectionId")), Utf8ToWide(testing::JsonText(data, L"assignedAddress")), {}};
    if (const auto* routes = JsonFindAs<JsonArray>(data, L"routes")) {
        for (const JsonValue& route : *routes) {
            if (const auto* text = std::get_if<std::wstring>(&route)) {
                grant.routes.push_back(*text);
            }
        }
    }
    return grant;
}

void Measure(const char* path, std::size_t size, int packets, testing::DivertHarness& harness, const TunnelEngine& engine) {
    // Round trips one at a time.
    std::vector<double> rtts;
    const int sequential = std::min(packets, 2000);
    for (int i = 0; i < sequential; ++i) {
        const auto packet = UdpPacket(engine, size, static_cast<std::uint16_t>(20000 + i % 1000));
        const auto start = Clock::now();
        harness.SendPacket(packet, 4, 0);
        if (!harness.NextInjection(2s)) {
            std::printf("  lost a reply in the sequential run\n");
            continue;
        }
        rtts.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
    }
    std::sort(rtts.begin(), rtts.end());
    // Pipelined: up to 64 packets in flight, topped up in bursts once half have come back, as a
    // busy program's packets reach the driver several at a time.
    constexpr int kWindow = 64;
    const TunnelCounterValues before = engine.counters();
    int sent = 0;
    int received = 0;
    const auto start = Clock::now();
    while (received < packets) {
        std::vector<std::vector<std::uint8_t>> refill;
        const bool topUp = sent - received <= kWindow / 2;
        while (topUp && sent < packets && sent - received < kWindow && refill.size() * (size + 10) < 60000 - size) {
            refill.push_back(UdpPacket(engine, size, static_cast<std::uint16_t>(30000 + sent % 4000)));
            ++sent;
        }
        if (refill.size() == 1) {
            harness.SendPacket(refill.front(), 4, 0);
        } else if (!refill.empty()) {
            harness.SendPackets(refill, 4, 0);
        }
        if (!harness.NextInjection(2s)) {
            std::printf("  %d replies missing after a 2 s wait; stopping this run\n", sent - received);
            break;
        }
        ++received;
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (rtts.empty()) {
        return;
    }
    std::printf("%-9s %5zu bytes: round trip median %.0f us, p99 %.0f us; pipelined %d/%d replies, %.0f packets/s, %.1f MB/s each way\n",
                path, size, rtts[rtts.size() / 2], rtts[rtts.size() * 99 / 100], received, packets, received / seconds,
                received * static_cast<double>(size) / seconds / 1e6);
    const TunnelCounterValues spent = CountersSince(engine.counters(), before);
    std::printf("          platform calls per packet: %.2f outbound, %.2f inbound (%s)\n",
                spent.CallsPerOutboundPacket(), spent.CallsPerInboundPacket(), DescribeCounters(spent).c_str());
}

}  // namespace

int main(int argc, char** argv) {
    const int packets = argc > 1 ? std::atoi(argv[1]) : 20000;
    try {
        testing::UseDivertLibraryIn(testing::DivertStandinDirectory());
        for (const bool overUdp : {true, false}) {
            testing::ServiceCall("POST", "/admin/reset", "{}");
            if (!overUdp) {
                testing::ServiceCall("POST", "/admin/fault", R"({"name":"ignore-hellos"})");
            }
            testing::DivertHarness harness;
            TunnelEngineOptions options;
            options.runServiceCommands = false;
            TunnelEngine engine(options);
            const Grant grant = RequestGrant();
            engine.Start(testing::ServiceUrl(), grant.connectionId, L"ENG-00000001", grant.address, grant.routes);
            if (!harness.WaitForCaptureHandle(3s) || engine.udpReady() != overUdp) {
                std::printf("the tunnel did not come up as expected\n");
                return 1;
            }
            for (const std::size_t size : {std::size_t{64}, std::size_t{1400}}) {
                Measure(overUdp && size <= 1350 ? "UDP path" : "WebSocket", size, packets, harness, engine);
            }
            engine.Stop();
        }
    } catch (const std::exception& error) {
        std::printf("benchmark failed: %s\n", error.what());
        return 1;
    }
    return 0;
}
