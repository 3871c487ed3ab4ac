// Test support for painting: a 32-bit memory surface to paint into and read pixels back from, and
// the process's count of GDI objects.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "platform/unique_handle.h"

namespace ostrevane::testing {

// A top-down 32-bit DIB section selected into its own memory device context.
class PaintSurface {
public:
    PaintSurface(int width, int height);
    ~PaintSurface();
    PaintSurface(const PaintSurface&) = delete;
    PaintSurface& operator=(const PaintSurface&) = delete;

    HDC dc() const { return dc_; }
    int width() const { return width_; }
    int height() const { return height_; }

    // The pixel as a COLORREF (red in the low byte); 0xFFFFFFFF outside the surface.
    std::uint32_t Pixel(int x, int y) const;
    // Pixels inside [left, right) x [top, bottom) whose colour differs from `color`.
    std::size_t CountOtherThan(std::uint32_t color, int left, int top, int right, int bottom) const;
    void Fill(std::uint32_t color);

private:
    int width_;
    int height_;
    HDC dc_ = nullptr;           // owned memory DC
    HBITMAP bitmap_ = nullptr;   // owned DIB section
    HGDIOBJ previous_ = nullptr;  // the DC's own bitmap, put back before deletion
    const std::uint32_t* bits_ = nullptr;
};

// Live GDI objects of this process. Uses GetGuiResources; where that is not implemented (Wine
// answers 0) it counts the handle-table entries that GetObjectType accepts.
std::size_t CountGdiObjects();

}  // namespace ostrevane::testing
