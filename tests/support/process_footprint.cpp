#include "support/process_footprint.h"

#include <windows.h>

#include <cstdint>

namespace ostrevane::testing {
namespace {

// Handle values are multiples of four and new handles take the lowest free value, so the open
// ones lie below the first long run of values that are not open. GetHandleInformation succeeds
// for every open handle; each probe is a server call under Wine, hence the early end.
std::size_t ProbeHandles() {
    constexpr std::uintptr_t kGiveUpAfter = 2048;  // values in a row that are not open
    std::size_t open = 0;
    std::uintptr_t missing = 0;
    for (std::uintptr_t value = 4; missing < kGiveUpAfter && value < (std::uintptr_t{1} << 24); value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) {
            ++open;
            missing = 0;
        } else {
            ++missing;
        }
    }
    return open;
}

std::size_t CommittedPrivateBytes() {
    std::size_t total = 0;
    MEMORY_BASIC_INFORMATION region{};
    const char* address = nullptr;
    while (VirtualQuery(address, &region, sizeof(region)) == sizeof(region)) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) {
            total += region.RegionSize;
        }
        const char* next = static_cast<const char*>(region.BaseAddress) + region.RegionSize;
        if (next <= address) {
            break;
        }
        address = next;
    }
    return total;
}

}  // namespace

ProcessFootprint MeasureProcessFootprint() {
    ProcessFootprint footprint;
    DWORD counted = 0;
    footprint.handles = GetProcessHandleCount(GetCurrentProcess(), &counted) && counted > 0 ? counted : ProbeHandles();
    footprint.privateBytes = CommittedPrivateBytes();
    return footprint;
}

}  // namespace ostrevane::testing
