#include "app/window_layout.h"

#include <algorithm>
#include <array>

#include "app/control_table.h"

namespace ostrevane {
namespace {

using namespace control_id;

// Shown on the connect page and hidden on the log page, with the status line.
constexpr std::array<int, 19> kConnectPageControls = {
    kAccessKey, kProfileName, kNotes,      kTargetNetwork, kParkedCombo, kParkedList,    kTestAddress,
    kAdd,       kDelete,      kParkedGetNetworks, kTest,   kConnect,     kGetNetworks,   kDesktop,
    kSaveProfile, kSavedProfiles, kDisconnect, kCopy,      kStatusLine};

ControlPlacement Parked(int id) { return {id, kParkedPosition, kParkedPosition, kParkedSize, kParkedSize}; }

}  // namespace

int StatusCardTop(int clientHeight) { return std::clamp(clientHeight - 132, 642, 736); }

int TestAddressWidth(int clientWidth) { return std::clamp(clientWidth - 1072, 220, 360); }

std::vector<ControlPlacement> LayoutPlacements(int clientWidth, int clientHeight, std::uint8_t page) {
    const int w = clientWidth;
    if (page != kConnectPage) {
        return {{kActivityLog, 382, 176, w - 432, std::max(clientHeight - 228, 220)},
                Parked(kServerUrl), Parked(kDeviceNumber), Parked(kEngineerId), Parked(kStatusLine)};
    }
    const int t = TestAddressWidth(clientWidth);
    const int y = StatusCardTop(clientHeight);
    return {
        {kAccessKey, 382, 226, w - 432, 42},
        {kTargetNetwork, 382, 334, 180, 160},
        {kTestAddress, 382, 410, t, 38},
        {kTest, t + 396, 410, 96, 38},
        {kGetNetworks, t + 510, 410, 96, 38},
        {kConnect, t + 622, 410, 96, 38},
        {kDisconnect, t + 734, 410, 96, 38},
        {kDesktop, t + 846, 410, 104, 38},
        {kProfileName, 382, 592, w - 586, 42},
        {kSaveProfile, w - 164, 592, 114, 38},
        {kSavedProfiles, 382, 670, w - 432, 120},
        {kStatusLine, 382, y + 52, w - 432, 22},
        Parked(kServerUrl), Parked(kDeviceNumber), Parked(kNotes), Parked(kEngineerId), Parked(kCopy),
        Parked(kParkedCombo), Parked(kParkedList), Parked(kAdd), Parked(kDelete), Parked(kParkedGetNetworks),
    };
}

PageVisibility VisibilityOnPage(int id, std::uint8_t page) {
    const bool connectPage = page == kConnectPage;
    if (id == kActivityLog) {
        return connectPage ? PageVisibility::kHidden : PageVisibility::kShown;
    }
    if (std::find(kConnectPageControls.begin(), kConnectPageControls.end(), id) != kConnectPageControls.end()) {
        return connectPage ? PageVisibility::kShown : PageVisibility::kHidden;
    }
    return PageVisibility::kUnchanged;
}

std::optional<std::uint8_t> TabAt(int x, int y) {
    if (y < 64 || y > 106 || x < 360 || x > 520) {
        return std::nullopt;
    }
    if (x <= 430) {
        return kConnectPage;
    }
    if (x >= 448) {
        return kLogPage;
    }
    return std::nullopt;
}

}  // namespace ostrevane
