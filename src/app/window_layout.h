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

// Top of the status card: the client height less 132, kept within 642..736.
int StatusCardTop(int clientHeight);

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
