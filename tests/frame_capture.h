#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/gdi_handles.h"

namespace updater {

// GDI+ for the life of a test suite.
class GdiplusSession {
public:
    GdiplusSession();
    ~GdiplusSession();
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

std::uint8_t Red(std::uint32_t rgb);
std::uint8_t Green(std::uint32_t rgb);
std::uint8_t Blue(std::uint32_t rgb);

}  // namespace updater
