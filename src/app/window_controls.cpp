#include "app/window_controls.h"

#include <commctrl.h>

#include "app/window_layout.h"
#include "settings/control_text.h"
#include "settings/text_utils.h"

namespace ostrevane {
namespace {

using namespace control_id;

static_assert(sizeof(NONCLIENTMETRICSW) == 504, "the metrics are read with the full structure size");

UniqueFont FontLike(const LOGFONTW& base, LONG height, LONG weight) {
    LOGFONTW font = base;
    font.lfHeight = height;
    font.lfWeight = weight;
    return UniqueFont(CreateFontIndirectW(&font));
}

void CreateFonts(WindowFonts& fonts) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    const LOGFONTW& base = metrics.lfMessageFont;
    fonts.body = FontLike(base, -16, FW_NORMAL);
    fonts.title = FontLike(base, -30, FW_BOLD);
    fonts.heading = FontLike(base, -20, FW_BOLD);
    fonts.subheading = FontLike(base, -17, FW_BOLD);
    fonts.button = FontLike(base, -14, FW_BOLD);
}

std::wstring TrimmedText(const MainWindow& record, int id) { return TrimWhitespace(ReadControlText(record.Control(id))); }

void SetText(const MainWindow& record, int id, const std::wstring& text) { SetWindowTextW(record.Control(id), text.c_str()); }

// Selects the entry equal to the text (the control's own search, which ignores letter case), or
// shows the text when no entry matches.
void SelectOrShow(HWND combo, const std::wstring& text) {
    const LRESULT found = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
    if (found != CB_ERR) {
        SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(found), 0);
    } else {
        SetWindowTextW(combo, text.c_str());
    }
}

LRESULT AddEntry(HWND combo, const std::wstring& text) {
    return SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

// A drop-down list shows only its entries: a value that is none of them becomes one, so that
// what is shown is what the next command sends.
void SelectOrAdd(HWND combo, const std::wstring& text) {
    LRESULT index = SendMessageW(combo, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(text.c_str()));
    if (index == CB_ERR) {
        index = AddEntry(combo, text);
    }
    if (index >= 0) {
        SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    }
}

}  // namespace

void CreateFontsAndBrushes(MainWindow& record) {
    CreateFonts(record.fonts);
    record.brushes.background.reset(CreateSolidBrush(kBackgroundColor));
    record.brushes.input.reset(CreateSolidBrush(kInputColor));
}

void CreateControls(MainWindow& record, HINSTANCE instance) {
    for (std::size_t i = 0; i < kControlTable.size(); ++i) {
        const ControlSpec& spec = kControlTable[i];
        record.controls[i] = CreateWindowExW(spec.exStyle, spec.className, spec.text, spec.style, 0, 0, 0, 0, record.window,
                                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)), instance, nullptr);
        if (spec.className == std::wstring_view(L"COMBOBOX")) {
            SendMessageW(record.controls[i], CB_SETMINVISIBLE, 8, 0);
        }
    }
    for (HWND control : record.controls) {
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(record.fonts.body.get()), TRUE);
    }
    for (int id : kButtons) {
        SendMessageW(record.Control(id), WM_SETFONT, reinterpret_cast<WPARAM>(record.fonts.button.get()), TRUE);
    }
}

void LayoutControls(MainWindow& record) {
    RECT client{};
    GetClientRect(record.window, &client);
    for (const ControlPlacement& place : LayoutPlacements(client.right, client.bottom, record.selectedPage)) {
        MoveWindow(record.Control(place.id), place.x, place.y, place.width, place.height, TRUE);
    }
    for (const ControlSpec& spec : kControlTable) {
        switch (VisibilityOnPage(spec.id, record.selectedPage)) {
        case PageVisibility::kShown:
            ShowWindow(record.Control(spec.id), SW_SHOW);
            break;
        case PageVisibility::kHidden:
            ShowWindow(record.Control(spec.id), SW_HIDE);
            break;
        case PageVisibility::kUnchanged:
            break;
        }
    }
}

void ReadControlsIntoState(MainWindow& record) {
    ClientState& state = record.state;
    state.serverUrl = NormalizeServerUrl(ReadControlText(record.Control(kServerUrl)));
    state.deviceNumber = TrimmedText(record, kDeviceNumber);
    state.deviceSecret = TrimmedText(record, kAccessKey);
    state.targetNetwork = TrimmedText(record, kTargetNetwork);
    if (state.targetNetwork.empty()) {
        state.targetNetwork = L"ALL";
    }
    state.engineerId = TrimmedText(record, kEngineerId);
    state.testIp = TrimmedText(record, kTestAddress);
    state.profileName = TrimmedText(record, kProfileName);
    state.deviceName = state.profileName;
}

void ShowStateInControls(MainWindow& record) {
    const ClientState& state = record.state;
    SetText(record, kServerUrl, state.serverUrl);
    SetText(record, kDeviceNumber, state.deviceNumber);
    SetText(record, kAccessKey, state.deviceSecret);
    SetText(record, kProfileName, state.profileName.empty() ? state.deviceName : state.profileName);
    FillTargetNetworkCombo(record.Control(kTargetNetwork), state.routesText.empty() ? state.targetNetwork : state.routesText,
                           state.targetNetwork);
    SetText(record, kEngineerId, state.engineerId);
    SetText(record, kTestAddress, state.testIp);
    FillSavedProfilesCombo(record.Control(kSavedProfiles), state);
}

void FillTargetNetworkCombo(HWND combo, const std::wstring& listText, const std::wstring& current) {
    if (combo == nullptr) {
        return;
    }
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    AddEntry(combo, L"ALL");
    for (const std::wstring& network : SplitNetworkList(listText)) {
        // "ALL" leads the list already; a target network of "ALL" (the state after a session ended)
        // must not appear twice. Other repeated items stay.
        if (!EqualsIgnoringCase(network, L"ALL")) {
            AddEntry(combo, network);
        }
    }
    SelectOrAdd(combo, current.empty() ? std::wstring(L"ALL") : current);
}

EditableTexts ReadEditableTexts(const MainWindow& record) {
    return {ReadControlText(record.Control(kAccessKey)), ReadControlText(record.Control(kProfileName)),
            ReadControlText(record.Control(kTargetNetwork))};
}

void KeepTypedTexts(MainWindow& record, const EditableTexts& atStart, const EditableTexts& typed) {
    if (typed.accessKey != atStart.accessKey) {
        SetText(record, kAccessKey, typed.accessKey);
    }
    if (typed.profileName != atStart.profileName) {
        SetText(record, kProfileName, typed.profileName);
    }
    if (typed.targetNetwork != atStart.targetNetwork && !typed.targetNetwork.empty()) {
        SelectOrAdd(record.Control(kTargetNetwork), typed.targetNetwork);
    }
}

void FillSavedProfilesCombo(HWND combo, const ClientState& state) {
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (const SiteProfile& profile : state.siteProfiles) {
        AddEntry(combo, profile.name);
    }
    SelectOrShow(combo, state.profileName);
}

}  // namespace ostrevane
