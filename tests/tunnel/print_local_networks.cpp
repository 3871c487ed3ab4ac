// Prints the machine's own networks as the tunnel sees them, one "a.b.c.d/n" per line.
#include <cstdio>

#include "tunnel/mapping_networks.h"

int main() {
    for (const ostrevane::Ipv4Network& network : ostrevane::CollectLocalNetworks()) {
        std::printf("%s/%u\n", ostrevane::FormatIpv4(network.address).c_str(), network.prefixLength);
    }
    return 0;
}
