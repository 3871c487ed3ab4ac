#include "app/painting.h"

#include <string>
#include <variant>

#include "app/palette.h"

namespace ostrevane {
namespace {

static_assert(kSingleLineFormat == (DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS));
static_assert(kCenteredFormat == (DT_SINGLELINE | DT_VCENTER | DT_END_ELLIPSIS | DT_CENTER));
static_assert(kWrappedFormat == (DT_WORDBREAK | DT_END_ELLIPSIS));

// Selects an object into a device context for one scope and puts the previous one back, so the
// owner of the selected object can delete it afterwards.
class Selection {
public:
    Selection(HDC dc, HGDIOBJ object) : dc_(dc), previous_(object != nullptr ? SelectObject(dc, object) : nullptr) {}
    Selection(const Selection&) = delete;
    Selection& operator=(const Selection&) = delete;
    ~Selection() {
        if (previous_ != nullptr) {
            SelectObject(dc_, previous_);
        }
    }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

HFONT FontFor(FontRole role, const WindowFonts& fonts) {
    switch (role) {
        case FontRole::Title:
            return fonts.title.get();
        case FontRole::Heading:
            return fonts.heading.get();
        case FontRole::Subheading:
            return fonts.subheading.get();
        case FontRole::Button:
            return fonts.button.get();
        case FontRole::Body:
            break;
    }
    return fonts.body.get();
}

RECT ToRect(const PaintRect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

class SceneDrawer {
public:
    SceneDrawer(HDC dc, const WindowFonts& fonts) : dc_(dc), fonts_(fonts) {}

    void operator()(const FillItem& item) const {
        const UniqueBrush brush(CreateSolidBrush(item.color));
        const RECT rect = ToRect(item.rect);
        FillRect(dc_, &rect, brush.get());
    }

    void operator()(const RoundedItem& item) const {
        const UniqueBrush brush(CreateSolidBrush(item.fill));
        const UniquePen pen(CreatePen(PS_SOLID, 1, item.outline));
        const Selection brushSelection(dc_, brush.get());
        const Selection penSelection(dc_, pen.get());
        RoundRect(dc_, item.rect.left, item.rect.top, item.rect.right, item.rect.bottom, item.radius, item.radius);
    }

    void operator()(const DotItem& item) const {
        const UniqueBrush brush(CreateSolidBrush(item.fill));
        const Selection brushSelection(dc_, brush.get());
        const Selection penSelection(dc_, GetStockObject(NULL_PEN));
        Ellipse(dc_, item.rect.left, item.rect.top, item.rect.right, item.rect.bottom);
    }

    void operator()(const LineItem& item) const {
        const UniquePen pen(CreatePen(PS_SOLID, item.width, item.color));
        const Selection penSelection(dc_, pen.get());
        MoveToEx(dc_, item.fromX, item.fromY, nullptr);
        LineTo(dc_, item.toX, item.toY);
    }

    void operator()(const TextItem& item) const {
        const Selection fontSelection(dc_, FontFor(item.font, fonts_));
        SetBkMode(dc_, TRANSPARENT);
        SetTextColor(dc_, item.color);
        RECT rect = ToRect(item.rect);
        DrawTextW(dc_, item.text.c_str(), static_cast<int>(item.text.size()), &rect, item.format);
    }

private:
    HDC dc_;
    const WindowFonts& fonts_;
};

}  // namespace

void DrawScene(HDC dc, const PaintScene& scene, const WindowFonts& fonts) {
    const SceneDrawer drawer(dc, fonts);
    for (const PaintItem& item : scene) {
        std::visit(drawer, item);
    }
}

void PaintMainWindow(HDC dc, const PaintModel& model, const WindowFonts& fonts) {
    DrawScene(dc, BuildMainWindowScene(model), fonts);
}

void DrawOwnerButton(const DRAWITEMSTRUCT& item, const WindowFonts& fonts) {
    constexpr int kMaxTextLength = 128;
    wchar_t text[kMaxTextLength + 1] = {};
    const int length = item.hwndItem != nullptr ? GetWindowTextW(item.hwndItem, text, kMaxTextLength + 1) : 0;
    const bool disabled = (item.itemState & ODS_DISABLED) != 0;
    const bool pressed = (item.itemState & ODS_SELECTED) != 0;
    const PaintRect area{item.rcItem.left, item.rcItem.top, item.rcItem.right, item.rcItem.bottom};
    DrawScene(item.hDC, BuildButtonScene(area, item.CtlID, disabled, pressed, std::wstring(text, length > 0 ? length : 0)),
              fonts);
}

HBRUSH ColorControl(UINT message, HDC dc, const WindowBrushes& brushes) {
    switch (message) {
        case WM_CTLCOLORSTATIC:
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, kPrimaryTextColor);
            return brushes.background.get();
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
            SetBkMode(dc, OPAQUE);
            SetBkColor(dc, kInputColor);
            SetTextColor(dc, kPrimaryTextColor);
            return brushes.input.get();
        default:
            return nullptr;
    }
}

}  // namespace ostrevane
