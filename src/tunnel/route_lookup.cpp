#include "tunnel/route_lookup.h"

namespace ostrevane {

const RouteMapping* FindRouteMapping(const std::vector<RouteMapping>& mappings, std::uint32_t destination) {
    const RouteMapping* best = nullptr;
    for (const RouteMapping& mapping : mappings) {
        if ((destination & PrefixMask(mapping.mappingPrefix)) != mapping.mappingNetwork) {
            continue;
        }
        if (best == nullptr || mapping.mappingPrefix > best->mappingPrefix) {
            best = &mapping;
        }
    }
    return best;
}

std::uint32_t SiteAddress(const RouteMapping& mapping, std::uint32_t destination) {
    if (!mapping.remapped) {
        return destination;
    }
    const std::uint32_t mask = PrefixMask(mapping.targetPrefix);
    return (destination & ~mask) | (mapping.targetNetwork & mask);
}

}  // namespace ostrevane
