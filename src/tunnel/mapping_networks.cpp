#include "tunnel/mapping_networks.h"

#include <algorithm>
#include <stdexcept>

namespace ostrevane {
namespace {

bool OverlapsAny(const Ipv4Network& network, const std::vector<Ipv4Network>& others) {
    return std::any_of(others.begin(), others.end(),
                       [&](const Ipv4Network& other) { return NetworksOverlap(network, other); });
}

[[noreturn]] void ThrowNoMappingNetwork() {
    throw std::runtime_error("No available NAT mapping network was found in 100.80.0.0/12.");
}

Ipv4Network FindFreeMappingNetwork(std::uint32_t prefixLength, const std::vector<Ipv4Network>& localNetworks,
                                   const std::vector<Ipv4Network>& taken) {
    if (prefixLength == 0) {
        ThrowNoMappingNetwork();
    }
    const std::uint64_t step = std::uint64_t{1} << (32 - prefixLength);
    for (std::uint64_t candidate = kMappingRangeFirst; candidate <= kMappingRangeLast; candidate += step) {
        const Ipv4Network network{static_cast<std::uint32_t>(candidate) & PrefixMask(prefixLength), prefixLength};
        if ((network.address & PrefixMask(12)) != kMappingRangeFirst || LastAddress(network) > kMappingRangeLast) {
            ThrowNoMappingNetwork();
        }
        if (!OverlapsAny(network, localNetworks) && !OverlapsAny(network, taken)) {
            return network;
        }
    }
    ThrowNoMappingNetwork();
}

}  // namespace

bool NetworksOverlap(const Ipv4Network& a, const Ipv4Network& b) {
    return FirstAddress(a) <= LastAddress(b) && FirstAddress(b) <= LastAddress(a);
}

std::vector<RouteMapping> ChooseMappingNetworks(const std::vector<Ipv4Network>& targets,
                                                const std::vector<Ipv4Network>& localNetworks) {
    std::vector<Ipv4Network> sorted = targets;
    std::stable_sort(sorted.begin(), sorted.end(), [](const Ipv4Network& a, const Ipv4Network& b) {
        return a.address != b.address ? a.address < b.address : a.prefixLength < b.prefixLength;
    });

    std::vector<RouteMapping> mappings;
    std::vector<Ipv4Network> taken;
    for (const Ipv4Network& target : sorted) {
        const bool collides = OverlapsAny(target, localNetworks) || OverlapsAny(target, taken);
        if (!collides) {
            mappings.push_back({target.address, target.prefixLength, target.address, target.prefixLength, false});
            taken.push_back(target);
            continue;
        }
        const Ipv4Network mapping = FindFreeMappingNetwork(target.prefixLength, localNetworks, taken);
        mappings.push_back({target.address, target.prefixLength, mapping.address, mapping.prefixLength, true});
        taken.push_back(mapping);
    }
    return mappings;
}

std::vector<RouteMapping> ChooseMappingNetworks(const std::vector<Ipv4Network>& targets) {
    return ChooseMappingNetworks(targets, CollectLocalNetworks());
}

}  // namespace ostrevane
