// The UDP path of a running tunnel against the reference service's UDP relay, with the keep-alive
// and ageing intervals shortened so that minutes of real time become seconds.
#include <gtest/gtest.h>

#include "support/engine_fixture.h"
#include "support/packet_checksum.h"
#include "support/service_client.h"
#include "platform/winsock.h"
#include "settings/text_utils.h"
#include "tunnel/ipv4_network.h"

namespace ostrevane::testing {
namespace {

using namespace std::chrono_literals;

class UdpPathTest : public EngineFixture {
protected:
    TunnelEngineOptions ShortIntervals() const {
        TunnelEngineOptions options = FastOptions();
        options.udp.keepaliveInterval = 500ms;        // a hello every 0.5 s instead of 15 s
        options.udp.acknowledgementMaxAgeMs = 1500;   // stale after 1.5 s instead of 45 s
        return options;
    }
    std::vector<std::uint8_t> UdpPacket(const TunnelEngine& engine, std::size_t totalLength, std::uint16_t port) {
        PacketFields fields;
        fields.protocol = 17;
        fields.source = kLocalSource;
        fields.destination = LocalAddressFor(engine, Ip(10, 20, 0, 7));
        fields.sourcePort = port;
        fields.destinationPort = 9;
        fields.payload.assign(totalLength - 28, 0x33);
        return BuildPacket(fields);
    }
    // How the service received the client's packets of a given length: "udp", "ws" or "" when not at all.
    std::string ArrivalPath(std::size_t length) {
        std::string via;
        WaitUntil([&] {
            for (const ServicePacket& packet : ServicePackets()) {
                if (packet.direction == "in" && packet.length == length) {
                    via = packet.via;
                    return true;
                }
            }
            return false;
        }, 10s);
        return via;
    }
    std::vector<double> HelloTimes() {
        std::vector<double> times;
        const JsonValue state = ServiceState();
        if (const auto* list = std::get_if<JsonArray>(JsonPath(state, {L"udp", L"hellos"}))) {
            for (const JsonValue& hello : *list) {
                times.push_back(JsonNumber(hello, {L"time"}));
            }
        }
        return times;
    }
};

TEST_F(UdpPathTest, SmallUdpPacketsTravelAsDatagramsBothWays) {
    TunnelEngine engine(FastOptions());
    StartOnGrant(engine);
    ASSERT_TRUE(engine.udpReady());
    ASSERT_NE(engine.udpToken(), 0u);
    ASSERT_TRUE(harness_->WaitForCaptureHandle(2s));
    ASSERT_TRUE(harness_->SendPacket(UdpPacket(engine, 100, 40001), 6, 2));
    const auto reply = harness_->NextInjection(5s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(ChecksumProblems(reply->packet), "");
    EXPECT_EQ(ArrivalPath(100), "udp");
    const JsonValue state = ServiceState();
    EXPECT_GE(JsonNumber(state, {L"packets", L"stats", L"toClient.udp"}), 1.0) << "the reply came back as a datagram";
}

TEST_F(UdpPathTest, OnlyUdpPacketsUpTo1350BytesTakeTheUdpPath) {
    TunnelEngine engine(FastOptions());
    StartOnGrant(engine);
    ASSERT_TRUE(engine.udpReady());
    ASSERT_TRUE(harness_->WaitForCaptureHandle(2s));
    harness_->SendPacket(UdpPacket(engine, 1350, 40002), 6, 2);
    EXPECT_EQ(ArrivalPath(1350), "udp") << "1350 bytes go as a 1363-byte datagram";
    harness_->SendPacket(UdpPacket(engine, 1351, 40003), 6, 2);
    EXPECT_EQ(ArrivalPath(1351), "ws");

    PacketFields tcp;
    tcp.protocol = 6;
    tcp.source = kLocalSource;
    tcp.destination = LocalAddressFor(engine, Ip(10, 20, 0, 7));
    tcp.sourcePort = 40004;
    tcp.destinationPort = 80;
    tcp.payload.assign(33, 1);  // 20 + 20 + 33 bytes
    harness_->SendPacket(BuildPacket(tcp), 6, 2);
    EXPECT_EQ(ArrivalPath(73), "ws");

    PacketFields ping;
    ping.protocol = 1;
    ping.source = kLocalSource;
    ping.destination = tcp.destination;
    ping.payload.assign(21, 2);  // 20 + 8 + 21 bytes
    harness_->SendPacket(BuildPacket(ping), 6, 2);
    EXPECT_EQ(ArrivalPath(49), "ws");
}

TEST_F(UdpPathTest, KeepAliveRepeatsTheHello) {
    TunnelEngine engine(ShortIntervals());
    StartOnGrant(engine);
    ASSERT_TRUE(engine.udpReady());
    std::vector<double> times;
    ASSERT_TRUE(WaitUntil([&] { return (times = HelloTimes()).size() >= 4; }, 10s))
        << "the negotiation hello and keep-alive hellos every 0.5 s; seen: " << times.size();
    // The client sleeps 0.5 s between hellos, so a gap is shorter only by the difference in the
    // service's receive delays. A busy machine stretches the gaps; three times the interval
    // still tells a wrong interval (the default 15 s) from a slow one.
    for (std::size_t i = 2; i < times.size(); ++i) {
        EXPECT_GE(times[i] - times[i - 1], 0.3);
        EXPECT_LE(times[i] - times[i - 1], 1.5);
    }
    EXPECT_TRUE(engine.udpReady());
}

TEST_F(UdpPathTest, AgesWithoutAcknowledgementsAndRecoversOnTheNextOne) {
    TunnelEngine engine(ShortIntervals());
    StartOnGrant(engine);
    ASSERT_TRUE(engine.udpReady());
    PostFault(R"({"name":"ignore-hellos"})");
    ASSERT_TRUE(WaitUntil([&] { return !engine.udpReady(); }, 10s)) << "no acknowledgement for too long";
    EXPECT_TRUE(engine.udpThreadsRunning()) << "a stale path keeps its socket and threads";
    ASSERT_TRUE(harness_->WaitForCaptureHandle(2s));
    harness_->SendPacket(UdpPacket(engine, 200, 40005), 6, 2);
    EXPECT_EQ(ArrivalPath(200), "ws") << "while stale, UDP packets take the WebSocket";
    EXPECT_TRUE(harness_->NextInjection(5s));

    PostFault(R"({"name":"clear"})");
    ASSERT_TRUE(WaitUntil([&] { return engine.udpReady(); }, 10s)) << "a later acknowledgement makes it ready again";
    harness_->SendPacket(UdpPacket(engine, 300, 40006), 6, 2);
    EXPECT_EQ(ArrivalPath(300), "udp");
}

TEST_F(UdpPathTest, FallsBackToTheWebSocketWhenHellosAreIgnored) {
    PostFault(R"({"name":"ignore-hellos"})");
    TunnelEngine engine(FastOptions());
    StartOnGrant(engine);
    EXPECT_TRUE(engine.running());
    EXPECT_FALSE(engine.udpReady());
    EXPECT_FALSE(engine.udpThreadsRunning()) << "no UDP thread without an acknowledgement";
    const std::vector<double> times = HelloTimes();
    ASSERT_EQ(times.size(), 4u) << "four hellos, then the WebSocket alone";
    // Each hello waits 0.9 s for its answer; waiting the 2 s receive time-out instead would show
    // as a gap of 2 s or more, so a busy machine gets the rest of the way.
    for (std::size_t i = 1; i < times.size(); ++i) {
        EXPECT_GE(times[i] - times[i - 1], 0.6);
        EXPECT_LE(times[i] - times[i - 1], 1.8);
    }
    ASSERT_TRUE(harness_->WaitForCaptureHandle(2s));
    harness_->SendPacket(UdpPacket(engine, 120, 40007), 6, 2);
    EXPECT_EQ(ArrivalPath(120), "ws");
    EXPECT_TRUE(harness_->NextInjection(5s));
}

// A datagram sent to the client's UDP port from a socket of the test's own on 127.0.0.1: the
// relay's address, another port.
void SendFromAnotherPort(std::uint16_t clientPort, const std::vector<std::uint8_t>& datagram) {
    WinsockSession winsock;
    ASSERT_EQ(winsock.Start(), 0);
    UniqueSocket socket(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP));
    ASSERT_TRUE(socket);
    sockaddr_in client{};
    client.sin_family = AF_INET;
    client.sin_port = htons(clientPort);
    client.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(sendto(socket.get(), reinterpret_cast<const char*>(datagram.data()), static_cast<int>(datagram.size()), 0,
                     reinterpret_cast<const sockaddr*>(&client), sizeof(client)),
              static_cast<int>(datagram.size()));
}

std::vector<std::uint8_t> TokenBytes(std::uint64_t token) {
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 8; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(token >> (56 - 8 * i)));
    }
    return bytes;
}

