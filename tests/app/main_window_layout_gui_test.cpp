// The main window's geometry in a real window: every control where the layout table puts it at
// the minimum and at a larger size, the header tabs and the two pages, and the minimum size.
#include <gtest/gtest.h>

#include "app/control_table.h"
#include "app/log_file.h"
#include "app/window_layout.h"
#include "support/state_guards.h"
#include "support/test_files.h"
#include "support/window_driver.h"

namespace ostrevane::testing {
namespace {

using namespace control_id;

struct Box {
    int x, y, width, height;
    bool operator==(const Box&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Box& box) {
    return out << "(" << box.x << ", " << box.y << ", " << box.width << " x " << box.height << ")";
}

// The window's own procedure, with a maximum size beyond the screen: the display under test may be
// smaller than the window sizes the test needs.
LRESULT CALLBACK WithoutMaximumSize(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const LRESULT result = CallWindowProcW(MainWindowProc, window, message, wParam, lParam);
    if (message == WM_GETMINMAXINFO) {
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMaxTrackSize = {4000, 4000};
    }
    return result;
}

void AllowLargerThanTheScreen(HWND window) {
    SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(WithoutMaximumSize));
}

Box BoxOf(const RECT& rect) { return {rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top}; }

class MainWindowLayoutTest : public ::testing::Test {
protected:
    void SetUp() override { UseLogFileForTesting(temp_ / L"run.log"); }
    void TearDown() override { UseLogFileForTesting(L""); }

    Box Placed(int id) const { return BoxOf(window_.ControlRect(id)); }
    // A combo box's place with the height it was given, the height with its list dropped. Wine
    // reports the dropped rectangle without the selection field, so the field is added back.
    Box Dropped(int id) const {
        const Box field = Placed(id);
        const Box dropped = BoxOf(window_.DroppedRect(id));
        EXPECT_EQ(dropped.x, field.x);
        EXPECT_EQ(dropped.y, field.y);
        EXPECT_EQ(dropped.width, field.width);
        return {field.x, field.y, field.width, field.height + dropped.height};
    }

    // The layout table, written out for a client size.
    void ExpectConnectPageTable() {
        const SIZE client = window_.ClientSize();
        const int w = client.cx;
        const int t = std::min(std::max(w - 1072, 220), 360);
        const int y = std::min(std::max(static_cast<int>(client.cy) - 132, 642), 736);
        EXPECT_EQ(Placed(kAccessKey), (Box{382, 226, w - 432, 42}));
        EXPECT_EQ(Dropped(kTargetNetwork), (Box{382, 334, 180, 160}));
        EXPECT_EQ(Placed(kTestAddress), (Box{382, 410, t, 38}));
        EXPECT_EQ(Placed(kTest), (Box{t + 396, 410, 96, 38}));
        EXPECT_EQ(Placed(kGetNetworks), (Box{t + 510, 410, 96, 38}));
        EXPECT_EQ(Placed(kConnect), (Box{t + 622, 410, 96, 38}));
        EXPECT_EQ(Placed(kDisconnect), (Box{t + 734, 410, 96, 38}));
        EXPECT_EQ(Placed(kDesktop), (Box{t + 846, 410, 104, 38}));
        EXPECT_EQ(Placed(kProfileName), (Box{382, 592, w - 586, 42}));
        EXPECT_EQ(Placed(kSaveProfile), (Box{w - 164, 592, 114, 38}));
        EXPECT_EQ(Dropped(kSavedProfiles), (Box{382, 670, w - 432, 120}));
        EXPECT_EQ(Placed(kStatusLine), (Box{382, y + 52, w - 432, 22}));
        for (int id : {kServerUrl, kDeviceNumber, kNotes, kEngineerId, kCopy, kParkedList, kAdd, kDelete, kParkedGetNetworks}) {
            EXPECT_EQ(Placed(id), (Box{-1000, -1000, 10, 10})) << id;
        }
        const Box parkedCombo = Placed(kParkedCombo);  // a combo box keeps the height of its selection field
        EXPECT_EQ((Box{parkedCombo.x, parkedCombo.y, parkedCombo.width, 10}), (Box{-1000, -1000, 10, 10}));
    }

