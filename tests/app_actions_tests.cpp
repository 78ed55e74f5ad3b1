#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "app/native_app.h"
#include "foundation/files.h"
#include "foundation/text.h"
#include "tests/app_shell_support.h"
#include "tests/test_support.h"

namespace updater {
namespace {

const std::wstring kPlayBlocked = L"Завершите начатое обновление перед запуском игры.";
const UiState kDownloading{L"Скачивание", L"file.bin", L"1 МБ/с", 40, true, false, true};

bool Has(const std::vector<std::wstring>& lines, const std::wstring& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// An application object whose last frame has one click area per action, each
// 10 x 10 pixels in a row, so that Click(action) fires it.
class ActionsTest : public ::testing::Test {
protected:
    ActionsTest() {
        PrepareApp(app, temp.path());
        app.clientPath = temp.path();
        app.startupWork.store(false);
        app.logger.debugEnabled.store(true);
        for (int action = 1; action <= 18; ++action) {
            app.hitButtons.push_back({Gdiplus::RectF(action * 20.0f, 0, 10, 10), static_cast<ButtonAction>(action),
                                      false});
        }
    }

    void Click(ButtonAction action) { app.OnMouseUp(static_cast<int>(action) * 20 + 5, 5); }
    std::string Settings() const { return ReadBinaryFile(app.SettingsPath()); }
    std::vector<std::wstring> MainLog() const { return LogMessages(temp / L"logs\\updater.log"); }
    std::vector<std::wstring> DebugLog() const { return LogMessages(temp / L"logs\\updater-debug.log"); }
    bool DebugLogHas(const std::wstring& line) const { return Has(DebugLog(), line); }

    TempFolder temp;
    NativeApp app;
};

// While a run or a self-update is active, Play and Update refuse with their
// texts; Play keeps the running status and only explains in the detail.
TEST_F(ActionsTest, RefusalsLeaveTheRunAlone) {
    struct Case {
        ButtonAction action;
        bool startupWork, workerRunning, mustFinish, manualSelfUpdate;
        std::wstring status, detail;
        double percent;
    };
    const Case cases[] = {
        {ButtonAction::Play, false, true, true, false, L"Скачивание", kPlayBlocked, 40},
        {ButtonAction::Play, false, false, true, false, L"Скачивание", kPlayBlocked, 40},
        {ButtonAction::Update, true, false, false, false, L"Подключение...", L"", 0},
        {ButtonAction::Update, false, true, true, true, L"Загрузка новой версии апдейтера",
         L"Дождитесь завершения самообновления.", 40},
    };
    for (const Case& item : cases) {
        app.ui = kDownloading;
        app.startupWork.store(item.startupWork);
        app.workerRunning.store(item.workerRunning);
        app.startedUpdateMustFinish.store(item.mustFinish);
        app.manualSelfUpdateRunning.store(item.manualSelfUpdate);
        Click(item.action);
        EXPECT_EQ(app.ui.status, item.status);
        EXPECT_EQ(app.ui.detail, item.detail);
        EXPECT_EQ(app.ui.percent, item.percent);
        EXPECT_EQ(app.workerRunning.load(), item.workerRunning);
        EXPECT_TRUE(Settings().empty());
    }
}

TEST_F(ActionsTest, UpdateDuringARunTogglesPauseUnlessCanceling) {
    app.workerRunning.store(true);
    app.ui = kDownloading;
    Click(ButtonAction::Update);
    EXPECT_TRUE(app.paused.load() && app.ui.paused);
    EXPECT_EQ(app.ui.status + L"|" + app.ui.detail + L"|" + app.ui.speed, L"Пауза|file.bin|");
    EXPECT_EQ(app.ui.percent, 40);
    Click(ButtonAction::Update);
    EXPECT_FALSE(app.paused.load());
    EXPECT_EQ(app.ui.status, L"Скачивание");

    app.cancelUpdate.store(true);
    app.ui.status = L"Отмена обновления...";
    Click(ButtonAction::Update);
    EXPECT_FALSE(app.paused.load());
    EXPECT_EQ(app.ui.status, L"Отмена обновления...");
    EXPECT_TRUE(Settings().empty());

    // The run has shown its end but not yet freed its slot: nothing to pause.
    app.cancelUpdate.store(false);
    app.ui = kDownloading;
    app.ui.busy = false;
    Click(ButtonAction::Update);
    EXPECT_FALSE(app.paused.load() || app.ui.paused);
    EXPECT_EQ(app.ui.status, L"Скачивание");
}

// Once the canceling status of a running run is shown, the run's remaining
// progress and speed reports leave it standing; its final status ends it and
// the next run reports again. A cancel while nothing is busy holds nothing.
TEST_F(ActionsTest, AShownCancelHoldsAgainstTheRunsProgress) {
    const auto shown = [&] {
        return app.ui.status + L"|" + app.ui.detail + L"|" + app.ui.speed + L"|" +
               std::to_wstring(static_cast<int>(app.ui.percent));
    };
    const std::wstring canceling = L"Отмена обновления...|||0";
    const std::wstring nextRun = L"Проверка файлов|b.bin|Скорость: 2 MB/s|10";
    const std::pair<std::function<void()>, std::wstring> steps[] = {
        {[&] { Click(ButtonAction::Cancel); }, canceling},
        {[&] { app.SetProgressUi(L"Проверка файлов", L"a.bin", 55); }, canceling},
        {[&] { app.SetSpeed(L"Скорость: 1 MB/s"); }, canceling},
        {[&] { app.ClearInteractiveBusy(); }, canceling},
        {[&] { app.SetUi(L"Обновление отменено", L"", 0); }, L"Обновление отменено|||0"},
        {[&] { app.SetBusy(true); app.SetProgressUi(L"Проверка файлов", L"b.bin", 10); },
         L"Проверка файлов|b.bin||10"},
        {[&] { app.SetSpeed(L"Скорость: 2 MB/s"); }, nextRun},
        {[&] { app.SetBusy(false); Click(ButtonAction::Cancel); }, nextRun},
        {[&] { app.SetProgressUi(L"", L"c.bin", 20); }, L"Проверка файлов|c.bin|Скорость: 2 MB/s|20"},
    };
    app.workerRunning.store(true);
    app.ui = kDownloading;
    for (const auto& [step, expected] : steps) {
        step();
        EXPECT_EQ(shown(), expected);
    }
}

// Options and languages are saved at once; a run locks the options but not
// the language; a settings file that cannot be written never stops an action.
TEST_F(ActionsTest, OptionsAreSavedAndAFailedSaveNeverStopsAnAction) {
    Click(ButtonAction::LangUk);
    Click(ButtonAction::ClanPatch);
    EXPECT_EQ(app.language, L"UK");
    EXPECT_TRUE(app.clanPatchEnabled);
    const std::string saved = Settings();
    EXPECT_NE(saved.find("\"Language\":\"UK\",\"ClanPatchEnabled\":true"), std::string::npos);
    Click(ButtonAction::ResetGameSettings);
    EXPECT_TRUE(app.resetGameSettings);
    EXPECT_TRUE(DebugLogHas(L"Reset checkbox toggled; resetGameSettings=true"));
    EXPECT_EQ(Settings(), saved);

    app.workerRunning.store(true);
    Click(ButtonAction::ClanPatch);
    Click(ButtonAction::ResetGameSettings);
    Click(ButtonAction::LangEn);
    EXPECT_TRUE(app.clanPatchEnabled && app.resetGameSettings);
    EXPECT_TRUE(DebugLogHas(L"Reset checkbox ignored: update is running."));
    EXPECT_EQ(app.language, L"EN");
    EXPECT_NE(Settings().find("\"Language\":\"EN\""), std::string::npos);

    app.workerRunning.store(false);
    ASSERT_TRUE(DeleteFileW(app.SettingsPath().c_str()) && CreateDirectoryW(app.SettingsPath().c_str(), nullptr));
    Click(ButtonAction::LangRu);
    Click(ButtonAction::ClanPatch);
    Click(ButtonAction::Play);
    EXPECT_EQ(app.language, L"RU");
    EXPECT_FALSE(app.clanPatchEnabled);
    EXPECT_EQ(app.ui.status, L"Клиент не найден");
    EXPECT_EQ(app.ui.detail, L"Запустите обновление перед стартом игры.");
    EXPECT_TRUE(DebugLogHas(L"StartGame resolved relative=system/l2.exe, gamePath=" + temp.path() +
                            L"\\system\\l2.exe"));
    const std::wstring failed = L"Settings save failed: Could not open file for writing";
    EXPECT_EQ(MainLog(), (std::vector<std::wstring>{failed, failed, failed}));
}

TEST_F(ActionsTest, DebugLogToggleLines) {
    app.debugLog = true;
    Click(ButtonAction::DebugLog);
    EXPECT_FALSE(app.debugLog);
    EXPECT_FALSE(app.logger.debugEnabled.load());
    EXPECT_NE(Settings().find("\"DebugLog\":false"), std::string::npos);
    EXPECT_EQ(DebugLog().back(), L"SaveSettings wrote bytes=" + std::to_wstring(Settings().size()));
    DeleteFileW((temp / L"logs\\updater-debug.log").c_str());

    Click(ButtonAction::DebugLog);
    EXPECT_TRUE(app.logger.debugEnabled.load());
    const std::wstring enabled = L"Debug logging enabled by UI checkbox. Detailed log: " + temp.path() +
                                 L"\\logs\\updater-debug.log";
    EXPECT_EQ(MainLog(), (std::vector<std::wstring>{L"Debug logging disabled by UI checkbox.", enabled}));
    const std::vector<std::wstring> lines = DebugLog();
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines[0], enabled);
    EXPECT_EQ(lines[1], L"Debug checkbox enabled manually; dumping current runtime state.");
    EXPECT_EQ(lines[2], L"Command line: ");
    EXPECT_TRUE(DebugLogHas(L"Current settings clientPath=" + temp.path() + L", language=RU, clanPatchEnabled=false"));
    EXPECT_NE(Settings().find("\"DebugLog\":true"), std::string::npos);
}

// The real window procedure on a message-only window (no display needed).
class WindowProcTest : public ::testing::Test {
protected:
    WindowProcTest() {
        PrepareApp(app, temp.path());
        app.logger.debugEnabled.store(true);
        window = CreateMessageWindow(L"WindowProcTest", &NativeApp::WindowProc, &app);
        EXPECT_EQ(app.hwnd, window);
    }
    ~WindowProcTest() override {
        if (IsWindow(window)) DestroyWindow(window);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        }
    }

