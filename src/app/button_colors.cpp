#include "app/button_colors.h"

#include "app/control_table.h"
#include "app/palette.h"

namespace ostrevane {
namespace {

struct SchemeColors {
    ButtonColors enabled;
    ButtonColors disabled;
};

constexpr SchemeColors kPrimary{{0x6E543A, 0x9A795B, 0xFCFAF8}, {0x31271F, 0x514137, 0xFCFAF8}};
constexpr SchemeColors kDanger{{0x2F2758, 0x52477F, 0xC8BEFF}, {0x262025, 0x403741, 0xCDC4EE}};
constexpr SchemeColors kPlain{{0x322822, palette::kCardOutline, palette::kPrimaryText},
                              {0x241D19, palette::kCardOutline, 0xE6DAD2}};

const SchemeColors& ColorsOf(ButtonScheme scheme) {
    switch (scheme) {
        case ButtonScheme::Primary:
            return kPrimary;
        case ButtonScheme::Danger:
            return kDanger;
        case ButtonScheme::Plain:
            break;
    }
    return kPlain;
}

}  // namespace

ButtonScheme SchemeForButton(unsigned controlId) {
    switch (controlId) {
        case control_id::kConnect:
        case control_id::kCopy:
            return ButtonScheme::Primary;
        case control_id::kDisconnect:
        case control_id::kDelete:
            return ButtonScheme::Danger;
        default:
            return ButtonScheme::Plain;
    }
}

std::uint32_t DarkenForPress(std::uint32_t color) {
    return palette::Rgb(palette::Red(color) * 8 / 10, palette::Green(color) * 8 / 10, palette::Blue(color) * 8 / 10);
}

ButtonColors ButtonColorsFor(unsigned controlId, bool disabled, bool pressed) {
    const SchemeColors& scheme = ColorsOf(SchemeForButton(controlId));
    if (disabled) {
        return scheme.disabled;
    }
    ButtonColors colors = scheme.enabled;
    if (pressed) {
        colors.fill = DarkenForPress(colors.fill);
    }
    return colors;
}

}  // namespace ostrevane
