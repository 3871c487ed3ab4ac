#include "control/proxy_bypass_patterns.h"

#include <algorithm>
#include <cwchar>

#include "settings/text_utils.h"
#include "tunnel/ipv4_network.h"

namespace ostrevane {
namespace {

bool ContainsIgnoringCase(const std::vector<std::wstring>& list, const std::wstring& text) {
    return std::any_of(list.begin(), list.end(), [&](const std::wstring& item) { return EqualsIgnoringCase(item, text); });
}

}  // namespace

std::optional<Ipv4Cidr> ParseIpv4Cidr(const std::wstring& text) {
    const std::wstring trimmed = TrimWhitespace(text);
    const std::size_t slash = trimmed.find(L'/');
    if (trimmed.empty() || slash == std::wstring::npos) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> address = ParseIpv4Address(TrimWhitespace(trimmed.substr(0, slash)));
    const std::wstring prefixText = TrimWhitespace(trimmed.substr(slash + 1));
    const bool digitsOnly = !prefixText.empty() && std::all_of(prefixText.begin(), prefixText.end(),
                                                               [](wchar_t c) { return c >= L'0' && c <= L'9'; });
    if (!address || !digitsOnly) {
        return std::nullopt;
    }
    const unsigned long prefix = std::wcstoul(prefixText.c_str(), nullptr, 10);  // saturates on overflow
    if (prefix > 32) {
        return std::nullopt;
    }
    const auto prefixLength = static_cast<std::uint32_t>(prefix);
    return Ipv4Cidr{*address & PrefixMask(prefixLength), prefixLength};
}

std::wstring NetworkToBypassPattern(const std::wstring& network) {
    const std::optional<Ipv4Cidr> cidr = ParseIpv4Cidr(network);
    if (!cidr || cidr->prefixLength < 8) {
        return {};
    }
    const std::uint32_t n = cidr->network;
    const std::wstring a = std::to_wstring(n >> 24);
    const std::wstring b = std::to_wstring((n >> 16) & 0xFF);
    const std::wstring c = std::to_wstring((n >> 8) & 0xFF);
    if (cidr->prefixLength == 32) {
        return a + L'.' + b + L'.' + c + L'.' + std::to_wstring(n & 0xFF);
    }
    if (cidr->prefixLength >= 24) {
        return a + L'.' + b + L'.' + c + L".*";
    }
    if (cidr->prefixLength >= 16) {
        return a + L'.' + b + L".*";
    }
    return a + L".*";
}

std::vector<std::wstring> BypassPatternsForRoutes(const std::vector<std::wstring>& routes) {
    std::vector<std::wstring> patterns;
    for (const std::wstring& route : routes) {
        std::wstring pattern = NetworkToBypassPattern(route);
        if (!pattern.empty() && !ContainsIgnoringCase(patterns, pattern)) {
            patterns.push_back(std::move(pattern));
        }
    }
    return patterns;
}

std::vector<std::wstring> SplitProxyOverride(const std::wstring& value) {
    std::vector<std::wstring> entries;
    std::size_t start = 0;
    while (start <= value.size()) {
        std::size_t end = value.find(L';', start);
        if (end == std::wstring::npos) {
            end = value.size();
        }
        std::wstring entry = TrimWhitespace(value.substr(start, end - start));
        if (!entry.empty()) {
            entries.push_back(std::move(entry));
        }
        start = end + 1;
    }
    return entries;
}

ProxyOverrideChange MergeBypassPatterns(const std::vector<std::wstring>& entries,
                                        const std::vector<std::wstring>& patterns) {
    ProxyOverrideChange result;
    result.entries = entries;
    for (const std::wstring& pattern : patterns) {
        if (!ContainsIgnoringCase(result.entries, pattern)) {
            result.entries.push_back(pattern);
            result.affected.push_back(pattern);
            result.changed = true;
        }
    }
    return result;
}

ProxyOverrideChange RemoveBypassPatterns(const std::vector<std::wstring>& entries,
                                         const std::vector<std::wstring>& patterns) {
    ProxyOverrideChange result;
    for (const std::wstring& entry : entries) {
        (ContainsIgnoringCase(patterns, entry) ? result.affected : result.entries).push_back(entry);
    }
    result.changed = !result.affected.empty();
    return result;
}

}  // namespace ostrevane
