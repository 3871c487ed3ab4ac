#include "tunnel/divert_filter.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

#include "settings/text_utils.h"
#include "support/genuine_divert.h"

namespace ostrevane {
namespace {

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) { return (a << 24) | (b << 16) | (c << 8) | d; }

// A minimal IPv4 packet (20-byte header plus 8 bytes of transport header) to a destination.
std::array<unsigned char, 28> PacketTo(std::uint32_t destination, unsigned char protocol) {
    std::array<unsigned char, 28> packet{};
    packet[0] = 0x45;
    packet[3] = 28;
    packet[8] = 64;
    packet[9] = protocol;
    const std::uint32_t source = Ip(192, 168, 7, 10);
    for (int i = 0; i < 4; ++i) {
        packet[12 + i] = static_cast<unsigned char>(source >> (24 - 8 * i));
        packet[16 + i] = static_cast<unsigned char>(destination >> (24 - 8 * i));
    }
    packet[27] = 0;
    if (protocol == 17) {
        packet[24] = 0;
        packet[25] = 8;
    }
    return packet;
}

TEST(BuildDivertFilter, MatchesTheDocumentedText) {
    EXPECT_EQ(BuildRouteClause({Ip(100, 80, 0, 0), 24}), L"(ip.DstAddr >= 100.80.0.0 and ip.DstAddr <= 100.80.0.255)");
    EXPECT_EQ(BuildDivertFilter({{Ip(100, 80, 0, 0), 24}, {Ip(10, 20, 0, 0), 16}}),
              L"outbound and ip and !impostor and (icmp or tcp or udp) and ((ip.DstAddr >= 100.80.0.0 and "
              L"ip.DstAddr <= 100.80.0.255) or (ip.DstAddr >= 10.20.0.0 and ip.DstAddr <= 10.20.255.255))");
    EXPECT_EQ(BuildRouteClause({Ip(10, 1, 2, 3), 32}), L"(ip.DstAddr >= 10.1.2.3 and ip.DstAddr <= 10.1.2.3)");
    EXPECT_EQ(BuildRouteClause({0, 0}), L"(ip.DstAddr >= 0.0.0.0 and ip.DstAddr <= 255.255.255.255)");
}

TEST(BuildDivertFilter, GenuineWinDivertCompilesEveryFilter) {
    testing::GenuineDivert divert;
    ASSERT_TRUE(divert.loaded());
    std::mt19937 random(11);
    for (int round = 0; round < 300; ++round) {
        std::vector<Ipv4Network> networks;
        const int count = 1 + static_cast<int>(random() % 8);
        for (int i = 0; i < count; ++i) {
            const std::uint32_t prefix = random() % 33;
            networks.push_back({static_cast<std::uint32_t>(random()) & PrefixMask(prefix), prefix});
        }
        const std::string filter = WideToUtf8(BuildDivertFilter(networks));
        std::string error;
        EXPECT_TRUE(divert.CompileFilter(filter, &error)) << filter << ": " << error;
    }
}

TEST(BuildDivertFilter, GenuineWinDivertSelectsOnlyOutboundPacketsInsideTheRoutes) {
    testing::GenuineDivert divert;
    ASSERT_TRUE(divert.loaded());
    const std::string filter = WideToUtf8(BuildDivertFilter({{Ip(100, 80, 0, 0), 24}, {Ip(10, 20, 0, 0), 16}}));
    struct Case {
        std::uint32_t destination;
        unsigned char protocol;
        bool outbound;
        bool selected;
    };
    const Case cases[] = {
        {Ip(100, 80, 0, 25), 17, true, true},   {Ip(100, 80, 0, 255), 1, true, true},
        {Ip(10, 20, 255, 255), 17, true, true}, {Ip(100, 80, 1, 0), 17, true, false},
        {Ip(10, 21, 0, 1), 17, true, false},    {Ip(100, 80, 0, 25), 17, false, false},
        {Ip(100, 80, 0, 25), 47, true, false},  {Ip(8, 8, 8, 8), 1, true, false},
    };
    for (const Case& c : cases) {
        auto packet = PacketTo(c.destination, c.protocol);
        EXPECT_EQ(divert.EvalFilter(filter, packet.data(), static_cast<unsigned>(packet.size()), c.outbound), c.selected)
            << FormatIpv4(c.destination) << " protocol " << int(c.protocol) << " outbound " << c.outbound;
    }
}

}  // namespace
}  // namespace ostrevane
