#include "remote_desktop/clipboard.h"

#include <cstring>
#include <optional>

namespace ostrevane {
namespace {

constexpr const wchar_t* kPrivacyFormats[] = {
    L"ExcludeClipboardContentFromMonitorProcessing",
    L"CanIncludeInClipboardHistory",
    L"CanUploadToCloudClipboard",
};

// Sets one format with a copy of the bytes; on success the clipboard owns the memory.
bool SetClipboardBytes(UINT format, const void* bytes, std::size_t size) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (memory == nullptr) {
        return false;
    }
    bool set = false;
    if (void* target = GlobalLock(memory)) {
        std::memcpy(target, bytes, size);
        GlobalUnlock(memory);
        set = SetClipboardData(format, memory) != nullptr;
    }
    if (!set) {
        GlobalFree(memory);
    }
    return set;
}

bool SetPrivacyFormats() {
    const DWORD no = 0;
    for (const wchar_t* name : kPrivacyFormats) {
        const UINT format = RegisterClipboardFormatW(name);
        if (format == 0 || !SetClipboardBytes(format, &no, sizeof no)) {
            return false;
        }
    }
    return true;
}

// The Unicode text of the clipboard, which the caller has opened.
std::wstring OpenClipboardText() {
    std::wstring text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
        if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    }
    return text;
}

// A message-only window that owns the clipboard while it is set: after OpenClipboard without a
// window, EmptyClipboard leaves no owner, and Windows documents SetClipboardData to fail then.
// The data stays on the clipboard after the window is gone.
class StandInOwner {
public:
    StandInOwner()
        : window_(CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr)) {}
    ~StandInOwner() {
        if (window_ != nullptr) {
            DestroyWindow(window_);
        }
    }
    StandInOwner(const StandInOwner&) = delete;
    StandInOwner& operator=(const StandInOwner&) = delete;
    HWND get() const { return window_; }

private:
    HWND window_;  // owned; destroyed on the thread that made it
};

bool CopyToClipboard(HWND owner, const std::wstring& text, bool secret) {
    if (text.empty()) {
        return false;
    }
    std::optional<StandInOwner> standIn;
    if (owner == nullptr) {
        owner = standIn.emplace().get();
    }
    if (!OpenClipboard(owner)) {
        return false;
    }
    EmptyClipboard();
    // A password that history or cloud sync would keep is not put there at all.
    bool set = !secret || SetPrivacyFormats();
    set = set && SetClipboardBytes(CF_UNICODETEXT, text.c_str(), (text.size() + 1) * sizeof(wchar_t));
    if (!set) {
        EmptyClipboard();
    }
    CloseClipboard();
    return set;
}

}  // namespace

bool CopyTextToClipboard(HWND owner, const std::wstring& text) { return CopyToClipboard(owner, text, false); }

bool CopySecretToClipboard(HWND owner, const std::wstring& text) { return CopyToClipboard(owner, text, true); }

std::wstring ReadClipboardText() {
    if (!OpenClipboard(nullptr)) {
        return {};
    }
    std::wstring text = OpenClipboardText();
    CloseClipboard();
    return text;
}

bool ClearClipboardIfHolds(const std::wstring& text) {
    if (text.empty() || !OpenClipboard(nullptr)) {
        return false;
    }
    // Compared while the clipboard is open, so nothing copied in between can be emptied.
    const bool holds = OpenClipboardText() == text;
    const bool cleared = holds && EmptyClipboard();
    CloseClipboard();
    return cleared;
}

}  // namespace ostrevane
