#include "support/window_driver.h"

#include <gtest/gtest.h>

#include <thread>

#include "settings/control_text.h"

namespace ostrevane::testing {
namespace {

void RegisterOnce() {
    static const bool registered = RegisterMainWindowClass(GetModuleHandleW(nullptr));
    ASSERT_TRUE(registered);
}

RECT ScreenToClientRect(HWND window, RECT rect) {
    MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

// Dispatches what is queued; true when a WM_QUIT came out.
bool DispatchPending() {
    bool quit = false;
    MSG message{};
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) {
            quit = true;
            continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return quit;
}

}  // namespace

TunnelEngineOptions WindowTestEngineOptions() {
    TunnelEngineOptions options;
    options.runServiceCommands = false;
    return options;
}

WindowDriver::WindowDriver() : record_(std::make_unique<MainWindow>()) {
    RegisterOnce();
    record_->engine = std::make_unique<TunnelEngine>(WindowTestEngineOptions());
    HWND window = CreateMainWindow(GetModuleHandleW(nullptr), *record_);
    EXPECT_NE(window, nullptr);
    // The window stays hidden: under Wine a shown window costs seconds to take down again, and the
    // controls' own visibility is what the page switch sets.
    DispatchPending();
}

WindowDriver::~WindowDriver() {
    Close();
    record_->engine.reset();
}

void WindowDriver::Close() {
    if (!alive()) {
        return;
    }
    DestroyWindow(record_->window);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!DispatchPending() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void WindowDriver::Resize(int width, int height) {
    SetWindowPos(window(), nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    DispatchPending();
}

SIZE WindowDriver::ClientSize() const {
    RECT client{};
    GetClientRect(window(), &client);
    return {client.right, client.bottom};
}

RECT WindowDriver::ControlRect(int id) const {
    RECT rect{};
    GetWindowRect(control(id), &rect);
    return ScreenToClientRect(window(), rect);
}

RECT WindowDriver::DroppedRect(int id) const {
    RECT rect{};
    SendMessageW(control(id), CB_GETDROPPEDCONTROLRECT, 0, reinterpret_cast<LPARAM>(&rect));
    return ScreenToClientRect(window(), rect);
}

std::wstring WindowDriver::Text(int id) const { return ReadControlText(control(id)); }

void WindowDriver::Type(int id, const std::wstring& text) {
    SetWindowTextW(control(id), text.c_str());
    DispatchPending();
}

void WindowDriver::Click(int id) {
    SendMessageW(control(id), BM_CLICK, 0, 0);
    DispatchPending();
}

void WindowDriver::Command(int id, WORD notification) {
    SendMessageW(window(), WM_COMMAND, MAKEWPARAM(id, notification), reinterpret_cast<LPARAM>(control(id)));
    DispatchPending();
}

void WindowDriver::ClickClient(int x, int y) {
    SendMessageW(window(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(x, y));
    SendMessageW(window(), WM_LBUTTONUP, 0, MAKELPARAM(x, y));
    DispatchPending();
}

void WindowDriver::ChooseEntry(int comboId, int index) {
    SendMessageW(control(comboId), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    Command(comboId, CBN_SELCHANGE);
}

std::vector<std::wstring> WindowDriver::ComboEntries(int id) const {
    std::vector<std::wstring> entries;
    const LRESULT count = SendMessageW(control(id), CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(control(id), CB_GETLBTEXTLEN, static_cast<WPARAM>(i), 0);
        std::wstring text(static_cast<std::size_t>(length > 0 ? length : 0) + 1, L'\0');
        SendMessageW(control(id), CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
        text.resize(wcslen(text.c_str()));
        entries.push_back(text);
    }
    return entries;
}

std::wstring WindowDriver::ComboSelection(int id) const {
    const LRESULT selected = SendMessageW(control(id), CB_GETCURSEL, 0, 0);
    if (selected == CB_ERR) {
        return {};
    }
    return ComboEntries(id).at(static_cast<std::size_t>(selected));
}

std::vector<std::wstring> WindowDriver::LogLines() const {
    std::vector<std::wstring> lines;
    const std::wstring text = Text(control_id::kActivityLog);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) {
            end = text.size();
        }
        std::wstring line = text.substr(start, end - start);
        // "[hh:mm:ss] " opens every entry; continuation lines of a message have none.
        if (line.size() >= 11 && line[0] == L'[' && line[9] == L']' && line[10] == L' ') {
            line.erase(0, 11);
        }
        lines.push_back(line);
        start = end + 2;
    }
    return lines;
}

bool WindowDriver::PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (true) {
        DispatchPending();
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
}

void WindowDriver::PumpFor(std::chrono::milliseconds duration) {
    PumpUntil([] { return false; }, duration);
}

bool WindowDriver::WaitForIdle(std::chrono::milliseconds timeout) {
    return PumpUntil([this] { return !record_->busy.load() && !record_->worker.joinable(); }, timeout);
}

std::vector<std::wstring> WindowDriver::NewLogLinesSince(std::size_t count) const {
    const std::vector<std::wstring> lines = LogLines();
    return count < lines.size() ? std::vector<std::wstring>(lines.begin() + static_cast<std::ptrdiff_t>(count), lines.end())
                                : std::vector<std::wstring>{};
}

}  // namespace ostrevane::testing
