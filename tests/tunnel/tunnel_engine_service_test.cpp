// The whole tunnel in one process: the stand-in driver's harness plays the engineer's programs,
// the reference service plays the relay and the site.
#include <gtest/gtest.h>

#include <future>
#include <set>
#include <stdexcept>

#include "settings/text_utils.h"
#include "support/divert_files_choice.h"
#include "support/engine_fixture.h"
#include "support/packet_checksum.h"
#include "support/process_footprint.h"

namespace ostrevane::testing {
namespace {

using namespace std::chrono_literals;

class TunnelEngineTest : public EngineFixture {
protected:
    // Sends a packet from a local program and returns what the tunnel injects back.
    std::optional<HarnessInjection> RoundTrip(const PacketFields& request, std::uint32_t interfaceIndex) {
        EXPECT_TRUE(harness_->SendPacket(BuildPacket(request), interfaceIndex, 2));
        return harness_->NextInjection(5s);
    }
    void ExpectReplyTo(const PacketFields& request, const std::optional<HarnessInjection>& reply,
                       std::uint32_t interfaceIndex) {
        ASSERT_TRUE(reply) << "no reply was injected";
        EXPECT_FALSE(reply->outbound);
        EXPECT_EQ(reply->interfaceIndex, interfaceIndex);
        EXPECT_EQ(reply->subInterfaceIndex, 2u);
        EXPECT_EQ(ReadAddress(reply->packet, 12), request.destination) << "source as the program addressed it";
        EXPECT_EQ(ReadAddress(reply->packet, 16), request.source) << "destination is the program's own address";
        EXPECT_EQ(ChecksumProblems(reply->packet), "");
    }
    std::string StartError(TunnelEngine& engine, const std::wstring& url, const std::wstring& address,
                           const std::vector<std::wstring>& routes) {
        try {
            engine.Start(url, grant_.connectionId, L"ENG-10000001", address, routes);
        } catch (const std::runtime_error& error) {
            return error.what();
        }
        return "no error";
    }
};

TEST_F(TunnelEngineTest, CarriesPingAndUdpToTheSiteAndBack) {
    TunnelEngine engine(FastOptions());
    EXPECT_EQ(StartOnGrant(engine), L"工程师端软件隧道已启动：" + grant_.connectionId);
    EXPECT_TRUE(engine.running());
    EXPECT_TRUE(engine.relayConnected());
    ASSERT_TRUE(harness_->WaitForCaptureHandle(2s));

    PacketFields ping;
    ping.protocol = 1;
    ping.source = kLocalSource;
    ping.destination = LocalAddressFor(engine, Ip(10, 20, 0, 5));
    ping.sourcePort = 0x4242;
    ping.destinationPort = 1;
    ping.payload = {1, 2, 3, 4, 5};
    ExpectReplyTo(ping, RoundTrip(ping, 5), 5);

    PacketFields udp;
    udp.protocol = 17;
    udp.source = kLocalSource;
    udp.destination = LocalAddressFor(engine, Ip(10, 20, 3, 9));
    udp.sourcePort = 50000;
    udp.destinationPort = 7;
    udp.payload = std::vector<std::uint8_t>(300, 0x61);
    const auto reply = RoundTrip(udp, 9);
    ExpectReplyTo(udp, reply, 9);
    ASSERT_TRUE(reply);
    EXPECT_EQ(ReadPort(reply->packet, 0), 7);
    EXPECT_EQ(ReadPort(reply->packet, 2), 50000);
    EXPECT_EQ(engine.flowCount(), 2u);

    const auto opens = harness_->Opens();
    ASSERT_EQ(opens.size(), 2u);
    EXPECT_EQ(opens[0].filter, WideToUtf8(engine.filterText()));
    EXPECT_EQ(opens[0].priority, -300);
    EXPECT_EQ(opens[1].filter, "false");
    EXPECT_EQ(opens[1].flags, 8u);
    EXPECT_EQ(engine.Stop(), L"软件隧道已停止。");
    EXPECT_FALSE(engine.running());
    // The stand-in reports each close to the harness on its own; the last comes at the end of the stop.
    EXPECT_TRUE(WaitUntil([&] { return harness_->Closes().size() == 2; }, 2s)) << harness_->Closes().size();
}

TEST_F(TunnelEngineTest, PacketsCapturedTogetherAreTakenInOneReceiveAndCounted) {
    TunnelEngine engine(FastOptions());
    StartOnGrant(engine);
    ASSERT_TRUE(harness_->WaitForCaptureHandle(2s));
    const TunnelCounterValues before = engine.counters();
    std::vector<std::vector<std::uint8_t>> pings;
    for (int i = 0; i < 20; ++i) {
        PacketFields ping;
        ping.protocol = 1;
        ping.source = kLocalSource;
        ping.destination = LocalAddressFor(engine, Ip(10, 20, 0, 5));
        ping.sourcePort = static_cast<std::uint16_t>(0x5000 + i);
        ping.destinationPort = 1;
        ping.payload = std::vector<std::uint8_t>(1000, static_cast<std::uint8_t>(i));
        pings.push_back(BuildPacket(ping));
    }
    ASSERT_TRUE(harness_->SendPackets(pings, 5, 2));
    std::set<std::uint16_t> answered;
    for (int i = 0; i < 20; ++i) {
        const auto reply = harness_->NextInjection(5s);
        ASSERT_TRUE(reply) << "reply " << i;
        answered.insert(ReadPort(reply->packet, 4));  // the echo identifier
    }
    EXPECT_EQ(answered.size(), 20u);
    const TunnelCounterValues spent = CountersSince(engine.counters(), before);
    EXPECT_EQ(spent.packetsCaptured, 20u);
    EXPECT_EQ(spent.packetsInjected, 20u);
    EXPECT_EQ(spent.packetsDropped, 0u);
    EXPECT_LE(spent.divertReceives, 2u) << "one receive for the batch, and the one that waits for more";
    EXPECT_EQ(spent.divertSends, 20u);
    EXPECT_GE(spent.relaySends, 1u);
    EXPECT_LE(spent.relaySends, 20u) << "never more than one send per packet";
    EXPECT_GE(spent.relayReceives, 1u);
    engine.Stop();
}

TEST_F(TunnelEngineTest, ReachesARemappedSiteNetworkThroughItsMappingNetwork) {
    TunnelEngine engine(FastOptions());
    // 10.20.0.0/16 lies inside 10.0.0.0/8, so it must be reached through 100.80.0.0/16.
    StartOnGrant(engine, {L"10.20.0.0/16", L"10.0.0.0/8"});
    ASSERT_EQ(engine.routeMappings().size(), 2u);
    const RouteMapping& remapped = engine.routeMappings()[1];
    EXPECT_TRUE(remapped.remapped);
    EXPECT_EQ(remapped.targetNetwork, Ip(10, 20, 0, 0));
    EXPECT_EQ(remapped.mappingNetwork & 0xFFF00000u, Ip(100, 80, 0, 0));
    ASSERT_TRUE(harness_->WaitForCaptureHandle(2s));

    PacketFields ping;
    ping.protocol = 1;
    ping.source = kLocalSource;
    ping.destination = remapped.mappingNetwork | 0x0105;  // the site's 10.20.1.5
    ping.sourcePort = 7;
    ping.destinationPort = 1;
    ExpectReplyTo(ping, RoundTrip(ping, 3), 3);
    const auto packets = ServicePackets();
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets.front().verdict, "icmp-echo") << "the site saw the real address and answered";
}

TEST_F(TunnelEngineTest, StartFailuresLeaveTheEngineStopped) {
    TunnelEngine engine(FastOptions());
    const std::wstring url = ServiceUrl();
    EXPECT_EQ(StartError(engine, url, L"abc", grant_.routes), "Invalid assigned tunnel address.");
    EXPECT_EQ(StartError(engine, url, grant_.assignedAddress, {L"10.1.2.3", L"10.0.0.0/33", L"ALL"}),
              "No valid target routes were configured.");
    EXPECT_EQ(StartError(engine, url, grant_.assignedAddress, {L"10.0.0.0/8", L"10.0.0.0/8"}),
              "No available NAT mapping network was found in 100.80.0.0/12.");

    testing::UseDivertLibraryIn(std::wstring(OSTREVANE_BINARY_DIR_W) + L"\\fixtures\\empty");
    EXPECT_EQ(StartError(engine, url, grant_.assignedAddress, grant_.routes),
              "WinDivert.dll was not found in the runtime cache.");
    testing::UseDivertLibraryIn(std::wstring(OSTREVANE_BINARY_DIR_W) + L"\\fixtures\\partial_divert");
    EXPECT_EQ(StartError(engine, url, grant_.assignedAddress, grant_.routes), "WinDivert.dll is missing required exports.");
    testing::UseDivertLibraryIn(DivertStandinDirectory());

    const std::string refused = StartError(engine, L"http://127.0.0.1:9", grant_.assignedAddress, grant_.routes);
    EXPECT_EQ(refused.rfind("Relay TCP connect failed to 127.0.0.1:9, error ", 0), 0u) << refused;
    EXPECT_TRUE(harness_->Opens().empty()) << "no divert handle may be opened without a relay";

    harness_->RefuseOpens(true);
    const std::string openFailed = StartError(engine, url, grant_.assignedAddress, grant_.routes);
    EXPECT_EQ(openFailed, "WinDivertOpen failed for filter: " + WideToUtf8(engine.filterText()));
    EXPECT_FALSE(engine.running());
    EXPECT_FALSE(engine.relayConnected());
    EXPECT_FALSE(engine.udpThreadsRunning());
    EXPECT_EQ(engine.Stop(), L"软件隧道未运行。");
    EXPECT_EQ(GetModuleHandleW(L"WinDivert.dll"), nullptr) << "a stopped engine holds no library";
}

TEST_F(TunnelEngineTest, StopIsHarmlessWhenNothingRuns) {
    TunnelEngine engine(FastOptions());
    EXPECT_EQ(engine.Stop(), L"软件隧道未运行。");
    EXPECT_EQ(engine.Stop(), L"软件隧道未运行。");
    EXPECT_FALSE(engine.running());
}

TEST_F(TunnelEngineTest, StopRunsTheDriverServiceCleanUpEveryTime) {
    TunnelEngine engine;  // default options: the four service commands run hidden and end
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(engine.Stop(), L"软件隧道未运行。");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 21s) << "each command waits at most 5 s";
}

