#include <cwchar>

#include "app/native_app.h"

#include <shellapi.h>

#include "foundation/paths.h"
#include "foundation/text.h"
#include "http/url_builders.h"

namespace updater {

namespace {

// Repaints once the click has been handled, however its action ended.
struct RepaintOnExit {
    HWND window;
    ~RepaintOnExit() {
        if (window) InvalidateRect(window, nullptr, FALSE);
    }
};

const wchar_t* LinkKey(ButtonAction action) {
    switch (action) {
    case ButtonAction::About: return L"About";
    case ButtonAction::Donation: return L"Donation";
    case ButtonAction::Registration: return L"Registration";
    case ButtonAction::Forum: return L"Forum";
    case ButtonAction::Telegram: return L"Telegram";
    case ButtonAction::Facebook: return L"Facebook";
    default: return nullptr;
    }
}

}  // namespace

void NativeApp::OnMouseUp(int x, int y) {
    RepaintOnExit repaint{hwnd};
    const ButtonAction action = HitTest(static_cast<float>(x), static_cast<float>(y));
    logger.Debug(L"OnMouseUp x=" + std::to_wstring(x) + L", y=" + std::to_wstring(y) + L", action=" +
                 ButtonActionText(action));
    if (const wchar_t* key = LinkKey(action)) {
        OpenLink(key);
        return;
    }
    switch (action) {
    case ButtonAction::Play: StartGame(); break;
    case ButtonAction::Update: RunUpdate(); break;
    case ButtonAction::Cancel: CancelCurrentUpdate(); break;
    case ButtonAction::Close: PostMessageW(hwnd, WM_CLOSE, 0, 0); break;
    case ButtonAction::Minimize: ShowWindow(hwnd, SW_MINIMIZE); break;
    case ButtonAction::LangRu: ChooseLanguage(L"RU"); break;
    case ButtonAction::LangUk: ChooseLanguage(L"UK"); break;
    case ButtonAction::LangEn: ChooseLanguage(L"EN"); break;
    case ButtonAction::ClanPatch:
        if (!workerRunning.load()) {
            clanPatchEnabled = !clanPatchEnabled;
            SaveSettingsOrLog();
        }
        break;
    case ButtonAction::ResetGameSettings:
        if (workerRunning.load()) {
            logger.Debug(L"Reset checkbox ignored: update is running.");
        } else {
            resetGameSettings = !resetGameSettings;
            logger.Debug(std::wstring(L"Reset checkbox toggled; resetGameSettings=") + BoolText(resetGameSettings));
        }
        break;
    case ButtonAction::SelfUpdate: ForceSelfUpdate(); break;
    case ButtonAction::DebugLog: ToggleDebugLog(); break;
    default: break;
    }
}

void NativeApp::ChooseLanguage(const wchar_t* code) {
    SetLanguage(code);
    SaveSettingsOrLog();
}

void NativeApp::StartGame() {
    logger.Debug(std::wstring(L"StartGame requested workerRunning=") + BoolText(workerRunning.load()) +
                 L", startedUpdateMustFinish=" + BoolText(startedUpdateMustFinish.load()));
    if (workerRunning.load() || startedUpdateMustFinish.load()) {
        // The running update keeps its status; only the detail says why.
        SetUi(L"", L"Завершите начатое обновление перед запуском игры.", -1);
        logger.Debug(L"StartGame blocked: update is still active.");
        return;
    }
    SaveSettingsOrLog();
    ServerConfig config;
    {
        std::lock_guard<std::mutex> lock(configMutex);
        config = serverConfig;
    }
    const std::wstring& configured = _wcsicmp(language.c_str(), L"EN") == 0 ? config.gameStartPathEng
                                                                            : config.gameStartPathRu;
    const std::wstring relative = NormalizeRelativePath(L"", configured);
    const std::wstring gamePath = SafeLocalPath(clientPath, relative);
    logger.Debug(L"StartGame resolved relative=" + relative + L", gamePath=" + gamePath);
    const DWORD attributes = GetFileAttributesW(gamePath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        SetUi(L"Клиент не найден", L"Запустите обновление перед стартом игры.", -1);
        logger.Debug(L"StartGame blocked: game file missing.");
        return;
    }
    const auto result = reinterpret_cast<INT_PTR>(ShellExecuteW(hwnd, L"open", gamePath.c_str(), nullptr,
                                                                DirectoryName(gamePath).c_str(), SW_SHOWNORMAL));
    if (result <= 32) {
        SetUi(L"Ошибка запуска", L"Не удалось запустить игру.", -1);
        logger.Debug(L"StartGame ShellExecute failed code=" + std::to_wstring(result));
        return;
    }
    logger.Log(L"Game started: " + gamePath);
    logger.Debug(L"StartGame ShellExecute succeeded.");
}

void NativeApp::RunUpdate() {
    logger.Debug(std::wstring(L"RunUpdate requested startupWork=") + BoolText(startupWork.load()) +
                 L", workerRunning=" + BoolText(workerRunning.load()) + L", cancelUpdate=" +
                 BoolText(cancelUpdate.load()) + L", paused=" + BoolText(paused.load()) +
                 L", manualSelfUpdateRunning=" + BoolText(manualSelfUpdateRunning.load()));
    if (startupWork.load()) {
        SetUi(L"Подключение...", L"", 0);
        logger.Debug(L"RunUpdate ignored: startup work is still running.");
        return;
    }
    if (manualSelfUpdateRunning.load()) {
        SetUi(L"Загрузка новой версии апдейтера", L"Дождитесь завершения самообновления.", -1);
        logger.Debug(L"RunUpdate ignored: manual self-update is running.");
        return;
    }
    if (ClaimUpdateRun()) {
        const bool reset = resetGameSettings;
        SaveSettingsOrLog();
        StartUpdateRun(reset);
        return;
    }
    if (cancelUpdate.load()) return;
    bool nowPaused = false;
    {
        // A run that has already shown itself as ended (busy cleared, slot
        // not yet freed) is not paused: the idle window would show "Пауза".
        std::lock_guard<std::mutex> lock(uiMutex);
        if (!ui.busy) return;
        nowPaused = !paused.load();
        paused.exchange(nowPaused);
        ui.paused = nowPaused;
        ui.status = nowPaused ? L"Пауза" : L"Скачивание";
        if (nowPaused) ui.speed.clear();
    }
    logger.Debug(std::wstring(L"RunUpdate toggled pause; paused=") + BoolText(nowPaused));
    if (nowPaused) {
        logger.Debug(L"RunUpdate pause requested; active WinHTTP calls will stop at the next pause checkpoint or "
                     L"request timeout.");
    }
    if (hwnd) InvalidateRect(hwnd, nullptr, FALSE);
}

void NativeApp::ToggleDebugLog() {
    if (debugLog) {
        logger.Debug(L"Debug checkbox disabled manually.");
        debugLog = false;
        SaveSettingsOrLog();
        logger.debugEnabled.store(false);
        logger.Log(L"Debug logging disabled by UI checkbox.");
        return;
    }
    debugLog = true;
    logger.debugEnabled.store(true);
    logger.Log(L"Debug logging enabled by UI checkbox. Detailed log: " +
               JoinPath(JoinPath(logger.directory, L"logs"), L"updater-debug.log"));
    logger.Debug(L"Debug checkbox enabled manually; dumping current runtime state.");
    LogStartupEnvironment();
    logger.Debug(L"Current settings clientPath=" + clientPath + L", language=" + language + L", clanPatchEnabled=" +
                 BoolText(clanPatchEnabled));
    SaveSettingsOrLog();
}

void NativeApp::OpenLink(const std::wstring& key) {
    ServerConfig config;
    {
        std::lock_guard<std::mutex> lock(configMutex);
        config = serverConfig;
    }
    const auto found = config.links.find(key);
    const std::wstring url = NormalizeExternalUrl(found != config.links.end() ? found->second : L"");
    if (url.empty()) {
        logger.Log(L"Startup config link is empty: " + key);
        return;
    }
    logger.Debug(L"OpenLink key=" + key + L", url=" + url);
    ShellExecuteW(hwnd, L"open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace updater