    TempFolder temp;
    NativeApp app;
    HWND window = nullptr;
};

// Hovering sets the cursor, and WM_SETCURSOR keeps it: the default handling
// would put the class arrow back on every move.
TEST_F(WindowProcTest, HoverAndSetCursorShowTheHoveredAction) {
    const LPARAM client = MAKELPARAM(HTCLIENT, WM_MOUSEMOVE);
    app.hitButtons.push_back({Gdiplus::RectF(10, 10, 50, 20), ButtonAction::Play, false});
    SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(60, 30));
    EXPECT_EQ(app.hoveredAction, ButtonAction::Play);
    SetCursor(nullptr);
    EXPECT_EQ(SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), client), TRUE);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_HAND));
    SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(61, 30));
    EXPECT_EQ(app.hoveredAction, ButtonAction::None);
    SetCursor(nullptr);
    EXPECT_EQ(SendMessageW(window, WM_SETCURSOR, reinterpret_cast<WPARAM>(window), client), TRUE);
    EXPECT_EQ(GetCursor(), LoadCursorW(nullptr, IDC_ARROW));
}

// Cancel acts on button-down; a button-up on the Cancel area of a frame still
// on screen after the run has ended leaves the final status alone.
TEST_F(WindowProcTest, CancelOnButtonDownAndNoStaleCancelAfterTheRun) {
    app.hitButtons.push_back({Gdiplus::RectF(10, 10, 50, 20), ButtonAction::Cancel, false});
    app.ui = kDownloading;
    EXPECT_EQ(SendMessageW(window, WM_LBUTTONDOWN, 0, MAKELPARAM(20, 15)), 0);
    EXPECT_TRUE(app.cancelUpdate.load());
    EXPECT_EQ(app.ui.status, L"Отмена обновления...");
    EXPECT_EQ(app.ui.percent, 0);
    app.ui = UiState{L"Обновление отменено", L"", L"", 0, false, false, false};
    SendMessageW(window, WM_LBUTTONUP, 0, MAKELPARAM(20, 15));
    EXPECT_EQ(app.ui.status, L"Обновление отменено");
    const std::vector<std::wstring> lines = LogMessages(temp / L"logs\\updater-debug.log");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), L"CancelCurrentUpdate requested."), 2);
}

