// Everything the main window draws itself: the sidebar, the header tabs, the page cards, the
// owner-drawn buttons and the colours of the child controls. Nothing is cached: each paint draws
// from the model.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "app/window_theme.h"

namespace ostrevane {

// What a paint needs to know, read from the window's state and the engine's flags.
struct PaintModel {
    int clientWidth = 0;
    int clientHeight = 0;
    std::uint8_t selectedPage = 0;  // 0 connect, 1 log
    std::wstring deviceNumber;
    std::wstring assignedAddress;
    std::wstring routesText;
    std::wstring targetNetwork;
    bool running = false;
    bool relayConnected = false;
};

void PaintMainWindow(HDC dc, const PaintModel& model, const WindowFonts& fonts);

// WM_DRAWITEM for an owner-drawn button.
void DrawOwnerButton(const DRAWITEMSTRUCT& item, const WindowFonts& fonts);

// WM_CTLCOLOREDIT, WM_CTLCOLORLISTBOX and WM_CTLCOLORSTATIC: sets the colours on the device
// context and returns the brush to paint the control's background with.
HBRUSH ColorControl(UINT message, HDC dc, const WindowBrushes& brushes);

}  // namespace ostrevane
