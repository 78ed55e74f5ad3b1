#include <exception>
#include <mutex>

#include "app/native_app.h"
#include "foundation/text.h"
#include "update/thread_ending.h"

namespace updater {

namespace {

void StoreServerConfig(NativeApp& app, const ServerConfig& config) {
    std::lock_guard<std::mutex> lock(app.configMutex);
    app.serverConfig = config;
}

}  // namespace

void NativeApp::StartStartupCheck() {
    DebugScope scope(logger, L"StartStartupCheck");
    logger.Debug(L"StartStartupCheck requested.");
    cancelStartup.exchange(false);
    SetUi(L"Подключение...", L"", 0);
    startupThread = std::thread([this] { StartupCheckThread(); });
}

void NativeApp::StartupCheckThread() {
    ThreadEnding ending(*this, EndStartupCheckWithoutAllocating);
    // Nothing may escape a thread body: it would end the process.
    try {
        DebugScope scope(logger, L"Startup thread");
        try {
            logger.Debug(L"Startup thread started.");
            bool fromServer = false;
            const ServerConfig config = LoadServerConfig(cancelStartup, fromServer);
            StoreServerConfig(*this, config);
            logger.Debug(L"Startup thread stored server config.");
            SetUi(L"Проверка версии апдейтера", L"", 0);
            if (CheckSelfUpdate(config, false)) {
                // startupWork stays set until the process ends.
                ending.MarkDone();
                logger.Debug(L"Startup thread exiting after self-update launch.");
                return;
            }
        } catch (const std::exception& error) {
            logger.Log(L"Startup thread failed: " + WideFromUtf8(error.what()));
        } catch (...) {
            logger.Log(L"Startup thread failed: Unknown error");
        }
        // The final status comes first: once startupWork is clear the user may
        // start an update, whose own status must not be overwritten.
        SetUi(L"Готов к работе", L"", 0);
        startupWork.exchange(false);
        ending.MarkDone();
        logger.Debug(L"Startup thread completed.");
    } catch (...) {
        // A handler or the ending above failed (for want of memory): `ending`
        // shows the final status and frees startupWork without allocating.
    }
}

void NativeApp::ForceSelfUpdate() {
    logger.Debug(std::wstring(L"ForceSelfUpdate requested startupWork=") + BoolText(startupWork.load()) +
                 L", workerRunning=" + BoolText(workerRunning.load()) + L", cancelUpdate=" +
                 BoolText(cancelUpdate.load()));
    if (startupWork.load()) {
        SetUi(L"Подключение...", L"Дождитесь завершения проверки апдейтера.", -1);
        logger.Debug(L"ForceSelfUpdate ignored: startup work is still running.");
        return;
    }
    if (workerRunning.exchange(true)) {
        // The running work keeps its status line; only the reason is added.
        SetUi(L"", L"Дождитесь завершения текущего обновления.", -1);
        logger.Debug(L"ForceSelfUpdate ignored: worker is already running.");
        return;
    }
    cancelUpdate.exchange(false);
    paused.exchange(false);
    startedUpdateMustFinish.exchange(true);
    manualSelfUpdateRunning.exchange(true);
    // The previous thread has freed workerRunning but may still be setting its
    // final status: it ends before this run shows anything.
    if (updateThread.joinable()) {
        logger.Debug(L"ForceSelfUpdate joining previous update thread.");
        updateThread.join();
    }
    SetBusy(true);
    SetUi(L"Проверка версии апдейтера", L"", 0);
    try {
        updateThread = std::thread([this] { ManualSelfUpdateThread(); });
    } catch (const std::exception& error) {
        const std::wstring message = WideFromUtf8(error.what());
        logger.Log(L"Manual self-update failed: " + message);
        startedUpdateMustFinish.exchange(false);
        manualSelfUpdateRunning.exchange(false);
        workerRunning.exchange(false);
        SetBusy(false);
        SetUi(L"Ошибка обновления", message, 0);
    }
}

void NativeApp::ManualSelfUpdateThread() {
    ThreadEnding ending(*this, EndManualSelfUpdateWithoutAllocating);
    // Nothing may escape a thread body: it would end the process.
    try {
        DebugScope scope(logger, L"Manual self-update thread");
        try {
            logger.Debug(L"Manual self-update thread loading fresh server config.");
            bool fromServer = false;
            // Cancel stops the self-update, so it stops this reload too.
            const ServerConfig config = LoadServerConfig(cancelUpdate, fromServer);
            // A failed or canceled load gives the built-in defaults, which must
            // not replace a good configuration; they offer no updater anyway.
            if (fromServer) {
                StoreServerConfig(*this, config);
                logger.Debug(L"Manual self-update thread stored server config.");
                if (CheckSelfUpdate(config, true)) {
                    // The flags stay set until the process ends.
                    ending.MarkDone();
                    logger.Debug(L"Manual self-update thread exiting after self-update launch.");
                    return;
                }
            }
            SetUi(L"Готов к работе",
                  cancelUpdate.load() ? L"Самообновление отменено." : L"Самообновление недоступно.", 0);
        } catch (const std::exception& error) {
            logger.Log(L"Manual self-update failed: " + WideFromUtf8(error.what()));
            SetUi(L"Готов к работе", L"Не удалось обновить апдейтер.", 0);
        } catch (...) {
            logger.Log(L"Manual self-update failed: Unknown error");
            SetUi(L"Готов к работе", L"Не удалось обновить апдейтер.", 0);
        }
        logger.Debug(L"Manual self-update thread clearing interactive busy state.");
        startedUpdateMustFinish.exchange(false);
        manualSelfUpdateRunning.exchange(false);
        SetBusy(false);
        workerRunning.exchange(false);
        ending.MarkDone();
    } catch (...) {
        // A handler or the ending above failed (for want of memory), or an
        // exception of another kind came: `ending` frees the flags in their
        // order without allocating.
    }
}

}  // namespace updater
