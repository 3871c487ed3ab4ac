// An independent check of IPv4, TCP, UDP and ICMP checksums (the one's complement sum of
// RFC 1071 over the IPv4 header, and over the pseudo-header plus segment for TCP and UDP), so
// that tests need not trust the checksum helper that the tunnel calls.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace ostrevane::testing {

// One's complement of the one's complement sum of 16-bit big-endian words; an odd last byte is
// padded with zero.
std::uint16_t InternetChecksum(std::span<const std::uint8_t> bytes, std::uint32_t initialSum = 0);

// The values that belong in the IP header checksum field and in the transport checksum field
// of a well-formed packet (UDP writes 0xFFFF for a computed 0).
std::uint16_t ExpectedIpChecksum(std::span<const std::uint8_t> packet);
std::uint16_t ExpectedTransportChecksum(std::span<const std::uint8_t> packet);

// A copy of the packet with both checksum fields set to the expected values.
std::vector<std::uint8_t> WithChecksums(std::vector<std::uint8_t> packet);

// Empty when both fields hold exactly the expected values, otherwise what is wrong.
std::string ChecksumProblems(std::span<const std::uint8_t> packet);

}  // namespace ostrevane::testing
