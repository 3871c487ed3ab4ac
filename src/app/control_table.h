// The main window's child controls: their ids, the table they are created from (in creation
// order) and the groups that commands, fonts and the page switch act on. Plain data.
#pragma once

#include <array>
#include <cstdint>

namespace ostrevane {

namespace control_id {
inline constexpr int kServerUrl = 1001;        // parked edit carrying serverUrl
inline constexpr int kDeviceNumber = 1002;     // parked edit carrying deviceNumber
inline constexpr int kAccessKey = 1003;        // deviceSecret
inline constexpr int kProfileName = 1004;      // profileName (and deviceName)
inline constexpr int kNotes = 1005;            // parked, carries nothing
inline constexpr int kEngineerId = 1006;       // parked edit carrying engineerId
inline constexpr int kStatusLine = 1007;
inline constexpr int kActivityLog = 1008;
inline constexpr int kConnect = 1009;
inline constexpr int kGetNetworks = 1010;
inline constexpr int kDesktop = 1011;
inline constexpr int kSaveProfile = 1012;
inline constexpr int kDisconnect = 1013;
inline constexpr int kCopy = 1014;
inline constexpr int kTargetNetwork = 1015;
inline constexpr int kParkedCombo = 1016;
inline constexpr int kParkedList = 1017;
inline constexpr int kTestAddress = 1018;
inline constexpr int kAdd = 1019;
inline constexpr int kDelete = 1020;
inline constexpr int kParkedGetNetworks = 1021;
inline constexpr int kSavedProfiles = 1022;
inline constexpr int kTest = 1023;
}  // namespace control_id

inline constexpr std::uint32_t kClientEdgeStyle = 0x200;  // WS_EX_CLIENTEDGE

struct ControlSpec {
    int id;
    const wchar_t* className;
    std::uint32_t exStyle;
    std::uint32_t style;
    const wchar_t* text;
};

inline constexpr std::size_t kControlCount = 23;

// Creation order. Styles: single-line edits 0x50000080 (child, visible, auto horizontal scroll);
// the notes edit 0x50200044 and the log 0x50200844 (multi-line, vertical scroll, the log read-only);
// drop-down lists 0x50200003; the list box 0x50200001; owner-drawn buttons 0x5000000B.
inline constexpr std::array<ControlSpec, kControlCount> kControlTable = {{
    {control_id::kServerUrl, L"EDIT", kClientEdgeStyle, 0x50000080, L""},
    {control_id::kDeviceNumber, L"EDIT", kClientEdgeStyle, 0x50000080, L""},
    {control_id::kAccessKey, L"EDIT", kClientEdgeStyle, 0x50000080, L""},
    {control_id::kProfileName, L"EDIT", kClientEdgeStyle, 0x50000080, L""},
    {control_id::kNotes, L"EDIT", kClientEdgeStyle, 0x50200044, L""},
    {control_id::kTargetNetwork, L"COMBOBOX", 0, 0x50200003, L""},
    {control_id::kParkedCombo, L"COMBOBOX", 0, 0x50200003, L""},
    {control_id::kParkedList, L"LISTBOX", kClientEdgeStyle, 0x50200001, L""},
    {control_id::kTestAddress, L"EDIT", kClientEdgeStyle, 0x50000080, L""},
    {control_id::kEngineerId, L"EDIT", kClientEdgeStyle, 0x50000080, L""},
    {control_id::kSavedProfiles, L"COMBOBOX", 0, 0x50200003, L""},
    {control_id::kConnect, L"BUTTON", 0, 0x5000000B, L"连接"},
    {control_id::kGetNetworks, L"BUTTON", 0, 0x5000000B, L"取网段"},
    {control_id::kParkedGetNetworks, L"BUTTON", 0, 0x5000000B, L"取网段"},
    {control_id::kDesktop, L"BUTTON", 0, 0x5000000B, L"桌面"},
    {control_id::kSaveProfile, L"BUTTON", 0, 0x5000000B, L"存档"},
    {control_id::kDisconnect, L"BUTTON", 0, 0x5000000B, L"断开"},
    {control_id::kCopy, L"BUTTON", 0, 0x5000000B, L"复制"},
    {control_id::kAdd, L"BUTTON", 0, 0x5000000B, L"添加"},
    {control_id::kDelete, L"BUTTON", 0, 0x5000000B, L"删除"},
    {control_id::kTest, L"BUTTON", 0, 0x5000000B, L"测试"},
    {control_id::kStatusLine, L"STATIC", 0, 0x50000000, L"就绪。"},
    {control_id::kActivityLog, L"EDIT", kClientEdgeStyle, 0x50200844, L""},
}};

// Position of an id in kControlTable; -1 for an id that is not a control of the window.
constexpr int ControlIndex(int id) {
    for (std::size_t i = 0; i < kControlTable.size(); ++i) {
        if (kControlTable[i].id == id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

// The three combo boxes show eight entries when dropped.
inline constexpr std::array<int, 3> kComboBoxes = {control_id::kTargetNetwork, control_id::kParkedCombo,
                                                   control_id::kSavedProfiles};

// The buttons drawn with the button font.
inline constexpr std::array<int, 10> kButtons = {
    control_id::kConnect, control_id::kGetNetworks, control_id::kDesktop, control_id::kParkedGetNetworks,
    control_id::kAdd,     control_id::kDelete,      control_id::kTest,    control_id::kDisconnect,
    control_id::kSaveProfile, control_id::kCopy};

// Disabled while a worker runs. The access-key box, the profile-name box and the target-network
// list stay usable.
inline constexpr std::array<int, 14> kBusyControls = {
    control_id::kConnect,     control_id::kGetNetworks, control_id::kDesktop,    control_id::kSaveProfile,
    control_id::kDisconnect,  control_id::kCopy,        control_id::kParkedCombo, control_id::kParkedList,
    control_id::kTestAddress, control_id::kAdd,         control_id::kDelete,     control_id::kParkedGetNetworks,
    control_id::kTest,        control_id::kSavedProfiles};

}  // namespace ostrevane
