// Puts text on the clipboard as Unicode text (the access key, the RustDesk password) and reads it back.
#pragma once

#include <windows.h>

#include <string>

namespace ostrevane {

// False for an empty text (the clipboard is left alone), when the clipboard cannot be opened,
// or when the data could not be set.
bool CopyTextToClipboard(HWND owner, const std::wstring& text);

// The same, for a password: the text goes with the formats that keep clipboard history, cloud
// clipboard and clipboard monitors from keeping it ("ExcludeClipboardContentFromMonitorProcessing",
// "CanIncludeInClipboardHistory" and "CanUploadToCloudClipboard", each a DWORD 0).
bool CopySecretToClipboard(HWND owner, const std::wstring& text);

// Empties the clipboard when its Unicode text is exactly this text; anything the engineer copied
// since then stays. True when it was emptied.
bool ClearClipboardIfHolds(const std::wstring& text);

// The clipboard's Unicode text; empty when there is none or the clipboard cannot be opened.
std::wstring ReadClipboardText();

}  // namespace ostrevane