// Leaving Run early with live threads: the window goes first and its
// WM_DESTROY joins them and frees the back buffer; the bitmaps go before GDI+
// shuts down.
TEST_F(WindowProcTest, EndingTheSessionJoinsLiveThreadsBeforeGdiplusStops) {
    Gdiplus::GdiplusStartupInput input;
    ASSERT_EQ(Gdiplus::GdiplusStartup(&app.gdiplusToken, &input, nullptr), Gdiplus::Ok);
    app.logoBitmap = std::make_unique<Gdiplus::Bitmap>(4, 4, PixelFormat32bppARGB);
    app.layerCacheBitmap = std::make_unique<Gdiplus::Bitmap>(4, 4, PixelFormat32bppARGB);
    app.backBufferDc = CreateCompatibleDC(nullptr);
    app.backBufferBitmap = CreateCompatibleBitmap(app.backBufferDc, 8, 8);
    app.backBufferOldBitmap = SelectObject(app.backBufferDc, app.backBufferBitmap);
    app.backBufferWidth = app.backBufferHeight = 8;
    const HDC backBufferDc = app.backBufferDc;
    const HBITMAP backBufferBitmap = app.backBufferBitmap;
    const auto untilCanceled = [](const std::atomic<bool>& cancel) {
        return std::thread([&cancel] {
            while (!cancel.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
    };
    app.startupThread = untilCanceled(app.cancelStartup);
    app.updateThread = untilCanceled(app.cancelUpdate);
    app.EndRunSession();
    EXPECT_FALSE(IsWindow(window));
    EXPECT_FALSE(app.updateThread.joinable() || app.startupThread.joinable());
    EXPECT_TRUE(Has(LogMessages(temp / L"logs\\updater-debug.log"), L"WM_DESTROY received; stopping workers."));
    EXPECT_EQ(app.backBufferDc, nullptr);
    EXPECT_EQ(app.backBufferBitmap, nullptr);
    EXPECT_EQ(app.backBufferOldBitmap, nullptr);
    EXPECT_EQ(app.backBufferWidth, 0);
    EXPECT_EQ(GetObjectType(backBufferDc) | GetObjectType(backBufferBitmap), 0u) << "both deleted";
    EXPECT_EQ(app.logoBitmap, nullptr);
    EXPECT_EQ(app.layerCacheBitmap, nullptr);
    EXPECT_EQ(app.gdiplusToken, 0u);
    MSG message;
    bool quit = false;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) quit |= message.message == WM_QUIT && message.wParam == 0;
    EXPECT_TRUE(quit);
    app.EndRunSession();
}

}  // namespace
}  // namespace updater
