#include <algorithm>

#include "app/native_app.h"
#include "foundation/text.h"
#include "update/thread_ending.h"

namespace updater {

namespace {

std::wstring ProgressLine(const wchar_t* name, const std::wstring& status, const std::wstring& detail,
                          double percent) {
    return std::wstring(name) + L" status=" + (status.empty() ? L"(unchanged)" : status) + L", detail=" + detail +
           L", percent=" + SixDecimals(percent);
}

}  // namespace

// Every setter logs before it locks and repaints after it unlocks, so uiMutex
// is never held while the logger's mutex is taken or the window is called.
void NativeApp::SetUi(std::wstring status, std::wstring detail, double percent) {
    logger.Debug(ProgressLine(L"SetUi", status, detail, percent));
    {
        std::lock_guard<std::mutex> lock(uiMutex);
        if (!status.empty()) ui.status = std::move(status);
        ui.detail = std::move(detail);
        if (percent >= 0) ui.percent = std::min(percent, 100.0);
    }
    if (hwnd) InvalidateRect(hwnd, nullptr, FALSE);
}

void NativeApp::SetProgressUi(std::wstring status, std::wstring detail, double percent) {
    logger.Debug(ProgressLine(L"SetProgressUi", status, detail, percent));
    {
        std::lock_guard<std::mutex> lock(uiMutex);
        if (cancelShown) return;
        if (!status.empty()) ui.status = std::move(status);
        ui.detail = std::move(detail);
        ui.percent = std::max(ui.percent, std::clamp(percent, 0.0, 100.0));
    }
    if (hwnd) InvalidateRect(hwnd, nullptr, FALSE);
}

void StoreBusyState(NativeApp& app, bool busy) {
    {
        std::lock_guard<std::mutex> lock(app.uiMutex);
        app.ui.busy = busy;
        app.ui.cancelVisible = busy;
        app.ui.paused = app.paused.load();
        // A new run or self-update reports its progress again.
        if (busy) app.cancelShown = false;
    }
    if (app.hwnd) InvalidateRect(app.hwnd, nullptr, FALSE);
}

void NativeApp::SetBusy(bool busy) {
    logger.Debug(std::wstring(L"SetBusy value=") + (busy ? L"true" : L"false"));
    StoreBusyState(*this, busy);
}

void NativeApp::SetSpeed(std::wstring text) {
    logger.Debug(L"SetSpeed value=" + text);
    {
        std::lock_guard<std::mutex> lock(uiMutex);
        if (cancelShown) return;
        ui.speed = std::move(text);
    }
    if (hwnd) InvalidateRect(hwnd, nullptr, FALSE);
}

// The update run's finish: workerRunning is freed last, so a new run cannot
// be claimed while this run still shows itself as busy.
void NativeApp::ClearInteractiveBusy() {
    logger.Debug(L"Update thread clearing interactive busy state.");
    startedUpdateMustFinish.exchange(false);
    SetBusy(false);
    workerRunning.exchange(false);
}

}  // namespace updater