TEST_F(UdpPathTest, DatagramsFromAnyoneButTheRelayAreIgnoredAndAnOversizedOneHarmsNothing) {
    TunnelEngine engine(FastOptions());
    StartOnGrant(engine);
    ASSERT_TRUE(engine.udpReady());
    const std::uint64_t token = engine.udpToken();
    const std::uint16_t clientPort = engine.udpLocalPort();
    ASSERT_NE(clientPort, 0);
    ASSERT_TRUE(harness_->WaitForCaptureHandle(2s));
    harness_->SendPacket(UdpPacket(engine, 200, 40010), 6, 2);  // opens a flow for the forged reply
    ASSERT_EQ(ArrivalPath(200), "udp");
    const auto echoed = harness_->NextInjection(5s);
    ASSERT_TRUE(echoed);

    // A forged acknowledgement with a token of its own, and a forged data datagram with the right
    // token carrying a reply for the open flow (the site's echo, as the service sent it).
    std::vector<std::uint8_t> forgedAck{'O', 'V', 'U', '1', 3, 2};
    const std::vector<std::uint8_t> otherToken = TokenBytes(token ^ 0x5A5A);
    forgedAck.insert(forgedAck.end(), otherToken.begin(), otherToken.end());
    SendFromAnotherPort(clientPort, forgedAck);
    std::vector<std::uint8_t> forgedData{'O', 'V', 'U', '1', 4};
    const std::vector<std::uint8_t> realToken = TokenBytes(token);
    forgedData.insert(forgedData.end(), realToken.begin(), realToken.end());
    PacketFields site;
    site.protocol = 17;
    site.source = Ip(10, 20, 0, 7);
    site.destination = ParseAssignedAddress(grant_.assignedAddress).value_or(0);
    site.sourcePort = 9;
    site.destinationPort = 40010;
    site.payload.assign(40, 0x21);
    const std::vector<std::uint8_t> reply = BuildPacket(site);
    forgedData.insert(forgedData.end(), reply.begin(), reply.end());
    SendFromAnotherPort(clientPort, forgedData);
    // Given time to be taken, a forged one would show within the second; a slow machine can only
    // make this test weaker, never wrong.
    EXPECT_FALSE(harness_->NextInjection(1s)) << "a forged data datagram was injected";
    EXPECT_EQ(engine.udpToken(), token) << "a forged acknowledgement replaced the token";
    PostFault(R"({"name":"send-udp","base64":")" + Base64Encode(forgedData) + R"("})");
    EXPECT_TRUE(harness_->NextInjection(5s)) << "the same datagram from the relay is delivered";

    // 1500 bytes from the relay itself: more than the receive buffer takes.
    std::string json = R"({"name":"send-udp","base64":")";
    json += Base64Encode(std::vector<std::uint8_t>(1500, 0x4F)) + R"("})";
    PostFault(json);
    std::this_thread::sleep_for(300ms);  // for it to arrive; had it not, weaker, never wrong
    EXPECT_TRUE(engine.udpReady()) << "an oversized datagram marked the path stale";

    harness_->SendPacket(UdpPacket(engine, 300, 40011), 6, 2);
    EXPECT_EQ(ArrivalPath(300), "udp") << "the real path still carries UDP";
    EXPECT_TRUE(harness_->NextInjection(5s));
}

}  // namespace
}  // namespace ostrevane::testing
