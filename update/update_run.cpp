#include "update/update_run.h"

#include <algorithm>
#include <stdexcept>
#include <thread>
#include <vector>

#include <windows.h>

#include "app/native_app.h"
#include "foundation/files.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "update/check_workers.h"
#include "update/download_workers.h"
#include "update/update_plan.h"

namespace updater {

namespace {

std::wstring WithTrailingBackslash(std::wstring path) {
    if (!path.empty() && path.back() != L'\\') {
        path += L'\\';
    }
    return path;
}

// "<failed files>: N" and/or "<failed manifests>: M", joined by ", ".
std::wstring FailureDetail(NativeApp& app, int failedDownloads, int manifestFailures) {
    std::wstring detail;
    if (failedDownloads > 0) {
        detail = app.T(L"FailedFiles") + L": " + std::to_wstring(failedDownloads);
    }
    if (manifestFailures > 0) {
        detail += (detail.empty() ? L"" : L", ") + app.T(L"FailedManifests") + L": " + std::to_wstring(manifestFailures);
    }
    return detail;
}

// ClearInteractiveBusy, once: a failure after it (of the final status, say)
// must not clear the flags again, when a new run may already hold them.
void ReleaseRun(NativeApp& app, ThreadEnding& ending) {
    if (!ending.IsDone()) {
        app.ClearInteractiveBusy();
        ending.MarkDone();
    }
}

void EndRun(NativeApp& app, ThreadEnding& ending, const std::wstring& status, const std::wstring& detail) {
    app.SetSpeed(L"");
    ReleaseRun(app, ending);
    app.SetUi(status, detail, 100);
}

// The ending of a run that got through its work: complete, or complete with
// failed files or manifests.
void ReportFinished(NativeApp& app, ThreadEnding& ending, int failedDownloads, int manifestFailures) {
    if (failedDownloads + manifestFailures < 1) {
        EndRun(app, ending, L"Готов к работе", L"Обновление завершено");
        app.logger.Log(L"Update finished.");
        return;
    }
    EndRun(app, ending, app.T(L"UpdateCompleteWithErrors"), FailureDetail(app, failedDownloads, manifestFailures));
    app.logger.Log(L"Update finished with errors. failedFiles=" + std::to_wstring(failedDownloads) +
                   L", failedManifests=" + std::to_wstring(manifestFailures));
}

// Deletes the client's system folder before the check. Refused when it would
// reach outside the client folder or take the updater's own folder with it;
// skipped when a manifest failed, since then nothing may bring the files back.
void ResetSystemFolder(NativeApp& app, int manifestFailures) {
    if (manifestFailures > 0) {
        app.logger.Log(L"System directory reset skipped: manifest failures=" + std::to_wstring(manifestFailures));
        return;
    }
    app.SetUi(L"Сброс настроек игры", L"", 0);
    const std::wstring systemDir = SafeLocalPath(app.clientPath, L"system");
    app.logger.Log(L"Reset game settings requested. Removing system directory: " + systemDir);
    app.logger.Debug(L"ResetGameSystemDirectory clientPath=" + app.clientPath + L", systemDir=" + systemDir);

    const std::wstring full = FullPath(systemDir);
    const std::wstring root = WithTrailingBackslash(FullPath(app.clientPath));
    const bool insideClient = root.empty() || StartsWithIgnoringCase(full, root);
    const bool holdsUpdater = StartsWithIgnoringCase(WithTrailingBackslash(FullPath(app.appDir)),
                                                     WithTrailingBackslash(full));
    if (!insideClient || _wcsicmp(FileNameOf(full).c_str(), L"system") != 0 || holdsUpdater) {
        throw std::runtime_error("Unsafe system reset path");
    }

    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        app.logger.Log(L"System directory is missing, reset skipped: " + full);
        return;
    }
    std::wstring error;
    if (!DeleteDirectoryRecursive(full, error)) {
        app.logger.Log(L"System directory reset failed: " + error);
        throw std::runtime_error(Utf8FromWide(L"Could not delete system directory: " + error));
    }
    app.logger.Log(L"System directory removed before update: " + full);
}

void RunUpdateSteps(NativeApp& app, ThreadEnding& ending, bool resetSystemBeforeUpdate) {
    CreateDirectoryRecursive(app.clientPath);
    const std::wstring tempRoot = JoinPath(app.appDir, L"temp");
    CreateDirectoryRecursive(tempRoot);
    app.logger.Debug(L"Update directories ready clientPath=" + app.clientPath + L", tempRoot=" + tempRoot);

    UpdatePlan plan = app.BuildPlan();
    if (plan.entries.empty()) {
        app.logger.Debug(L"Update plan is empty; manifestFailures=" + std::to_wstring(plan.manifestFailures));
        if (plan.manifestFailures < 1) {
            EndRun(app, ending, L"Готов к работе", L"Нет файлов для проверки");
        } else {
            EndRun(app, ending, app.T(L"UpdateCompleteWithErrors"), FailureDetail(app, 0, plan.manifestFailures));
        }
        return;
    }
    if (resetSystemBeforeUpdate) {
        ResetSystemFolder(app, plan.manifestFailures);
    }

    RunCheckPhase(app, plan);
    std::sort(plan.downloads.begin(), plan.downloads.end(), [](const UpdateFileEntry& a, const UpdateFileEntry& b) {
        return _wcsicmp(a.relativePath.c_str(), b.relativePath.c_str()) < 0;
    });
    for (size_t index = 0; index < plan.downloads.size(); ++index) {
        const UpdateFileEntry& entry = plan.downloads[index];
        app.logger.Debug(L"Download plan item index=" + std::to_wstring(index) + L", relativePath=" +
                         entry.relativePath + L", source=" + entry.source + L", size=" + std::to_wstring(entry.size) +
                         L", hash=" + entry.hash + L", url=" + entry.downloadUrl);
    }

    if (plan.downloads.empty()) {
        app.logger.Debug(L"Update has no downloads; files are current.");
        if (plan.manifestFailures > 0) {
            // Current files from only some sources are no success.
            ReportFinished(app, ending, 0, plan.manifestFailures);
        } else {
            EndRun(app, ending, L"Готов к работе", L"Файлы уже актуальны");
        }
        return;
    }
    const DownloadOutcome outcome = RunDownloadPhase(app, plan, tempRoot);
    ReportFinished(app, ending, outcome.failedDownloads, plan.manifestFailures);
}

void EndWithError(NativeApp& app, ThreadEnding& ending, const std::wstring& message) {
    const bool canceled = message == L"Canceled";
    app.logger.Debug(std::wstring(L"Update thread exception wasUserCancel=") + BoolText(canceled) +
                     L", message=" + message);
    ReleaseRun(app, ending);
    app.SetSpeed(L"");
    if (canceled) {
        app.SetUi(L"Обновление отменено", L"", 0);
        app.logger.Log(L"Update canceled.");
    } else {
        app.SetUi(L"Ошибка обновления", message, 0);
        app.logger.Log(L"Update failed: " + message);
    }
}

}  // namespace

