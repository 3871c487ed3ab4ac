// Drives the client's real main window inside the test process: creates it for a record, pumps
// its messages while the test waits, acts as a user would (clicks, typing, choosing list entries)
// and reads back what the window shows. Destroying it closes the window and eats its quit message.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "tunnel/tunnel_engine.h"

namespace ostrevane::testing {

// Engine options for window tests: no driver-service commands on stop.
TunnelEngineOptions WindowTestEngineOptions();

class WindowDriver {
public:
    WindowDriver();  // registers the class once and creates the window, hidden; fails the test when it cannot
    ~WindowDriver();
    WindowDriver(const WindowDriver&) = delete;
    WindowDriver& operator=(const WindowDriver&) = delete;

    MainWindow& record() { return *record_; }
    HWND window() const { return record_->window; }
    HWND control(int id) const { return record_->Control(id); }
    bool alive() const { return record_->window != nullptr && IsWindow(record_->window); }

    // Window size (outer) and the client size that results.
    void Resize(int width, int height);
    SIZE ClientSize() const;
    // The control's window rectangle in client coordinates.
    RECT ControlRect(int id) const;
    // For a combo box: its rectangle with the list dropped, in client coordinates.
    RECT DroppedRect(int id) const;

    std::wstring Text(int id) const;
    void Type(int id, const std::wstring& text);  // replaces the text, as pasting into an emptied box
    void Click(int id);                           // BM_CLICK, as a mouse click on the button
    void Command(int id, WORD notification = BN_CLICKED);  // WM_COMMAND as the control sends it
    void ClickClient(int x, int y);               // WM_LBUTTONDOWN and WM_LBUTTONUP at a client point
    void ChooseEntry(int comboId, int index);     // selects an entry and notifies as a user's choice does
    std::vector<std::wstring> ComboEntries(int id) const;
    std::wstring ComboSelection(int id) const;    // text of the selected entry; empty when none
    bool Enabled(int id) const { return IsWindowEnabled(control(id)) != FALSE; }
    // The control's own visibility (the window itself is never shown).
    bool Visible(int id) const { return (GetWindowLongW(control(id), GWL_STYLE) & WS_VISIBLE) != 0; }

    // Lines of the activity log box without their time prefixes.
    std::vector<std::wstring> LogLines() const;
    // Those after the first `count`.
    std::vector<std::wstring> NewLogLinesSince(std::size_t count) const;

    // Dispatches this thread's messages until the condition holds or the time is up.
    bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
    void PumpFor(std::chrono::milliseconds duration);
    // Until the worker has ended and the window has taken its completion.
    bool WaitForIdle(std::chrono::milliseconds timeout = std::chrono::seconds(30));

    void Close();  // DestroyWindow, then the quit message it posts is taken out of the queue

private:
    std::unique_ptr<MainWindow> record_;
};

// The activity-log lines after the first `from` lines.
std::vector<std::wstring> LinesFrom(const std::vector<std::wstring>& lines, std::size_t from);

}  // namespace ostrevane::testing
