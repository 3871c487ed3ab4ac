// How many handles and how much committed private memory this process holds, measured in a way
// that also works under Wine, whose GetProcessHandleCount and PrivateUsage both answer 0.
#pragma once

#include <cstddef>

namespace ostrevane::testing {

struct ProcessFootprint {
    std::size_t handles = 0;
    std::size_t privateBytes = 0;  // committed private pages, heaps and thread stacks included
};

ProcessFootprint MeasureProcessFootprint();

}  // namespace ostrevane::testing
