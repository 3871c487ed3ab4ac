// Geometry of the main window: where every control goes for a client size and page, which
// controls each page shows, the header tabs' click areas and the window's size limits. Pure.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace ostrevane {

inline constexpr std::uint8_t kConnectPage = 0;
inline constexpr std::uint8_t kLogPage = 1;

inline constexpr int kInitialWindowWidth = 1220;
inline constexpr int kInitialWindowHeight = 820;
inline constexpr int kMinimumTrackWidth = 1220;
inline constexpr int kMinimumTrackHeight = 860;

// Parked controls sit outside the client area.
inline constexpr int kParkedPosition = -1000;
inline constexpr int kParkedSize = 10;

struct ControlPlacement {
    int id = 0;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;  // for a combo box: the height with its list dropped

    bool operator==(const ControlPlacement&) const = default;
};

// Client heights from this one on get the full layout: every y as designed, and the status card
// following the bottom edge. Below it the gaps between the cards, titles and input rows shrink
// (never a control or a label with its input), down to the smallest height that still shows the
// whole connect page.
inline constexpr int kFullLayoutHeight = 774;
inline constexpr int kSmallestLayoutHeight = 640;

// Where a y of the full layout lies at this client height: unchanged from kFullLayoutHeight on.
int LayoutY(int y, int clientHeight);

// Top of the status card: the client height less 132, kept within 642..736; compressed below
// kFullLayoutHeight.
int StatusCardTop(int clientHeight);

// Bottom of the status card (and of the log card): 26 above the client's bottom edge, less once
// the layout is compressed.
int StatusCardBottom(int clientHeight);

struct TrackSize {
    int width = 0;
    int height = 0;
    bool operator==(const TrackSize&) const = default;
};

// The smallest window: 1220 x 860, but never more than the work area of the window's monitor.
TrackSize MinimumTrackSize(int workAreaWidth, int workAreaHeight);

struct ScreenRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const ScreenRect&) const = default;
};

// The window rectangle made no larger than the work area and moved inside it.
ScreenRect FitIntoWorkArea(const ScreenRect& window, const ScreenRect& workArea);

// Width of the test-address box: the client width less 1072, kept within 220..360.
int TestAddressWidth(int clientWidth);

// Every control that the page moves, with its rectangle; parked controls included. Controls of the
// other page are not moved.
std::vector<ControlPlacement> LayoutPlacements(int clientWidth, int clientHeight, std::uint8_t page);

enum class PageVisibility { kUnchanged, kShown, kHidden };

// Whether the page shows or hides the control; the parked carriers of serverUrl, deviceNumber and
// engineerId are left as they are.
PageVisibility VisibilityOnPage(int id, std::uint8_t page);

// The page whose header tab holds the client point, or nothing outside both tabs (the gap
// between them included).
std::optional<std::uint8_t> TabAt(int x, int y);

}  // namespace ostrevane
