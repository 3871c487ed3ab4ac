// The fonts and brushes of the main window, created with the window and deleted with it.
#pragma once

#include "app/palette.h"
#include "platform/unique_handle.h"

namespace ostrevane {

struct WindowFonts {
    UniqueFont body;        // -16, normal: every control
    UniqueFont title;       // -30, bold
    UniqueFont heading;     // -20, bold
    UniqueFont subheading;  // -17, bold
    UniqueFont button;      // -14, bold: the command buttons
};

struct WindowBrushes {
    UniqueBrush background;  // RGB(11, 13, 16)
    UniqueBrush input;       // RGB(30, 35, 43)
};

inline constexpr COLORREF kBackgroundColor = palette::kWindowBackground;
inline constexpr COLORREF kInputColor = palette::kInputBackground;
inline constexpr COLORREF kPrimaryTextColor = palette::kPrimaryText;

}  // namespace ostrevane
