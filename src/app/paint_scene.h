// What the main window and its owner-drawn buttons look like, as a list of shapes and texts in
// client pixels, built from the window's state without any drawing. The GDI layer (painting.h)
// only executes the list, so every rule of the look is testable here.
#pragma once

#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace ostrevane {

// What a paint needs to know, read from the window's state and the engine's flags.
struct PaintModel {
    int clientWidth = 0;
    int clientHeight = 0;
    std::uint8_t selectedPage = 0;  // 0 connect, 1 log
    std::wstring deviceNumber;
    std::wstring assignedAddress;
    std::wstring routesText;
    std::wstring targetNetwork;
    bool running = false;
    bool relayConnected = false;
};

struct PaintRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const PaintRect&) const = default;
};

// The sidebar's connection card: the pill and the detail that follow the engine's flags.
inline constexpr PaintRect kConnectionCard{18, 132, 328, 252};

enum class FontRole : std::uint8_t { Body, Title, Heading, Subheading, Button };

// DrawText formats: DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS, the same centred, and
// DT_WORDBREAK | DT_END_ELLIPSIS.
inline constexpr std::uint32_t kSingleLineFormat = 0x8024;
inline constexpr std::uint32_t kCenteredFormat = 0x8025;
inline constexpr std::uint32_t kWrappedFormat = 0x8010;

struct FillItem {  // a plain rectangle
    PaintRect rect;
    std::uint32_t color = 0;
};
struct RoundedItem {  // RoundRect with a solid fill and a 1-pixel outline
    PaintRect rect;
    int radius = 0;
    std::uint32_t fill = 0;
    std::uint32_t outline = 0;
};
struct DotItem {  // an ellipse without outline
    PaintRect rect;
    std::uint32_t fill = 0;
};
struct LineItem {  // a solid line
    int fromX = 0;
    int fromY = 0;
    int toX = 0;
    int toY = 0;
    int width = 1;
    std::uint32_t color = 0;
};
struct TextItem {  // drawn with a transparent background
    PaintRect rect;
    std::wstring text;
    FontRole font = FontRole::Body;
    std::uint32_t color = 0;
    std::uint32_t format = kSingleLineFormat;
};

using PaintItem = std::variant<FillItem, RoundedItem, DotItem, LineItem, TextItem>;
using PaintScene = std::vector<PaintItem>;

// The connection as the sidebar's status card tells it.
struct ConnectionStatusText {
    bool online = false;  // running and relay connected: green dot
    std::wstring pill;
    std::wstring detail;
};
ConnectionStatusText DescribeConnection(const PaintModel& model);

// Background, sidebar, header tabs and the selected page's cards, in drawing order.
PaintScene BuildMainWindowScene(const PaintModel& model);

// One owner-drawn button: the card-coloured item rectangle, the rounded button over it and its
// text, in the colours of its scheme and state.
PaintScene BuildButtonScene(const PaintRect& item, unsigned controlId, bool disabled, bool pressed,
                            const std::wstring& text);

}  // namespace ostrevane
