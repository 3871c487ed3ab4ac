#include "tunnel/ipv4_network.h"

#include <gtest/gtest.h>

#include <random>

namespace ostrevane {
namespace {

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) { return (a << 24) | (b << 16) | (c << 8) | d; }

TEST(ParseNetwork, ClearsHostBitsAndReadsThePrefixLikeWcstol) {
    EXPECT_EQ(ParseNetwork(L"10.1.2.3/8"), (Ipv4Network{Ip(10, 0, 0, 0), 8}));
    EXPECT_EQ(ParseNetwork(L"10.0.0.0/24abc"), (Ipv4Network{Ip(10, 0, 0, 0), 24}));
    EXPECT_EQ(ParseNetwork(L"10.0.0.0/"), (Ipv4Network{0, 0}));
    EXPECT_EQ(ParseNetwork(L"10.0.0.0/ +16"), (Ipv4Network{Ip(10, 0, 0, 0), 16}));
    EXPECT_EQ(ParseNetwork(L"192.168.1.7/32"), (Ipv4Network{Ip(192, 168, 1, 7), 32}));
}

TEST(ParseNetwork, RejectsBareAddressesBadPrefixesAndUntrimmedText) {
    EXPECT_FALSE(ParseNetwork(L"10.1.2.3"));
    EXPECT_FALSE(ParseNetwork(L"10.0.0.0/33"));
    EXPECT_FALSE(ParseNetwork(L"10.0.0.0/-1"));
    EXPECT_FALSE(ParseNetwork(L" 10.0.0.0/8"));
    EXPECT_FALSE(ParseNetwork(L""));
    EXPECT_FALSE(ParseNetwork(L"ALL"));
    EXPECT_FALSE(ParseNetwork(L"host.example/24"));
    EXPECT_FALSE(ParseNetwork(L"10.0.0.256/8"));
    EXPECT_FALSE(ParseNetwork(L"10.0.0.0/99999999999999999999"));
    EXPECT_FALSE(ParseNetwork(std::wstring(L"10.0.0.0\0x/8", 12)));
}

TEST(ParseTargetRoutes, TrimsSkipsInvalidAndKeepsOrderAndDuplicates) {
    const auto routes = ParseTargetRoutes({L"  192.168.1.0/24 ", L"", L"10.1.2.3", L"10.0.0.0/33", L"10.20.0.0/16",
                                           L"192.168.1.9/24"});
    ASSERT_EQ(routes.size(), 3u);
    EXPECT_EQ(routes[0], (Ipv4Network{Ip(192, 168, 1, 0), 24}));
    EXPECT_EQ(routes[1], (Ipv4Network{Ip(10, 20, 0, 0), 16}));
    EXPECT_EQ(routes[2], (Ipv4Network{Ip(192, 168, 1, 0), 24}));
}

TEST(ParseAssignedAddress, IgnoresTheSuffixAndDoesNotTrim) {
    EXPECT_EQ(ParseAssignedAddress(L"100.64.0.7/10"), Ip(100, 64, 0, 7));
    EXPECT_EQ(ParseAssignedAddress(L"100.64.1.2/32"), Ip(100, 64, 1, 2));
    EXPECT_EQ(ParseAssignedAddress(L"100.64.1.2/garbage"), Ip(100, 64, 1, 2));
    EXPECT_FALSE(ParseAssignedAddress(L"100.64.0.256"));
    EXPECT_FALSE(ParseAssignedAddress(L"abc"));
    EXPECT_FALSE(ParseAssignedAddress(L" 100.64.0.7"));
    EXPECT_FALSE(ParseAssignedAddress(L""));
}

TEST(Ipv4Network, MaskAndRangeArithmetic) {
    EXPECT_EQ(PrefixMask(0), 0u);
    EXPECT_EQ(PrefixMask(12), 0xFFF00000u);
    EXPECT_EQ(PrefixMask(32), 0xFFFFFFFFu);
    EXPECT_EQ(LastAddress({Ip(100, 80, 0, 0), 24}), Ip(100, 80, 0, 255));
    EXPECT_EQ(LastAddress({0, 0}), 0xFFFFFFFFu);
    EXPECT_EQ(FormatIpv4(Ip(255, 0, 10, 1)), "255.0.10.1");
}

TEST(Ipv4Parsing, SurvivesArbitraryText) {
    std::mt19937 random(7);
    const std::wstring alphabet = L"0123456789./- +\t\u00E9\u5DE5x";
    for (int round = 0; round < 5000; ++round) {
        std::wstring text(random() % 24, L'0');
        for (wchar_t& c : text) {
            c = random() % 5 == 0 ? static_cast<wchar_t>(random() % 0x10000) : alphabet[random() % alphabet.size()];
        }
        if (auto network = ParseNetwork(text)) {
            EXPECT_LE(network->prefixLength, 32u);
            EXPECT_EQ(network->address & ~PrefixMask(network->prefixLength), 0u);
        }
        ParseAssignedAddress(text);
        ParseTargetRoutes({text, text});
    }
}

}  // namespace
}  // namespace ostrevane
