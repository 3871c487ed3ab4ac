// Which route mapping a diverted packet's destination belongs to, and the site address that
// stands behind a mapping-network address.
#pragma once

#include <cstdint>
#include <vector>

#include "tunnel/mapping_networks.h"

namespace ostrevane {

// The mapping whose mapping network contains the address: the longest mapping prefix wins,
// the first in the list among equal prefixes; null when none contains it.
const RouteMapping* FindRouteMapping(const std::vector<RouteMapping>& mappings, std::uint32_t destination);

// A remapped destination keeps its host part and takes the target network's network part;
// a destination of a mapping that is not remapped stays as it is.
std::uint32_t SiteAddress(const RouteMapping& mapping, std::uint32_t destination);

}  // namespace ostrevane
