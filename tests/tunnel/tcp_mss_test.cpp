#include "tunnel/tcp_mss.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace ostrevane {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kSyn = 0x02;
constexpr std::uint8_t kSynAck = 0x12;
constexpr std::uint8_t kAck = 0x10;

// 192.168.1.50:49152 -> 100.80.0.25:3389 with the given TCP flags and options (a multiple of
// four bytes), no payload.
Bytes Segment(std::uint8_t flags, const Bytes& options) {
    const auto total = static_cast<std::uint8_t>(40 + options.size());
    const auto dataOffset = static_cast<std::uint8_t>((20 + options.size()) / 4 << 4);
    Bytes packet = {
        0x45, 0x00, 0x00, total, 0x12, 0x34, 0x40, 0x00, 0x80, 0x06, 0x00, 0x00,  // IPv4, TCP
        0xc0, 0xa8, 0x01, 0x32, 0x64, 0x50, 0x00, 0x19,                          // addresses
        0xc0, 0x00, 0x0d, 0x3d, 0x01, 0x02, 0x03, 0x04, 0x00, 0x00, 0x00, 0x00,  // ports, sequence, ack
        dataOffset, flags, 0xfa, 0xf0, 0x00, 0x00, 0x00, 0x00,                   // offset, flags, window
    };
    packet.resize(40 + options.size());
    std::copy(options.begin(), options.end(), packet.begin() + 40);
    return packet;
}

struct MssRow {
    const char* what;
    std::uint8_t flags;
    Bytes options;
    Bytes expectedOptions;
    bool changed;
};

TEST(ClampTcpMss, ClampsOnlyTheMaximumSegmentSizeOfSynPackets) {
    const std::vector<MssRow> rows = {
        {"SYN 1460 becomes 1310", kSyn, {0x02, 0x04, 0x05, 0xb4}, {0x02, 0x04, 0x05, 0x1e}, true},
        {"SYN 1311 becomes 1310", kSyn, {0x02, 0x04, 0x05, 0x1f}, {0x02, 0x04, 0x05, 0x1e}, true},
        {"SYN 65535 becomes 1310", kSyn, {0x02, 0x04, 0xff, 0xff}, {0x02, 0x04, 0x05, 0x1e}, true},
        {"SYN 1310 is kept", kSyn, {0x02, 0x04, 0x05, 0x1e}, {0x02, 0x04, 0x05, 0x1e}, false},
        {"SYN 1200 is kept", kSyn, {0x02, 0x04, 0x04, 0xb0}, {0x02, 0x04, 0x04, 0xb0}, false},
        {"SYN-ACK 1460 becomes 1310", kSynAck, {0x02, 0x04, 0x05, 0xb4}, {0x02, 0x04, 0x05, 0x1e}, true},
        {"ACK is never clamped", kAck, {0x02, 0x04, 0x05, 0xb4}, {0x02, 0x04, 0x05, 0xb4}, false},
        {"after NOPs and window scale", kSyn,
         {0x01, 0x01, 0x03, 0x03, 0x07, 0x01, 0x01, 0x01, 0x02, 0x04, 0x05, 0xb4},
         {0x01, 0x01, 0x03, 0x03, 0x07, 0x01, 0x01, 0x01, 0x02, 0x04, 0x05, 0x1e}, true},
        {"after SACK permitted and timestamps", kSyn,
         {0x04, 0x02, 0x08, 0x0a, 0, 0, 0, 1, 0, 0, 0, 0, 0x02, 0x04, 0x05, 0xb4},
         {0x04, 0x02, 0x08, 0x0a, 0, 0, 0, 1, 0, 0, 0, 0, 0x02, 0x04, 0x05, 0x1e}, true},
        {"end of list before it", kSyn,
         {0x00, 0x00, 0x00, 0x00, 0x02, 0x04, 0x05, 0xb4},
         {0x00, 0x00, 0x00, 0x00, 0x02, 0x04, 0x05, 0xb4}, false},
        {"option length 0 stops the walk", kSyn,
         {0x08, 0x00, 0x01, 0x01, 0x02, 0x04, 0x05, 0xb4},
         {0x08, 0x00, 0x01, 0x01, 0x02, 0x04, 0x05, 0xb4}, false},
        {"option length 1 stops the walk", kSyn,
         {0x08, 0x01, 0x01, 0x01, 0x02, 0x04, 0x05, 0xb4},
         {0x08, 0x01, 0x01, 0x01, 0x02, 0x04, 0x05, 0xb4}, false},
        {"option running past the header hides what it covers", kSyn,
         {0x03, 0x0a, 0x02, 0x04, 0x05, 0xb4, 0x00, 0x00},
         {0x03, 0x0a, 0x02, 0x04, 0x05, 0xb4, 0x00, 0x00}, false},
        {"length byte outside the header", kSyn,
         {0x01, 0x01, 0x01, 0x05},
         {0x01, 0x01, 0x01, 0x05}, false},
        {"kind 2 with length 3 is not the option", kSyn,
         {0x02, 0x03, 0x05, 0x01, 0x01, 0x01, 0x01, 0x01},
         {0x02, 0x03, 0x05, 0x01, 0x01, 0x01, 0x01, 0x01}, false},
        {"MSS cut by the header end", kSyn,
         {0x01, 0x01, 0x02, 0x04},
         {0x01, 0x01, 0x02, 0x04}, false},
    };
    for (const MssRow& row : rows) {
        const Bytes original = Segment(row.flags, row.options);
        Bytes packet = original;
        const PacketView view{static_cast<std::uint32_t>(packet.size()), 20, 6};
        EXPECT_EQ(ClampTcpMss(packet, view), row.changed) << row.what;
        EXPECT_EQ(Bytes(packet.begin() + 40, packet.end()), row.expectedOptions) << row.what;
        EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 40), Bytes(original.begin(), original.begin() + 40))
            << row.what << ": only the option may change";
    }
}

