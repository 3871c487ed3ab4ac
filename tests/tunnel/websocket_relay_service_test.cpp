// The relay against the reference service's WebSocket relay, an implementation written apart
// from ours: the upgrade, binary messages of every length form both ways, the service's pings,
// its close and oversized frames, and real packets answered by its simulated site. ctest runs
// these over ws:// and again over wss:// against the service in TLS mode.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <random>
#include <stdexcept>
#include <thread>

#include "settings/text_utils.h"
#include "support/packet_builder.h"
#include "support/packet_checksum.h"
#include "support/service_client.h"
#include "tunnel/ipv4_network.h"
#include "tunnel/relay_url.h"
#include "tunnel/websocket_protocol.h"
#include "tunnel/websocket_relay.h"

namespace ostrevane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::Base64Decode;
using testing::Base64Encode;
using testing::JsonNumber;
using testing::JsonText;
using testing::ServiceCall;

constexpr char kEngineerId[] = "ENG-RELAY 1";  // the space has to be percent-encoded
constexpr std::size_t kSizes[] = {1, 125, 126, 65535, 65536, 1 << 20};

Bytes RandomBytes(std::size_t length, unsigned seed) {
    std::mt19937 generator(seed);
    Bytes bytes(length);
    for (std::uint8_t& byte : bytes) {
        byte = static_cast<std::uint8_t>(generator());
    }
    return bytes;
}

const JsonArray& ArrayOf(const JsonValue& value, const std::wstring& key) {
    static const JsonArray kEmpty;
    const JsonArray* array = JsonFindAs<JsonArray>(value, key);
    return array == nullptr ? kEmpty : *array;
}

class RelayAgainstServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_NE(testing::ServicePort(), 0) << "run through run_with_service.sh";
        ServiceCall("POST", "/admin/reset");
        const JsonValue grant = ServiceCall(
            "POST", "/api/connections/request",
            R"({"deviceNumber":"","deviceSecret":"OVK-DEMO-7F3A-2C91-5E08","targetNetwork":"192.168.1.0/24",)"
            R"("engineerId":")" + std::string(kEngineerId) + R"(","clientPublicKey":""})");
        connectionId_ = JsonText(grant, L"connectionId");
        assignedAddress_ = JsonText(grant, L"assignedAddress");
        ASSERT_FALSE(connectionId_.empty());
        relayPath_ = L"/api/relay/client/" + PercentEncode(Utf8ToWide(connectionId_)) +
                     L"?engineerId=" + PercentEncode(Utf8ToWide(kEngineerId));
        relay_ = std::make_shared<WebSocketRelay>(BuildRelayUrl(testing::ServiceUrl(), relayPath_));
        relay_->Connect();
    }

    void TearDown() override {
        if (relay_) {
            relay_->Close();
        }
    }

    // ReceiveMessage, given up after 10 s by closing the relay from here.
    bool ReceiveWithin(Bytes& message) {
        auto receive = std::async(std::launch::async, [relay = relay_, &message] { return relay->ReceiveMessage(message); });
        if (receive.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            relay_->Close();
            ADD_FAILURE() << "no message from the service within 10 s";
        }
        return receive.get();
    }

    JsonValue LiveSession() {
        const JsonValue state = ServiceCall("GET", "/admin/state");
        const JsonValue* relay = JsonFind(state, L"relay");
        if (relay == nullptr) {
            return nullptr;
        }
        for (const JsonValue& session : ArrayOf(*relay, L"live")) {
            if (JsonText(session, L"connectionId") == connectionId_) {
                return session;
            }
        }
        return nullptr;
    }

    // The packets that arrived from this connection, oldest first, waiting until `count` are there.
    std::vector<Bytes> PacketsIn(std::size_t count) {
        std::vector<Bytes> packets;
        for (int attempt = 0; attempt < 100 && packets.size() < count; ++attempt) {
            if (attempt > 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            packets.clear();
            const JsonValue log = ServiceCall("GET", "/admin/packets");
            for (const JsonValue& entry : std::get<JsonArray>(log)) {
                if (JsonText(entry, L"direction") == "in" && JsonText(entry, L"connectionId") == connectionId_) {
                    packets.push_back(Base64Decode(Utf8ToWide(JsonText(entry, L"base64"))));
                }
            }
        }
        return packets;
    }

    void PushPacket(const Bytes& packet) {
        ServiceCall("POST", "/admin/send-packet",
                    R"({"connectionId":")" + connectionId_ + R"(","base64":")" + Base64Encode(packet) + R"("})");
    }

    void Fault(const std::string& json) { ServiceCall("POST", "/admin/fault", json); }

    std::string connectionId_;
    std::string assignedAddress_;
    std::wstring relayPath_;
    std::shared_ptr<WebSocketRelay> relay_;
};

