// CollectLocalNetworks for native builds: there is no adapter list to ask, and the fuzz targets
// pass the local networks they want to ChooseMappingNetworks themselves.
#include "tunnel/mapping_networks.h"

namespace ostrevane {

std::vector<Ipv4Network> CollectLocalNetworks() { return {}; }

}  // namespace ostrevane
