#include "tunnel/relay_base_url.h"

#include "settings/text_utils.h"

namespace ostrevane {

std::wstring RelayBaseUrl(const std::wstring& serverUrl) {
    std::wstring base = TrimWhitespace(serverUrl);
    if (base.empty()) {
        base = kDefaultServerUrl;
    }
    if (base.size() < 3 || base.find(L"://") == std::wstring::npos) {
        base.insert(0, L"http://");
    }
    while (!base.empty() && base.back() == L'/') {
        base.pop_back();
    }
    return base;
}

}  // namespace ostrevane
