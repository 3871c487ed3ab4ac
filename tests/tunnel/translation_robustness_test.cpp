// Random and damaged byte strings through validation, the capture loop and the inbound path:
// nothing may crash, read outside the packet, or come out other than as the rules say.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <set>

#include "support/data_path_fixture.h"
#include "tunnel/capture_loop.h"
#include "tunnel/packet.h"

namespace ostrevane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::Ip;
using testing::PacketFields;
using testing::Recorder;
using testing::ScriptedReceive;

void NoPause(std::chrono::milliseconds) {}

class TranslationRobustnessTest : public testing::DataPathTest {
protected:
    void SetUp() override {
        DataPathTest::SetUp();
        path.pause = &NoPause;
        // A default route as well, so that damaged destinations still reach the translation.
        path.mappings.push_back({0, 0, 0, 0, false});
    }

    // Plays the packets through CaptureLoop, checks that exactly the invalid ones came back
    // unchanged and that everything queued is a valid packet from the tunnel address, and
    // returns what was queued.
    std::vector<Bytes> CaptureAndCheck(const std::vector<Bytes>& packets) {
        Recorder().sent.clear();
        std::vector<Bytes> invalid;
        for (const Bytes& packet : packets) {
            Recorder().script.push_back(ScriptedReceive{packet, Diverted(1, 0), false});
            if (!ValidatePacket(packet)) {
                invalid.push_back(packet);
            }
        }
        Recorder().onScriptEnd = [this] { path.running = false; };
        path.running = true;
        CaptureLoop(path);
        EXPECT_EQ(Recorder().sent.size(), invalid.size());
        for (std::size_t i = 0; i < std::min(invalid.size(), Recorder().sent.size()); ++i) {
            EXPECT_EQ(Recorder().sent[i].bytes, invalid[i]) << i;
        }
        std::vector<Bytes> queued = DrainQueue();
        for (const Bytes& packet : queued) {
            EXPECT_TRUE(ValidatePacket(packet).has_value());
            EXPECT_EQ(testing::ReadAddress(packet, 12), kTunnelAddress);
        }
        return queued;
    }

    // Every packet as if it came from the site, and the replies to what went out (addresses and
    // ports swapped), so that many find their flow and go through the whole inbound translation.
    // Returns how many were injected.
    std::size_t DispatchAll(std::vector<Bytes> packets, const std::vector<Bytes>& wentOut) {
        for (Bytes reply : wentOut) {
            std::swap_ranges(reply.begin() + 12, reply.begin() + 16, reply.begin() + 16);
            const std::size_t transport = static_cast<std::size_t>(reply[0] & 0x0F) * 4;
            if (reply[9] != 1) {
                std::swap_ranges(reply.begin() + transport, reply.begin() + transport + 2,
                                 reply.begin() + transport + 2);
            }
            packets.push_back(std::move(reply));
        }
        Recorder().sent.clear();
        for (Bytes& packet : packets) {
            DispatchInbound(path, packet);
        }
        std::set<std::uint32_t> localSources;  // damage may have hit the source address too
        for (const auto& [key, flow] : path.flows) {
            localSources.insert(flow.untranslatedSource);
        }
        for (const testing::SentPacket& sent : Recorder().sent) {
            EXPECT_EQ(localSources.count(testing::ReadAddress(sent.bytes, 16)), 1u);
        }
        return Recorder().sent.size();
    }
};

TEST_F(TranslationRobustnessTest, RandomByteStrings) {
    std::mt19937 random(7);
    std::vector<Bytes> packets;
    for (int i = 0; i < 3000; ++i) {
        Bytes packet(random() % (i % 10 == 0 ? 1600 : 80));
        for (auto& byte : packet) {
            byte = static_cast<std::uint8_t>(random());
        }
        if (!packet.empty() && i % 2 == 0) {
            packet[0] = static_cast<std::uint8_t>(0x40 | (packet[0] & 0x0F));  // at least an IPv4 version
        }
        packets.push_back(std::move(packet));
    }
    const auto wentOut = CaptureAndCheck(packets);
    DispatchAll(packets, wentOut);
}

TEST_F(TranslationRobustnessTest, EveryTruncationOfValidPackets) {
    std::vector<Bytes> whole;
    for (std::uint8_t protocol : {std::uint8_t{1}, std::uint8_t{6}, std::uint8_t{17}}) {
        PacketFields fields;
        fields.protocol = protocol;
        fields.source = Ip(192, 168, 1, 50);
        fields.destination = Ip(100, 80, 0, 7);
        fields.sourcePort = 3333;
        fields.destinationPort = 80;
        fields.tcpFlags = 0x02;
        fields.ipOptions = {0x01, 0x01, 0x01, 0x00};
        fields.tcpOptions = {0x01, 0x01, 0x02, 0x04, 0x05, 0xb4, 0x03, 0x03};
        fields.payload = Bytes(33, 0x61);
        whole.push_back(testing::BuildPacket(fields));
    }
    std::vector<Bytes> cut;
    for (const Bytes& packet : whole) {
        for (std::size_t length = 0; length <= packet.size(); ++length) {
            cut.emplace_back(packet.begin(), packet.begin() + length);
        }
    }
    const auto wentOut = CaptureAndCheck(cut);
    EXPECT_EQ(wentOut.size(), 3u) << "only the whole packets are translated";
    EXPECT_EQ(path.flows.size(), 3u);
    EXPECT_EQ(DispatchAll(cut, wentOut), 3u) << "only the replies to them come back";
}

TEST_F(TranslationRobustnessTest, DamagedHeadersOfValidPackets) {
    std::mt19937 random(99);
    std::vector<Bytes> packets;
    for (int i = 0; i < 3000; ++i) {
        PacketFields fields;
        fields.protocol = std::array<std::uint8_t, 3>{1, 6, 17}[random() % 3];
        fields.source = Ip(192, 168, 1, 50);
        fields.destination = Ip(100, 80, 0, random() % 256);
        fields.sourcePort = static_cast<std::uint16_t>(random());
        fields.destinationPort = static_cast<std::uint16_t>(random());
        fields.tcpFlags = 0x02;
        fields.ipOptions = Bytes(4 * (random() % 3), 0x01);
        fields.tcpOptions = Bytes(4 * (random() % 4), 0x02);
        fields.payload = Bytes(random() % 64, 0x55);
        Bytes packet = testing::BuildPacket(fields);
        // Damage a few bytes of the headers: lengths, protocol, data offset, options.
        const std::size_t headerBytes = std::min<std::size_t>(packet.size(), 80);
        for (unsigned n = random() % 4 + 1; n > 0; --n) {
            packet[random() % headerBytes] = static_cast<std::uint8_t>(random());
        }
        if (random() % 3 == 0) {
            packet.resize(random() % (packet.size() + 1));
        }
        packets.push_back(std::move(packet));
    }
    const auto wentOut = CaptureAndCheck(packets);
    // Damage leaves many packets valid and makes many invalid; both kinds must have been seen.
    EXPECT_GT(wentOut.size(), 500u);
    EXPECT_GT(Recorder().sent.size(), 500u);
    EXPECT_GT(DispatchAll(packets, wentOut), 500u);
}

}  // namespace
}  // namespace ostrevane
