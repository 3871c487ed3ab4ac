// IPv4 addresses and networks as the tunnel parses them from the authorization's texts.
// Addresses are 32-bit unsigned in host byte order; a network's host bits are always clear.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrevane {

struct Ipv4Network {
    std::uint32_t address = 0;
    std::uint32_t prefixLength = 0;

    friend bool operator==(const Ipv4Network&, const Ipv4Network&) = default;
};

// All ones shifted left by 32 - prefix; 0 for prefix 0.
constexpr std::uint32_t PrefixMask(std::uint32_t prefixLength) {
    return prefixLength == 0 ? 0u : (prefixLength >= 32 ? 0xFFFFFFFFu : 0xFFFFFFFFu << (32 - prefixLength));
}
constexpr std::uint32_t FirstAddress(const Ipv4Network& network) { return network.address; }
constexpr std::uint32_t LastAddress(const Ipv4Network& network) {
    return network.address | ~PrefixMask(network.prefixLength);
}

// Dotted-quad text parsed the way inet_pton does for IPv4; host byte order.
std::optional<std::uint32_t> ParseIpv4Address(const std::wstring& text);

// "%u.%u.%u.%u", most significant byte first.
std::string FormatIpv4(std::uint32_t address);

// "a.b.c.d/n": the prefix is read like wcstol (blanks and sign accepted, stops at a non-digit,
// no digits read as 0) and must be at most 32; host bits are cleared.
std::optional<Ipv4Network> ParseNetwork(const std::wstring& text);

// Trims each text, skips empty and unparsable ones; keeps order and duplicates.
std::vector<Ipv4Network> ParseTargetRoutes(const std::vector<std::wstring>& texts);

// The address before the first "/" (a prefix after it is ignored); no trimming.
std::optional<std::uint32_t> ParseAssignedAddress(const std::wstring& text);

}  // namespace ostrevane
