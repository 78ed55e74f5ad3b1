#include <cstdint>
#include <stdexcept>

#include "app/gdi_handles.h"
#include "app/native_app.h"
#include "foundation/files.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "foundation/xml_json_readers.h"

#include <commctrl.h>

namespace updater {

namespace {

const wchar_t kWindowClassName[] = L"TavrineUpdaterNativeWindow";
const int kDesignWidth = 1196;
const int kDesignHeight = 640;

std::wstring ExecutablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
        if (length == 0) throw std::runtime_error("GetModuleFileNameW failed");
        if (length < buffer.size() - 1) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() * 2);
    }
}

double ScreenScale() {
    SetProcessDPIAware();
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) return 1.0;
    const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
    ReleaseDC(nullptr, screen);
    const double scale = dpi / 96.0;
    return scale < 1.0 ? 1.0 : (scale > 3.0 ? 3.0 : scale);
}

// Ends what Run started, on every way out of it: the window goes first, so
// that WM_DESTROY stops and joins the worker threads, then the bitmaps are
// released while GDI+ still runs, then GDI+ itself.
class RunSession {
public:
    explicit RunSession(NativeApp& app) : app(app) {}
    ~RunSession() { app.EndRunSession(); }
    RunSession(const RunSession&) = delete;
    RunSession& operator=(const RunSession&) = delete;

private:
    NativeApp& app;
};

}  // namespace

void NativeApp::EndRunSession() {
    if (hwnd != nullptr && IsWindow(hwnd)) DestroyWindow(hwnd);
    if (updateThread.joinable() || startupThread.joinable()) StopWorkers();
    layerCacheBitmap.reset();
    characterBitmap.reset();
    backgroundBitmap.reset();
    logoBitmap.reset();
    if (gdiplusToken != 0) {
        Gdiplus::GdiplusShutdown(gdiplusToken);
        gdiplusToken = 0;
    }
}

int ShowRunError(const std::exception& error) {
    // When the window existed, its WM_DESTROY has posted the quit message; the
    // box's own message loop would end on it at once and show nothing.
    MSG quit{};
    while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
    MessageBoxW(nullptr, WideFromUtf8(error.what()).c_str(), L"TavrineUpdater", MB_ICONERROR);
    return 1;
}

bool NativeApp::SavedDebugFlag() const {
    const std::string bytes = ReadBinaryFile(SettingsPath());
    return !bytes.empty() && JsonBoolValue(WideFromUtf8(bytes), L"DebugLog", false);
}

void NativeApp::PickImages() {
    DebugScope scope(logger, L"PickImages");
    logger.Debug(L"PickImages started.");
    logoBitmap = LoadBitmapResource(100);
    backgroundAssets = GetImageAssets(L"br", {200, 201, 202, 203, 204, 205, 206, 207, 208, 209, 210, 211, 212, 213, 214});
    characterAssets = GetImageAssets(L"char", {300, 301, 302, 303, 304, 305, 306, 307, 308, 309, 310});
    ApplyRandomAsset(backgroundAssets, selectedBackground, backgroundBitmap);
    ApplyRandomAsset(characterAssets, selectedCharacter, characterBitmap);
    layerCacheBitmap.reset();
    layerCacheWidth = 0;
    layerCacheHeight = 0;
    logger.Debug(L"PickImages assets backgroundCount=" + std::to_wstring(backgroundAssets.size()) +
                 L", characterCount=" + std::to_wstring(characterAssets.size()) + L", logoLoaded=" +
                 BoolText(logoBitmap != nullptr) + L", backgroundLoaded=" + BoolText(backgroundBitmap != nullptr) +
                 L", characterLoaded=" + BoolText(characterBitmap != nullptr));
    logger.Log(L"Hero images selected. Background=" + selectedBackground.key + L", Character=" +
               selectedCharacter.key);
}

bool NativeApp::RegisterWindowClass() {
    logger.Debug(std::wstring(L"RegisterWindow class=") + kWindowClassName);
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = &NativeApp::WindowProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hIconSm = LoadIconW(instance, MAKEINTRESOURCEW(1));
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kWindowClassName;
    if (RegisterClassExW(&windowClass) != 0) {
        logger.Debug(L"RegisterWindow result=true");
        return true;
    }
    const std::wstring error = GetLastErrorText(GetLastError());
    logger.Debug(L"RegisterWindow result=false, error=" + error);
    logger.Log(L"RegisterWindow failed: " + error);
    return false;
}

