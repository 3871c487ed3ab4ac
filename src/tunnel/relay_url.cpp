#include "tunnel/relay_url.h"

#include <optional>
#include <stdexcept>

#include "app/url_components.h"
#include "settings/text_utils.h"

namespace ostrevane {

std::wstring BuildRelayUrl(const std::wstring& serverUrl, const std::wstring& relayPath) {
    const std::wstring base = NormalizeServerUrl(serverUrl);
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

    const std::optional<UrlComponents> components = CrackUrlComponents(cracked);
    if (!components) {
        throw std::runtime_error("WinHttpCrackUrl failed for URL: " + WideToUtf8(url));
    }

    RelayUrlParts parts;
    parts.host = components->host;
    parts.path = components->path.empty() ? L"/" : components->path;
    parts.path += components->extra;
    parts.port = components->port;
    parts.secure = components->secure;
    return parts;
}

}  // namespace ostrevane
