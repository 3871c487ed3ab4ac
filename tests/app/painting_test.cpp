// The GDI side of painting, checked by painting into a memory surface and sampling pixels.
#include "app/painting.h"

#include <gtest/gtest.h>

#include <string>

#include "app/main_window.h"
#include "app/palette.h"
#include "app/window_controls.h"
#include "support/paint_surface.h"

namespace ostrevane {
namespace {

using palette::Rgb;
using testing::CountGdiObjects;
using testing::PaintSurface;

constexpr int kWidth = 1220;
constexpr int kHeight = 860;

PaintModel Model(std::uint8_t page, bool running, bool relayConnected) {
    PaintModel model;
    model.clientWidth = kWidth;
    model.clientHeight = kHeight;
    model.selectedPage = page;
    model.deviceNumber = L"SITE-0001";
    model.assignedAddress = L"100.64.0.2";
    model.routesText = L"192.168.1.0/24\r\n10.20.0.0/16";
    model.targetNetwork = L"ALL";
    model.running = running;
    model.relayConnected = relayConnected;
    return model;
}

class PaintingTest : public ::testing::Test {
protected:
    PaintingTest() { CreateFontsAndBrushes(window_); }

    void Paint(const PaintModel& model) { PaintMainWindow(surface_.dc(), model, fonts_); }

    // Draws a button of this id and state at (100, 100)-(196, 138); text comes from the item's
    // window, of which there is none here.
    void DrawButton(unsigned id, UINT state) {
        DRAWITEMSTRUCT item{};
        item.CtlType = ODT_BUTTON;
        item.CtlID = id;
        item.itemAction = ODA_DRAWENTIRE;
        item.itemState = state;
        item.hDC = surface_.dc();
        item.rcItem = RECT{100, 100, 196, 138};
        DrawOwnerButton(item, fonts_);
    }