bool NativeApp::CreateMainWindow() {
    const int width = static_cast<int>(uiScale * kDesignWidth + 0.5);
    const int height = static_cast<int>(uiScale * kDesignHeight + 0.5);
    RECT frame{0, 0, width, height};
    AdjustWindowRectEx(&frame, WS_POPUP, FALSE, WS_EX_APPWINDOW);
    const int outerWidth = frame.right - frame.left;
    const int outerHeight = frame.bottom - frame.top;
    const int x = (GetSystemMetrics(SM_CXSCREEN) - outerWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYSCREEN) - outerHeight) / 2;
    logger.Debug(L"CreateMainWindow target=" + std::to_wstring(width) + L"x" + std::to_wstring(height) +
                 L", adjusted=" + std::to_wstring(outerWidth) + L"x" + std::to_wstring(outerHeight) +
                 L", position=" + std::to_wstring(x) + L"," + std::to_wstring(y));
    hwnd = CreateWindowExW(WS_EX_APPWINDOW, kWindowClassName, L"Tavrine Updater", WS_POPUP, x, y, outerWidth,
                           outerHeight, nullptr, nullptr, instance, this);
    const DWORD error = GetLastError();
    logger.Debug(L"CreateMainWindow hwnd=" + std::to_wstring(reinterpret_cast<std::uintptr_t>(hwnd)));
    if (hwnd == nullptr) {
        logger.Log(L"CreateMainWindow failed: " + GetLastErrorText(error));
        return false;
    }
    logger.Debug(L"Main window created.");
    return true;
}

int NativeApp::Run(HINSTANCE moduleInstance, const LaunchOptions& options) {
    instance = moduleInstance;
    launchOptions = options;
    exePath = ExecutablePath();
    appDir = DirectoryName(exePath);
    logger.directory = appDir;
    const bool savedDebug = SavedDebugFlag();
    logger.debugEnabled.store(launchOptions.debug || savedDebug);
    http.logger = &logger;

    logger.Log(L"Native updater starting.");
    const std::wstring debugLogPath = JoinPath(JoinPath(appDir, L"logs"), L"updater-debug.log");
    if (launchOptions.debug) {
        logger.Log(L"Debug logging enabled by launch argument. Detailed log: " + debugLogPath);
    } else if (savedDebug) {
        logger.Log(L"Debug logging enabled by saved setting. Detailed log: " + debugLogPath);
    }
    LogStartupEnvironment();

    uiScale = ScreenScale();
    logger.Debug(L"Process DPI awareness requested; uiScale=" + SixDecimals(uiScale));

    Gdiplus::GdiplusStartupInput gdiplusInput;
    if (Gdiplus::GdiplusStartup(&gdiplusToken, &gdiplusInput, nullptr) != Gdiplus::Ok) {
        gdiplusToken = 0;
        logger.Log(L"GDI+ startup failed.");
        return 1;
    }
    // Declared before the session, so the apartment outlives the window and GDI+.
    ComApartment apartment;
    RunSession session(*this);
    logger.Debug(L"GDI+ startup completed.");
    INITCOMMONCONTROLSEX controls{8, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    logger.Debug(L"Common controls initialized.");

    LoadSettings();
    PickImages();
    if (!RegisterWindowClass() || !CreateMainWindow()) return 1;
    ShowWindow(hwnd, SW_SHOW);
    UpdateWindow(hwnd);
    logger.Debug(L"Main window shown and initial paint requested.");
    StartStartupCheck();

    MSG message{};
    BOOL result = 0;
    while ((result = GetMessageW(&message, nullptr, 0, 0)) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    int exitCode = static_cast<int>(message.wParam);
    if (result < 0) {
        logger.Log(L"GetMessageW failed: " + GetLastErrorText(GetLastError()));
        exitCode = 1;
    }
    EndRunSession();
    logger.Debug(L"GDI+ shutdown completed. Exiting with code=" + std::to_wstring(exitCode));
    return exitCode;
}

}  // namespace updater
