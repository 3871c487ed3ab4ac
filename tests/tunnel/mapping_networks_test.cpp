#include "tunnel/mapping_networks.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

namespace ostrevane {
namespace {

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) { return (a << 24) | (b << 16) | (c << 8) | d; }
Ipv4Network Net(std::uint32_t address, std::uint32_t prefix) { return {address, prefix}; }
RouteMapping Kept(Ipv4Network n) { return {n.address, n.prefixLength, n.address, n.prefixLength, false}; }
RouteMapping Mapped(Ipv4Network n, std::uint32_t mapping) { return {n.address, n.prefixLength, mapping, n.prefixLength, true}; }

const char* const kNoMapping = "No available NAT mapping network was found in 100.80.0.0/12.";

std::string ChoiceError(const std::vector<Ipv4Network>& targets, const std::vector<Ipv4Network>& local) {
    try {
        ChooseMappingNetworks(targets, local);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "no error";
}

TEST(NetworksOverlap, SharesAtLeastOneAddress) {
    EXPECT_TRUE(NetworksOverlap(Net(Ip(10, 0, 0, 0), 8), Net(Ip(10, 1, 0, 0), 16)));
    EXPECT_TRUE(NetworksOverlap(Net(Ip(10, 1, 0, 0), 16), Net(Ip(10, 0, 0, 0), 8)));
    EXPECT_FALSE(NetworksOverlap(Net(Ip(10, 0, 0, 0), 24), Net(Ip(10, 0, 1, 0), 24)));
    EXPECT_TRUE(NetworksOverlap(Net(0, 0), Net(Ip(1, 2, 3, 4), 32)));
}

TEST(ChooseMappingNetworks, KeepsNetworksThatCollideWithNothing) {
    const auto mappings = ChooseMappingNetworks({Net(Ip(10, 20, 0, 0), 16)}, {Net(Ip(192, 168, 1, 0), 24)});
    EXPECT_EQ(mappings, (std::vector<RouteMapping>{Kept(Net(Ip(10, 20, 0, 0), 16))}));
}

TEST(ChooseMappingNetworks, RemapsATargetThatCollidesWithTheLocalLan) {
    const auto lan = Net(Ip(192, 168, 1, 0), 24);
    EXPECT_EQ(ChooseMappingNetworks({lan}, {lan}), (std::vector<RouteMapping>{Mapped(lan, Ip(100, 80, 0, 0))}));
}

TEST(ChooseMappingNetworks, SortsTargetsAndRemapsOnesCoveredByEarlierTargets) {
    const auto wide = Net(Ip(10, 0, 0, 0), 8);
    const auto narrow = Net(Ip(10, 1, 0, 0), 16);
    EXPECT_EQ(ChooseMappingNetworks({narrow, wide}, {}),
              (std::vector<RouteMapping>{Kept(wide), Mapped(narrow, Ip(100, 80, 0, 0))}));
}

TEST(ChooseMappingNetworks, GivesTheSecondOfTwoEqualTargetsAMappingNetwork) {
    const auto site = Net(Ip(172, 16, 5, 0), 24);
    EXPECT_EQ(ChooseMappingNetworks({site, site}, {}),
              (std::vector<RouteMapping>{Kept(site), Mapped(site, Ip(100, 80, 0, 0))}));
}

TEST(ChooseMappingNetworks, TakesTheLowestFreeBlocksAroundLocalUse) {
    const auto a = Net(Ip(192, 168, 1, 0), 24);
    const auto b = Net(Ip(192, 168, 2, 0), 24);
    const std::vector<Ipv4Network> local = {a, b};
    EXPECT_EQ(ChooseMappingNetworks({a, b}, local),
              (std::vector<RouteMapping>{Mapped(a, Ip(100, 80, 0, 0)), Mapped(b, Ip(100, 80, 1, 0))}));
    const std::vector<Ipv4Network> busy = {a, b, Net(Ip(100, 80, 0, 0), 16)};
    EXPECT_EQ(ChooseMappingNetworks({a, b}, busy),
              (std::vector<RouteMapping>{Mapped(a, Ip(100, 81, 0, 0)), Mapped(b, Ip(100, 81, 1, 0))}));
}

TEST(ChooseMappingNetworks, FailsForPrefixesShorterThanTheRange) {
    EXPECT_EQ(ChoiceError({Net(Ip(10, 0, 0, 0), 8)}, {Net(Ip(10, 0, 0, 0), 8)}), kNoMapping);
    EXPECT_EQ(ChoiceError({Net(0, 0)}, {Net(Ip(192, 168, 1, 0), 24)}), kNoMapping);
}

TEST(ChooseMappingNetworks, ASlash12HasExactlyOneCandidate) {
    const auto site = Net(Ip(172, 16, 0, 0), 12);
    EXPECT_EQ(ChooseMappingNetworks({site}, {site}), (std::vector<RouteMapping>{Mapped(site, Ip(100, 80, 0, 0))}));
    EXPECT_EQ(ChoiceError({site}, {site, Net(Ip(100, 95, 255, 0), 24)}), kNoMapping);
}

TEST(ChooseMappingNetworks, MapsAroundATargetInsideTheRange) {
    const auto inside = Net(Ip(100, 80, 0, 0), 24);
    const auto lan = Net(Ip(192, 168, 1, 0), 24);
    EXPECT_EQ(ChooseMappingNetworks({lan, inside}, {lan}),
              (std::vector<RouteMapping>{Kept(inside), Mapped(lan, Ip(100, 80, 1, 0))}));
}

TEST(ChooseMappingNetworks, EmptyInputGivesEmptyOutput) { EXPECT_TRUE(ChooseMappingNetworks({}, {}).empty()); }

TEST(ChooseMappingNetworks, RandomChoicesNeverOverlapAndStayInRange) {
    std::mt19937 random(5);
    for (int round = 0; round < 500; ++round) {
        std::vector<Ipv4Network> targets;
        std::vector<Ipv4Network> local;
        for (int i = 0; i < 6; ++i) {
            const std::uint32_t prefix = 16 + random() % 17;
            targets.push_back({Ip(10, random() % 4, random() % 256, 0) & PrefixMask(prefix), prefix});
        }
        local.push_back({Ip(10, random() % 4, 0, 0), 16});
        std::vector<RouteMapping> mappings;
        try {
            mappings = ChooseMappingNetworks(targets, local);
        } catch (const std::runtime_error& error) {
            FAIL() << error.what();
        }
        ASSERT_EQ(mappings.size(), targets.size());
        for (std::size_t i = 0; i < mappings.size(); ++i) {
            const Ipv4Network mine{mappings[i].mappingNetwork, mappings[i].mappingPrefix};
            EXPECT_EQ(mappings[i].mappingPrefix, mappings[i].targetPrefix);
            if (mappings[i].remapped) {
                EXPECT_GE(FirstAddress(mine), kMappingRangeFirst);
                EXPECT_LE(LastAddress(mine), kMappingRangeLast);
            }
            for (const Ipv4Network& l : local) {
                EXPECT_FALSE(NetworksOverlap(mine, l));
            }
            for (std::size_t j = i + 1; j < mappings.size(); ++j) {
                EXPECT_FALSE(NetworksOverlap(mine, {mappings[j].mappingNetwork, mappings[j].mappingPrefix}));
            }
        }
    }
}

}  // namespace
}  // namespace ostrevane
