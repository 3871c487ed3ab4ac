// A running tunnel against a relay that misbehaves in every way the reference service can stage:
// close frames, frames above 4 MiB, 64-bit lengths with the top bit set, masked frames, control
// frames inside a fragmented message, garbage after the handshake, an endless handshake, silence,
// and UDP datagrams of every length with random kinds and tokens. The tunnel carries on or
// reconnects; it never crashes or hangs, and its handles and memory do not grow from round to round.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/unique_handle.h"
#include "settings/text_utils.h"
#include "support/engine_fixture.h"
#include "support/process_footprint.h"
#include "support/service_client.h"
#include "tunnel/ipv4_network.h"

namespace ostrevane::testing {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kSiteAddress = Ip(10, 20, 0, 5);

// The same process after more of the same work: at most a few handles and 2 MiB more.
void ExpectNoGrowth(const ProcessFootprint& before, const ProcessFootprint& after) {
    EXPECT_LE(after.handles, before.handles + 8) << "handles before " << before.handles << ", after " << after.handles;
    EXPECT_LE(after.privateBytes, before.privateBytes + (2u << 20))
        << "private bytes before " << before.privateBytes << ", after " << after.privateBytes;
    std::printf("[ footprint ] handles %zu -> %zu, private bytes %zu -> %zu\n", before.handles, after.handles,
                before.privateBytes, after.privateBytes);
}

// Frames as a server writes them (unmasked unless a key is given), one after the other, with the
// length form chosen by the payload size.
class ServerFrames {
public:
    ServerFrames& Add(std::uint8_t first, const Bytes& payload, const std::uint8_t* maskingKey = nullptr) {
        bytes_.push_back(first);
        const std::uint8_t maskBit = maskingKey != nullptr ? 0x80 : 0;
        if (payload.size() < 126) {
            bytes_.push_back(static_cast<std::uint8_t>(maskBit | payload.size()));
        } else {
            bytes_.insert(bytes_.end(), {static_cast<std::uint8_t>(maskBit | 126),
                                         static_cast<std::uint8_t>(payload.size() >> 8),
                                         static_cast<std::uint8_t>(payload.size())});
        }
        if (maskingKey != nullptr) {
            bytes_.insert(bytes_.end(), maskingKey, maskingKey + 4);
        }
        for (std::size_t i = 0; i < payload.size(); ++i) {
            bytes_.push_back(static_cast<std::uint8_t>(payload[i] ^ (maskingKey != nullptr ? maskingKey[i % 4] : 0)));
        }
        return *this;
    }
    ServerFrames& Raw(const Bytes& bytes) {
        bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    const Bytes& bytes() const { return bytes_; }

private:
    Bytes bytes_;
};

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

// A fault that carries bytes: {"name": name, "base64": the bytes, and the other members given}.
void PostBytesFault(const std::string& name, const Bytes& bytes, const std::string& otherMembers = "") {
    std::string json = "{\"name\":\"";
    json.append(name).append("\",\"base64\":\"").append(Base64Encode(bytes)).append("\"");
    if (!otherMembers.empty()) {
        json.append(",").append(otherMembers);
    }
    PostFault(json.append("}"));
}

class HostileRelayTest : public EngineFixture {
protected:
    TunnelEngineOptions Options() const {
        TunnelEngineOptions options = FastOptions();
        options.backoffUnit = 100ms;  // reconnection waits of 0.1, 0.2, 0.4 ... seconds
        return options;
    }

    std::uint32_t TunnelAddress() const { return ParseAssignedAddress(grant_.assignedAddress).value_or(0); }

    PacketFields Ping(const TunnelEngine& engine, std::uint16_t identifier) const {
        PacketFields ping;
        ping.protocol = 1;
        ping.source = kLocalSource;
        ping.destination = LocalAddressFor(engine, kSiteAddress);
        ping.sourcePort = identifier;
        ping.destinationPort = 1;
        ping.payload = {1, 2, 3, 4, 5, 6, 7, 8};
        return ping;
    }

