#include <stdexcept>

#include <gtest/gtest.h>

#include "app/gdi_handles.h"
#include "app/native_app.h"
#include "tests/frame_capture.h"

namespace updater {
namespace {

bool IsDeleted(HGDIOBJ object) { return GetObjectType(object) == 0; }

TEST(GdiOwners, ReleaseOnEveryExitIncludingExceptions) {
    HGDIOBJ bitmapHandle = nullptr;
    HDC dcHandle = nullptr;
    HGDIOBJ original = nullptr;
    EXPECT_THROW(
        {
            MemoryDc dc(CreateCompatibleDC(nullptr));
            GdiObject bitmap(CreateCompatibleBitmap(dc.get(), 8, 8));
            dcHandle = dc.get();
            bitmapHandle = bitmap.get();
            original = GetCurrentObject(dc.get(), OBJ_BITMAP);
            SelectedObject selected(dc.get(), bitmap.get());
            ASSERT_EQ(GetCurrentObject(dc.get(), OBJ_BITMAP), bitmapHandle);
            throw std::runtime_error("drawing failed");
        },
        std::runtime_error);
    EXPECT_TRUE(IsDeleted(bitmapHandle));
    EXPECT_TRUE(IsDeleted(dcHandle));

    MemoryDc dc(CreateCompatibleDC(nullptr));
    original = GetCurrentObject(dc.get(), OBJ_BITMAP);
    GdiObject bitmap(CreateCompatibleBitmap(dc.get(), 8, 8));
    { SelectedObject selected(dc.get(), bitmap.get()); }
    EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BITMAP), original);
}

TEST(GdiOwners, WindowPaintEndsAndTheBackBufferFollowsTheClientSize) {
    GdiplusSession session;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"PaintTestWindow";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"PaintTestWindow", L"Paint", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    {
        NativeApp app;
        app.hwnd = window;
        app.Paint();
        ASSERT_NE(app.backBufferDc, nullptr);
        EXPECT_EQ(app.backBufferWidth, 400);
        EXPECT_EQ(app.backBufferHeight, 300);
        EXPECT_FALSE(app.hitButtons.empty());
        EXPECT_FALSE(GetUpdateRect(window, nullptr, FALSE));
        const HBITMAP first = app.backBufferBitmap;
        const Gdiplus::Bitmap* layer = app.layerCacheBitmap.get();
        app.Paint();
        EXPECT_EQ(app.backBufferBitmap, first);
        EXPECT_EQ(app.layerCacheBitmap.get(), layer);

        SetWindowPos(window, nullptr, 0, 0, 500, 320, SWP_NOMOVE | SWP_NOZORDER);
        app.Paint();
        EXPECT_TRUE(IsDeleted(first));
        EXPECT_EQ(app.backBufferWidth, 500);
        EXPECT_EQ(app.layerCacheWidth, 500);

        const HDC dc = app.backBufferDc;
        const HBITMAP bitmap = app.backBufferBitmap;
        app.ReleaseBackBuffer();
        EXPECT_TRUE(IsDeleted(bitmap));
        EXPECT_TRUE(IsDeleted(dc));
        EXPECT_EQ(app.backBufferDc, nullptr);
        EXPECT_EQ(app.backBufferOldBitmap, nullptr);
        EXPECT_EQ(app.backBufferWidth, 0);
    }
    DestroyWindow(window);
}

}  // namespace
}  // namespace updater