    TempDirectory temp_;
    SettingsFileGuard settings_;
    WindowDriver window_;
};

TEST_F(MainWindowLayoutTest, AtTheMinimumSizeEveryControlIsWhereTheTableSays) {
    window_.Resize(kMinimumTrackWidth, kMinimumTrackHeight);
    const SIZE client = window_.ClientSize();
    ASSERT_LE(client.cx, 1220);
    ASSERT_GE(client.cx, 1072 + 16) << "a frame of ordinary width";
    ExpectConnectPageTable();
    EXPECT_EQ(Placed(kTestAddress).width, 220) << "the test address is 220 wide at the minimum width";
    EXPECT_EQ(Placed(kTest).x, 616) << "the button row starts at 616";
}

TEST_F(MainWindowLayoutTest, AtALargerSizeTheWideControlsGrowAndTheTestAddressStopsAt360) {
    AllowLargerThanTheScreen(window_.window());
    window_.Resize(1560, 980);
    const SIZE client = window_.ClientSize();
    ASSERT_GT(client.cx, 1072 + 360) << "wide enough for the largest test address";
    ASSERT_GT(client.cy, 868) << "high enough for the lowest status line";
    ExpectConnectPageTable();
    EXPECT_EQ(Placed(kTestAddress).width, 360);
    EXPECT_EQ(Placed(kStatusLine).y, 788) << "the status line sinks no lower than 788";
}

TEST_F(MainWindowLayoutTest, ASizeChangeRepaintsTheWholeClientArea) {
    const HWND window = window_.window();
    ShowWindow(window, SW_SHOWNOACTIVATE);  // a hidden window collects no region to repaint
    UpdateWindow(window);
    ValidateRect(window, nullptr);
    RECT client{};
    GetClientRect(window, &client);
    SendMessageW(window, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
    RECT update{};
    ASSERT_TRUE(GetUpdateRect(window, &update, FALSE)) << "the card edges drawn for the old size would stay";
    EXPECT_EQ(BoxOf(update), BoxOf(client));
}

TEST_F(MainWindowLayoutTest, AClickBetweenTheTabsChangesNothing) {
    window_.ClickClient(448, 80);
    ASSERT_EQ(window_.record().selectedPage, kLogPage);
    window_.ClickClient(440, 80);
    EXPECT_EQ(window_.record().selectedPage, kLogPage);
    EXPECT_TRUE(window_.Visible(kActivityLog));
    EXPECT_FALSE(window_.Visible(kConnect));

    window_.ClickClient(400, 80);
    ASSERT_EQ(window_.record().selectedPage, kConnectPage);
    window_.ClickClient(440, 80);
    EXPECT_EQ(window_.record().selectedPage, kConnectPage);
    EXPECT_TRUE(window_.Visible(kConnect));
    EXPECT_FALSE(window_.Visible(kActivityLog));
}

TEST_F(MainWindowLayoutTest, TheLogPageShowsOnlyTheLogBoxAndTheConnectPageComesBackWithItsContents) {
    window_.Resize(kMinimumTrackWidth, kMinimumTrackHeight);
    window_.Type(kAccessKey, L"OVK-TYPED-KEY");
    window_.Type(kProfileName, L"Plant-1");
    const int connectPage[] = {kAccessKey, kProfileName, kNotes,      kTargetNetwork, kParkedCombo, kParkedList,
                               kTestAddress, kAdd,       kDelete,     kParkedGetNetworks, kTest,    kConnect,
                               kGetNetworks, kDesktop,   kSaveProfile, kSavedProfiles, kDisconnect, kCopy};
    EXPECT_FALSE(window_.Visible(kActivityLog)) << "the connect page is shown first";

    window_.ClickClient(500, 90);
    EXPECT_EQ(window_.record().selectedPage, kLogPage);
    for (int id : connectPage) {
        EXPECT_FALSE(window_.Visible(id)) << id;
    }
    EXPECT_FALSE(window_.Visible(kStatusLine));
    EXPECT_EQ(Placed(kStatusLine), (Box{-1000, -1000, 10, 10}));
    EXPECT_TRUE(window_.Visible(kActivityLog));
    const SIZE client = window_.ClientSize();
    EXPECT_EQ(Placed(kActivityLog), (Box{382, 176, client.cx - 432, std::max(static_cast<int>(client.cy) - 228, 220)}));

    window_.ClickClient(365, 70);
    EXPECT_EQ(window_.record().selectedPage, kConnectPage);
    for (int id : connectPage) {
        EXPECT_TRUE(window_.Visible(id)) << id;
    }
    EXPECT_TRUE(window_.Visible(kStatusLine));
    EXPECT_FALSE(window_.Visible(kActivityLog));
    ExpectConnectPageTable();
    EXPECT_EQ(window_.Text(kAccessKey), L"OVK-TYPED-KEY");
    EXPECT_EQ(window_.Text(kProfileName), L"Plant-1");
    EXPECT_EQ(window_.Text(kStatusLine), L"就绪。");
}

TEST_F(MainWindowLayoutTest, ControlsAreCreatedInTableOrderWithTheirStyles) {
    HWND previous = nullptr;
    for (const ControlSpec& spec : kControlTable) {
        HWND control = window_.control(spec.id);
        ASSERT_NE(control, nullptr) << spec.id;
        EXPECT_EQ(GetDlgCtrlID(control), spec.id);
        // Visibility follows the page; combo and list boxes show their scroll bar only when needed.
        DWORD ignored = WS_VISIBLE;
        if (std::wstring(spec.className) != L"EDIT" && std::wstring(spec.className) != L"BUTTON") {
            ignored |= WS_VSCROLL;
        }
        EXPECT_EQ(static_cast<DWORD>(GetWindowLongW(control, GWL_STYLE)) & ~ignored, spec.style & ~ignored) << spec.id;
        EXPECT_EQ(GetWindowLongW(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, static_cast<LONG>(spec.exStyle)) << spec.id;
        EXPECT_EQ(GetWindowLongW(control, GWL_STYLE) & WS_TABSTOP, 0) << spec.id;
        if (previous != nullptr) {
            EXPECT_EQ(GetWindow(previous, GW_HWNDNEXT), control) << "created after the control before it: " << spec.id;
        }
        previous = control;
    }
}

TEST_F(MainWindowLayoutTest, TheCommandButtonsUseTheButtonFontAndTheOthersTheBodyFont) {
    const HFONT body = window_.record().fonts.body.get();
    const HFONT button = window_.record().fonts.button.get();
    ASSERT_NE(body, nullptr);
    ASSERT_NE(button, nullptr);
    LOGFONTW buttonFont{};
    GetObjectW(button, sizeof(buttonFont), &buttonFont);
    EXPECT_EQ(buttonFont.lfHeight, -14);
    EXPECT_EQ(buttonFont.lfWeight, FW_BOLD);
    for (const ControlSpec& spec : kControlTable) {
        const bool isButton = std::find(kButtons.begin(), kButtons.end(), spec.id) != kButtons.end();
        const auto font = reinterpret_cast<HFONT>(SendMessageW(window_.control(spec.id), WM_GETFONT, 0, 0));
        EXPECT_EQ(font, isButton ? button : body) << spec.id;
    }
}

// Records what the first WM_GETMINMAXINFO of a window creation reported, and whether WM_CREATE
// had run by then.
struct MinMaxProbe {
    bool seen = false;
    bool createdBefore = false;
    POINT minimum{};
};
MinMaxProbe* g_probe = nullptr;

LRESULT CALLBACK RecordMinMax(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPRETSTRUCT*>(lParam);
    if (code == HC_ACTION && g_probe != nullptr && !g_probe->seen) {
        wchar_t className[64] = {};
        GetClassNameW(call->hwnd, className, 64);
        if (std::wstring(className) == kMainWindowClassName) {
            if (call->message == WM_CREATE) {
                g_probe->createdBefore = true;
            } else if (call->message == WM_GETMINMAXINFO) {
                g_probe->seen = true;
                g_probe->minimum = reinterpret_cast<const MINMAXINFO*>(call->lParam)->ptMinTrackSize;
            }
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(MainWindowLayoutTest, TheMinimumSizeIsReportedBeforeTheWindowIsCreated) {
    window_.Close();
    MinMaxProbe probe;
    g_probe = &probe;
    HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROCRET, RecordMinMax, nullptr, GetCurrentThreadId());
    ASSERT_NE(hook, nullptr);
    {
        WindowDriver second;
        UnhookWindowsHookEx(hook);
        g_probe = nullptr;
        EXPECT_TRUE(second.alive());
    }
    ASSERT_TRUE(probe.seen);
    EXPECT_FALSE(probe.createdBefore);
    EXPECT_EQ(probe.minimum.x, 1220);
    EXPECT_EQ(probe.minimum.y, 860);
}

TEST_F(MainWindowLayoutTest, TheWindowCannotBeMadeSmallerThanTheMinimum) {
    window_.Resize(600, 400);
    RECT outer{};
    GetWindowRect(window_.window(), &outer);
    EXPECT_EQ(outer.right - outer.left, 1220);
    EXPECT_EQ(outer.bottom - outer.top, 860);
}

// The work area of a screen smaller than the test's display, handed to the window in place of its
// monitor's.
RECT g_workArea{};
RECT SmallWorkArea(HWND) { return g_workArea; }

TEST_F(MainWindowLayoutTest, OnSmallScreensTheWindowFitsTheWorkAreaAndShowsEveryConnectPageControl) {
    // 1366 x 768 and 1920 x 1080 at 150 % (1280 x 720), each less a 40-pixel task bar.
    for (const RECT work : {RECT{0, 0, 1366, 728}, RECT{0, 0, 1280, 680}}) {
        g_workArea = work;
        window_.record().workAreaOf = SmallWorkArea;
        SetWindowPos(window_.window(), nullptr, 300, 200, 1220, 860, SWP_NOZORDER | SWP_NOACTIVATE);
        PlaceInitialWindow(window_.record());
        window_.Resize(600, 400);  // as small as the user can make it

        RECT outer{};
        GetWindowRect(window_.window(), &outer);
        EXPECT_EQ(outer.bottom - outer.top, work.bottom) << "the smallest window is the work area's height";
        EXPECT_EQ(outer.right - outer.left, 1220);
        EXPECT_GE(outer.left, work.left);
        EXPECT_GE(outer.top, work.top);
        EXPECT_LE(outer.right, work.right);
        EXPECT_LE(outer.bottom, work.bottom);

        const SIZE client = window_.ClientSize();
        for (const ControlSpec& spec : kControlTable) {
            if (VisibilityOnPage(spec.id, kConnectPage) != PageVisibility::kShown || Placed(spec.id).x == kParkedPosition) {
                continue;
            }
            const Box box = Placed(spec.id);  // a combo box's selection field: the list drops over the rest
            EXPECT_GE(box.y, 106) << spec.id << " on " << work.right;
            EXPECT_LE(box.x + box.width, client.cx) << spec.id << " on " << work.right;
            EXPECT_LE(box.y + box.height, client.cy) << spec.id << " on " << work.right << ", client " << client.cy;
            EXPECT_TRUE(window_.Visible(spec.id)) << spec.id;
        }
    }
}

}  // namespace
}  // namespace ostrevane::testing