    // The site's echo reply to a ping, as the relay delivers it to the tunnel address.
    Bytes SiteReply(std::uint16_t identifier, std::uint16_t sequence) const {
        PacketFields reply;
        reply.protocol = 1;
        reply.icmpType = 0;
        reply.source = kSiteAddress;
        reply.destination = TunnelAddress();
        reply.sourcePort = identifier;
        reply.destinationPort = sequence;
        reply.payload = {9, 8, 7, 6};
        return BuildPacket(reply);
    }

    // A ping from a local program comes back from the site, translated and injected inbound.
    void ExpectCarriesPing(const TunnelEngine& engine, std::uint16_t identifier) {
        const PacketFields ping = Ping(engine, identifier);
        ASSERT_TRUE(harness_->WaitForCaptureHandle(2s));
        ASSERT_TRUE(harness_->SendPacket(BuildPacket(ping), 6, 1));
        const auto reply = harness_->NextInjection(5s);
        ASSERT_TRUE(reply) << "no reply to ping " << identifier;
        EXPECT_FALSE(reply->outbound);
        EXPECT_EQ(ReadAddress(reply->packet, 12), ping.destination);
        EXPECT_EQ(ReadAddress(reply->packet, 16), kLocalSource);
    }

    // A reply pushed by hand reaches the local program: the tunnel still reads the relay.
    void ExpectInjectedReply(std::uint16_t identifier, const char* how) {
        const auto injected = harness_->NextInjection(5s);
        ASSERT_TRUE(injected) << how << ": the reply was not delivered";
        EXPECT_EQ(ReadPort(injected->packet, 4), identifier) << how;
        EXPECT_EQ(ReadAddress(injected->packet, 16), kLocalSource) << how;
    }

    void SendRaw(const Bytes& bytes, bool closeAfter = false) {
        PostBytesFault("send-raw", bytes, closeAfter ? R"("closeAfter":true)" : "");
    }

    int AcceptedUpgrades() {
        int accepted = 0;
        const JsonValue state = ServiceState();
        if (const auto* list = std::get_if<JsonArray>(JsonPath(state, {L"relay", L"upgradeAttempts"}))) {
            for (const JsonValue& attempt : *list) {
                accepted += JsonNumber(attempt, {L"status"}) == 101 ? 1 : 0;
            }
        }
        return accepted;
    }

    // Runs a fault that must end the relay connection, then waits for the tunnel to come back.
    void ExpectReconnectionAfter(TunnelEngine& engine, const std::function<void()>& fault, const char* what,
                                 std::chrono::milliseconds patience = 10s) {
        SCOPED_TRACE(what);
        const int before = AcceptedUpgrades();
        fault();
        EXPECT_TRUE(WaitUntil([&] { return AcceptedUpgrades() > before && engine.relayConnected(); }, patience))
            << what << ": the tunnel did not reconnect";
        EXPECT_TRUE(engine.running()) << what;
    }

