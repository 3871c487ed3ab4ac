#include "remote_desktop/password_paster.h"

#include <thread>
#include <vector>

#include "platform/unique_handle.h"
#include "remote_desktop/clipboard.h"
#include "remote_desktop/rustdesk_window.h"

namespace ostrevane {
namespace {

std::wstring WindowTitle(HWND window) {
    const int length = GetWindowTextLengthW(window);
    if (length <= 0) {
        return {};
    }
    std::wstring title(static_cast<std::size_t>(length) + 1, L'\0');
    title.resize(static_cast<std::size_t>(GetWindowTextW(window, title.data(), length + 1)));
    return title;
}

BOOL CALLBACK SearchCallback(HWND window, LPARAM context) {
    auto& search = *reinterpret_cast<RustDeskWindowSearch*>(context);
    if (!IsWindowVisible(window) || GetWindow(window, GW_OWNER) != nullptr) {
        return TRUE;
    }
    if (MatchRustDeskTitle(WindowTitle(window), search.id) == TitleMatch::None) {
        return TRUE;
    }
    // A browser page or any other program with "RustDesk" in its title must not receive the
    // password and the Enter.
    if (!SameExecutableName(search.executableName, WindowExecutableName(window))) {
        return TRUE;
    }
    search.window = window;
    return FALSE;
}

void SendKey(WORD virtualKey, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = 0;
    input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    input.ki.time = 0;
    input.ki.dwExtraInfo = 0;
    SendInput(1, &input, sizeof input);
}

// The desktop as the paster's steps see it.
class RustDeskDesk final : public PasteDesk {
public:
    explicit RustDeskDesk(const PasteJob& job)
        : job_(job), search_{job.rustDeskId, FileNameOf(job.executablePath), nullptr} {}

    HWND FindRustDesk() override { return FindRustDeskWindow(search_); }
    bool PutPasswordOnClipboard() override { return CopySecretToClipboard(nullptr, job_.password); }
    // Windows may refuse a background thread the foreground; the steps check the outcome.
    void BringForward(HWND window) override { SetForegroundWindow(window); }
    HWND ForegroundWindow() override { return GetForegroundWindow(); }
    void SendPaste() override {
        SendKey(VK_CONTROL, false);
        SendKey('V', false);
        SendKey('V', true);
        SendKey(VK_CONTROL, true);
    }
    void SendEnter() override {
        SendKey(VK_RETURN, false);
        SendKey(VK_RETURN, true);
    }
    void Wait(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }

private:
    const PasteJob& job_;
    RustDeskWindowSearch search_;
};

}  // namespace

std::wstring WindowExecutableName(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    if (processId == 0) {
        return {};
    }
    UniqueKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    if (!process) {
        return {};
    }
    std::vector<wchar_t> path(32768);
    DWORD length = static_cast<DWORD>(path.size());
    if (!QueryFullProcessImageNameW(process.get(), 0, path.data(), &length)) {
        return {};
    }
    return FileNameOf(std::wstring(path.data(), length));
}

HWND FindRustDeskWindow(RustDeskWindowSearch& search) {
    search.window = nullptr;
    EnumWindows(SearchCallback, reinterpret_cast<LPARAM>(&search));
    return search.window;
}

bool PastePassword(const PasteJob& job) noexcept {
    try {
        RustDeskDesk desk(job);
        const bool confirmed = RunPasteSteps(desk, job.timing);
        // Also after a failure, since the operation put the password there before the paster
        // started; the engineer, told that it was copied, gets a minute to paste it by hand.
        std::this_thread::sleep_for(confirmed ? job.timing.beforeClearing : job.timing.keptForHand);
        ClearClipboardIfHolds(job.password);
        return confirmed;
    } catch (...) {
        return false;
    }
}

bool StartPasswordPaster(PasteJob job) noexcept {
    try {
        std::thread(
            [](PasteJob ownJob) { PastePassword(ownJob); }, std::move(job))
            .detach();
        return true;
    } catch (...) {
        return false;
    }
}

}  // namespace ostrevane
