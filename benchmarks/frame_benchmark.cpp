// Median milliseconds per frame drawn through NativeApp::Paint in a real
// window: normal frames over the cached image layer, frames that rebuild the
// layer, the frame's drawing alone, and one BitBlt of the client area as the
// floor. Run by frame_benchmark.sh under Xvfb.
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "app/gdi_handles.h"
#include "app/native_app.h"

using updater::NativeApp;

namespace {

NativeApp* painted = nullptr;

LRESULT CALLBACK BenchmarkWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT && painted) {
        painted->Paint();
        return 0;
    }
    if (message == WM_ERASEBKGND) return 1;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

double MedianMs(int rounds, const std::function<void()>& before, const std::function<void()>& frame) {
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        before();
        QueryPerformanceCounter(&start);
        frame();
        GdiFlush();
        QueryPerformanceCounter(&end);
        times.push_back(1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / frequency.QuadPart);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int wmain() {
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartupInput input;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    const int width = 1196, height = 640, rounds = 100;
    {
        NativeApp app;
        app.instance = GetModuleHandleW(nullptr);
        app.startupWork.store(false);
        app.logoBitmap = app.LoadBitmapResource(100);
        app.backgroundBitmap = app.LoadBitmapResource(200);
        app.characterBitmap = app.LoadBitmapResource(300);
        app.ui.busy = true;
        app.ui.cancelVisible = true;
        app.ui.status = L"Загрузка файлов...";
        app.ui.detail = L"data/textures.pak";
        app.ui.speed = L"Скорость: 4.2 MB/s";
        app.ui.percent = 37;

        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = BenchmarkWindowProc;
        windowClass.hInstance = app.instance;
        windowClass.lpszClassName = L"FrameBenchmarkWindow";
        RegisterClassW(&windowClass);
        app.hwnd = CreateWindowExW(0, windowClass.lpszClassName, L"Frame benchmark", WS_POPUP | WS_VISIBLE, 0, 0,
                                   width, height, nullptr, nullptr, app.instance, nullptr);
        if (!app.hwnd) {
            std::printf("no window: a display is needed\n");
            return 1;
        }
        painted = &app;
        auto paint = [&] {
            InvalidateRect(app.hwnd, nullptr, FALSE);
            UpdateWindow(app.hwnd);
        };
        auto nothing = [] {};
        paint();

        const double normal = MedianMs(rounds, nothing, paint);
        const double rebuild = MedianMs(rounds, [&] { app.layerCacheWidth = 0; }, paint);
        const double drawOnly = MedianMs(rounds, nothing, [&] { app.DrawFrame(app.backBufferDc, width, height); });
        // Where a normal frame's time goes: each part on a graphics of its own
        // over the back buffer, with the frame's settings.
        auto part = [&](const std::function<void(Gdiplus::Graphics&)>& draw) {
            return MedianMs(rounds, nothing, [&] {
                Gdiplus::Graphics graphics(app.backBufferDc);
                graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
                graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
                graphics.SetCompositingQuality(Gdiplus::CompositingQualityHighQuality);
                graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
                draw(graphics);
            });
        };
        const float w = static_cast<float>(width), h = static_cast<float>(height);
        const double layer = part([&](Gdiplus::Graphics& g) {
            g.DrawImage(app.layerCacheBitmap.get(), Gdiplus::RectF(0, 0, w, h), 0, 0, w, h, Gdiplus::UnitPixel);
        });
        const double logo = part([&](Gdiplus::Graphics& g) {
            g.DrawImage(app.logoBitmap.get(), Gdiplus::RectF(228, 197.6f, 312, 46.8f));
        });
        const double topBar = part([&](Gdiplus::Graphics& g) { app.DrawTopBar(g, width, height); });
        const double circles = part([&](Gdiplus::Graphics& g) { app.DrawSocialCircles(g, width, height); });
        const updater::UiState state = app.ui;
        const double controls = part([&](Gdiplus::Graphics& g) { app.DrawMainControls(g, width, height, state); });
        updater::WindowDc windowDc(app.hwnd);
        const double blit = MedianMs(rounds, nothing, [&] {
            BitBlt(windowDc.get(), 0, 0, width, height, app.backBufferDc, 0, 0, SRCCOPY);
        });

        std::printf("client %dx%d, %d frames each, median ms per frame\n", width, height, rounds);
        std::printf("normal frame (cached layer) ms=%.2f\n", normal);
        std::printf("frame rebuilding the layer ms=%.2f\n", rebuild);
        std::printf("drawing alone, into the back buffer ms=%.2f\n", drawOnly);
        std::printf("  of which: cached layer ms=%.2f, top bar ms=%.2f, social icons ms=%.2f, main controls ms=%.2f"
                    " (the logo alone ms=%.2f)\n",
                    layer, topBar, circles, controls, logo);
        std::printf("BitBlt of the client area (floor) ms=%.3f\n", blit);
        std::printf("normal frame / floor = %.1f, below 16 ms: %s\n", normal / blit, normal < 16 ? "yes" : "no");
        painted = nullptr;
        DestroyWindow(app.hwnd);
        app.ReleaseBackBuffer();
    }
    Gdiplus::GdiplusShutdown(token);
    return 0;
}
