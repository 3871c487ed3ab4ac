// The connection table of the tunnel: for every outbound flow, the addresses that the local
// program used and the interface it left from, so that the site's replies can be put back.
#pragma once

#include <compare>
#include <cstdint>
#include <map>
#include <span>

#include "tunnel/packet.h"

namespace ostrevane {

// A flow as the tunnel address sees it. "Local" is this side of the tunnel, "remote" the site
// device; for ICMP the local port is the echo identifier and the remote port is 0. Ordered
// field by field in declaration order.
struct FlowKey {
    std::uint8_t protocol = 0;
    std::uint32_t localAddress = 0;
    std::uint16_t localPort = 0;
    std::uint32_t remoteAddress = 0;
    std::uint16_t remotePort = 0;

    friend auto operator<=>(const FlowKey&, const FlowKey&) = default;
};

struct FlowEntry {
    std::uint32_t untranslatedSource = 0;       // the local address the program sent from
    std::uint32_t untranslatedDestination = 0;  // the address it sent to (inside the mapping network when remapped)
    std::uint32_t interfaceIndex = 0;           // of the outbound packet's diversion record
    std::uint32_t subInterfaceIndex = 0;

    friend bool operator==(const FlowEntry&, const FlowEntry&) = default;
};

// No expiry and no size limit: the engine empties it whenever the relay reconnects or stops.
using FlowTable = std::map<FlowKey, FlowEntry>;

// Key of an outbound packet after rewriting: source as local, destination as remote.
FlowKey OutboundFlowKey(std::span<const std::uint8_t> packet, const PacketView& view);

// Key of a reply as it arrives from the site: destination as local, source as remote.
FlowKey InboundFlowKey(std::span<const std::uint8_t> packet, const PacketView& view);

}  // namespace ostrevane
