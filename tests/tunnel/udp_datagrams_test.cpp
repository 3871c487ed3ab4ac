#include "tunnel/udp_datagrams.h"

#include <gtest/gtest.h>

#include <random>

namespace ostrevane {
namespace {

using Bytes = std::vector<unsigned char>;

Bytes Ack(unsigned char role, std::uint64_t token) {
    Bytes ack = {'O', 'V', 'U', '1', 3, role};
    for (int shift = 56; shift >= 0; shift -= 8) {
        ack.push_back(static_cast<unsigned char>(token >> shift));
    }
    return ack;
}

TEST(UdpHello, MatchesTheDocumentedBytes) {
    EXPECT_EQ(BuildUdpHello(L"c1", L"ENG-1"),
              (Bytes{0x4F, 0x56, 0x55, 0x31, 0x02, 0x00, 0x02, 0x63, 0x31, 0x00, 0x05, 0x45, 0x4E, 0x47, 0x2D, 0x31}));
}

TEST(UdpHello, TrimsEncodesAndCutsEachTextTo65535Bytes) {
    const Bytes hello = BuildUdpHello(L"  \u5DE5 ", L"");
    EXPECT_EQ(hello, (Bytes{'O', 'V', 'U', '1', 2, 0, 3, 0xE5, 0xB7, 0xA5, 0, 0}));
    const Bytes big = BuildUdpHello(std::wstring(65536, L'x'), L"E");
    ASSERT_EQ(big.size(), 5u + 2 + 65535 + 2 + 1);
    EXPECT_EQ(big[5], 0xFF);
    EXPECT_EQ(big[6], 0xFF);
    EXPECT_EQ(big[7 + 65535], 0x00);
    EXPECT_EQ(big[8 + 65535], 0x01);
    EXPECT_EQ(big.back(), 'E');
}

TEST(UdpAcknowledgement, AcceptsOnlyExactValidAcknowledgements) {
    const Bytes good = Ack(2, 1);
    EXPECT_EQ(good, (Bytes{0x4F, 0x56, 0x55, 0x31, 0x03, 0x02, 0, 0, 0, 0, 0, 0, 0, 0x01}));
    EXPECT_EQ(ParseUdpAcknowledgement(good.data(), good.size()), 1u);
    EXPECT_EQ(ParseUdpAcknowledgement(Ack(2, 0xFEDCBA9876543210).data(), 14), 0xFEDCBA9876543210u);
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_FALSE(ParseUdpAcknowledgement(longer.data(), longer.size()));
    EXPECT_FALSE(ParseUdpAcknowledgement(Ack(1, 5).data(), 14));
    EXPECT_FALSE(ParseUdpAcknowledgement(Ack(2, 0).data(), 14));
    Bytes wrongMagic = good;
    wrongMagic[3] = '2';
    EXPECT_FALSE(ParseUdpAcknowledgement(wrongMagic.data(), wrongMagic.size()));
    Bytes wrongKind = good;
    wrongKind[4] = 4;
    EXPECT_FALSE(ParseUdpAcknowledgement(wrongKind.data(), wrongKind.size()));
}

TEST(UdpData, BuildsAHeaderOfThirteenBytes) {
    const Bytes packet(1350, 0xAB);
    const Bytes datagram = BuildUdpData(0x0102030405060708, packet.data(), packet.size());
    ASSERT_EQ(datagram.size(), 1363u);
    EXPECT_EQ(Bytes(datagram.begin(), datagram.begin() + 13),
              (Bytes{'O', 'V', 'U', '1', 4, 1, 2, 3, 4, 5, 6, 7, 8}));
    const auto view = ParseUdpData(datagram.data(), datagram.size());
    ASSERT_TRUE(view);
    EXPECT_EQ(view->token, 0x0102030405060708u);
    EXPECT_EQ(view->payloadLength, 1350u);
    EXPECT_EQ(view->payload, datagram.data() + 13);
}

TEST(UdpData, RefusesEmptyTooLongZeroTokenAndForeignDatagrams) {
    const Bytes one = {0x45};
    const Bytes smallest = BuildUdpData(9, one.data(), one.size());
    EXPECT_TRUE(ParseUdpData(smallest.data(), smallest.size()));
    EXPECT_FALSE(ParseUdpData(smallest.data(), 13)) << "a datagram without a packet";
    const Bytes largest(1400 - 13, 1);
    const Bytes atLimit = BuildUdpData(9, largest.data(), largest.size());
    EXPECT_TRUE(ParseUdpData(atLimit.data(), atLimit.size()));
    const Bytes over(1401 - 13, 1);
    const Bytes tooLong = BuildUdpData(9, over.data(), over.size());
    EXPECT_FALSE(ParseUdpData(tooLong.data(), tooLong.size()));
    const Bytes zero = BuildUdpData(0, one.data(), one.size());
    EXPECT_FALSE(ParseUdpData(zero.data(), zero.size()));
    EXPECT_FALSE(ParseUdpData(Ack(2, 1).data(), 14));
}

TEST(UdpPathFit, OnlySmallIpv4UdpPackets) {
    Bytes udp(1350, 0);
    udp[0] = 0x45;
    udp[9] = 17;
    EXPECT_TRUE(FitsUdpPath(udp.data(), udp.size()));
    EXPECT_TRUE(FitsUdpPath(udp.data(), 20));
    EXPECT_FALSE(FitsUdpPath(udp.data(), 19));
    udp.push_back(0);
    EXPECT_FALSE(FitsUdpPath(udp.data(), udp.size())) << "1351 bytes take the WebSocket";
    udp[9] = 6;
    EXPECT_FALSE(FitsUdpPath(udp.data(), 100)) << "TCP takes the WebSocket";
    udp[9] = 1;
    EXPECT_FALSE(FitsUdpPath(udp.data(), 100)) << "ICMP takes the WebSocket";
    udp[9] = 17;
    udp[0] = 0x65;
    EXPECT_FALSE(FitsUdpPath(udp.data(), 100));
}

TEST(UdpDatagrams, ArbitraryBytesNeverReadOutOfBounds) {
    std::mt19937 random(99);
    for (int round = 0; round < 20000; ++round) {
        Bytes datagram(random() % 1500);
        for (auto& b : datagram) {
            b = static_cast<unsigned char>(random());
        }
        if (datagram.size() >= 5 && random() % 2) {
            datagram[0] = 'O', datagram[1] = 'V', datagram[2] = 'U', datagram[3] = '1';
            datagram[4] = static_cast<unsigned char>(2 + random() % 3);
        }
        if (auto view = ParseUdpData(datagram.data(), datagram.size())) {
            EXPECT_EQ(view->payloadLength + 13, datagram.size());
        }
        if (ParseUdpAcknowledgement(datagram.data(), datagram.size())) {
            EXPECT_EQ(datagram.size(), 14u);
        }
    }
}

}  // namespace
}  // namespace ostrevane
