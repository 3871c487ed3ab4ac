// Validation of one IPv4 packet as the tunnel handles it (ICMP, TCP or UDP with a complete
// transport header) and the offsets of the header fields that the translation reads and writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace ostrevane {

inline constexpr std::uint8_t kProtocolIcmp = 1;
inline constexpr std::uint8_t kProtocolTcp = 6;
inline constexpr std::uint8_t kProtocolUdp = 17;

// Offsets inside the IPv4 header.
inline constexpr std::size_t kIpTotalLengthOffset = 2;
inline constexpr std::size_t kIpProtocolOffset = 9;
inline constexpr std::size_t kIpSourceOffset = 12;
inline constexpr std::size_t kIpDestinationOffset = 16;
inline constexpr std::size_t kIpMinimumHeaderLength = 20;

// Offsets inside the transport header.
inline constexpr std::size_t kSourcePortOffset = 0;
inline constexpr std::size_t kDestinationPortOffset = 2;
inline constexpr std::size_t kIcmpIdentifierOffset = 4;  // the echo identifier of requests and replies
inline constexpr std::size_t kTcpMinimumHeaderLength = 20;
inline constexpr std::size_t kUdpHeaderLength = 8;
inline constexpr std::size_t kIcmpMinimumHeaderLength = 8;

// What validation learnt about a packet. Only the first totalLength bytes are the packet;
// the transport header starts at headerLength.
struct PacketView {
    std::uint32_t totalLength = 0;
    std::uint32_t headerLength = 0;
    std::uint8_t protocol = 0;

    friend bool operator==(const PacketView&, const PacketView&) = default;
};

// Accepts IPv4 with a header length of 20 to the bytes held, a total length from the header
// length to the bytes held, and ICMP or UDP with 8 or TCP with 20 bytes of transport header.
// The fragment fields are not looked at.
std::optional<PacketView> ValidatePacket(std::span<const std::uint8_t> bytes);

}  // namespace ostrevane
