// The colours of the owner-drawn command buttons: three schemes chosen by control id, each with
// enabled and disabled colours, and the darker fill of a pressed button.
#pragma once

#include <cstdint>

namespace ostrevane {

enum class ButtonScheme : std::uint8_t {
    Primary,  // connect, copy
    Danger,   // disconnect, delete
    Plain,    // every other button
};

struct ButtonColors {
    std::uint32_t fill = 0;     // COLORREF layout, red in the low byte
    std::uint32_t outline = 0;
    std::uint32_t text = 0;
    bool operator==(const ButtonColors&) const = default;
};

ButtonScheme SchemeForButton(unsigned controlId);

// Each of red, green and blue becomes component * 8 / 10, rounded down.
std::uint32_t DarkenForPress(std::uint32_t color);

// A disabled button takes its scheme's disabled colours and is never drawn pressed; an enabled,
// pressed one has its fill darkened.
ButtonColors ButtonColorsFor(unsigned controlId, bool disabled, bool pressed);

}  // namespace ostrevane
