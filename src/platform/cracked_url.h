// WinHttpCrackUrl as both URL readers of the client use it: the host into a 512-character buffer,
// the path into a 4096-character one, and any query the platform hands out separately.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace ostrevane {

struct UrlComponents {
    std::wstring host;
    std::wstring path;   // as returned; may be empty
    std::wstring extra;  // the query or fragment when returned apart from the path
    std::uint16_t port = 0;
    bool secure = false;  // the scheme is HTTPS
};

// Nothing when WinHTTP cannot split the URL; GetLastError then tells why.
std::optional<UrlComponents> CrackUrlComponents(const std::wstring& url);

}  // namespace ostrevane
