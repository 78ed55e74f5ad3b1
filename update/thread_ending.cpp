#include "update/thread_ending.h"

#include <mutex>

#include "app/native_app.h"

namespace updater {

namespace {

const wchar_t kReady[] = L"Готов к работе";

}  // namespace

void EndStartupCheckWithoutAllocating(NativeApp& app) {
    {
        std::lock_guard<std::mutex> lock(app.uiMutex);
        // Within its capacity a string takes a new text without allocating;
        // every status shown before this one is at least as long.
        if (app.ui.status.capacity() >= sizeof(kReady) / sizeof(kReady[0]) - 1) {
            app.ui.status = kReady;
        }
        app.ui.detail.clear();
        app.ui.percent = 0;
    }
    if (app.hwnd) InvalidateRect(app.hwnd, nullptr, FALSE);
    app.startupWork.exchange(false);
}

void EndManualSelfUpdateWithoutAllocating(NativeApp& app) {
    app.startedUpdateMustFinish.exchange(false);
    app.manualSelfUpdateRunning.exchange(false);
    StoreBusyState(app, false);
    app.workerRunning.exchange(false);
}

void EndUpdateRunWithoutAllocating(NativeApp& app) {
    app.startedUpdateMustFinish.exchange(false);
    StoreBusyState(app, false);
    app.workerRunning.exchange(false);
}

}  // namespace updater
