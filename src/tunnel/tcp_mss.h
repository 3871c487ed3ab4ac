// Clamping of the maximum segment size that a TCP SYN or SYN-ACK announces, so that segments
// still fit the relay's path once they are carried inside it.
#pragma once

#include <cstdint>
#include <span>

#include "tunnel/packet.h"

namespace ostrevane {

inline constexpr std::uint16_t kClampedMaximumSegmentSize = 1310;

// Lowers a maximum segment size option above 1310 to 1310 in a TCP packet with the SYN flag;
// true when it changed the packet. Malformed option lists are left alone. Checksums are not
// touched: the caller recomputes them.
bool ClampTcpMss(std::span<std::uint8_t> packet, const PacketView& view);

}  // namespace ostrevane
