// Choice of the networks that local programs address for each site network: the network itself
// when it collides with nothing, otherwise a block of the same size inside 100.80.0.0/12.
#pragma once

#include <cstdint>
#include <vector>

#include "tunnel/ipv4_network.h"

namespace ostrevane {

struct RouteMapping {
    std::uint32_t targetNetwork = 0;
    std::uint32_t targetPrefix = 0;
    std::uint32_t mappingNetwork = 0;
    std::uint32_t mappingPrefix = 0;
    bool remapped = false;

    friend bool operator==(const RouteMapping&, const RouteMapping&) = default;
};

inline constexpr std::uint32_t kMappingRangeFirst = 0x64500000u;  // 100.80.0.0
inline constexpr std::uint32_t kMappingRangeLast = 0x645FFFFFu;   // 100.95.255.255

bool NetworksOverlap(const Ipv4Network& a, const Ipv4Network& b);

// IPv4 networks of the adapters that are up, loopback and link-local left out.
std::vector<Ipv4Network> CollectLocalNetworks();

// Sorts the targets by address then prefix and gives each its own network or the lowest free
// aligned block in the mapping range. Throws "No available NAT mapping network was found in 100.80.0.0/12.".
std::vector<RouteMapping> ChooseMappingNetworks(const std::vector<Ipv4Network>& targets,
                                                const std::vector<Ipv4Network>& localNetworks);

// The same against the machine's own networks.
std::vector<RouteMapping> ChooseMappingNetworks(const std::vector<Ipv4Network>& targets);

}  // namespace ostrevane
