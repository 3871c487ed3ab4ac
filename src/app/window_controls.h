// The controls of the main window: creating them, placing them for the size and page, and the
// copies between them and the window's ClientState.
#pragma once

#include <windows.h>

#include <string>

#include "app/main_window.h"

namespace ostrevane {

// The five fonts, from the system's message font, and the two brushes.
void CreateFontsAndBrushes(MainWindow& record);

// The 23 controls in table order, with their fonts.
void CreateControls(MainWindow& record, HINSTANCE instance);

// Places every control for the client size and the selected page, then shows the page's controls.
void LayoutControls(MainWindow& record);

// Controls into state: trimmed texts, the normalised address, "ALL" for an empty target network,
// the profile-name box feeding both profileName and deviceName.
void ReadControlsIntoState(MainWindow& record);

// State into controls, the target-network list and the saved-profile list rebuilt.
void ShowStateInControls(MainWindow& record);

// "ALL" and the networks of the list text (an item "ALL" is not repeated); selects the current
// network ("ALL" when empty), adding it first when it is not in the list.
void FillTargetNetworkCombo(HWND combo, const std::wstring& listText, const std::wstring& current);

// The raw texts of the access-key box, the profile-name box and the target-network list.
EditableTexts ReadEditableTexts(const MainWindow& record);

// Puts back each text that the engineer changed after the worker started (typed differs from
// atStart), over what the completion's reload showed.
void KeepTypedTexts(MainWindow& record, const EditableTexts& atStart, const EditableTexts& typed);

// The profile names in list order, with the named profile selected (or shown as the text).
void FillSavedProfilesCombo(HWND combo, const ClientState& state);

}  // namespace ostrevane
