// The machine's own IPv4 networks, read from the adapter list.
#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include <vector>

#include "tunnel/mapping_networks.h"

namespace ostrevane {

std::vector<Ipv4Network> CollectLocalNetworks() {
    constexpr ULONG kFlags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    ULONG size = 0;
    GetAdaptersAddresses(AF_INET, kFlags, nullptr, nullptr, &size);
    if (size == 0) {
        return {};
    }
    std::vector<unsigned char> buffer(size, 0);
    auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data());
    if (GetAdaptersAddresses(AF_INET, kFlags, nullptr, adapters, &size) != ERROR_SUCCESS) {
        return {};
    }

    std::vector<Ipv4Network> networks;
    for (const IP_ADAPTER_ADDRESSES* adapter = adapters; adapter != nullptr; adapter = adapter->Next) {
        if (adapter->OperStatus != IfOperStatusUp) {
            continue;
        }
        for (const IP_ADAPTER_UNICAST_ADDRESS* unicast = adapter->FirstUnicastAddress; unicast != nullptr;
             unicast = unicast->Next) {
            const SOCKADDR* socketAddress = unicast->Address.lpSockaddr;
            if (socketAddress == nullptr || socketAddress->sa_family != AF_INET) {
                continue;
            }
            const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(socketAddress);
            const std::uint32_t address = ntohl(ipv4->sin_addr.s_addr);
            if ((address >> 24) == 127 || (address >> 16) == 0xA9FE) {  // loopback, link-local
                continue;
            }
            const std::uint32_t prefixLength = unicast->OnLinkPrefixLength > 32 ? 32 : unicast->OnLinkPrefixLength;
            networks.push_back({address & PrefixMask(prefixLength), prefixLength});
        }
    }
    return networks;
}

}  // namespace ostrevane
