// The relay's ws:// URL: built from the control service's base URL and the relay path, and taken
// apart again (host, path with query, port, scheme) for the TCP connection and the upgrade request.
#pragma once

#include <string>

#include "platform/cracked_url.h"

namespace ostrevane {

// ws:// (or wss:// for an https base URL) + host + ":port" unless it is the scheme's default + path.
// An empty base URL stands for the built-in default; "http://" is assumed when no scheme is written.
std::wstring BuildRelayUrl(const std::wstring& serverUrl, const std::wstring& relayPath);

// Accepts ws://, wss://, http:// and https:// URLs. The path with the query; "/" when the URL has
// no path.
// Throws "WinHttpCrackUrl failed for URL: " followed by the URL in UTF-8.
CrackedUrl ParseRelayUrl(const std::wstring& url);

}  // namespace ostrevane
