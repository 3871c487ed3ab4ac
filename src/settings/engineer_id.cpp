#include "settings/engineer_id.h"

#include <cstdint>
#include <random>

namespace ostrevane {

std::wstring NewEngineerId() {
    // A new generator per call, seeded from the operating system's random source.
    std::random_device source;
    std::mt19937 generator(source());
    std::uniform_int_distribution<std::uint32_t> number(10000000u, 99999999u);
    return L"ENG-" + std::to_wstring(number(generator));
}

}  // namespace ostrevane
