// The colours of the dark interface, as COLORREF values (red in the low byte), kept free of
// <windows.h> so that the pure painting code and its tests can use them.
#pragma once

#include <cstdint>

namespace ostrevane::palette {

constexpr std::uint32_t Rgb(std::uint32_t red, std::uint32_t green, std::uint32_t blue) {
    return red | (green << 8) | (blue << 16);
}
constexpr std::uint32_t Red(std::uint32_t color) { return color & 0xFF; }
constexpr std::uint32_t Green(std::uint32_t color) { return (color >> 8) & 0xFF; }
constexpr std::uint32_t Blue(std::uint32_t color) { return (color >> 16) & 0xFF; }

inline constexpr std::uint32_t kWindowBackground = 0x100D0B;  // 11, 13, 16
inline constexpr std::uint32_t kCardFill = 0x221C18;          // 24, 28, 34
inline constexpr std::uint32_t kCardOutline = 0x483B32;       // 50, 59, 72; also the plain button outline
inline constexpr std::uint32_t kInputBackground = 0x2B231E;   // 30, 35, 43: edit and list controls
inline constexpr std::uint32_t kSidebarCard = 0x1C1714;       // 20, 23, 28
inline constexpr std::uint32_t kPrimaryText = 0xFCFAF8;       // 248, 250, 252
inline constexpr std::uint32_t kSecondaryText = 0xC6B09E;     // 158, 176, 198: secondary text, labels
inline constexpr std::uint32_t kInactiveTabText = 0xCCBAB0;   // 176, 186, 204
inline constexpr std::uint32_t kTabUnderline = 0xF8BD38;      // 56, 189, 248
inline constexpr std::uint32_t kStatusDotOnline = 0x92D267;   // 103, 210, 146
inline constexpr std::uint32_t kStatusDotOther = 0xB8A394;    // 148, 163, 184

}  // namespace ostrevane::palette
