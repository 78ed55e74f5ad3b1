#include "app/native_app.h"

namespace updater {

void NativeApp::CancelCurrentUpdate() {
    logger.Debug(L"CancelCurrentUpdate requested.");
    cancelUpdate.exchange(true);
    paused.exchange(false);
    http.AbortActiveRequests();
    {
        // Only a running update shows the canceling status: a button-up on
        // the Cancel area of a frame painted before the run ended must not
        // cover the final status. Once shown, the run's remaining progress
        // reports leave it standing until the run's final status.
        std::lock_guard<std::mutex> lock(uiMutex);
        if (!ui.busy) return;
        cancelShown = true;
        ui.status = L"Отмена обновления...";
        ui.detail.clear();
        ui.speed.clear();
        ui.percent = 0;
    }
    if (hwnd) InvalidateRect(hwnd, nullptr, FALSE);
}

void NativeApp::StopWorkers() {
    cancelUpdate.exchange(true);
    cancelStartup.exchange(true);
    paused.exchange(false);
    http.AbortActiveRequests();
    if (updateThread.joinable()) updateThread.join();
    if (startupThread.joinable()) startupThread.join();
}

}  // namespace updater
