#include "update/check_workers.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

#include <windows.h>

#include "app/native_app.h"
#include "foundation/cancellation.h"
#include "foundation/files.h"
#include "foundation/hashing.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "update/update_plan.h"
#include "update/update_run.h"

namespace updater {

namespace {

double CheckPercent(long long done, long long totalWeight) {
    return static_cast<double>(done) * 100.0 / static_cast<double>(std::max(totalWeight, 1LL));
}

void ReportCheckProgress(NativeApp& app, double percent) {
    app.SetProgressUi(app.T(L"CheckingFiles"), app.T(L"CheckingDetail"), percent);
}

void Queue(NativeApp& app, unsigned id, UpdatePlan& plan, CheckPhase& phase, const UpdateFileEntry& entry) {
    std::lock_guard<std::mutex> lock(phase.downloadsMutex);
    plan.downloads.push_back(entry);
    plan.bytesToDownload = SaturatingAdd(plan.bytesToDownload, std::max(entry.size, 0LL));
    phase.needDownloadCount.fetch_add(1);
    app.logger.Debug(L"Check worker id=" + std::to_wstring(id) + L" queued download relativePath=" +
                     entry.relativePath + L", bytesToDownload=" + std::to_wstring(plan.bytesToDownload));
}

}  // namespace

long long CheckWeight(const UpdateFileEntry& entry) {
    return (entry.checkHash && !entry.hash.empty() && entry.size > 0) ? entry.size : 1;
}

bool NativeApp::NeedsUpdate(const UpdateFileEntry& entry, std::atomic<long long>& checkedWeight,
                            long long totalWeight) {
    DebugScope scope(logger, L"NeedsUpdate " + entry.relativePath);
    const std::wstring localPath = SafeLocalPath(clientPath, entry.relativePath);
    logger.Debug(L"NeedsUpdate start relativePath=" + entry.relativePath + L", localPath=" + localPath +
                 L", expectedSize=" + std::to_wstring(entry.size) + L", expectedHash=" + entry.hash +
                 L", checkHash=" + BoolText(entry.checkHash));

    const DWORD attributes = GetFileAttributesW(localPath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        logger.Debug(L"NeedsUpdate result=true reason=missing relativePath=" + entry.relativePath);
        return true;
    }
    const long long actual = FileSizeOf(localPath);
    if (entry.size > 0 && actual != entry.size) {
        logger.Debug(L"NeedsUpdate result=true reason=size-mismatch relativePath=" + entry.relativePath +
                     L", actualSize=" + std::to_wstring(actual) + L", expectedSize=" + std::to_wstring(entry.size));
        return true;
    }
    if (!entry.checkHash || entry.hash.empty()) {
        logger.Debug(L"NeedsUpdate result=false relativePath=" + entry.relativePath + L", actualSize=" +
                     std::to_wstring(actual));
        return false;
    }

    // Shows the bytes of the file being hashed on top of the finished weight;
    // the worker adds the file's own weight once the check returns.
    const auto onCheckHashProgress = [this, &checkedWeight, totalWeight](long long processed, long long total) {
        if (total > 0) {
            ReportCheckProgress(*this, CheckPercent(SaturatingAdd(checkedWeight.load(), processed), totalWeight));
        }
    };
    const std::wstring actualHash =
        Crc32Hex(ComputeCrc32(localPath, cancelUpdate, paused, onCheckHashProgress, &logger,
                              L"check " + entry.relativePath));
    const bool mismatch = _wcsicmp(actualHash.c_str(), entry.hash.c_str()) != 0;
    logger.Debug(L"NeedsUpdate hash checked relativePath=" + entry.relativePath + L", actualHash=" + actualHash +
                 L", expectedHash=" + entry.hash + L", mismatch=" + BoolText(mismatch));
    return mismatch;
}

// The outermost handler is the last resort when a log line cannot be written
// (for want of memory): the error is kept all the same, without allocating.
void CheckWorker(NativeApp& app, unsigned id, UpdatePlan& plan, CheckPhase& phase) try {
    app.logger.Debug(L"Check worker started id=" + std::to_wstring(id));
    try {
        for (;;) {
            PauseCheckpoint(app.cancelUpdate, app.paused);
            const unsigned index = phase.nextCheckIndex.fetch_add(1);
            if (index >= plan.entries.size()) {
                app.logger.Debug(L"Check worker finished id=" + std::to_wstring(id));
                return;
            }
            const UpdateFileEntry& entry = plan.entries[index];
            app.logger.Debug(L"Check worker id=" + std::to_wstring(id) + L" checking index=" + std::to_wstring(index) +
                             L", relativePath=" + entry.relativePath);
            bool needed = true;
            try {
                needed = app.NeedsUpdate(entry, phase.checkedWeight, phase.totalWeight);
            } catch (const std::exception& error) {
                PassOnCancellation(error, app.cancelUpdate);
                app.logger.Log(L"Check failed, will download: " + entry.relativePath + L": " +
                               WideFromUtf8(error.what()));
            }
            const long long weight = CheckWeight(entry);
            const long long done = SaturatingAdd(phase.checkedWeight, weight);
            if (needed) {
                Queue(app, id, plan, phase, entry);
            }
            ReportCheckProgress(app, CheckPercent(done, phase.totalWeight));
        }
    } catch (...) {
        CaptureFirstError(phase.firstCheckError, phase.checkErrorMutex, app.cancelUpdate);
        app.logger.Debug(L"Check worker captured error id=" + std::to_wstring(id));
    }
} catch (...) {
    CaptureFirstError(phase.firstCheckError, phase.checkErrorMutex, app.cancelUpdate);
}

void RunCheckPhase(NativeApp& app, UpdatePlan& plan) {
    long long totalWeight = 0;
    for (const UpdateFileEntry& entry : plan.entries) {
        totalWeight = SaturatingAdd(totalWeight, CheckWeight(entry));
    }
    app.logger.Debug(L"Update plan ready entries=" + std::to_wstring(plan.entries.size()) + L", totalWeight=" +
                     std::to_wstring(totalWeight));

    const unsigned hardwareThreads = std::thread::hardware_concurrency();
    const unsigned degree =
        std::max(1u, std::min<unsigned>(WorkerDegreesFor(hardwareThreads).check, plan.entries.size()));
    app.logger.Log(L"Parallel check started, cpu=" + std::to_wstring(hardwareThreads == 0 ? 4 : hardwareThreads) +
                   L", degree=" + std::to_wstring(degree));

    CheckPhase phase(totalWeight);
    RunWorkerPool(degree, app.cancelUpdate, [&](unsigned id) { CheckWorker(app, id, plan, phase); });
    app.logger.Debug(L"All check workers joined. downloads=" + std::to_wstring(plan.downloads.size()) +
                     L", needDownloadCount=" + std::to_wstring(phase.needDownloadCount.load()) +
                     L", bytesToDownload=" + std::to_wstring(plan.bytesToDownload));
    if (phase.firstCheckError) {
        std::rethrow_exception(phase.firstCheckError);
    }
}

}  // namespace updater