    // Every relay fault once, then the proof that packets still flow both ways.
    void OneRoundOfFaults(TunnelEngine& engine, std::uint16_t identifier) {
        ExpectReconnectionAfter(engine, [] { PostFault(R"({"name":"send-close-frame","code":1011,"closeAfterMs":3000})"); },
                                "close frame");
        ExpectReconnectionAfter(engine, [] { PostFault(R"({"name":"send-oversized-frame","length":4194305})"); },
                                "frame of 4 MiB + 1");
        ExpectReconnectionAfter(engine, [this] { SendRaw({0x82, 127, 0x80, 0, 0, 0, 0, 0, 0, 0x10}); },
                                "64-bit length with the top bit set");
        ExpectReconnectionAfter(engine, [this] {
            // A fragmented message whose fragments add up past 4 MiB: the first one announces
            // 4 MiB, the second (never sent) any more; the tunnel must not wait for the payload.
            SendRaw(ServerFrames().Add(0x02, Text("abc")).Raw({0x00, 127, 0, 0, 0, 0, 0, 0x40, 0, 0}).bytes());
        }, "fragments above 4 MiB");
        ExpectReconnectionAfter(engine, [this, identifier] {
            std::mt19937 random(identifier);
            Bytes garbage(512);
            for (std::uint8_t& byte : garbage) {
                byte = static_cast<std::uint8_t>(random());
            }
            SendRaw(garbage, true);
        }, "garbage frames");
        // The handshake is read a byte at a time so that no frame byte is taken with it. Under Wine
        // each byte is a call into its server: 16 KiB take seconds, on a busy machine more than half
        // a minute (on Windows, milliseconds). A hang would last for ever.
        ExpectReconnectionAfter(engine, [] {
            std::string endless = "HTTP/1.1 101 Switching Protocols\r\n";
            while (endless.size() < 17000) {
                endless += "X-Filler: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n";
            }
            PostBytesFault("raw-upgrade-response", Text(endless));
            PostFault(R"({"name":"close-relays"})");
        }, "endless handshake", 120s);
        ExpectReconnectionAfter(engine, [] {
            const Bytes answer = ServerFrames()
                                     .Raw(Text("HTTP/1.1 101 Switching Protocols\r\n\r\n"))
                                     .Raw({0x82, 0x05, 'h', 'i', 0x89, 0x7E, 0xFF})
                                     .Raw(Text(" garbage"))
                                     .bytes();
            PostBytesFault("raw-upgrade-response", answer, R"("closeAfterMs":300)");
            PostFault(R"({"name":"close-relays","abort":true})");
        }, "garbage after the handshake");

        ExpectCarriesPing(engine, identifier);
        // A masked frame from the server is unmasked and delivered.
        static constexpr std::uint8_t kKey[4] = {0xA1, 0x5C, 0x03, 0xFE};
        SendRaw(ServerFrames().Add(0x82, SiteReply(identifier, 2), kKey).bytes());
        ExpectInjectedReply(identifier, "masked frame");
        // Control and text frames inside a fragmented message: the ping is answered, the rest skipped.
        const Bytes reply = SiteReply(identifier, 3);
        const Bytes first(reply.begin(), reply.begin() + 7);
        const Bytes middle(reply.begin() + 7, reply.begin() + 20);
        const Bytes last(reply.begin() + 20, reply.end());
        SendRaw(ServerFrames()
                    .Add(0x02, first)
                    .Add(0x89, Text("hostile-ping"))
                    .Add(0x81, Text("text"))
                    .Add(0x00, middle)
                    .Add(0x8A, Text("unasked pong"))
                    .Add(0x80, last)
                    .bytes());
        ExpectInjectedReply(identifier, "fragmented message with control frames");
    }
};

// The measure itself must see what the process takes: Wine's own counters answer 0.
TEST(ProcessFootprintMeasure, SeesHandlesAndMemoryThatTheProcessTakes) {
    const ProcessFootprint before = MeasureProcessFootprint();
    std::vector<UniqueKernelHandle> events;
    for (int i = 0; i < 5; ++i) {
        events.emplace_back(CreateEventW(nullptr, FALSE, FALSE, nullptr));
    }
    std::vector<std::uint8_t> block(8u << 20, 1);
    const ProcessFootprint holding = MeasureProcessFootprint();
    EXPECT_GE(holding.handles, before.handles + 5);
    EXPECT_GE(holding.privateBytes, before.privateBytes + (8u << 20) - (1u << 20)) << static_cast<int>(block[4096]);
    events.clear();
    EXPECT_LE(MeasureProcessFootprint().handles, before.handles);
}

TEST_F(HostileRelayTest, SurvivesEveryRelayFaultWithoutGrowing) {
    TunnelEngine engine(Options());
    StartOnGrant(engine);
    OneRoundOfFaults(engine, 100);  // the first round warms up every path and heap
    const ProcessFootprint before = MeasureProcessFootprint();
    for (std::uint16_t round = 1; round <= 3; ++round) {
        OneRoundOfFaults(engine, static_cast<std::uint16_t>(100 + round));
    }
    const ProcessFootprint after = MeasureProcessFootprint();
    ExpectNoGrowth(before, after);
    ExpectCarriesPing(engine, 200);
    EXPECT_EQ(engine.Stop(), L"软件隧道已停止。");
}

TEST_F(HostileRelayTest, OutlastsASilentHandshakeAndStopsWhileAFrameIsHalfRead) {
    TunnelEngine engine(Options());
    StartOnGrant(engine);
    // The relay accepts the connection and then says nothing: the handshake gives up after 8 s.
    ExpectReconnectionAfter(engine, [] {
        PostFault(R"({"name":"delay-http","ms":9500,"count":1,"pathPrefix":"/api/relay/"})");
        PostFault(R"({"name":"close-relays"})");
    }, "silent handshake", 20s);
    ExpectCarriesPing(engine, 300);

    // Half a frame, then silence: the reader waits, but a stop still ends everything at once.
    const int upgrades = AcceptedUpgrades();
    SendRaw({0x82, 100, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    std::this_thread::sleep_for(300ms);  // for the half frame to arrive; had it not, the test is weaker, never wrong
    EXPECT_TRUE(engine.relayConnected());
    EXPECT_EQ(AcceptedUpgrades(), upgrades) << "the half frame did not cost the connection";
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(engine.Stop(), L"软件隧道已停止。");
    // A stop held by the reader would wait for bytes that never come, so the bound can be generous.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "a half-read frame must not hold the stop";
    EXPECT_FALSE(engine.running());
}

TEST_F(HostileRelayTest, IgnoresUdpDatagramsOfEveryLengthKindAndToken) {
    TunnelEngine engine(Options());
    StartOnGrant(engine);
    ASSERT_TRUE(engine.udpReady());
    const std::uint64_t token = engine.udpToken();
    ExpectCarriesPing(engine, 400);

    std::mt19937 random(1500);
    const auto datagram = [&](std::size_t length) {
        Bytes bytes(length);
        for (std::uint8_t& byte : bytes) {
            byte = static_cast<std::uint8_t>(random());
        }
        if (length == 14) {  // a forged acknowledgement with a token of its own
            const Bytes forged{'O', 'V', 'U', '1', 3, 2, 0x5A, 1, 2, 3, 4, 5, 6, static_cast<std::uint8_t>(random() | 1)};
            bytes = forged;
        } else if (length >= 5 && random() % 8 != 0) {  // mostly the right magic, so the kinds are looked at
            const std::uint8_t kinds[] = {2, 3, 4, 4, static_cast<std::uint8_t>(random())};
            std::copy_n("OVU1", 4, bytes.begin());
            bytes[4] = kinds[random() % 5];
            if (length >= 13 && bytes[4] == 4 && random() % 2 == 0) {  // data with the current token
                for (int i = 0; i < 8; ++i) {
                    bytes[5 + i] = static_cast<std::uint8_t>(token >> (56 - 8 * i));
                }
            }
        }
        PostBytesFault("send-udp", bytes);
    };
    for (std::size_t length = 0; length <= 1500; length += 50) {
        datagram(length);  // warm-up: every path of the receive loop once
    }
    ExpectCarriesPing(engine, 401);
    const ProcessFootprint before = MeasureProcessFootprint();
    for (std::size_t length = 0; length <= 1500; ++length) {
        datagram(length);
    }
    // An acknowledgement of the relay's own token puts the path right after any forged one.
    Bytes ack = Text("OVU1");
    ack.insert(ack.end(), {3, 2});
    for (int i = 0; i < 8; ++i) {
        ack.push_back(static_cast<std::uint8_t>(token >> (56 - 8 * i)));
    }
    PostBytesFault("send-udp", ack);
    ASSERT_TRUE(WaitUntil([&] { return engine.udpToken() == token && engine.udpReady(); }, 3s));

    // A data datagram with the current token still delivers a reply to an open flow.
    Bytes data = Text("OVU1");
    data.push_back(4);
    data.insert(data.end(), ack.begin() + 6, ack.end());
    const Bytes reply = SiteReply(401, 9);
    data.insert(data.end(), reply.begin(), reply.end());
    PostBytesFault("send-udp", data);
    ExpectInjectedReply(401, "UDP data datagram");

    EXPECT_TRUE(engine.running());
    EXPECT_TRUE(engine.relayConnected());
    ExpectCarriesPing(engine, 402);
    const ProcessFootprint after = MeasureProcessFootprint();
    ExpectNoGrowth(before, after);
}

}  // namespace
}  // namespace ostrevane::testing
