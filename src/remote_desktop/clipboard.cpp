#include "remote_desktop/clipboard.h"

#include <cstring>

namespace ostrevane {

bool CopyTextToClipboard(HWND owner, const std::wstring& text) {
    if (text.empty()) {
        return false;
    }
    if (!OpenClipboard(owner)) {
        return false;
    }
    EmptyClipboard();
    const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (memory == nullptr) {
        CloseClipboard();
        return false;
    }
    bool set = false;
    if (void* target = GlobalLock(memory)) {
        std::memcpy(target, text.c_str(), bytes);
        GlobalUnlock(memory);
        // On success the clipboard owns the memory; otherwise it is still ours to free.
        set = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
    }
    if (!set) {
        GlobalFree(memory);
    }
    CloseClipboard();
    return set;
}

std::wstring ReadClipboardText() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) {
        return text;
    }
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

}  // namespace ostrevane
