#include "tests/frame_capture.h"

namespace updater {

FrameCapture::FrameCapture(int width, int height)
    : width(width), height(height), memory(CreateCompatibleDC(nullptr)) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(info.bmiHeader), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* pixels = nullptr;
    bitmap.reset(CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    bits = static_cast<std::uint32_t*>(pixels);
    selection = std::make_unique<SelectedObject>(memory.get(), bitmap.get());
}

std::uint32_t FrameCapture::Pixel(int x, int y) const {
    GdiFlush();
    return bits[static_cast<size_t>(y) * width + x] & 0xFFFFFF;
}

int FrameCapture::Count(int left, int top, int right, int bottom,
                        const std::function<bool(std::uint32_t)>& match) const {
    int count = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = left; x < right; ++x) count += match(Pixel(x, y));
    }
    return count;
}

bool FrameCapture::SavePng(const std::wstring& path) const {
    // GDI+'s built-in PNG encoder.
    static const CLSID kPngEncoder = {0x557CF406, 0x1A04, 0x11D3, {0x9A, 0x73, 0x00, 0x00, 0xF8, 0x1E, 0xF3, 0x2E}};
    GdiFlush();
    Gdiplus::Bitmap picture(width, height, width * 4, PixelFormat32bppRGB, reinterpret_cast<BYTE*>(bits));
    return picture.Save(path.c_str(), &kPngEncoder, nullptr) == Gdiplus::Ok;
}

}  // namespace updater
