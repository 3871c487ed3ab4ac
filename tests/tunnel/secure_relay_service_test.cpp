// The tunnel over a wss:// relay, against the reference service in TLS mode; ctest runs these
// once with the valid certificate and once with each certificate that must be refused (named by
// OSTREVANE_TEST_TLS_REFUSAL). Against the plain service they are skipped.
#include <gtest/gtest.h>

#include <windows.h>

#include <stdexcept>

#include "settings/text_utils.h"
#include "support/engine_fixture.h"
#include "support/relay_connect.h"
#include "tunnel/relay_url.h"
#include "tunnel/websocket_relay.h"

namespace ostrevane::testing {
namespace {

using namespace std::chrono_literals;

int SuccessfulUpgrades() {
    const JsonValue state = ServiceState();
    const JsonValue* attempts = JsonPath(state, {L"relay", L"upgradeAttempts"});
    int count = 0;
    if (const auto* list = attempts ? std::get_if<JsonArray>(attempts) : nullptr) {
        for (const JsonValue& attempt : *list) {
            count += JsonNumber(attempt, {L"status"}) == 101 ? 1 : 0;
        }
    }
    return count;
}

class SecureTunnelTest : public EngineFixture {
protected:
    void SetUp() override {
        if (!ServiceUsesTls()) {
            GTEST_SKIP() << "runs against the reference service in TLS mode";
        }
        EngineFixture::SetUp();
    }

    // A small UDP packet, the kind that would take the UDP path beside a plain relay.
    void ExpectUdpEchoOverTheRelay(TunnelEngine& engine, std::uint16_t sourcePort) {
        PacketFields udp;
        udp.protocol = 17;
        udp.source = kLocalSource;
        udp.destination = LocalAddressFor(engine, Ip(10, 20, 3, 9));
        udp.sourcePort = sourcePort;
        udp.destinationPort = 7;
        udp.payload = std::vector<std::uint8_t>(200, 0x5A);
        ASSERT_TRUE(harness_->SendPacket(BuildPacket(udp), 4, 0));
        const auto reply = harness_->NextInjection(5s);
        ASSERT_TRUE(reply) << "no echo came back";
        EXPECT_EQ(ReadPort(reply->packet, 0), 7);
        EXPECT_EQ(ReadPort(reply->packet, 2), sourcePort);
    }
};

TEST_F(SecureTunnelTest, CarriesEveryPacketOverTheRelayAndNegotiatesNoUdpPath) {
    TunnelEngineOptions options = FastOptions();
    options.backoffUnit = 100ms;
    TunnelEngine engine(options);
    EXPECT_EQ(StartOnGrant(engine), L"工程师端软件隧道已启动：" + grant_.connectionId +
                                        L"\r\n中继已加密（wss），不使用 UDP 通道：所有数据包经加密中继传输。");
    EXPECT_TRUE(engine.relayUrl().starts_with(L"wss://localhost:")) << WideToUtf8(engine.relayUrl());
    ASSERT_TRUE(harness_->WaitForCaptureHandle(2s));
    ExpectUdpEchoOverTheRelay(engine, 50001);

    // A reconnection does not bring the UDP path either.
    PostFault(R"({"name":"close-relays"})");
    ASSERT_TRUE(WaitUntil([&] { return SuccessfulUpgrades() >= 2 && engine.relayConnected(); }, 10s));
    ExpectUdpEchoOverTheRelay(engine, 50002);

    EXPECT_FALSE(engine.udpReady());
    EXPECT_FALSE(engine.udpThreadsRunning());
    EXPECT_LE(JsonNumber(ServiceState(), {L"udp", L"stats", L"hellos"}), 0) << "no hello reached the UDP relay";
    for (const ServicePacket& packet : ServicePackets()) {
        EXPECT_EQ(packet.via, "ws") << packet.direction << " " << packet.length << " bytes";
    }
    engine.Stop();
}

TEST(RefusedCertificate, EndsTheRelayConnectionBeforeAnyWebSocketByte) {
    const std::string certificate = CertificateToRefuse();
    if (certificate.empty()) {
        GTEST_SKIP() << "runs against the TLS service with a certificate to refuse";
    }
    const std::string reason = certificate == "wrong-host" ? "is issued for another host name."
                               : certificate == "expired"  ? "has expired or is not valid yet."
                                                           : "is not issued by a trusted certification authority.";
    WebSocketRelay relay(BuildRelayUrl(ServiceUrl(), L"/api/relay/client/c1?engineerId=ENG-1"));
    EXPECT_EQ(ConnectError(relay), "TLS certificate of localhost " + reason) << certificate;
    EXPECT_FALSE(relay.IsConnected());
    // Anything the relay had sent after all would be in the log by now.
    std::this_thread::sleep_for(500ms);
    EXPECT_EQ(RequestLogSize(), 0u) << "the service must not have received an upgrade request";
}

}  // namespace
}  // namespace ostrevane::testing
