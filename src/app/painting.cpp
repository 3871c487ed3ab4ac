#include "app/painting.h"

namespace ostrevane {

void PaintMainWindow(HDC dc, const PaintModel& model, const WindowFonts&) {
    const RECT client{0, 0, model.clientWidth, model.clientHeight};
    UniqueBrush background(CreateSolidBrush(kBackgroundColor));
    FillRect(dc, &client, background.get());
}

void DrawOwnerButton(const DRAWITEMSTRUCT& item, const WindowFonts& fonts) {
    wchar_t text[129] = {};
    GetWindowTextW(item.hwndItem, text, 129);
    RECT area = item.rcItem;
    HGDIOBJ oldFont = SelectObject(item.hDC, fonts.button.get());
    SetBkMode(item.hDC, TRANSPARENT);
    SetTextColor(item.hDC, kPrimaryTextColor);
    DrawTextW(item.hDC, text, -1, &area, DT_SINGLELINE | DT_VCENTER | DT_CENTER | DT_END_ELLIPSIS);
    SelectObject(item.hDC, oldFont);
}

HBRUSH ColorControl(UINT message, HDC dc, const WindowBrushes& brushes) {
    if (message == WM_CTLCOLORSTATIC) {
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, kPrimaryTextColor);
        return brushes.background.get();
    }
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, kInputColor);
    SetTextColor(dc, kPrimaryTextColor);
    return brushes.input.get();
}

}  // namespace ostrevane
