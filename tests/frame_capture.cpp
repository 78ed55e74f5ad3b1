#include "tests/frame_capture.h"

#include <vector>

namespace updater {

GdiplusSession::GdiplusSession() {
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
}

GdiplusSession::~GdiplusSession() { Gdiplus::GdiplusShutdown(token); }

FrameCapture::FrameCapture(int width, int height)
    : width(width), height(height), memory(CreateCompatibleDC(nullptr)) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* pixels = nullptr;
    bitmap.reset(CreateDIBSection(memory.get(), &info, DIB_RGB_COLORS, &pixels, nullptr, 0));
    bits = static_cast<std::uint32_t*>(pixels);
    selection = std::make_unique<SelectedObject>(memory.get(), bitmap.get());
}

std::uint32_t FrameCapture::Pixel(int x, int y) const {
    GdiFlush();
    return bits[static_cast<size_t>(y) * width + x] & 0xFFFFFF;
}

bool FrameCapture::SavePng(const std::wstring& path) const {
    GdiFlush();
    UINT count = 0, size = 0;
    Gdiplus::GetImageEncodersSize(&count, &size);
    std::vector<unsigned char> buffer(size);
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    Gdiplus::GetImageEncoders(count, size, encoders);
    for (UINT i = 0; i < count; ++i) {
        if (std::wstring(encoders[i].MimeType) != L"image/png") continue;
        Gdiplus::Bitmap picture(width, height, width * 4, PixelFormat32bppRGB, reinterpret_cast<BYTE*>(bits));
        return picture.Save(path.c_str(), &encoders[i].Clsid, nullptr) == Gdiplus::Ok;
    }
    return false;
}

std::uint8_t Red(std::uint32_t rgb) { return static_cast<std::uint8_t>(rgb >> 16); }
std::uint8_t Green(std::uint32_t rgb) { return static_cast<std::uint8_t>(rgb >> 8); }
std::uint8_t Blue(std::uint32_t rgb) { return static_cast<std::uint8_t>(rgb); }

}  // namespace updater