    MainWindow window_;  // only its fonts and brushes, made the way the window makes them
    PaintSurface surface_{kWidth, kHeight};
    const WindowFonts& fonts_ = window_.fonts;
};

TEST_F(PaintingTest, BackgroundFillsEverythingOutsideTheCards) {
    surface_.Fill(Rgb(255, 0, 255));
    Paint(Model(0, false, false));
    EXPECT_EQ(surface_.Pixel(340, 40), palette::kWindowBackground);
    EXPECT_EQ(surface_.Pixel(1205, 300), palette::kWindowBackground);  // right of the cards
    EXPECT_EQ(surface_.Pixel(700, 476), palette::kWindowBackground);   // between cards 1 and 2
    EXPECT_EQ(surface_.Pixel(5, 850), palette::kWindowBackground);
    EXPECT_EQ(surface_.Pixel(kWidth - 1, kHeight - 1), palette::kWindowBackground);
}

TEST_F(PaintingTest, ConnectPageCardsHaveCardFillAndOutline) {
    Paint(Model(0, false, false));
    EXPECT_EQ(surface_.Pixel(1180, 300), palette::kCardFill);  // card 1
    EXPECT_EQ(surface_.Pixel(700, 116), palette::kCardOutline);
    EXPECT_EQ(surface_.Pixel(1191, 300), palette::kCardOutline);
    EXPECT_EQ(surface_.Pixel(1180, 600), palette::kCardFill);  // card 2
    EXPECT_EQ(surface_.Pixel(700, 486), palette::kCardOutline);
    // Card 3 starts at 860 - 132 = 728 and ends 26 above the bottom.
    EXPECT_EQ(surface_.Pixel(1180, 727), palette::kWindowBackground);
    EXPECT_EQ(surface_.Pixel(700, 728), palette::kCardOutline);
    EXPECT_EQ(surface_.Pixel(1180, 800), palette::kCardFill);
    EXPECT_EQ(surface_.Pixel(1180, 840), palette::kWindowBackground);
}

TEST_F(PaintingTest, LogPageHasOneCardDownToTheBottomMargin) {
    Paint(Model(1, false, false));
    EXPECT_EQ(surface_.Pixel(700, 476), palette::kCardFill);
    EXPECT_EQ(surface_.Pixel(1180, 820), palette::kCardFill);
    EXPECT_EQ(surface_.Pixel(700, 116), palette::kCardOutline);
    EXPECT_EQ(surface_.Pixel(1180, 840), palette::kWindowBackground);
}

TEST_F(PaintingTest, SidebarCardsHaveTheirColours) {
    Paint(Model(0, false, false));
    EXPECT_EQ(surface_.Pixel(320, 200), palette::kCardFill);     // status card, right of the detail
    EXPECT_EQ(surface_.Pixel(170, 132), palette::kCardOutline);  // its top edge
    for (int top : {280, 364, 448}) {
        EXPECT_EQ(surface_.Pixel(310, top + 20), palette::kSidebarCard) << top;
        EXPECT_EQ(surface_.Pixel(170, top), palette::kSidebarCard) << top;  // outline in the same colour
        EXPECT_EQ(surface_.Pixel(170, top - 2), palette::kWindowBackground) << top;
    }
}

TEST_F(PaintingTest, StatusDotIsGreyUnlessRunningAndRelayConnected) {
    Paint(Model(0, false, false));
    EXPECT_EQ(surface_.Pixel(44, 168), Rgb(148, 163, 184));
    Paint(Model(0, true, false));
    EXPECT_EQ(surface_.Pixel(44, 168), Rgb(148, 163, 184));
    Paint(Model(0, true, true));
    EXPECT_EQ(surface_.Pixel(44, 168), Rgb(103, 210, 146));
    EXPECT_EQ(surface_.Pixel(36, 168), palette::kCardFill);  // nothing drawn around the dot
}

TEST_F(PaintingTest, PillAndDetailTextsAreDrawnAndChangeWithTheState) {
    Paint(Model(0, false, false));
    const std::size_t offlineInk = surface_.CountOtherThan(palette::kCardFill, 60, 146, 306, 184);
    Paint(Model(0, true, true));
    const std::size_t onlineInk = surface_.CountOtherThan(palette::kCardFill, 60, 146, 306, 184);
    EXPECT_GT(offlineInk, 40u);
    EXPECT_GT(onlineInk, 40u);
    // "未连接" has three characters, "在线" two.
    EXPECT_GT(offlineInk, onlineInk);
    EXPECT_GT(surface_.CountOtherThan(palette::kCardFill, 38, 190, 308, 244), 40u);
}

TEST_F(PaintingTest, TabUnderlineSitsUnderTheSelectedTab) {
    Paint(Model(0, false, false));
    for (int y : {101, 102, 103}) {
        EXPECT_EQ(surface_.Pixel(384, y), palette::kTabUnderline) << y;
    }
    EXPECT_EQ(surface_.Pixel(384, 106), palette::kWindowBackground);
    EXPECT_EQ(surface_.Pixel(472, 102), palette::kWindowBackground);

    Paint(Model(1, false, false));
    EXPECT_EQ(surface_.Pixel(472, 102), palette::kTabUnderline);
    EXPECT_EQ(surface_.Pixel(384, 102), palette::kWindowBackground);
}

TEST_F(PaintingTest, PressedPrimaryButtonIsFilled46_67_88OnTheCard) {
    surface_.Fill(Rgb(255, 0, 255));
    DrawButton(1009, ODS_SELECTED);
    EXPECT_EQ(surface_.Pixel(148, 119), Rgb(46, 67, 88));
    EXPECT_EQ(surface_.Pixel(148, 100), Rgb(91, 121, 154));  // outline
    EXPECT_EQ(surface_.Pixel(100, 100), palette::kCardFill);  // the corner outside the rounding
    EXPECT_EQ(surface_.Pixel(196, 119), Rgb(255, 0, 255));    // the item rectangle excludes its right edge

    DrawButton(1009, 0);
    EXPECT_EQ(surface_.Pixel(148, 119), Rgb(58, 84, 110));
}

TEST_F(PaintingTest, DisabledButtonsKeepTheirDisabledColoursEvenWhenSelected) {
    DrawButton(1009, ODS_DISABLED | ODS_SELECTED);
    EXPECT_EQ(surface_.Pixel(148, 119), Rgb(31, 39, 49));
    EXPECT_EQ(surface_.Pixel(148, 100), Rgb(55, 65, 81));
    DrawButton(1013, ODS_DISABLED);
    EXPECT_EQ(surface_.Pixel(148, 119), Rgb(37, 32, 38));
    DrawButton(1010, ODS_DISABLED | ODS_SELECTED);
    EXPECT_EQ(surface_.Pixel(148, 119), Rgb(25, 29, 36));
    DrawButton(1010, 0);
    EXPECT_EQ(surface_.Pixel(148, 119), Rgb(34, 40, 50));
}

TEST_F(PaintingTest, ButtonTextIsDrawnInsideTheButton) {
    DrawScene(surface_.dc(), BuildButtonScene({100, 100, 196, 138}, 1010, false, false, L"取网段"), fonts_);
    const std::size_t ink = surface_.CountOtherThan(Rgb(34, 40, 50), 112, 104, 184, 134);
    EXPECT_GT(ink, 30u);
    // Centred: as much ink left of the middle as right of it, roughly.
    const std::size_t left = surface_.CountOtherThan(Rgb(34, 40, 50), 112, 104, 148, 134);
    EXPECT_GT(left * 3, ink);
    EXPECT_LT(left * 3, ink * 2);
}

TEST_F(PaintingTest, ControlColoursForInputsAndStatics) {
    const WindowBrushes& brushes = window_.brushes;
    HDC dc = surface_.dc();
    EXPECT_EQ(ColorControl(WM_CTLCOLOREDIT, dc, brushes), brushes.input.get());
    EXPECT_EQ(GetBkMode(dc), OPAQUE);
    EXPECT_EQ(GetBkColor(dc), Rgb(30, 35, 43));
    EXPECT_EQ(GetTextColor(dc), Rgb(248, 250, 252));

    SetTextColor(dc, 0);
    EXPECT_EQ(ColorControl(WM_CTLCOLORSTATIC, dc, brushes), brushes.background.get());
    EXPECT_EQ(GetBkMode(dc), TRANSPARENT);
    EXPECT_EQ(GetTextColor(dc), Rgb(248, 250, 252));

    SetBkColor(dc, 0);
    EXPECT_EQ(ColorControl(WM_CTLCOLORLISTBOX, dc, brushes), brushes.input.get());
    EXPECT_EQ(GetBkMode(dc), OPAQUE);
    EXPECT_EQ(GetBkColor(dc), Rgb(30, 35, 43));

    EXPECT_EQ(ColorControl(WM_CTLCOLORBTN, dc, brushes), nullptr);
}

TEST_F(PaintingTest, RepeatedPaintsLeaveNoGdiObjectsBehind) {
    const std::size_t idle = CountGdiObjects();
    {
        const UniquePen probe(CreatePen(PS_SOLID, 1, 0));
        ASSERT_EQ(CountGdiObjects(), idle + 1) << "the GDI object count cannot see a new pen";
    }
    ASSERT_EQ(CountGdiObjects(), idle);

    Paint(Model(0, false, false));  // let anything created once on first use exist before counting
    DrawButton(1009, 0);
    const std::size_t before = CountGdiObjects();
    for (int i = 0; i < 150; ++i) {
        Paint(Model(static_cast<std::uint8_t>(i % 2), i % 3 != 0, i % 5 != 0));
        DrawButton(1009 + static_cast<unsigned>(i % 15), static_cast<UINT>((i % 2 ? ODS_SELECTED : 0) | (i % 3 ? 0 : ODS_DISABLED)));
    }
    EXPECT_EQ(CountGdiObjects(), before);
}

// Chinese texts must come out as glyphs, not as the boxes of a font without them: every font of the
// window draws "在线" differently from two private-use characters, which no font has.
TEST_F(PaintingTest, ChineseTextIsDrawnWithGlyphsInEveryFont) {
    const FontRole roles[] = {FontRole::Body, FontRole::Title, FontRole::Heading, FontRole::Subheading, FontRole::Button};
    for (FontRole role : roles) {
        auto draw = [&](PaintSurface& surface, const wchar_t* text) {
            surface.Fill(0);
            DrawScene(surface.dc(), {TextItem{{0, 0, 200, 60}, text, role, Rgb(255, 255, 255), kSingleLineFormat}}, fonts_);
        };
        PaintSurface chinese(200, 60);
        PaintSurface missing(200, 60);
        draw(chinese, L"在线");
        draw(missing, L"\uE000\uE001");
        std::size_t different = 0;
        for (int y = 0; y < 60; ++y) {
            for (int x = 0; x < 200; ++x) {
                different += chinese.Pixel(x, y) != missing.Pixel(x, y) ? 1 : 0;
            }
        }
        EXPECT_GT(chinese.CountOtherThan(0, 0, 0, 200, 60), 20u) << static_cast<int>(role);
        EXPECT_GT(different, 20u) << "font role " << static_cast<int>(role)
                                  << " draws boxes for Chinese: is the Wine prefix set up by tools/wine-prefix.sh?";
    }
}

}  // namespace
}  // namespace ostrevane
