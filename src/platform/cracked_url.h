// WinHttpCrackUrl as every URL reader of the client uses it: the host into a 512-character buffer,
// the path into a 4096-character one, and any query the platform hands out separately. One record
// for a cracked URL; each reader applies its own rule for an empty path and its own error text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ostrevane {

struct CrackedUrl {
    std::wstring host;
    std::wstring path;    // as cracked (may be empty); a reader's path rule folds `extra` into it
    std::wstring extra;   // the query or fragment when cracked apart from the path; empty after the fold
    std::uint16_t port = 0;
    bool secure = false;  // the scheme is HTTPS (or WSS)
};

// Nothing when WinHTTP cannot split the URL; GetLastError then tells why.
std::optional<CrackedUrl> CrackUrlComponents(const std::wstring& url);

}  // namespace ostrevane
