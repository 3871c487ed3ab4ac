#include "tunnel/relay_url.h"

#include <windows.h>
#include <winhttp.h>

#include <stdexcept>
#include <vector>

#include "settings/text_utils.h"
#include "tunnel/relay_base_url.h"

namespace ostrevane {

std::wstring BuildRelayUrl(const std::wstring& serverUrl, const std::wstring& relayPath) {
    const std::wstring base = RelayBaseUrl(serverUrl);
    const RelayUrlParts parts = ParseRelayUrl(base + relayPath);
    std::wstring url = parts.secure ? L"wss://" : L"ws://";
    url += parts.host;
    if (parts.port != (parts.secure ? 443 : 80)) {
        url += L":" + std::to_wstring(parts.port);
    }
    return url + parts.path;
}

RelayUrlParts ParseRelayUrl(const std::wstring& url) {
    std::wstring cracked = url;
    if (cracked.starts_with(L"ws://")) {
        cracked.replace(0, 5, L"http://");
    } else if (cracked.starts_with(L"wss://")) {
        cracked.replace(0, 6, L"https://");
    }

    std::vector<wchar_t> host(512);
    std::vector<wchar_t> path(4096);
    std::vector<wchar_t> extra(4096);  // the query, when the platform hands it out separately
    URL_COMPONENTS components{};
    components.dwStructSize = sizeof(components);
    components.lpszHostName = host.data();
    components.dwHostNameLength = static_cast<DWORD>(host.size());
    components.lpszUrlPath = path.data();
    components.dwUrlPathLength = static_cast<DWORD>(path.size());
    components.lpszExtraInfo = extra.data();
    components.dwExtraInfoLength = static_cast<DWORD>(extra.size());
    if (!WinHttpCrackUrl(cracked.c_str(), 0, 0, &components)) {
        throw std::runtime_error("WinHttpCrackUrl failed for URL: " + WideToUtf8(url));
    }

    RelayUrlParts parts;
    parts.host.assign(components.lpszHostName, components.dwHostNameLength);
    parts.path.assign(components.lpszUrlPath, components.dwUrlPathLength);
    if (parts.path.empty()) {
        parts.path = L"/";
    }
    parts.path.append(components.lpszExtraInfo, components.dwExtraInfoLength);
    parts.port = components.nPort;
    parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    return parts;
}

}  // namespace ostrevane
