// The WinDivert filter that selects outbound IPv4 ICMP, TCP and UDP packets to the mapping networks.
#pragma once

#include <string>
#include <vector>

#include "tunnel/ipv4_network.h"

namespace ostrevane {

// "(ip.DstAddr >= F and ip.DstAddr <= L)" for the network's first and last address.
std::wstring BuildRouteClause(const Ipv4Network& network);

// Clauses of the networks, in order, joined with " or " inside the fixed outbound prefix.
std::wstring BuildDivertFilter(const std::vector<Ipv4Network>& mappingNetworks);

}  // namespace ostrevane
