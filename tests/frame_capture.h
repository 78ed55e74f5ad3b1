#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "app/gdi_handles.h"

namespace updater {

// GDI+ for the life of a test suite.
class GdiplusSession {
public:
    GdiplusSession() {
        Gdiplus::GdiplusStartupInput input;
        Gdiplus::GdiplusStartup(&token, &input, nullptr);
    }
    ~GdiplusSession() { Gdiplus::GdiplusShutdown(token); }
    GdiplusSession(const GdiplusSession&) = delete;
    GdiplusSession& operator=(const GdiplusSession&) = delete;

private:
    ULONG_PTR token = 0;
};

// A 32-bit top-down DIB section selected into a memory device context: the
// test's stand-in for the window, whose pixels can be read back.
class FrameCapture {
public:
    FrameCapture(int width, int height);

    HDC dc() const { return memory.get(); }
    // The pixel as 0xRRGGBB.
    std::uint32_t Pixel(int x, int y) const;
    // How many pixels of the rectangle [left, right) x [top, bottom) match.
    int Count(int left, int top, int right, int bottom, const std::function<bool(std::uint32_t)>& match) const;
    // Writes the picture as a PNG file; false when GDI+ cannot.
    bool SavePng(const std::wstring& path) const;

private:
    int width;
    int height;
    std::uint32_t* bits = nullptr;
    MemoryDc memory;
    GdiObject bitmap;
    std::unique_ptr<SelectedObject> selection;
};

inline std::uint8_t Red(std::uint32_t rgb) { return static_cast<std::uint8_t>(rgb >> 16); }
inline std::uint8_t Green(std::uint32_t rgb) { return static_cast<std::uint8_t>(rgb >> 8); }
inline std::uint8_t Blue(std::uint32_t rgb) { return static_cast<std::uint8_t>(rgb); }

}  // namespace updater
