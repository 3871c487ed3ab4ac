#include "app/button_colors.h"

#include <gtest/gtest.h>

#include "app/palette.h"

namespace ostrevane {
namespace {

using palette::Rgb;

TEST(ButtonScheme, ConnectAndCopyArePrimaryDisconnectAndDeleteAreDanger) {
    EXPECT_EQ(SchemeForButton(1009), ButtonScheme::Primary);
    EXPECT_EQ(SchemeForButton(1014), ButtonScheme::Primary);
    EXPECT_EQ(SchemeForButton(1013), ButtonScheme::Danger);
    EXPECT_EQ(SchemeForButton(1020), ButtonScheme::Danger);
    for (unsigned id : {1010u, 1011u, 1012u, 1019u, 1021u, 1023u, 0u, 9999u}) {
        EXPECT_EQ(SchemeForButton(id), ButtonScheme::Plain) << id;
    }
}

TEST(ButtonColors, EnabledColoursOfEachScheme) {
    EXPECT_EQ(ButtonColorsFor(1009, false, false), (ButtonColors{Rgb(58, 84, 110), Rgb(91, 121, 154), Rgb(248, 250, 252)}));
    EXPECT_EQ(ButtonColorsFor(1013, false, false), (ButtonColors{Rgb(88, 39, 47), Rgb(127, 71, 82), Rgb(255, 190, 200)}));
    EXPECT_EQ(ButtonColorsFor(1010, false, false), (ButtonColors{Rgb(34, 40, 50), Rgb(50, 59, 72), Rgb(248, 250, 252)}));
}

TEST(ButtonColors, DisabledColoursOfEachScheme) {
    EXPECT_EQ(ButtonColorsFor(1014, true, false), (ButtonColors{Rgb(31, 39, 49), Rgb(55, 65, 81), Rgb(248, 250, 252)}));
    EXPECT_EQ(ButtonColorsFor(1020, true, false), (ButtonColors{Rgb(37, 32, 38), Rgb(65, 55, 64), Rgb(238, 196, 205)}));
    EXPECT_EQ(ButtonColorsFor(1023, true, false), (ButtonColors{Rgb(25, 29, 36), Rgb(50, 59, 72), Rgb(210, 218, 230)}));
}

TEST(ButtonColors, PressedPrimaryFillIs46_67_88) {
    const ButtonColors pressed = ButtonColorsFor(1009, false, true);
    EXPECT_EQ(pressed.fill, Rgb(46, 67, 88));
    // Only the fill darkens.
    EXPECT_EQ(pressed.outline, ButtonColorsFor(1009, false, false).outline);
    EXPECT_EQ(pressed.text, ButtonColorsFor(1009, false, false).text);
}

TEST(ButtonColors, PressedFillsOfTheOtherSchemesRoundDown) {
    // 88 * 0.8 = 70.4, 39 * 0.8 = 31.2, 47 * 0.8 = 37.6
    EXPECT_EQ(ButtonColorsFor(1013, false, true).fill, Rgb(70, 31, 37));
    // 34 * 0.8 = 27.2, 40 * 0.8 = 32, 50 * 0.8 = 40
    EXPECT_EQ(ButtonColorsFor(1011, false, true).fill, Rgb(27, 32, 40));
}

TEST(ButtonColors, DisabledButtonsAreNeverDrawnPressed) {
    for (unsigned id : {1009u, 1013u, 1010u}) {
        EXPECT_EQ(ButtonColorsFor(id, true, true), ButtonColorsFor(id, true, false)) << id;
    }
}

TEST(DarkenForPress, AppliesEightTenthsToEachComponent) {
    EXPECT_EQ(DarkenForPress(Rgb(255, 255, 255)), Rgb(204, 204, 204));
    EXPECT_EQ(DarkenForPress(Rgb(1, 4, 9)), Rgb(0, 3, 7));
    EXPECT_EQ(DarkenForPress(0), 0u);
}

}  // namespace
}  // namespace ostrevane
