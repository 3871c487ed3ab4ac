#include "tunnel/route_lookup.h"

#include <gtest/gtest.h>

#include "support/packet_builder.h"

namespace ostrevane {
namespace {

using testing::Ip;

RouteMapping Kept(std::uint32_t network, std::uint32_t prefix) { return {network, prefix, network, prefix, false}; }
RouteMapping Mapped(std::uint32_t target, std::uint32_t mapping, std::uint32_t prefix) {
    return {target, prefix, mapping, prefix, true};
}

TEST(FindRouteMapping, FindsTheMappingNetworkThatHoldsTheAddress) {
    const std::vector<RouteMapping> mappings = {Mapped(Ip(192, 168, 1, 0), Ip(100, 80, 0, 0), 24),
                                                Kept(Ip(10, 20, 0, 0), 16)};
    EXPECT_EQ(FindRouteMapping(mappings, Ip(100, 80, 0, 25)), &mappings[0]);
    EXPECT_EQ(FindRouteMapping(mappings, Ip(10, 20, 255, 255)), &mappings[1]);
    EXPECT_EQ(FindRouteMapping(mappings, Ip(192, 168, 1, 25)), nullptr) << "the target itself is not addressed";
    EXPECT_EQ(FindRouteMapping(mappings, Ip(100, 80, 1, 0)), nullptr);
    EXPECT_EQ(FindRouteMapping({}, Ip(100, 80, 0, 25)), nullptr);
}

TEST(FindRouteMapping, PrefersTheLongestPrefixThenTheFirst) {
    const std::vector<RouteMapping> mappings = {Kept(Ip(10, 0, 0, 0), 8), Kept(Ip(10, 1, 0, 0), 16),
                                                Mapped(Ip(172, 16, 0, 0), Ip(10, 1, 2, 0), 24),
                                                Mapped(Ip(172, 17, 0, 0), Ip(10, 1, 2, 0), 24)};
    EXPECT_EQ(FindRouteMapping(mappings, Ip(10, 9, 9, 9)), &mappings[0]);
    EXPECT_EQ(FindRouteMapping(mappings, Ip(10, 1, 9, 9)), &mappings[1]);
    EXPECT_EQ(FindRouteMapping(mappings, Ip(10, 1, 2, 3)), &mappings[2]);
}

TEST(FindRouteMapping, ADefaultRouteHoldsEveryAddress) {
    const std::vector<RouteMapping> mappings = {Kept(0, 0)};
    EXPECT_EQ(FindRouteMapping(mappings, Ip(8, 8, 8, 8)), &mappings[0]);
}

TEST(SiteAddress, SwapsTheNetworkPartOfRemappedAddresses) {
    EXPECT_EQ(SiteAddress(Mapped(Ip(192, 168, 1, 0), Ip(100, 80, 0, 0), 24), Ip(100, 80, 0, 25)), Ip(192, 168, 1, 25));
    EXPECT_EQ(SiteAddress(Mapped(Ip(10, 1, 0, 0), Ip(100, 81, 0, 0), 16), Ip(100, 81, 200, 7)), Ip(10, 1, 200, 7));
    EXPECT_EQ(SiteAddress(Mapped(Ip(172, 16, 5, 9), Ip(100, 80, 0, 3), 32), Ip(100, 80, 0, 3)), Ip(172, 16, 5, 9));
}

TEST(SiteAddress, KeepsAddressesOfNetworksThatAreNotRemapped) {
    EXPECT_EQ(SiteAddress(Kept(Ip(10, 20, 0, 0), 16), Ip(10, 20, 3, 4)), Ip(10, 20, 3, 4));
}

}  // namespace
}  // namespace ostrevane