WorkerDegrees WorkerDegreesFor(unsigned hardwareThreads) {
    if (hardwareThreads == 0) {
        return {2, 3};
    }
    if (hardwareThreads <= 2) {
        return {1, 2};
    }
    if (hardwareThreads <= 4) {
        return {2, 3};
    }
    if (hardwareThreads <= 8) {
        return {4, 4};
    }
    if (hardwareThreads <= 12) {
        return {6, 5};
    }
    return {8, 5};
}

void RunWorkerPool(unsigned count, std::atomic<bool>& cancel, const std::function<void(unsigned id)>& worker) {
    std::vector<std::thread> pool;
    pool.reserve(count);
    try {
        for (unsigned id = 0; id < count; ++id) {
            pool.emplace_back(worker, id);
        }
    } catch (...) {
        cancel.store(true);
        for (std::thread& thread : pool) {
            thread.join();
        }
        throw;
    }
    for (std::thread& thread : pool) {
        thread.join();
    }
}

void PassOnCancellation(const std::exception& error, const std::atomic<bool>& cancel) {
    if (std::string(error.what()) == "Canceled" || cancel.load()) {
        throw std::runtime_error("Canceled");
    }
}

void CaptureFirstError(std::exception_ptr& firstError, std::mutex& errorMutex, std::atomic<bool>& cancel) {
    {
        std::lock_guard<std::mutex> lock(errorMutex);
        if (!firstError) {
            firstError = std::current_exception();
        }
    }
    cancel.store(true);
}

void RunToOneEnding(NativeApp& app, ThreadEnding& ending, const std::function<void()>& steps) {
    try {
        steps();
    } catch (const std::exception& error) {
        EndWithError(app, ending, WideFromUtf8(error.what()));
    } catch (...) {
        EndWithError(app, ending, L"Unknown error");
    }
}

void RunUpdateThread(NativeApp& app, bool resetSystemBeforeUpdate) {
    ThreadEnding ending(app, EndUpdateRunWithoutAllocating);
    // Nothing may escape a thread body: it would end the process.
    try {
        DebugScope scope(app.logger, L"Update thread");
        app.logger.Debug(L"Update thread started.");
        RunToOneEnding(app, ending, [&] { RunUpdateSteps(app, ending, resetSystemBeforeUpdate); });
        app.logger.Debug(L"Update thread finished.");
    } catch (...) {
        // A handler above failed (for want of memory): `ending` frees the
        // flags in their order without allocating, unless the run's own
        // ending already has.
    }
}

bool NativeApp::ClaimUpdateRun() {
    if (workerRunning.exchange(true)) {
        return false;
    }
    cancelUpdate.exchange(false);
    paused.exchange(false);
    startedUpdateMustFinish.exchange(true);
    return true;
}

void NativeApp::StartUpdateRun(bool resetSystemBeforeUpdate) {
    // The previous run has freed the slot but may still be writing its last
    // lines; it is joined before this run shows itself as started.
    if (updateThread.joinable()) {
        logger.Debug(L"RunUpdate joining previous update thread.");
        updateThread.join();
    }
    SetBusy(true);
    SetUi(L"Проверка файлов", L"", 0);
    logger.Debug(L"RunUpdate starting worker thread clientPath=" + clientPath + L", resetSystemBeforeUpdate=" +
                 BoolText(resetSystemBeforeUpdate));
    try {
        updateThread = std::thread(RunUpdateThread, std::ref(*this), resetSystemBeforeUpdate);
    } catch (const std::exception& error) {
        startedUpdateMustFinish.exchange(false);
        workerRunning.exchange(false);
        SetBusy(false);
        SetUi(L"Ошибка обновления", WideFromUtf8(error.what()), 0);
        logger.Log(L"Update failed: " + WideFromUtf8(error.what()));
    }
}

}  // namespace updater
