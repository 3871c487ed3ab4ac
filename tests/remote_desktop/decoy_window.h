// A top-level window of the test process with a focused edit box that records what is pasted
// into it and every Enter: the "other program whose title mentions RustDesk". It also counts how
// often another thread read its title, which is how a search over the windows shows it looked.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace ostrevane::testing {

enum class DecoyShow {
    Hidden,
    Inactive,  // shown without taking the focus; closes at once under Xvfb
    Active,    // shown in the foreground with its edit box focused; closing it costs Wine about 2 s
};

class DecoyWindow {
public:
    explicit DecoyWindow(const std::wstring& title, DecoyShow show = DecoyShow::Inactive, HWND owner = nullptr) {
        static const ATOM kClass = [] {
            WNDCLASSW windowClass{};
            windowClass.lpfnWndProc = &DecoyWindow::WindowProc;
            windowClass.hInstance = GetModuleHandleW(nullptr);
            windowClass.lpszClassName = L"OstrevaneTestDecoy";
            return RegisterClassW(&windowClass);
        }();
        (void)kClass;
        // A pop-up window: Wine without a window manager waits 2 s when an ordinary one is closed.
        window_ = CreateWindowExW(0, L"OstrevaneTestDecoy", title.c_str(), WS_POPUP | WS_BORDER, 60, 60, 400, 140, owner,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        edit_ = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 10, 10, 300, 28, window_, nullptr,
                                GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(edit_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        editProc_ = reinterpret_cast<WNDPROC>(
            SetWindowLongPtrW(edit_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&DecoyWindow::EditProc)));
        if (show == DecoyShow::Inactive) {
            SetWindowPos(window_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE | SWP_SHOWWINDOW);
        } else if (show == DecoyShow::Active) {
            ShowWindow(window_, SW_SHOWNORMAL);
            SetWindowPos(window_, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
            SetForegroundWindow(window_);
            SetFocus(edit_);
        }
    }
    DecoyWindow(const DecoyWindow&) = delete;
    DecoyWindow& operator=(const DecoyWindow&) = delete;
    ~DecoyWindow() { DestroyWindow(window_); }

    HWND window() const { return window_; }
    // "pasted" and "enter" events in the order they came.
    const std::vector<std::wstring>& events() const { return events_; }
    // Title reads by other threads (a title read of a window of the same process is a message to it).
    int titleReads() const { return titleReads_; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if ((message == WM_GETTEXTLENGTH || message == WM_GETTEXT) && InSendMessage()) {
            if (auto* self = reinterpret_cast<DecoyWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
                ++self->titleReads_;
            }
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }

    static LRESULT CALLBACK EditProc(HWND edit, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<DecoyWindow*>(GetWindowLongPtrW(edit, GWLP_USERDATA));
        if (message == WM_PASTE) {
            self->events_.push_back(L"pasted");
        } else if (message == WM_KEYDOWN && (wParam == VK_RETURN || wParam == 'V')) {
            self->events_.push_back(wParam == VK_RETURN ? L"enter" : L"key V");
        }
        return CallWindowProcW(self->editProc_, edit, message, wParam, lParam);
    }

    HWND window_ = nullptr;
    HWND edit_ = nullptr;
    WNDPROC editProc_ = nullptr;
    std::vector<std::wstring> events_;
    int titleReads_ = 0;
};

}  // namespace ostrevane::testing