TEST_F(RelayAgainstServiceTest, IsUpgradedWithTheRequestLineAndHostAsBuilt) {
    ASSERT_TRUE(relay_->IsConnected());
    const JsonValue session = LiveSession();
    EXPECT_EQ(JsonText(session, L"engineerId"), kEngineerId) << "the engineer id survives percent-encoding";

    const JsonValue requests = ServiceCall("GET", "/admin/requests");
    const JsonArray& all = std::get<JsonArray>(requests);
    ASSERT_FALSE(all.empty());
    const JsonValue& upgrade = all.back();
    EXPECT_EQ(JsonText(upgrade, L"requestLine"), "GET " + WideToUtf8(relayPath_) + " HTTP/1.1");
    const std::string expectedHost =
        WideToUtf8(ParseRelayUrl(testing::ServiceUrl()).host) + ":" + std::to_string(testing::ServicePort());
    bool hostSeen = false;
    for (const JsonValue& header : ArrayOf(upgrade, L"headers")) {
        const JsonArray& pair = std::get<JsonArray>(header);
        if (pair.size() == 2 && std::get<std::wstring>(pair[0]) == L"Host") {
            hostSeen = WideToUtf8(std::get<std::wstring>(pair[1])) == expectedHost;
        }
    }
    EXPECT_TRUE(hostSeen) << "Host: " << expectedHost;
}

TEST_F(RelayAgainstServiceTest, IsRefusedForAConnectionThatWasNeverGranted) {
    WebSocketRelay stranger(BuildRelayUrl(testing::ServiceUrl(), L"/api/relay/client/unknown?engineerId=x"));
    try {
        stranger.Connect();
        ADD_FAILURE() << "the upgrade must be refused";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "WebSocket HTTP upgrade failed, status 403: HTTP/1.1 403 Forbidden");
    }
}

TEST_F(RelayAgainstServiceTest, CarriesMessagesOfEveryLengthFormToTheService) {
    std::vector<Bytes> sent;
    for (std::size_t size : kSizes) {
        sent.push_back(RandomBytes(size, static_cast<unsigned>(size)));
        ASSERT_TRUE(relay_->SendFrame(websocket::kBinary, sent.back())) << size;
    }
    const std::vector<Bytes> arrived = PacketsIn(sent.size());
    ASSERT_EQ(arrived.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(arrived[i], sent[i]) << kSizes[i] << " bytes";
    }
    const JsonValue session = LiveSession();
    EXPECT_EQ(JsonNumber(session, L"messagesIn"), static_cast<double>(sent.size()));
    EXPECT_EQ(JsonNumber(session, L"unmaskedFramesIn"), 0);
    EXPECT_TRUE(ArrayOf(session, L"protocolErrors").empty());
}

TEST_F(RelayAgainstServiceTest, CarriesABatchOfFramesWrittenTogether) {
    std::vector<Bytes> batch;
    for (unsigned i = 0; i < 40; ++i) {
        batch.push_back(RandomBytes(1400 + i, i));
    }
    ASSERT_TRUE(relay_->SendFrames(websocket::kBinary, batch));
    EXPECT_EQ(PacketsIn(batch.size()), batch);
}

TEST_F(RelayAgainstServiceTest, ReceivesMessagesOfEveryLengthFormFromTheService) {
    Bytes message;
    for (std::size_t size : kSizes) {
        if (size == (1u << 20)) {
            continue;  // larger than the admin interface takes in one body; below
        }
        const Bytes packet = RandomBytes(size, static_cast<unsigned>(size) + 7);
        PushPacket(packet);
        ASSERT_TRUE(ReceiveWithin(message)) << size;
        EXPECT_EQ(message, packet) << size;
    }
    // One MiB framed by the service itself: a binary frame of zero bytes.
    Fault(R"({"name":"send-oversized-frame","length":1048576,"writePayload":true})");
    ASSERT_TRUE(ReceiveWithin(message));
    EXPECT_EQ(message, Bytes(1 << 20, 0));
}

TEST_F(RelayAgainstServiceTest, AnswersTheServicePingsWhileWaitingForPackets) {
    const Bytes first{'a', 'b'};
    const Bytes second = RandomBytes(125, 3);
    ServiceCall("POST", "/admin/ping", R"({"payloadBase64":")" + Base64Encode(first) + R"("})");
    ServiceCall("POST", "/admin/ping", R"({"payloadBase64":")" + Base64Encode(second) + R"("})");
    ServiceCall("POST", "/admin/ping", "{}");  // the service's own payload
    const Bytes marker{0x45, 0x01};
    PushPacket(marker);
    Bytes message;
    ASSERT_TRUE(ReceiveWithin(message));
    EXPECT_EQ(message, marker);

    JsonValue session;
    for (int attempt = 0; attempt < 100 && JsonNumber(session, L"pongsMatched") < 3; ++attempt) {
        std::this_thread::sleep_for(std::chrono::milliseconds(attempt == 0 ? 0 : 50));
        session = LiveSession();
    }
    EXPECT_EQ(JsonNumber(session, L"pongsReceived"), 3);
    EXPECT_EQ(JsonNumber(session, L"pongsMatched"), 3);
    const JsonArray& pongs = ArrayOf(session, L"pongs");
    ASSERT_EQ(pongs.size(), 3u);
    EXPECT_EQ(Base64Decode(Utf8ToWide(JsonText(pongs[0], L"payloadBase64"))), first);
    EXPECT_EQ(Base64Decode(Utf8ToWide(JsonText(pongs[1], L"payloadBase64"))), second);
    EXPECT_TRUE(JsonText(pongs[2], L"payloadBase64").size() > 0);
    EXPECT_TRUE(ArrayOf(session, L"protocolErrors").empty());
}

