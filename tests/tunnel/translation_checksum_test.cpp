// Checksums of translated packets against an independent verifier and the genuine helper, and a
// randomised round trip through both translations.
#include "tunnel/translation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <tuple>

#include "support/data_path_fixture.h"
#include "support/packet_checksum.h"

namespace ostrevane {
namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::Ip;
using testing::PacketFields;
using testing::Recorder;

class TranslationChecksumTest : public testing::DataPathTest {
protected:
    // The genuine helper run once more over a copy must find nothing to change.
    void ExpectGenuineAgrees(const Bytes& packet, const std::string& what) {
        Bytes again = packet;
        ASSERT_TRUE(genuine.CalcChecksums(again.data(), static_cast<unsigned>(again.size()))) << what;
        EXPECT_EQ(again, packet) << what;
    }

    // Translates out, answers from the site and translates back; returns {to site, injected}.
    std::pair<Bytes, Bytes> RoundTrip(const PacketFields& fields) {
        const Bytes packet = testing::BuildPacket(fields);
        TranslateOutbound(path, packet, *ValidatePacket(packet), Diverted(3, 0));
        auto queued = DrainQueue();
        if (queued.size() != 1) {
            ADD_FAILURE() << "nothing queued";
            return {};
        }
        PacketFields reply = testing::ReplyTo(fields);
        reply.source = testing::ReadAddress(queued[0], 16);
        reply.destination = kTunnelAddress;
        Bytes answer = testing::BuildPacket(reply);
        answer[10] = 0xde, answer[11] = 0xad;  // stale checksums must be replaced, not trusted
        const std::size_t before = Recorder().sent.size();
        TranslateInbound(path, answer, *ValidatePacket(answer));
        if (Recorder().sent.size() != before + 1) {
            ADD_FAILURE() << "nothing injected";
            return {queued[0], {}};
        }
        return {queued[0], Recorder().sent.back().bytes};
    }
};

TEST_F(TranslationChecksumTest, EveryProtocolWithAndWithoutIpOptionsAndOddLengths) {
    const std::vector<Bytes> ipOptionSets = {{}, {0x01, 0x01, 0x01, 0x00}, Bytes(40, 0x01)};
    const std::vector<std::size_t> payloadSizes = {0, 1, 2, 3, 17, 1399, 1400};
    const std::vector<std::uint32_t> destinations = {Ip(100, 80, 0, 200), Ip(10, 20, 7, 9)};
    int cases = 0;
    for (std::uint8_t protocol : {std::uint8_t{1}, std::uint8_t{6}, std::uint8_t{17}}) {
        for (const Bytes& ipOptions : ipOptionSets) {
            for (std::size_t payloadSize : payloadSizes) {
                for (std::uint32_t destination : destinations) {
                    PacketFields fields;
                    fields.protocol = protocol;
                    fields.source = Ip(192, 168, 1, 50);
                    fields.destination = destination;
                    fields.sourcePort = static_cast<std::uint16_t>(40000 + cases);
                    fields.destinationPort = 443;
                    fields.tcpFlags = 0x02;
                    fields.tcpOptions = {0x02, 0x04, 0x05, 0xb4};
                    fields.ipOptions = ipOptions;
                    for (std::size_t i = 0; i < payloadSize; ++i) {
                        fields.payload.push_back(static_cast<std::uint8_t>(i * 7 + 3));
                    }
                    const std::string what = "protocol " + std::to_string(protocol) + ", " +
                                             std::to_string(ipOptions.size()) + " option bytes, payload " +
                                             std::to_string(payloadSize);
                    const auto [toSite, injected] = RoundTrip(fields);
                    ASSERT_FALSE(injected.empty()) << what;
                    EXPECT_EQ(testing::ChecksumProblems(toSite), "") << what << " outbound";
                    EXPECT_EQ(testing::ChecksumProblems(injected), "") << what << " inbound";
                    ExpectGenuineAgrees(toSite, what + " outbound");
                    ExpectGenuineAgrees(injected, what + " inbound");
                    ++cases;
                }
            }
        }
    }
    EXPECT_EQ(cases, 3 * 3 * 7 * 2);
}

TEST_F(TranslationChecksumTest, AUdpChecksumThatSumsToZeroIsSentAsAllOnes) {
    // Search a payload word that makes the UDP checksum come out as zero; it must go out as FFFF.
    PacketFields fields;
    fields.protocol = 17;
    fields.source = Ip(192, 168, 1, 50);
    fields.destination = Ip(10, 20, 0, 1);
    fields.sourcePort = 1000;
    fields.destinationPort = 2000;
    bool found = false;
    for (unsigned word = 0; word <= 0xFFFF && !found; ++word) {
        fields.payload = {static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word)};
        const Bytes datagram = testing::BuildPacket(fields);
        // Pseudo-header once the source is 100.64.0.7: addresses, protocol 17, UDP length 10.
        const std::uint32_t pseudo = 0x6440 + 0x0007 + 0x0a14 + 0x0001 + 17 + 10;
        found = testing::InternetChecksum(std::span<const std::uint8_t>(datagram).subspan(20), pseudo) == 0;
    }
    ASSERT_TRUE(found);
    Bytes packet = testing::BuildPacket(fields);
    TranslateOutbound(path, packet, *ValidatePacket(packet), Diverted(1, 0));
    const auto queued = DrainQueue();
    ASSERT_EQ(queued.size(), 1u);
    EXPECT_EQ(queued[0][26], 0xFF);
    EXPECT_EQ(queued[0][27], 0xFF);
    EXPECT_EQ(testing::ChecksumProblems(queued[0]), "");
}