TEST(ClampTcpMss, LeavesASynWithoutOptionsAlone) {
    Bytes packet = Segment(kSyn, {});
    const Bytes before = packet;
    EXPECT_FALSE(ClampTcpMss(packet, PacketView{40, 20, 6}));
    EXPECT_EQ(packet, before);
}

TEST(ClampTcpMss, RefusesATcpHeaderThatDoesNotFitTheTotalLength) {
    // Data offset 6 (24 bytes) in a packet whose total length ends after 20 bytes of TCP header;
    // the option bytes held beyond the total length are not part of the packet.
    Bytes packet = Segment(kSyn, {0x02, 0x04, 0x05, 0xb4});
    const Bytes before = packet;
    EXPECT_FALSE(ClampTcpMss(packet, PacketView{40, 20, 6}));
    EXPECT_EQ(packet, before);
}

TEST(ClampTcpMss, RefusesADataOffsetBelowFive) {
    Bytes packet = Segment(kSyn, {0x02, 0x04, 0x05, 0xb4});
    packet[32] = 0x40;  // 16-byte TCP header
    const Bytes before = packet;
    EXPECT_FALSE(ClampTcpMss(packet, PacketView{44, 20, 6}));
    EXPECT_EQ(packet, before);
}

TEST(ClampTcpMss, IgnoresOtherProtocols) {
    Bytes packet = Segment(kSyn, {0x02, 0x04, 0x05, 0xb4});
    packet[9] = 17;
    const Bytes before = packet;
    EXPECT_FALSE(ClampTcpMss(packet, PacketView{44, 20, 17}));
    EXPECT_EQ(packet, before);
}

TEST(ClampTcpMss, FindsTheOptionBehindIpOptions) {
    Bytes packet = Segment(kSyn, {0x02, 0x04, 0x05, 0xb4});
    packet[0] = 0x46;
    packet[3] = 48;
    const Bytes ipOptions = {0x01, 0x01, 0x01, 0x00};  // NOPs and end of IP options
    packet.insert(packet.begin() + 20, ipOptions.begin(), ipOptions.end());
    EXPECT_TRUE(ClampTcpMss(packet, PacketView{48, 24, 6}));
    EXPECT_EQ(packet[46], 0x05);
    EXPECT_EQ(packet[47], 0x1e);
}

}  // namespace
}  // namespace ostrevane
