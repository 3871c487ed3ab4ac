#include "tunnel/flow_table.h"

#include <gtest/gtest.h>

#include <vector>

namespace ostrevane {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A UDP datagram 100.64.0.7:53000 -> 192.168.1.25:161 (after outbound rewriting).
const Bytes kUdpOut = {
    0x45, 0x00, 0x00, 0x1c, 0x00, 0x01, 0x00, 0x00, 0x40, 0x11, 0x00, 0x00,
    0x64, 0x40, 0x00, 0x07, 0xc0, 0xa8, 0x01, 0x19,  // 100.64.0.7 -> 192.168.1.25
    0xcf, 0x08, 0x00, 0xa1, 0x00, 0x08, 0x00, 0x00,  // 53000 -> 161
};
// Its answer from the site: 192.168.1.25:161 -> 100.64.0.7:53000.
const Bytes kUdpBack = {
    0x45, 0x00, 0x00, 0x1c, 0x00, 0x02, 0x00, 0x00, 0x40, 0x11, 0x00, 0x00,
    0xc0, 0xa8, 0x01, 0x19, 0x64, 0x40, 0x00, 0x07,
    0x00, 0xa1, 0xcf, 0x08, 0x00, 0x08, 0x00, 0x00,
};
// Echo request identifier 0x1234 sequence 7, with IP options (header length 24).
const Bytes kPingOut = {
    0x46, 0x00, 0x00, 0x24, 0x00, 0x03, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00,
    0x64, 0x40, 0x00, 0x07, 0xc0, 0xa8, 0x01, 0x19, 0x01, 0x01, 0x01, 0x00,  // addresses, IP options
    0x08, 0x00, 0x00, 0x00, 0x12, 0x34, 0x00, 0x07, 0x61, 0x62, 0x63, 0x64,  // echo request, "abcd"
};
// Its echo reply.
const Bytes kPingBack = {
    0x45, 0x00, 0x00, 0x20, 0x00, 0x04, 0x00, 0x00, 0x40, 0x01, 0x00, 0x00,
    0xc0, 0xa8, 0x01, 0x19, 0x64, 0x40, 0x00, 0x07,
    0x00, 0x00, 0x00, 0x00, 0x12, 0x34, 0x00, 0x07, 0x61, 0x62, 0x63, 0x64,
};

constexpr std::uint32_t kTunnel = 0x64400007;  // 100.64.0.7
constexpr std::uint32_t kDevice = 0xc0a80119;  // 192.168.1.25

TEST(FlowKey, OutboundTakesSourceAsLocalAndDestinationAsRemote) {
    EXPECT_EQ(OutboundFlowKey(kUdpOut, PacketView{28, 20, 17}), (FlowKey{17, kTunnel, 53000, kDevice, 161}));
}

TEST(FlowKey, InboundReplyGivesTheKeyOfItsOutboundPacket) {
    EXPECT_EQ(InboundFlowKey(kUdpBack, PacketView{28, 20, 17}), OutboundFlowKey(kUdpOut, PacketView{28, 20, 17}));
}

TEST(FlowKey, IcmpUsesTheEchoIdentifierAndNoRemotePort) {
    const FlowKey out = OutboundFlowKey(kPingOut, PacketView{36, 24, 1});
    EXPECT_EQ(out, (FlowKey{1, kTunnel, 0x1234, kDevice, 0}));
    EXPECT_EQ(InboundFlowKey(kPingBack, PacketView{32, 20, 1}), out);
}

TEST(FlowKey, OrdersByProtocolThenLocalAddressPortThenRemoteAddressPort) {
    const std::vector<FlowKey> ascending = {
        {1, 0xFFFFFFFF, 0xFFFF, 0xFFFFFFFF, 0xFFFF},
        {6, 0, 0xFFFF, 0xFFFFFFFF, 0xFFFF},
        {6, 1, 0, 0xFFFFFFFF, 0xFFFF},
        {6, 1, 1, 0, 0xFFFF},
        {6, 1, 1, 1, 0},
        {6, 1, 1, 1, 1},
        {17, 0, 0, 0, 0},
    };
    for (std::size_t i = 0; i + 1 < ascending.size(); ++i) {
        EXPECT_LT(ascending[i], ascending[i + 1]) << i;
        EXPECT_FALSE(ascending[i + 1] < ascending[i]) << i;
    }
}

// Ageing and the cap, on a clock the test moves by hand.
class FlowTableAgeing : public ::testing::Test {
protected:
    static FlowKey Key(std::uint8_t protocol, std::uint16_t port) { return {protocol, kTunnel, port, kDevice, 80}; }
    void Out(const FlowKey& key, bool closing = false) { table.Record(key, FlowEntry{1, 2, 3, 4}, now, closing); }
    bool Reply(const FlowKey& key, bool closing = false) { return table.FindReply(key, now, closing) != nullptr; }

