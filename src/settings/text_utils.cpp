#include "settings/text_utils.h"

#include <algorithm>
#include <cwctype>

namespace ostrevane {

std::wstring TrimWhitespace(std::wstring text) {
    std::size_t begin = 0;
    while (begin < text.size() && std::iswspace(text[begin])) {
        ++begin;
    }
    text.erase(0, begin);
    std::size_t end = text.size();
    while (end > 0 && std::iswspace(text[end - 1])) {
        --end;
    }
    text.erase(end);
    return text;
}

std::wstring NormalizeServerUrl(std::wstring url) {
    url = TrimWhitespace(std::move(url));
    if (url.empty()) {
        return kDefaultServerUrl;
    }
    for (wchar_t& c : url) {
        if (c == L'\\') {
            c = L'/';
        }
    }
    if (url.size() < 3 || url.find(L"://") == std::wstring::npos) {
        url.insert(0, L"http://");
    }
    while (!url.empty() && url.back() == L'/') {
        url.pop_back();
    }
    if (url.empty()) {
        return kDefaultServerUrl;
    }
    return url;
}

std::vector<std::wstring> SplitNetworkList(const std::wstring& text) {
    std::vector<std::wstring> items;
    std::wstring current;
    auto flush = [&] {
        std::wstring item = TrimWhitespace(current);
        if (!item.empty()) {
            items.push_back(std::move(item));
        }
        current.clear();
    };
    for (wchar_t c : text) {
        const bool separator = c == L',' || c == L';' || c == L'\r' || c == L'\n' || std::iswspace(c);
        if (separator) {
            flush();
        } else {
            current.push_back(c);
        }
    }
    flush();
    return items;
}

std::wstring PercentEncode(const std::wstring& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::string bytes = WideToUtf8(text);
    std::wstring encoded;
    encoded.reserve(bytes.size() * 3);
    for (char raw : bytes) {
        const auto byte = static_cast<unsigned char>(raw);
        const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                                (byte >= '0' && byte <= '9') || byte == '-' || byte == '_' || byte == '.' ||
                                byte == '~';
        if (unreserved) {
            encoded.push_back(static_cast<wchar_t>(byte));
        } else {
            encoded.push_back(L'%');
            encoded.push_back(static_cast<wchar_t>(kHex[byte >> 4]));
            encoded.push_back(static_cast<wchar_t>(kHex[byte & 0x0F]));
        }
    }
    return encoded;
}

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](wchar_t x, wchar_t y) {
               return std::towlower(x) == std::towlower(y);
           });
}

std::wstring LowerCaseText(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return text;
}

std::wstring JoinLines(const std::vector<std::wstring>& items, const std::wstring& separator) {
    std::wstring joined;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) {
            joined += separator;
        }
        joined += items[i];
    }
    return joined;
}

}  // namespace ostrevane
