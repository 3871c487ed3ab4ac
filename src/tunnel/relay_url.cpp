#include "tunnel/relay_url.h"

#include <optional>
#include <stdexcept>
#include <utility>

#include "settings/text_utils.h"

namespace ostrevane {

std::wstring BuildRelayUrl(const std::wstring& serverUrl, const std::wstring& relayPath) {
    const std::wstring base = NormalizeServerUrl(serverUrl);
    const CrackedUrl parts = ParseRelayUrl(base + relayPath);
    std::wstring url = parts.secure ? L"wss://" : L"ws://";
    url += parts.host;
    if (parts.port != (parts.secure ? 443 : 80)) {
        url += L":" + std::to_wstring(parts.port);
    }
    return url + parts.path;
}

CrackedUrl ParseRelayUrl(const std::wstring& url) {
    std::wstring cracked = url;
    if (cracked.starts_with(L"ws://")) {
        cracked.replace(0, 5, L"http://");
    } else if (cracked.starts_with(L"wss://")) {
        cracked.replace(0, 6, L"https://");
    }

    std::optional<CrackedUrl> parts = CrackUrlComponents(cracked);
    if (!parts) {
        throw std::runtime_error("WinHttpCrackUrl failed for URL: " + WideToUtf8(url));
    }
    if (parts->path.empty()) {
        parts->path = L"/";
    }
    parts->path += std::exchange(parts->extra, {});
    return *std::move(parts);
}

}  // namespace ostrevane
