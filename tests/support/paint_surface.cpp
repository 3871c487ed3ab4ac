#include "paint_surface.h"

#include <stdexcept>

namespace ostrevane::testing {
namespace {

std::uint32_t ToColorRef(std::uint32_t dibPixel) {  // 0x00RRGGBB -> 0x00BBGGRR
    return RGB((dibPixel >> 16) & 0xFF, (dibPixel >> 8) & 0xFF, dibPixel & 0xFF);
}

}  // namespace

PaintSurface::PaintSurface(int width, int height) : width_(width), height_(height) {
    dc_ = CreateCompatibleDC(nullptr);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dc_ == nullptr || bitmap_ == nullptr) {
        throw std::runtime_error("Cannot create the paint surface.");
    }
    bits_ = static_cast<const std::uint32_t*>(bits);
    previous_ = SelectObject(dc_, bitmap_);
}

PaintSurface::~PaintSurface() {
    SelectObject(dc_, previous_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
}

std::uint32_t PaintSurface::Pixel(int x, int y) const {
    if (x < 0 || y < 0 || x >= width_ || y >= height_) {
        return 0xFFFFFFFF;
    }
    GdiFlush();
    return ToColorRef(bits_[static_cast<std::size_t>(y) * width_ + x] & 0xFFFFFF);
}

std::size_t PaintSurface::CountOtherThan(std::uint32_t color, int left, int top, int right, int bottom) const {
    std::size_t count = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) {
            count += Pixel(x, y) != color ? 1 : 0;
        }
    }
    return count;
}

void PaintSurface::Fill(std::uint32_t color) {
    const UniqueBrush brush(CreateSolidBrush(color));
    const RECT all{0, 0, width_, height_};
    FillRect(dc_, &all, brush.get());
}

std::size_t CountGdiObjects() {
    const DWORD reported = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (reported != 0) {
        return reported;
    }
    // Wine's handle table accepts a bare index (high word 0) for a live entry.
    std::size_t count = 0;
    for (std::uintptr_t index = 1; index < 0x10000; ++index) {
        count += GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0 ? 1 : 0;
    }
    return count;
}

}  // namespace ostrevane::testing
