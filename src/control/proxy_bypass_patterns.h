// Proxy exception patterns for the site routes ("192.168.1.*" for a /24) and the rules for
// merging them into, and taking them out of, the user's ";"-separated exception list.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ostrevane {

struct Ipv4Cidr {
    std::uint32_t network = 0;  // host byte order, host bits cleared
    std::uint32_t prefixLength = 0;
};

// Trimmed "a.b.c.d/n" with n made of decimal digits only and at most 32.
std::optional<Ipv4Cidr> ParseIpv4Cidr(const std::wstring& text);

// "a.b.c.d" for /32, "a.b.c.*" for /24../31, "a.b.*" for /16../23, "a.*" for /8../15, else empty.
std::wstring NetworkToBypassPattern(const std::wstring& network);

// Patterns of the routes in order, without empty ones and without case-insensitive duplicates.
std::vector<std::wstring> BypassPatternsForRoutes(const std::vector<std::wstring>& routes);

// Entries cut at ";", trimmed, empty ones dropped.
std::vector<std::wstring> SplitProxyOverride(const std::wstring& value);

struct ProxyOverrideChange {
    std::vector<std::wstring> entries;  // the new list
    std::vector<std::wstring> affected; // the patterns appended, or the entries taken out
    bool changed = false;               // whether the value must be written
};

// Appends the patterns that are not present yet (compared without regard to case).
ProxyOverrideChange MergeBypassPatterns(const std::vector<std::wstring>& entries,
                                        const std::vector<std::wstring>& patterns);

// Removes every entry equal to one of the patterns (without regard to case); the rest keep their order.
// Given the entries the client itself added, this leaves the user's own entries alone.
ProxyOverrideChange RemoveBypassPatterns(const std::vector<std::wstring>& entries,
                                         const std::vector<std::wstring>& patterns);

}  // namespace ostrevane
