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

TEST(FlowTable, OneEntryPerKeyOverwrittenByTheLatest) {
    FlowTable table;
    const FlowKey key{6, kTunnel, 50000, kDevice, 443};
    table.insert_or_assign(key, FlowEntry{1, 2, 3, 4});
    table.insert_or_assign(key, FlowEntry{5, 6, 7, 8});
    table.insert_or_assign(FlowKey{6, kTunnel, 50001, kDevice, 443}, FlowEntry{});
    ASSERT_EQ(table.size(), 2u);
    EXPECT_EQ(table.at(key), (FlowEntry{5, 6, 7, 8}));
}

}  // namespace
}  // namespace ostrevane