    FlowTable table{4};
    std::uint64_t now = 1000000;
};

TEST_F(FlowTableAgeing, EachProtocolLivesForItsIdleTimeAndEveryPacketRenewsIt) {
    const FlowTimeouts limits;
    const FlowKey udp = Key(17, 1), icmp = Key(1, 2);
    Out(udp);
    Out(icmp);
    now += limits.icmpMs;
    EXPECT_TRUE(Reply(icmp)) << "still alive at exactly its idle time";
    now += limits.icmpMs;
    EXPECT_TRUE(Reply(icmp)) << "the reply renewed it";
    now += 1;
    EXPECT_FALSE(Reply(udp)) << "more than 2 min idle";
    EXPECT_EQ(table.count(udp), 0u) << "an aged entry is dropped when its reply comes";
    now += limits.icmpMs;
    EXPECT_FALSE(Reply(icmp));
}

TEST_F(FlowTableAgeing, TcpIsTransitoryUntilAReplyAndAgainAfterFinOrRst) {
    const FlowTimeouts limits;
    const FlowKey unanswered = Key(6, 1), established = Key(6, 2), finished = Key(6, 3), reset = Key(6, 4);
    for (const FlowKey& key : {unanswered, established, finished, reset}) {
        Out(key);
    }
    for (const FlowKey& key : {established, finished, reset}) {
        EXPECT_TRUE(Reply(key));
    }
    Out(finished, true);       // our FIN
    EXPECT_TRUE(Reply(reset, true));  // the site's RST
    now += limits.tcpTransitoryMs + 1;
    table.Expire(now);
    EXPECT_EQ(table.count(unanswered), 0u) << "a SYN without an answer";
    EXPECT_EQ(table.count(finished), 0u);
    EXPECT_EQ(table.count(reset), 0u);
    EXPECT_TRUE(Reply(established)) << "an established connection outlives the grace period";
    now += limits.tcpEstablishedMs + 1;
    EXPECT_FALSE(Reply(established));
}

TEST_F(FlowTableAgeing, AFullTableEvictsTheLeastRecentlyUsedAndItsReplyIsDropped) {
    for (std::uint16_t port = 1; port <= 4; ++port) {
        Out(Key(17, port));
        ++now;
    }
    EXPECT_TRUE(Reply(Key(17, 1)));  // the oldest is used again
    Out(Key(17, 5));
    EXPECT_EQ(table.size(), 4u);
    EXPECT_FALSE(Reply(Key(17, 2))) << "the least recently used went";
    EXPECT_TRUE(Reply(Key(17, 1)));
    EXPECT_TRUE(Reply(Key(17, 5)));
}

TEST_F(FlowTableAgeing, AFullTableDropsAgedEntriesBeforeLiveOnes) {
    Out(Key(6, 1));
    EXPECT_TRUE(Reply(Key(6, 1)));  // established: lives for hours
    now += 1;
    for (std::uint16_t port = 2; port <= 4; ++port) {
        Out(Key(17, port));
    }
    now += FlowTimeouts{}.udpMs + 1;
    Out(Key(17, 9));
    EXPECT_EQ(table.size(), 2u) << "the three aged UDP entries went, not the oldest live one";
    EXPECT_TRUE(Reply(Key(6, 1)));
}

TEST(FlowTableTcp, FinOrRstIsSeenOnlyInTcpPackets) {
    Bytes tcp(40, 0);
    tcp[20 + 13] = 0x11;  // FIN, ACK
    EXPECT_TRUE(EndsTcpConnection(tcp, PacketView{40, 20, 6}));
    tcp[20 + 13] = 0x04;  // RST
    EXPECT_TRUE(EndsTcpConnection(tcp, PacketView{40, 20, 6}));
    tcp[20 + 13] = 0x12;  // SYN, ACK
    EXPECT_FALSE(EndsTcpConnection(tcp, PacketView{40, 20, 6}));
    tcp[20 + 13] = 0x01;
    EXPECT_FALSE(EndsTcpConnection(tcp, PacketView{40, 20, 17})) << "the same byte of a UDP packet";
    EXPECT_FALSE(EndsTcpConnection(tcp, PacketView{28, 20, 6})) << "a TCP header cut before its flags";
}

}  // namespace
}  // namespace ostrevane
