// A stand-in for the remote-desktop program, for tests and the demo. It records its command line,
// shows a top-level window titled with the id given after "--connect", and records what is pasted
// into its focused edit box and the Enter that follows. Records are UTF-8 lines appended to the file
// named by OSTREVANE_RUSTDESK_STANDIN_LOG (default: "rustdesk-standin.log" beside the program).
// It closes itself after two minutes so that no test leaves it behind.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "platform/unique_handle.h"
#include "remote_desktop/clipboard.h"
#include "settings/text_utils.h"

namespace {

constexpr UINT_PTR kLifetimeTimer = 1;
constexpr UINT kLifetimeMilliseconds = 120000;
constexpr int kEditId = 100;

std::wstring g_logPath;
WNDPROC g_editProc = nullptr;

void Record(const std::wstring& line) {
    ostrevane::UniqueFileHandle file(CreateFileW(g_logPath.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return;
    }
    const std::string bytes = ostrevane::WideToUtf8(line) + "\n";
    DWORD written = 0;
    WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

LRESULT CALLBACK EditProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PASTE) {
        Record(L"pasted: " + ostrevane::ReadClipboardText());
    } else if (message == WM_KEYDOWN && wParam == VK_RETURN) {
        Record(L"enter: " + WindowText(window));
        return 0;
    } else if (message == WM_CHAR && (wParam == L'\r' || wParam == L'\n')) {
        return 0;  // no beep for the Enter handled above
    }
    return CallWindowProcW(g_editProc, window, message, wParam, lParam);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE: {
        HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 20, 20, 300,
                                    28, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kEditId)), nullptr, nullptr);
        g_editProc = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(edit, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(EditProc)));
        SetTimer(window, kLifetimeTimer, kLifetimeMilliseconds, nullptr);
        return 0;
    }
    case WM_SETFOCUS:
    case WM_ACTIVATE:
        SetFocus(GetDlgItem(window, kEditId));
        return 0;
    case WM_TIMER:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        Record(L"closed");
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR commandLine, int show) {
    wchar_t logPath[1024] = {};
    const DWORD length = GetEnvironmentVariableW(L"OSTREVANE_RUSTDESK_STANDIN_LOG", logPath, 1024);
    if (length > 0 && length < 1024) {
        g_logPath = logPath;
    } else {
        wchar_t module[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, module, MAX_PATH);
        g_logPath = module;
        g_logPath = g_logPath.substr(0, g_logPath.find_last_of(L"\\/") + 1) + L"rustdesk-standin.log";
    }
    Record(L"args: " + std::wstring(commandLine));

    std::wstring title = L"RustDesk";
    int argc = 0;
    if (LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc)) {
        for (int i = 1; i + 1 < argc; ++i) {
            if (std::wstring(argv[i]) == L"--connect") {
                title = argv[i + 1];
            }
        }
        LocalFree(argv);
    }

    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = L"OstrevaneRemoteDesktopStandin";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, title.c_str(), WS_OVERLAPPEDWINDOW, 40, 40, 360, 120,
                                  nullptr, nullptr, instance, nullptr);
    if (window == nullptr) {
        return 1;
    }
    ShowWindow(window, show == SW_HIDE ? SW_SHOWNORMAL : show);
    SetForegroundWindow(window);
    SetFocus(GetDlgItem(window, kEditId));
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return 0;
}
