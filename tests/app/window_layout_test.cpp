#include "app/window_layout.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "app/control_table.h"

namespace ostrevane {
namespace {

using namespace control_id;

ControlPlacement PlacementOf(const std::vector<ControlPlacement>& placements, int id) {
    const auto found = std::find_if(placements.begin(), placements.end(), [&](const ControlPlacement& p) { return p.id == id; });
    return found != placements.end() ? *found : ControlPlacement{0, 0, 0, 0, 0};
}

TEST(LayoutPlacements, ConnectPageAtTheMinimumClientWidth) {
    const auto placements = LayoutPlacements(1204, 821, kConnectPage);
    EXPECT_EQ(PlacementOf(placements, kAccessKey), (ControlPlacement{kAccessKey, 382, 226, 772, 42}));
    EXPECT_EQ(PlacementOf(placements, kTargetNetwork), (ControlPlacement{kTargetNetwork, 382, 334, 180, 160}));
    EXPECT_EQ(PlacementOf(placements, kTestAddress), (ControlPlacement{kTestAddress, 382, 410, 220, 38}));
    EXPECT_EQ(PlacementOf(placements, kTest), (ControlPlacement{kTest, 616, 410, 96, 38}))
        << "the button row starts at 616";
    EXPECT_EQ(PlacementOf(placements, kGetNetworks), (ControlPlacement{kGetNetworks, 730, 410, 96, 38}));
    EXPECT_EQ(PlacementOf(placements, kConnect), (ControlPlacement{kConnect, 842, 410, 96, 38}));
    EXPECT_EQ(PlacementOf(placements, kDisconnect), (ControlPlacement{kDisconnect, 954, 410, 96, 38}));
    EXPECT_EQ(PlacementOf(placements, kDesktop), (ControlPlacement{kDesktop, 1066, 410, 104, 38}));
    EXPECT_EQ(PlacementOf(placements, kProfileName), (ControlPlacement{kProfileName, 382, 592, 618, 42}));
    EXPECT_EQ(PlacementOf(placements, kSaveProfile), (ControlPlacement{kSaveProfile, 1040, 592, 114, 38}));
    EXPECT_EQ(PlacementOf(placements, kSavedProfiles), (ControlPlacement{kSavedProfiles, 382, 670, 772, 120}));
    EXPECT_EQ(PlacementOf(placements, kStatusLine), (ControlPlacement{kStatusLine, 382, 741, 772, 22}));
}

TEST(LayoutPlacements, TheTestAddressGrowsWithTheWidthUpTo360) {
    EXPECT_EQ(PlacementOf(LayoutPlacements(1300, 860, kConnectPage), kTestAddress).width, 228);
    EXPECT_EQ(PlacementOf(LayoutPlacements(1300, 860, kConnectPage), kDesktop).x, 1074);
    EXPECT_EQ(PlacementOf(LayoutPlacements(1432, 860, kConnectPage), kTestAddress).width, 360);
    const auto wide = LayoutPlacements(2000, 860, kConnectPage);
    EXPECT_EQ(PlacementOf(wide, kTestAddress).width, 360);
    EXPECT_EQ(PlacementOf(wide, kTest).x, 756);
    EXPECT_EQ(PlacementOf(wide, kDesktop).x, 1206);
    EXPECT_EQ(PlacementOf(wide, kAccessKey).width, 1568) << "the wide boxes follow the width";
    EXPECT_EQ(PlacementOf(wide, kSaveProfile).x, 1836);
}

TEST(LayoutPlacements, TheStatusLineStaysBetween694And788FromTheFullHeightOn) {
    EXPECT_EQ(PlacementOf(LayoutPlacements(1204, 760, kConnectPage), kStatusLine).y, 685) << "compressed below";
    EXPECT_EQ(PlacementOf(LayoutPlacements(1204, 774, kConnectPage), kStatusLine).y, 694);
    EXPECT_EQ(PlacementOf(LayoutPlacements(1204, 775, kConnectPage), kStatusLine).y, 695);
    EXPECT_EQ(PlacementOf(LayoutPlacements(1204, 868, kConnectPage), kStatusLine).y, 788);
    EXPECT_EQ(PlacementOf(LayoutPlacements(1204, 3000, kConnectPage), kStatusLine).y, 788);
}

// The connect page's controls with their heights when shown (a combo box closed).
std::vector<ControlPlacement> ShownConnectControls(int width, int height) {
    std::vector<ControlPlacement> shown;
    for (ControlPlacement place : LayoutPlacements(width, height, kConnectPage)) {
        if (place.x == kParkedPosition) {
            continue;
        }
        if (place.id == kTargetNetwork || place.id == kSavedProfiles) {
            place.height = 30;
        }
        shown.push_back(place);
    }
    return shown;
}

bool Overlap(const ControlPlacement& a, const ControlPlacement& b) {
    return a.x < b.x + b.width && b.x < a.x + a.width && a.y < b.y + b.height && b.y < a.y + a.height;
}

TEST(LayoutPlacements, ShortClientAreasCompressTheGapsAndKeepEveryControlInside) {
    for (int height = kSmallestLayoutHeight; height < kFullLayoutHeight; height += 7) {
        const auto shown = ShownConnectControls(1204, height);
        for (const ControlPlacement& place : shown) {
            EXPECT_GE(place.y, 106) << place.id << " below the tabs at " << height;
            EXPECT_LE(place.y + place.height, height) << place.id << " inside at " << height;
        }
        for (std::size_t i = 0; i < shown.size(); ++i) {
            for (std::size_t j = i + 1; j < shown.size(); ++j) {
                if (shown[i].id == kSavedProfiles && shown[j].id == kStatusLine) {
                    continue;  // the closed list ends where the status line begins, as at full height
                }
                EXPECT_FALSE(Overlap(shown[i], shown[j])) << shown[i].id << " and " << shown[j].id << " at " << height;
            }
        }
    }
    EXPECT_EQ(PlacementOf(LayoutPlacements(1204, kSmallestLayoutHeight, kConnectPage), kStatusLine).y, 602);
    EXPECT_EQ(LayoutPlacements(1204, 400, kConnectPage), LayoutPlacements(1204, kSmallestLayoutHeight, kConnectPage))
        << "below the smallest height nothing moves further";
}

TEST(LayoutY, IsTheFullLayoutFromItsHeightOnAndMonotoneBelow) {
    for (int y : {0, 116, 226, 466, 694, 774}) {
        EXPECT_EQ(LayoutY(y, kFullLayoutHeight), y);
        EXPECT_EQ(LayoutY(y, 2000), y);
    }
    EXPECT_EQ(LayoutY(106, kSmallestLayoutHeight), 106) << "the header and the tabs stay";
    EXPECT_EQ(LayoutY(kFullLayoutHeight, kSmallestLayoutHeight), kSmallestLayoutHeight);
    EXPECT_EQ(StatusCardBottom(kSmallestLayoutHeight), kSmallestLayoutHeight - 8);
    EXPECT_EQ(StatusCardBottom(900), 874);
    for (int height = kSmallestLayoutHeight; height <= kFullLayoutHeight; height += 13) {
        for (int y = 0; y < kFullLayoutHeight; ++y) {
            ASSERT_LE(LayoutY(y, height), LayoutY(y + 1, height)) << y << " at " << height;
        }
    }
}

TEST(MinimumTrackSize, IsTheDesignedMinimumCappedByTheWorkArea) {
    EXPECT_EQ(MinimumTrackSize(1600, 1000), (TrackSize{1220, 860}));
    EXPECT_EQ(MinimumTrackSize(1366, 728), (TrackSize{1220, 728}));
    EXPECT_EQ(MinimumTrackSize(1280, 680), (TrackSize{1220, 680}));
    EXPECT_EQ(MinimumTrackSize(1024, 600), (TrackSize{1024, 600}));
    EXPECT_EQ(MinimumTrackSize(0, 0), (TrackSize{1220, 860})) << "an unknown work area leaves the design";
}

TEST(FitIntoWorkArea, ShrinksToTheWorkAreaAndMovesInside) {
    EXPECT_EQ(FitIntoWorkArea({100, 50, 1320, 870}, {0, 0, 1600, 1000}), (ScreenRect{100, 50, 1320, 870}));
    EXPECT_EQ(FitIntoWorkArea({200, 100, 1420, 920}, {0, 0, 1366, 728}), (ScreenRect{146, 0, 1366, 728}));
    EXPECT_EQ(FitIntoWorkArea({-50, -20, 1170, 800}, {0, 40, 1280, 720}), (ScreenRect{0, 40, 1220, 720}));
}

TEST(LayoutPlacements, ConnectPageParksTheTenControlsWithoutAPlace) {
    const auto placements = LayoutPlacements(1204, 821, kConnectPage);
    std::set<int> parked;
    for (const ControlPlacement& p : placements) {
        if (p.x == -1000) {
            EXPECT_EQ(p, (ControlPlacement{p.id, -1000, -1000, 10, 10}));
            parked.insert(p.id);
        }
    }
    EXPECT_EQ(parked, (std::set<int>{kServerUrl, kDeviceNumber, kNotes, kEngineerId, kCopy, kParkedCombo, kParkedList,
                                     kAdd, kDelete, kParkedGetNetworks}));
    EXPECT_EQ(placements.size(), 22u) << "every control but the log box";
    EXPECT_EQ(PlacementOf(placements, kActivityLog).id, 0);
}

TEST(LayoutPlacements, LogPagePlacesOnlyTheLogBoxAndParksTheCarriersAndTheStatusLine) {
    const auto placements = LayoutPlacements(1204, 821, kLogPage);
    EXPECT_EQ(placements, (std::vector<ControlPlacement>{{kActivityLog, 382, 176, 772, 593},
                                                         {kServerUrl, -1000, -1000, 10, 10},
                                                         {kDeviceNumber, -1000, -1000, 10, 10},
                                                         {kEngineerId, -1000, -1000, 10, 10},
                                                         {kStatusLine, -1000, -1000, 10, 10}}));
    EXPECT_EQ(PlacementOf(LayoutPlacements(1204, 300, kLogPage), kActivityLog).height, 220) << "never below 220";
    EXPECT_EQ(PlacementOf(LayoutPlacements(1204, 448, kLogPage), kActivityLog).height, 220);
    EXPECT_EQ(PlacementOf(LayoutPlacements(1204, 449, kLogPage), kActivityLog).height, 221);
}

TEST(VisibilityOnPage, ConnectPageShowsItsNineteenControlsAndHidesTheLog) {
    int shown = 0;
    for (const ControlSpec& control : kControlTable) {
        const PageVisibility onConnect = VisibilityOnPage(control.id, kConnectPage);
        const PageVisibility onLog = VisibilityOnPage(control.id, kLogPage);
        if (control.id == kServerUrl || control.id == kDeviceNumber || control.id == kEngineerId) {
            EXPECT_EQ(onConnect, PageVisibility::kUnchanged) << control.id;
            EXPECT_EQ(onLog, PageVisibility::kUnchanged) << control.id;
        } else if (control.id == kActivityLog) {
            EXPECT_EQ(onConnect, PageVisibility::kHidden);
            EXPECT_EQ(onLog, PageVisibility::kShown);
        } else {
            EXPECT_EQ(onConnect, PageVisibility::kShown) << control.id;
            EXPECT_EQ(onLog, PageVisibility::kHidden) << control.id;
            ++shown;
        }
    }
    EXPECT_EQ(shown, 19) << "eighteen controls and the status line";
}

TEST(TabAt, TheConnectTabReachesX430AndTheLogTabStartsAt448) {
    EXPECT_EQ(TabAt(360, 64), kConnectPage);
    EXPECT_EQ(TabAt(430, 106), kConnectPage);
    EXPECT_EQ(TabAt(448, 80), kLogPage);
    EXPECT_EQ(TabAt(520, 80), kLogPage);
    EXPECT_EQ(TabAt(431, 80), std::nullopt);
    EXPECT_EQ(TabAt(440, 80), std::nullopt) << "the gap between the tabs is no tab";
    EXPECT_EQ(TabAt(447, 80), std::nullopt);
}

TEST(TabAt, OutsideTheBandIsNoTab) {
    EXPECT_EQ(TabAt(359, 80), std::nullopt);
    EXPECT_EQ(TabAt(521, 80), std::nullopt);
    EXPECT_EQ(TabAt(400, 63), std::nullopt);
    EXPECT_EQ(TabAt(400, 107), std::nullopt);
    EXPECT_EQ(TabAt(-5, -5), std::nullopt);
}

TEST(ControlTable, HoldsTheTwentyThreeControlsWithDistinctIds) {
    std::set<int> ids;
    for (const ControlSpec& control : kControlTable) {
        ids.insert(control.id);
    }
    EXPECT_EQ(ids.size(), 23u);
    EXPECT_EQ(ControlIndex(kServerUrl), 0);
    EXPECT_EQ(ControlIndex(kActivityLog), 22);
    EXPECT_EQ(ControlIndex(kStatusLine), 21);
    EXPECT_EQ(ControlIndex(999), -1);
}

}  // namespace
}  // namespace ostrevane