struct RandomFlow {
    PacketFields fields;
    std::uint32_t siteAddress = 0;
    WINDIVERT_ADDRESS diverted{};
};

TEST_F(TranslationChecksumTest, RandomRoundTripsRestoreTheLocalAddressesAndPorts) {
    std::mt19937 random(20240605);
    path.mappings.push_back({Ip(172, 16, 0, 0), 16, Ip(100, 81, 0, 0), 16, true});
    const std::vector<std::uint32_t> localSources = {Ip(192, 168, 1, 50), Ip(192, 168, 1, 51), Ip(10, 0, 0, 3)};
    const std::uint8_t protocols[] = {1, 6, 17};

    std::vector<RandomFlow> flows;
    std::set<std::tuple<int, int, std::uint32_t, int>> seen;  // keys must differ once the source is the tunnel's
    while (flows.size() < 2000) {
        RandomFlow flow;
        PacketFields& f = flow.fields;
        f.protocol = protocols[random() % 3];
        f.source = localSources[random() % localSources.size()];
        f.sourcePort = static_cast<std::uint16_t>(random());
        f.destinationPort = static_cast<std::uint16_t>(random());
        const RouteMapping& mapping = path.mappings[random() % path.mappings.size()];
        const std::uint32_t host = random() & ~PrefixMask(mapping.targetPrefix);
        f.destination = mapping.mappingNetwork | host;
        flow.siteAddress = mapping.targetNetwork | host;
        f.tcpFlags = static_cast<std::uint8_t>(random() % 2 == 0 ? 0x02 : 0x18);
        if (random() % 4 == 0) {
            f.ipOptions = Bytes(4 * (1 + random() % 10), 0x01);
        }
        if (f.protocol == 6 && random() % 2 == 0) {
            f.tcpOptions = {0x02, 0x04, static_cast<std::uint8_t>(random()), static_cast<std::uint8_t>(random())};
        }
        f.payload.resize(random() % 300);
        for (auto& byte : f.payload) {
            byte = static_cast<std::uint8_t>(random());
        }
        flow.diverted = Diverted(random() % 50, random() % 4);
        const int remotePort = f.protocol == 1 ? 0 : f.destinationPort;
        if (!seen.insert({f.protocol, f.sourcePort, flow.siteAddress, remotePort}).second) {
            continue;
        }
        flows.push_back(flow);
    }

    for (const RandomFlow& flow : flows) {
        const Bytes packet = testing::BuildPacket(flow.fields);
        TranslateOutbound(path, packet, *ValidatePacket(packet), flow.diverted);
    }
    const auto toSite = DrainQueue();
    ASSERT_EQ(toSite.size(), flows.size());
    ASSERT_EQ(path.flows.size(), flows.size());

    std::vector<std::size_t> order(flows.size());
    for (std::size_t i = 0; i < order.size(); ++i) {
        // What the site must see: the tunnel address, the real device address, a clamped MSS.
        PacketFields expected = flows[i].fields;
        expected.source = kTunnelAddress;
        expected.destination = flows[i].siteAddress;
        auto& mss = expected.tcpOptions;
        if ((expected.tcpFlags & 0x02) != 0 && mss.size() == 4 && (mss[2] << 8 | mss[3]) > 1310) {
            mss[2] = 0x05, mss[3] = 0x1e;
        }
        ASSERT_EQ(toSite[i], testing::WithChecksums(testing::BuildPacket(expected))) << i;
        order[i] = i;
    }
    std::shuffle(order.begin(), order.end(), random);
    for (std::size_t i : order) {
        PacketFields reply = testing::ReplyTo(flows[i].fields);
        reply.source = flows[i].siteAddress;
        reply.destination = kTunnelAddress;
        Bytes answer = testing::BuildPacket(reply);
        TranslateInbound(path, answer, *ValidatePacket(answer));
    }
    ASSERT_EQ(Recorder().sent.size(), flows.size());
    for (std::size_t n = 0; n < order.size(); ++n) {
        const RandomFlow& flow = flows[order[n]];
        const testing::SentPacket& sent = Recorder().sent[n];
        // The reply as the program expects it: from the address it sent to, to its own address
        // and port, every other byte as the site sent it.
        const PacketFields expected = testing::ReplyTo(flow.fields);
        ASSERT_EQ(sent.bytes, testing::WithChecksums(testing::BuildPacket(expected))) << n;
        const bool icmp = flow.fields.protocol == 1;
        ASSERT_EQ(testing::ReadPort(sent.bytes, icmp ? 4 : 2), flow.fields.sourcePort) << n;
        ASSERT_EQ(sent.address.Network.IfIdx, flow.diverted.Network.IfIdx) << n;
        ASSERT_EQ(sent.address.Network.SubIfIdx, flow.diverted.Network.SubIfIdx) << n;
        ASSERT_EQ(sent.address.Outbound, 0u) << n;
    }
}

}  // namespace
}  // namespace ostrevane
