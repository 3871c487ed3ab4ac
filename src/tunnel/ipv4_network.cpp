#include "tunnel/ipv4_network.h"

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#endif

#include <cwchar>

#include "settings/text_utils.h"

namespace ostrevane {

std::optional<std::uint32_t> ParseIpv4Address(const std::wstring& text) {
    const std::string utf8 = WideToUtf8(text);
    if (utf8.empty() || utf8.find('\0') != std::string::npos) {
        return std::nullopt;
    }
    in_addr parsed{};
    if (inet_pton(AF_INET, utf8.c_str(), &parsed) != 1) {
        return std::nullopt;
    }
    return ntohl(parsed.s_addr);
}

std::string FormatIpv4(std::uint32_t address) {
    return std::to_string(address >> 24) + '.' + std::to_string((address >> 16) & 0xFF) + '.' +
           std::to_string((address >> 8) & 0xFF) + '.' + std::to_string(address & 0xFF);
}

std::optional<Ipv4Network> ParseNetwork(const std::wstring& text) {
    if (text.empty()) {
        return std::nullopt;
    }
    const std::size_t slash = text.find(L'/');
    if (slash == std::wstring::npos) {
        return std::nullopt;
    }
    const std::optional<std::uint32_t> address = ParseIpv4Address(text.substr(0, slash));
    if (!address) {
        return std::nullopt;
    }
    const std::wstring prefixText = text.substr(slash + 1);
    const long prefix = std::wcstol(prefixText.c_str(), nullptr, 10);
    if (static_cast<unsigned long>(prefix) > 32) {
        return std::nullopt;
    }
    const auto prefixLength = static_cast<std::uint32_t>(prefix);
    return Ipv4Network{*address & PrefixMask(prefixLength), prefixLength};
}

std::vector<Ipv4Network> ParseTargetRoutes(const std::vector<std::wstring>& texts) {
    std::vector<Ipv4Network> networks;
    for (const std::wstring& text : texts) {
        const std::wstring trimmed = TrimWhitespace(text);
        if (trimmed.empty()) {
            continue;
        }
        if (std::optional<Ipv4Network> network = ParseNetwork(trimmed)) {
            networks.push_back(*network);
        }
    }
    return networks;
}

std::optional<std::uint32_t> ParseAssignedAddress(const std::wstring& text) {
    const std::size_t slash = text.find(L'/');
    return ParseIpv4Address(slash == std::wstring::npos ? text : text.substr(0, slash));
}

}  // namespace ostrevane
