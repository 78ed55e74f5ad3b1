#include <stdexcept>
#include <string>
#include <thread>
#include <utility>

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
    try {
        MemoryDc dc(CreateCompatibleDC(nullptr));
        GdiObject bitmap(CreateCompatibleBitmap(dc.get(), 8, 8));
        dcHandle = dc.get();
        bitmapHandle = bitmap.get();
        original = GetCurrentObject(dc.get(), OBJ_BITMAP);
        {
            SelectedObject selected(dc.get(), bitmap.get());
            ASSERT_EQ(GetCurrentObject(dc.get(), OBJ_BITMAP), bitmapHandle);
        }
        EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BITMAP), original);
        SelectedObject selected(dc.get(), bitmap.get());
        throw std::runtime_error("drawing failed");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(IsDeleted(bitmapHandle));
    EXPECT_TRUE(IsDeleted(dcHandle));
}

// Painting validates the window, reuses the back buffer and the image layer
// while the size stays, and replaces both when it changes.
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
        EXPECT_EQ(std::make_pair(app.backBufferWidth, app.backBufferHeight), std::make_pair(400, 300));
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
    }
    DestroyWindow(window);
}

// The calling thread's apartment: "single", "multi" or "none".
std::string Apartment() {
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    if (FAILED(CoGetApartmentType(&type, &qualifier)) || qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA) return "none";
    return type == APTTYPE_MTA ? "multi" : "single";
}

// The owner gives back exactly its own initialisation: a nested one (S_FALSE)
// too, a refused one (the thread is multi-threaded already) never.
TEST(GdiOwners, ComApartmentIsSingleThreadedAndBalanced) {
    std::thread([] {
        {
            ComApartment outer;
            EXPECT_EQ(Apartment(), "single");
            { ComApartment nested; }
            EXPECT_EQ(Apartment(), "single");
        }
        EXPECT_EQ(Apartment(), "none");
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        { ComApartment refused; }
        EXPECT_EQ(Apartment(), "multi");
        CoUninitialize();
    }).join();
}

}  // namespace
}  // namespace updater
