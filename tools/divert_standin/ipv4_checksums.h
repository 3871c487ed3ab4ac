// IPv4 header and ICMP, TCP or UDP checksums computed in place (RFC 1071 with the pseudo-header).
#pragma once

#include <cstddef>

namespace ostrevane::standin {

// Returns false for anything that is not a well-formed IPv4 packet of at least `length` bytes.
bool CalcIpv4Checksums(unsigned char* packet, std::size_t length);

}  // namespace ostrevane::standin