TEST_F(TunnelEngineTest, RepeatedStartsAndStopsLeaveNothingBehind) {
    TunnelEngine engine(FastOptions());
    StartOnGrant(engine);
    StartOnGrant(engine);  // a second start tears the first tunnel down completely
    EXPECT_TRUE(engine.running());
    engine.Stop();
    const std::size_t handlesBefore = MeasureProcessFootprint().handles;
    for (int cycle = 0; cycle < 50; ++cycle) {
        StartOnGrant(engine);
        ASSERT_TRUE(engine.running()) << "cycle " << cycle;
        engine.Stop();
        ASSERT_FALSE(engine.udpThreadsRunning());
    }
    const std::size_t handlesAfter = MeasureProcessFootprint().handles;
    EXPECT_LE(handlesAfter, handlesBefore + 10) << "handles leak across start/stop cycles";
    const JsonValue state = ServiceState();
    const JsonValue* live = JsonPath(state, {L"relay", L"live"});
    ASSERT_NE(live, nullptr);
    EXPECT_TRUE(WaitUntil([] {
        const JsonValue now = ServiceState();
        const JsonValue* relays = JsonPath(now, {L"relay", L"live"});
        const auto* list = relays ? std::get_if<JsonArray>(relays) : nullptr;
        return list != nullptr && list->empty();
    }, 3s)) << "every relay connection is closed";
}

