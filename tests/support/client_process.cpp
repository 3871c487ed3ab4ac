#include "support/client_process.h"

#include <thread>

#include "app/main_window.h"

namespace ostrevane::testing {
namespace {

struct WindowSearch {
    DWORD processId = 0;
    HWND found = nullptr;
};

BOOL CALLBACK MatchMainWindow(HWND window, LPARAM parameter) {
    auto* search = reinterpret_cast<WindowSearch*>(parameter);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    wchar_t className[64] = {};
    GetClassNameW(window, className, 64);
    if (owner == search->processId && std::wstring(className) == kMainWindowClassName) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

std::wstring ClientExecutable() { return std::wstring(OSTREVANE_BINARY_DIR_W) + L"\\bin\\Ostrevane.Client.exe"; }

std::wstring DemoClientExecutable() { return std::wstring(OSTREVANE_BINARY_DIR_W) + L"\\demo\\Ostrevane.Client.exe"; }

ClientProcess::ClientProcess(const std::wstring& executable, const std::wstring& workingDirectory) {
    std::wstring commandLine = L"\"" + executable + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       workingDirectory.c_str(), &startup, &info)) {
        process_.reset(info.hProcess);
        CloseHandle(info.hThread);
        processId_ = info.dwProcessId;
    }
}

ClientProcess::~ClientProcess() {
    if (!running()) {
        return;
    }
    if (window_ != nullptr) {
        Close();
        if (WaitForExit(std::chrono::seconds(15))) {
            return;
        }
    }
    TerminateProcess(process_.get(), 1);
    WaitForSingleObject(process_.get(), 5000);
}

bool ClientProcess::running() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }

HWND ClientProcess::WaitForWindow(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (window_ == nullptr && running() && std::chrono::steady_clock::now() < deadline) {
        WindowSearch search{processId_, nullptr};
        EnumWindows(MatchMainWindow, reinterpret_cast<LPARAM>(&search));
        window_ = search.found;
        if (window_ == nullptr) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    return window_;
}

std::wstring ClientProcess::Text(int controlId) const {
    HWND control = GetDlgItem(window_, controlId);
    DWORD_PTR length = 0;
    if (control == nullptr ||
        !SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) {
        return {};
    }
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG, 5000,
                             &copied)) {
        return {};
    }
    text.resize(copied);
    return text;
}

void ClientProcess::PostCommand(int controlId) const {
    PostMessageW(window_, WM_COMMAND, MAKEWPARAM(controlId, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window_, controlId)));
}

void ClientProcess::Close() const { PostMessageW(window_, WM_CLOSE, 0, 0); }

std::optional<DWORD> ClientProcess::WaitForExit(std::chrono::milliseconds timeout) const {
    if (!process_ || WaitForSingleObject(process_.get(), static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) {
        return std::nullopt;
    }
    DWORD exitCode = 0;
    GetExitCodeProcess(process_.get(), &exitCode);
    return exitCode;
}

}  // namespace ostrevane::testing
