#include "tunnel/divert_filter.h"

#include "settings/text_utils.h"

namespace ostrevane {

std::wstring BuildRouteClause(const Ipv4Network& network) {
    const std::string first = FormatIpv4(FirstAddress(network));
    const std::string last = FormatIpv4(LastAddress(network));
    return L"(ip.DstAddr >= " + Utf8ToWide(first) + L" and ip.DstAddr <= " + Utf8ToWide(last) + L")";
}

std::wstring BuildDivertFilter(const std::vector<Ipv4Network>& mappingNetworks) {
    std::wstring filter = L"outbound and ip and !impostor and (icmp or tcp or udp) and (";
    for (std::size_t i = 0; i < mappingNetworks.size(); ++i) {
        if (i > 0) {
            filter += L" or ";
        }
        filter += BuildRouteClause(mappingNetworks[i]);
    }
    filter += L")";
    return filter;
}

}  // namespace ostrevane