TEST_F(TunnelEngineTest, ReconnectsWithBackOffAfterTheRelayDrops) {
    TunnelEngine engine(FastOptions());
    StartOnGrant(engine);
    ASSERT_TRUE(engine.udpReady());
    PostFault(R"({"name":"refuse-upgrades","count":2,"status":503})");
    PostFault(R"({"name":"renew-udp-tokens"})");
    const std::uint64_t firstToken = engine.udpToken();
    const double dropTime = JsonNumber(ServiceState(), {L"now"});
    PostFault(R"({"name":"close-relays"})");
    ASSERT_TRUE(WaitUntil([&] { return !engine.relayConnected(); }, 3s));
    EXPECT_TRUE(engine.running()) << "a dropped relay means reconnecting, not stopped";
    ASSERT_TRUE(WaitUntil([&] { return engine.relayConnected(); }, 20s));
    ASSERT_TRUE(WaitUntil([&] { return engine.udpReady(); }, 5s));
    EXPECT_NE(engine.udpToken(), firstToken) << "the reconnection negotiates a new UDP token";

    std::vector<double> attempts;
    const JsonValue state = ServiceState();
    if (const auto* list = std::get_if<JsonArray>(JsonPath(state, {L"relay", L"upgradeAttempts"}))) {
        for (const JsonValue& attempt : *list) {
            const double time = JsonNumber(attempt, {L"time"});
            if (time > dropTime) {
                attempts.push_back(time);
            }
        }
    }
    ASSERT_EQ(attempts.size(), 3u);
    // Each wait is at least its back-off step: the service records an attempt before it refuses it,
    // and the client waits only after the refusal. A slow machine may only add to a wait (the
    // detection of the drop, a failed attempt's own connect and refusal), and never a whole step:
    // a wait shorter than the next step shows the wait was not yet doubled once more.
    const double waits[] = {attempts[0] - dropTime, attempts[1] - attempts[0], attempts[2] - attempts[1]};
    const double steps[] = {1.0, 2.0, 4.0};
    for (int i = 0; i < 3; ++i) {
        EXPECT_GE(waits[i], steps[i] - 0.15) << "wait " << i;
        EXPECT_LT(waits[i], 2 * steps[i]) << "wait " << i;
    }
    // Reset once the reconnection has also opened its UDP path, a moment after both flags are up.
    EXPECT_TRUE(WaitUntil([&] { return engine.reconnectDelay() == 1; }, 5s)) << "now " << engine.reconnectDelay();

    PacketFields ping;
    ping.protocol = 1;
    ping.source = kLocalSource;
    ping.destination = LocalAddressFor(engine, Ip(10, 20, 0, 5));
    ping.sourcePort = 99;
    ASSERT_TRUE(harness_->WaitForCaptureHandle(2s));
    ASSERT_TRUE(harness_->SendPacket(BuildPacket(ping), 4, 2));
    EXPECT_TRUE(harness_->NextInjection(5s)) << "new flows work after the reconnection";
}

