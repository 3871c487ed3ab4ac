// IPv4 test packets built from their fields: ICMP echo, TCP and UDP, with optional IP and TCP
// options and any payload. Checksum fields are left zero, as diverted packets with offloaded
// checksums often carry them.
#pragma once

#include <cstdint>
#include <vector>

namespace ostrevane::testing {

struct PacketFields {
    std::uint8_t protocol = 6;
    std::uint32_t source = 0;
    std::uint32_t destination = 0;
    std::uint16_t sourcePort = 0;       // ICMP: the echo identifier
    std::uint16_t destinationPort = 0;  // ICMP: the echo sequence number
    std::uint8_t icmpType = 8;          // echo request
    std::uint8_t tcpFlags = 0x18;       // PSH ACK
    std::vector<std::uint8_t> ipOptions;   // a multiple of four bytes
    std::vector<std::uint8_t> tcpOptions;  // a multiple of four bytes
    std::vector<std::uint8_t> payload;
};

std::vector<std::uint8_t> BuildPacket(const PacketFields& fields);

// The same flow seen from the other end: addresses and ports swapped, an echo request answered
// by an echo reply with the same identifier, SYN answered by SYN-ACK.
PacketFields ReplyTo(const PacketFields& fields);

std::uint32_t ReadAddress(const std::vector<std::uint8_t>& packet, std::size_t offset);
std::uint16_t ReadPort(const std::vector<std::uint8_t>& packet, std::size_t offsetInTransport);

constexpr std::uint32_t Ip(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (a << 24) | (b << 16) | (c << 8) | d;
}

}  // namespace ostrevane::testing
