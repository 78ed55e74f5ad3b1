#include "app/message_guard.h"
#include "app/native_app.h"

#include <windowsx.h>

namespace updater {

namespace {

HCURSOR CursorFor(ButtonAction action) {
    return LoadCursorW(nullptr, action == ButtonAction::None ? IDC_ARROW : IDC_HAND);
}

// Posts the quit message however the stop before it ends, so that the message
// loop always finishes once the window is gone.
struct QuitOnExit {
    ~QuitOnExit() { PostQuitMessage(0); }
};

}  // namespace

LRESULT CALLBACK NativeApp::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* app = static_cast<NativeApp*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        app->hwnd = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(app));
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    auto* app = reinterpret_cast<NativeApp*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (app == nullptr) return DefWindowProcW(hwnd, message, wParam, lParam);
    return GuardedMessage(app->logger, hwnd, message, wParam, lParam,
                          [&] { return app->HandleMessage(hwnd, message, wParam, lParam); });
}

LRESULT NativeApp::HandleMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const int x = GET_X_LPARAM(lParam);
    const int y = GET_Y_LPARAM(lParam);
    switch (message) {
    case WM_MOUSEMOVE:
        OnMouseMove(x, y);
        return 0;
    case WM_LBUTTONDOWN:
        OnMouseDown(x, y);
        return 0;
    case WM_LBUTTONUP:
        OnMouseUp(x, y);
        return 0;
    case WM_SETCURSOR:
        // The default handling would put the class arrow back on every move.
        if (LOWORD(lParam) != HTCLIENT) break;
        SetCursor(CursorFor(hoveredAction));
        return TRUE;
    case WM_PAINT:
        Paint();
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_DESTROY:
        OnDestroy();
        return 0;
    default:
        break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void NativeApp::OnMouseMove(int x, int y) {
    const ButtonAction action = HitTest(static_cast<float>(x), static_cast<float>(y));
    if (action == hoveredAction) return;
    hoveredAction = action;
    SetCursor(CursorFor(action));
    InvalidateRect(hwnd, nullptr, FALSE);
}

void NativeApp::OnMouseDown(int x, int y) {
    const ButtonAction action = HitTest(static_cast<float>(x), static_cast<float>(y));
    logger.Debug(L"OnMouseDown x=" + std::to_wstring(x) + L", y=" + std::to_wstring(y) + L", action=" +
                 ButtonActionText(action));
    if (action == ButtonAction::Cancel) {
        CancelCurrentUpdate();
    } else if (action == ButtonAction::None) {
        ReleaseCapture();
        SendMessageW(hwnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
    }
}

void NativeApp::OnDestroy() {
    QuitOnExit quit;
    logger.Debug(L"WM_DESTROY received; stopping workers.");
    StopWorkers();
    ReleaseBackBuffer();
}

}  // namespace updater