TEST_F(TunnelEngineTest, StopEndsABackOffWaitPromptly) {
    TunnelEngineOptions options = FastOptions();
    options.backoffUnit = 2s;  // the doubled wait is 4 s, so a stop that sat it out would show
    TunnelEngine engine(options);
    StartOnGrant(engine);
    PostFault(R"({"name":"refuse-upgrades","count":100,"status":503})");
    PostFault(R"({"name":"close-relays"})");
    // Seen within a poll of its start, so almost all of the 4 s wait is still ahead.
    ASSERT_TRUE(WaitUntil([&] { return engine.reconnectDelay() >= 2; }, 15s)) << "a refused attempt doubles the wait";
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(engine.Stop(), L"软件隧道已停止。");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s) << "the back-off wait must not hold the stop";
    EXPECT_FALSE(engine.relayConnected());
}

TEST_F(TunnelEngineTest, AStopDuringABlackHoledHandshakeEndsTheStartAndLeavesNothing) {
    // The relay accepts the connection and says nothing for a minute.
    PostFault(R"({"name":"delay-http","ms":60000,"count":1,"pathPrefix":"/api/relay/"})");
    TunnelEngine engine(FastOptions());
    auto start = std::async(std::launch::async, [&] {
        try {
            StartOnGrant(engine);
        } catch (const std::runtime_error& error) {
            return std::string(error.what());
        }
        return std::string("started");
    });
    std::this_thread::sleep_for(500ms);  // into the handshake; had it not got there, the test is weaker, never wrong
    auto stop = std::async(std::launch::async, [&] { return engine.Stop(); });
    ASSERT_EQ(stop.wait_for(2s), std::future_status::ready) << "the stop waited for the handshake";
    ASSERT_EQ(start.wait_for(2s), std::future_status::ready);
    EXPECT_EQ(start.get(), "The tunnel was stopped while it was starting.");
    stop.get();
    EXPECT_FALSE(engine.running());
    EXPECT_FALSE(engine.udpThreadsRunning());
    EXPECT_EQ(GetModuleHandleW(L"WinDivert.dll"), nullptr);
    EXPECT_TRUE(harness_->Opens().empty()) << "no divert handle without a relay";
    EXPECT_EQ(engine.Stop(), L"软件隧道未运行。") << "a second stop is harmless";
}

TEST_F(TunnelEngineTest, PacketsQueuedWhileTheRelayIsDownDoNotSurviveTheStop) {
    TunnelEngineOptions options = FastOptions();
    options.backoffUnit = 10s;  // no reconnection attempt (which empties the queue too) during the test
    TunnelEngine engine(options);
    StartOnGrant(engine);
    PostFault(R"({"name":"refuse-upgrades","count":100,"status":503})");
    PostFault(R"({"name":"close-relays"})");
    ASSERT_TRUE(WaitUntil([&] { return !engine.relayConnected(); }, 5s));
    ASSERT_TRUE(harness_->WaitForCaptureHandle(2s));
    PacketFields ping;
    ping.protocol = 1;
    ping.source = kLocalSource;
    ping.destination = LocalAddressFor(engine, Ip(10, 20, 0, 5));
    for (std::uint16_t identifier = 1; identifier <= 3; ++identifier) {
        ping.sourcePort = identifier;
        ASSERT_TRUE(harness_->SendPacket(BuildPacket(ping), 4, 2));
    }
    // The sender, still waiting for a packet when the relay went, takes the first and loses it.
    ASSERT_TRUE(WaitUntil([&] { return engine.queuedPackets() >= 2; }, 5s)) << "queued " << engine.queuedPackets();
    engine.Stop();
    EXPECT_EQ(engine.queuedPackets(), 0u) << "the next tunnel would send them to its relay";
}

}  // namespace
}  // namespace ostrevane::testing
