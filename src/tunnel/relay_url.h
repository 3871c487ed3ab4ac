// The relay's ws:// URL: built from the control service's base URL and the relay path, and taken
// apart again (host, path with query, port, scheme) for the TCP connection and the upgrade request.
#pragma once

#include <cstdint>
#include <string>

namespace ostrevane {

struct RelayUrlParts {
    std::wstring host;
    std::wstring path;  // with the query; "/" when the URL has no path
    std::uint16_t port = 0;
    bool secure = false;
};

// ws:// (or wss:// for an https base URL) + host + ":port" unless it is the scheme's default + path.
// An empty base URL stands for the built-in default; "http://" is assumed when no scheme is written.
std::wstring BuildRelayUrl(const std::wstring& serverUrl, const std::wstring& relayPath);

// Accepts ws://, wss://, http:// and https:// URLs.
// Throws "WinHttpCrackUrl failed for URL: " followed by the URL in UTF-8.
RelayUrlParts ParseRelayUrl(const std::wstring& url);

}  // namespace ostrevane
