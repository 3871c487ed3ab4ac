// Everything the main window draws itself: the sidebar, the header tabs, the page cards, the
// owner-drawn buttons and the colours of the child controls. Nothing is cached: each paint draws
// from the model, and every pen and brush made for a shape is deleted right after it.
#pragma once

#include <windows.h>

#include "app/paint_scene.h"
#include "app/window_theme.h"

namespace ostrevane {

// WM_PAINT: the whole client area (the model's client size) for the model's state.
void PaintMainWindow(HDC dc, const PaintModel& model, const WindowFonts& fonts);

// WM_DRAWITEM for an owner-drawn button: scheme by control id, disabled and pressed from the
// item state, the button's own text (at most 128 characters).
void DrawOwnerButton(const DRAWITEMSTRUCT& item, const WindowFonts& fonts);

// WM_CTLCOLOREDIT, WM_CTLCOLORLISTBOX and WM_CTLCOLORSTATIC: sets the colours on the device
// context and returns the brush to paint the control's background with; null for any other
// message (leave that one to DefWindowProcW).
HBRUSH ColorControl(UINT message, HDC dc, const WindowBrushes& brushes);

// Executes a scene in order; selections are undone and objects deleted before it returns.
void DrawScene(HDC dc, const PaintScene& scene, const WindowFonts& fonts);

}  // namespace ostrevane