TEST_F(RelayAgainstServiceTest, ExchangesRealPacketsWithTheSimulatedSite) {
    const std::optional<std::uint32_t> tunnelAddress = ParseIpv4Address(Utf8ToWide(assignedAddress_));
    ASSERT_TRUE(tunnelAddress.has_value()) << assignedAddress_;
    const std::uint32_t siteAddress = testing::Ip(192, 168, 1, 20);
    auto request = [&](std::uint8_t protocol, std::uint16_t first, std::uint16_t second, std::size_t payload) {
        testing::PacketFields fields;
        fields.protocol = protocol;
        fields.source = *tunnelAddress;
        fields.destination = siteAddress;
        fields.sourcePort = first;  // ICMP: identifier and sequence
        fields.destinationPort = second;
        fields.payload = RandomBytes(payload, static_cast<unsigned>(payload));
        return fields;
    };
    // UDP echoes from the smallest datagram to the largest IPv4 packet, and one ICMP echo.
    const testing::PacketFields requests[] = {
        request(17, 40000, 7, 1),
        request(17, 40000, 7, 1372),
        request(17, 40000, 7, 65535 - 28),
        request(1, 0x1234, 1, 125),
    };

    for (const testing::PacketFields& fields : requests) {
        const Bytes packet = testing::WithChecksums(testing::BuildPacket(fields));
        ASSERT_TRUE(relay_->SendFrame(websocket::kBinary, packet));
        Bytes reply;
        ASSERT_TRUE(ReceiveWithin(reply)) << packet.size() << "-byte packet";
        const Bytes expected = testing::BuildPacket(testing::ReplyTo(fields));
        ASSERT_EQ(reply.size(), expected.size());
        EXPECT_EQ(testing::ReadAddress(reply, 12), siteAddress);
        EXPECT_EQ(testing::ReadAddress(reply, 16), *tunnelAddress);
        // UDP: the ports swapped; ICMP: an echo reply with the same identifier and sequence.
        const std::size_t first = fields.protocol == 1 ? 4 : 0;
        EXPECT_EQ(testing::ReadPort(reply, first), testing::ReadPort(expected, first));
        EXPECT_EQ(testing::ReadPort(reply, first + 2), testing::ReadPort(expected, first + 2));
        EXPECT_EQ(reply[20], expected[20]) << "ICMP type or the high byte of the UDP source port";
        EXPECT_TRUE(std::equal(reply.end() - static_cast<std::ptrdiff_t>(fields.payload.size()), reply.end(),
                               fields.payload.begin()))
            << "the site echoes the payload";
        EXPECT_EQ(testing::ChecksumProblems(reply), "");
    }
}

TEST_F(RelayAgainstServiceTest, StopsAtTheServiceCloseFrame) {
    Fault(R"({"name":"send-close-frame","code":1001,"closeAfterMs":3000})");
    Bytes message;
    EXPECT_FALSE(ReceiveWithin(message));
}

TEST_F(RelayAgainstServiceTest, RefusesTheServiceFrameOfOneByteAbove4MiB) {
    Fault(R"({"name":"send-oversized-frame","length":4194305,"writePayload":false})");
    Bytes message;
    EXPECT_FALSE(ReceiveWithin(message)) << "the relay must not wait for a payload that never comes";
}

TEST_F(RelayAgainstServiceTest, TakesAFrameOfExactly4MiBFromTheService) {
    Fault(R"({"name":"send-oversized-frame","length":4194304,"writePayload":true})");
    Bytes message;
    ASSERT_TRUE(ReceiveWithin(message));
    EXPECT_EQ(message.size(), 4u << 20);
}

TEST_F(RelayAgainstServiceTest, NoticesThatTheServiceDroppedTheConnection) {
    Fault(R"({"name":"close-relays","abort":true})");
    Bytes message;
    EXPECT_FALSE(ReceiveWithin(message));
    EXPECT_FALSE(relay_->SendFrame(websocket::kBinary, Bytes{1})) << "nor does a send succeed for long";
}

}  // namespace
}  // namespace ostrevane
