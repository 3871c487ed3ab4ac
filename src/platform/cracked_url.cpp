#include "platform/cracked_url.h"

#include <windows.h>
#include <winhttp.h>

#include <vector>

namespace ostrevane {

std::optional<CrackedUrl> CrackUrlComponents(const std::wstring& url) {
    std::vector<wchar_t> host(512);
    std::vector<wchar_t> path(4096);
    std::vector<wchar_t> extra(4096);
    URL_COMPONENTS components{};
    components.dwStructSize = sizeof(components);
    components.lpszHostName = host.data();
    components.dwHostNameLength = static_cast<DWORD>(host.size());
    components.lpszUrlPath = path.data();
    components.dwUrlPathLength = static_cast<DWORD>(path.size());
    components.lpszExtraInfo = extra.data();
    components.dwExtraInfoLength = static_cast<DWORD>(extra.size());
    if (!WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &components)) {
        return std::nullopt;
    }
    CrackedUrl parts;
    parts.host.assign(components.lpszHostName, components.dwHostNameLength);
    parts.path.assign(components.lpszUrlPath, components.dwUrlPathLength);
    parts.extra.assign(components.lpszExtraInfo, components.dwExtraInfoLength);
    parts.port = components.nPort;
    parts.secure = components.nScheme == INTERNET_SCHEME_HTTPS;
    return parts;
}

}  // namespace ostrevane
