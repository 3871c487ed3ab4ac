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

// The gaps of the full layout that may shrink, as [top, bottom) with how much each gives up at the
// smallest height: above and below the titles, between the input rows, around and between the
// cards, under the status line and at the bottom edge. Together they give up exactly the
// difference between the full and the smallest height.
struct ElasticGap {
    int top;
    int bottom;
    int give;
};
constexpr ElasticGap kElasticGaps[] = {
    {116, 138, 12}, {178, 190, 8}, {268, 300, 24}, {364, 378, 8},  {448, 466, 10},
    {466, 486, 10}, {486, 508, 12}, {548, 560, 8}, {716, 748, 24}, {748, 774, 18},
};

constexpr int TotalGive() {
    int total = 0;
    for (const ElasticGap& gap : kElasticGaps) {
        total += gap.give;
    }
    return total;
}
static_assert(TotalGive() == kFullLayoutHeight - kSmallestLayoutHeight);

}  // namespace

int LayoutY(int y, int clientHeight) {
    if (clientHeight >= kFullLayoutHeight) {
        return y;
    }
    const int shortfall = kFullLayoutHeight - std::max(clientHeight, kSmallestLayoutHeight);
    // Each gap gives up its share of the shortfall; a y inside a gap moves with its part of it.
    long long givenAbove = 0;
    for (const ElasticGap& gap : kElasticGaps) {
        const int covered = std::clamp(y - gap.top, 0, gap.bottom - gap.top);
        givenAbove += static_cast<long long>(gap.give) * covered * 1000 / (gap.bottom - gap.top);
    }
    return y - static_cast<int>(givenAbove * shortfall / (static_cast<long long>(TotalGive()) * 1000));
}

int StatusCardTop(int clientHeight) {
    return clientHeight >= kFullLayoutHeight ? std::clamp(clientHeight - 132, 642, 736) : LayoutY(642, clientHeight);
}

int StatusCardBottom(int clientHeight) {
    return clientHeight >= kFullLayoutHeight ? clientHeight - 26 : LayoutY(kFullLayoutHeight - 26, clientHeight);
}

TrackSize MinimumTrackSize(int workAreaWidth, int workAreaHeight) {
    TrackSize size{kMinimumTrackWidth, kMinimumTrackHeight};
    // A work area the system could not tell (zero or less) leaves the designed minimum.
    if (workAreaWidth > 0) {
        size.width = std::min(size.width, workAreaWidth);
    }
    if (workAreaHeight > 0) {
        size.height = std::min(size.height, workAreaHeight);
    }
    return size;
}

ScreenRect FitIntoWorkArea(const ScreenRect& window, const ScreenRect& workArea) {
    const int width = std::min(window.right - window.left, workArea.right - workArea.left);
    const int height = std::min(window.bottom - window.top, workArea.bottom - workArea.top);
    const int left = std::clamp(window.left, workArea.left, workArea.right - width);
    const int top = std::clamp(window.top, workArea.top, workArea.bottom - height);
    return {left, top, left + width, top + height};
}

int TestAddressWidth(int clientWidth) { return std::clamp(clientWidth - 1072, 220, 360); }

std::vector<ControlPlacement> LayoutPlacements(int clientWidth, int clientHeight, std::uint8_t page) {
    const int w = clientWidth;
    if (page != kConnectPage) {
        return {{kActivityLog, 382, 176, w - 432, std::max(clientHeight - 228, 220)},
                Parked(kServerUrl), Parked(kDeviceNumber), Parked(kEngineerId), Parked(kStatusLine)};
    }
    const int t = TestAddressWidth(clientWidth);
    const int y = StatusCardTop(clientHeight);
    const auto at = [clientHeight](int fullY) { return LayoutY(fullY, clientHeight); };
    const int row = at(410);
    return {
        {kAccessKey, 382, at(226), w - 432, 42},
        {kTargetNetwork, 382, at(334), 180, 160},
        {kTestAddress, 382, row, t, 38},
        {kTest, t + 396, row, 96, 38},
        {kGetNetworks, t + 510, row, 96, 38},
        {kConnect, t + 622, row, 96, 38},
        {kDisconnect, t + 734, row, 96, 38},
        {kDesktop, t + 846, row, 104, 38},
        {kProfileName, 382, at(592), w - 586, 42},
        {kSaveProfile, w - 164, at(592), 114, 38},
        {kSavedProfiles, 382, at(670), w - 432, 120},
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
