#include "update/download_workers.h"

#include <algorithm>
#include <stdexcept>
#include <thread>

#include <windows.h>

#include "app/native_app.h"
#include "foundation/cancellation.h"
#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/hashing.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "foundation/zip_extract.h"
#include "http/url_builders.h"
#include "update/update_plan.h"
#include "update/update_run.h"

namespace updater {

namespace {

constexpr unsigned kAttempts = 3;
constexpr DWORD kCopyBlock = 1024 * 1024;
constexpr DWORD kReplaceFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
constexpr long long kArchiveSlackBytes = 1024 * 1024;

// Raises the entry's counted bytes to value, never lowering them, and returns
// the phase's total as it stands under the lock.
long long RaiseEntryBytes(std::vector<long long>& perEntryBytes, std::atomic<long long>& downloadedBytes,
                          std::mutex& progressMutex, unsigned index, long long value) {
    std::lock_guard<std::mutex> lock(progressMutex);
    long long& counted = perEntryBytes[index];
    if (counted < value) {
        downloadedBytes.store(SaturatingAdd(downloadedBytes.load(), value - counted));
        counted = value;
    }
    return downloadedBytes.load();
}

void ReportDownloadProgress(NativeApp& app, double percent) {
    app.SetProgressUi(app.T(app.paused.load() ? L"Paused" : L"Downloading"), app.T(L"DownloadingDetail"), percent);
}

// The three URLs of an entry: its own twice, then the same path on the other
// download server (or its own once more when it lies under neither).
std::vector<std::wstring> AttemptUrls(const std::wstring& url) {
    std::wstring third = DirectDownloadFallbackUrl(url);
    if (third.empty()) {
        third = CdnDownloadFallbackUrl(url);
    }
    if (third.empty()) {
        third = url;
    }
    return {url, url, third};
}

bool CopyWrittenThrough(const std::wstring& from, const std::wstring& to) {
    const FileHandle source(CreateFileW(from.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    const FileHandle target(CreateFileW(to.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!source || !target) {
        return false;
    }
    std::vector<char> block(kCopyBlock);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(source.get(), block.data(), kCopyBlock, &read, nullptr)) {
            return false;
        }
        if (read == 0) {
            return FlushFileBuffers(target.get()) != FALSE;
        }
        DWORD written = 0;
        if (!WriteFile(target.get(), block.data(), read, &written, nullptr) || written != read) {
            return false;
        }
    }
}

// Pushes the file's data to the disk, so that a rename that survives a power
// cut never points at blocks that were still only in the cache.
bool FlushToDisk(const std::wstring& path) {
    const FileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && FlushFileBuffers(file.get()) != FALSE;
}

}  // namespace

void ReplaceFile(const std::wstring& verifiedPath, const std::wstring& destinationPath) {
    // Windows refuses to replace a read-only file, Wine does not: refuse it here on both.
    const DWORD attributes = GetFileAttributesW(destinationPath.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        throw std::runtime_error("Could not replace file");
    }
    if (!FlushToDisk(verifiedPath)) {
        throw std::runtime_error("Could not replace file");
    }
    if (MoveFileExW(verifiedPath.c_str(), destinationPath.c_str(), kReplaceFlags)) {
        return;
    }
    if (GetLastError() != ERROR_NOT_SAME_DEVICE) {
        throw std::runtime_error("Could not replace file");
    }
    // Across volumes a move would copy into the destination itself; the copy
    // goes beside it instead, and only a complete copy replaces it.
    const std::wstring staging = destinationPath + L".new.download";
    if (!CopyWrittenThrough(verifiedPath, staging) ||
        !MoveFileExW(staging.c_str(), destinationPath.c_str(), kReplaceFlags)) {
        DeleteFileQuiet(staging);
        throw std::runtime_error("Could not replace file");
    }
    DeleteFileQuiet(verifiedPath);
}

long long EntryArchiveLimit(long long size) {
    if (size <= 0) {
        return 0;
    }
    return SaturatingAdd(size, size / 16 + kArchiveSlackBytes);
}

void NativeApp::DownloadEntry(const UpdateFileEntry& entry, const std::wstring& tempRoot, unsigned index,
                              long long totalBytes, std::atomic<long long>& downloadedBytes,
                              std::vector<long long>& perEntryBytes, std::mutex& progressMutex,
                              DownloadSpeedMeter& speedMeter) {
    DebugScope scope(logger, L"DownloadEntry " + entry.relativePath);
    const std::wstring& path = entry.relativePath;
    const std::wstring archivePath = SafeLocalPath(tempRoot, path + L".zip.download");
    // ".new" keeps the extracted file of "x.zip" apart from the archive of "x".
    const std::wstring extractedPath = SafeLocalPath(tempRoot, path + L".new.download");
    const std::wstring destinationPath = SafeLocalPath(clientPath, path);
    logger.Debug(L"DownloadEntry start relativePath=" + path + L", source=" + entry.source + L", url=" +
                 entry.downloadUrl + L", archivePath=" + archivePath + L", extractedPath=" + extractedPath +
                 L", destinationPath=" + destinationPath + L", expectedSize=" + std::to_wstring(entry.size) +
                 L", expectedHash=" + entry.hash);
    DeleteFileQuiet(archivePath);
    DeleteFileQuiet(extractedPath);

    const std::vector<std::wstring> urls = AttemptUrls(entry.downloadUrl);
    HttpClient::RequestOptions options;
    options.readTimeoutMs = 120000;
    options.connectionClose = true;
    options.fixedReadFile = true;
    options.label = L"entry:" + path;
    options.maxFileBytes = EntryArchiveLimit(entry.size);

    const auto onEntryDownloadProgress = [&](long long downloaded, long long contentLength, long long chunkBytes) {
        speedMeter.AddBlock(SteadyNowNs(), chunkBytes);
        const long long done = RaiseEntryBytes(perEntryBytes, downloadedBytes, progressMutex, index,
                                               EntryProgressBytes(downloaded, contentLength, entry.size));
        const double bytesPerSecond = speedMeter.BytesPerSecond(SteadyNowNs());
        if (bytesPerSecond > 1.0) {
            SetSpeed(T(L"Speed") + L": " + FormatSpeed(bytesPerSecond));
        }
        ReportDownloadProgress(*this, DownloadPercent(done, totalBytes));
    };
    const auto sizeText = [](const std::wstring& file) { return std::to_wstring(FileSizeOf(file)); };

    std::exception_ptr lastError;
    bool installed = false;
    for (unsigned attempt = 1; attempt <= kAttempts && !installed; ++attempt) {
        const std::wstring& url = urls[attempt - 1];
        const std::wstring attemptText = std::to_wstring(attempt) + L"/" + std::to_wstring(kAttempts);
        bool canceled = false;
        try {
            DeleteFileQuiet(archivePath);
            DeleteFileQuiet(extractedPath);
            logger.Debug(L"DownloadEntry attempt start relativePath=" + path + L", attempt=" + attemptText +
                         L", url=" + url);
            http.DownloadFile(url, archivePath, cancelUpdate, paused, onEntryDownloadProgress, options);
            ThrowIfCanceled(cancelUpdate);
            logger.Debug(L"DownloadEntry archive downloaded relativePath=" + path + L", archiveSize=" +
                         sizeText(archivePath));
            logger.Debug(L"DownloadEntry extracting relativePath=" + path);
            // A known size caps the extraction, so a bad archive cannot fill the disk first.
            ExtractFirstZipFile(archivePath, extractedPath, L"", &cancelUpdate, entry.size > 0 ? entry.size : -1);
            const long long actual = FileSizeOf(extractedPath);
            logger.Debug(L"DownloadEntry extracted relativePath=" + path + L", actualSize=" +
                         std::to_wstring(actual));
            if (entry.size > 0 && actual != entry.size) {
                throw std::runtime_error("Downloaded file size mismatch");
            }
            if (entry.checkHash && !entry.hash.empty()) {
                const std::wstring actualHash = Crc32Hex(ComputeCrc32(
                    extractedPath, cancelUpdate, paused, [](long long, long long) {}, &logger, L"downloaded " + path));
                logger.Debug(L"DownloadEntry CRC relativePath=" + path + L", actualHash=" + actualHash +
                             L", expectedHash=" + entry.hash);
                if (_wcsicmp(actualHash.c_str(), entry.hash.c_str()) != 0) {
                    throw std::runtime_error("Downloaded file CRC mismatch");
                }
            }
            ThrowIfCanceled(cancelUpdate);
            logger.Debug(L"DownloadEntry replacing destination relativePath=" + path);
            CreateDirectoryRecursive(DirectoryName(destinationPath));
            ReplaceFile(extractedPath, destinationPath);
            DeleteFileQuiet(archivePath);
            installed = true;
        } catch (const std::exception& error) {
            logger.Debug(L"DownloadEntry attempt failed relativePath=" + path + L", attempt=" + attemptText +
                         L", url=" + url + L", archiveSize=" + sizeText(archivePath) + L", extractedSize=" +
                         sizeText(extractedPath) + L", error=" + WideFromUtf8(error.what()));
            canceled = std::string(error.what()) == "Canceled";
            lastError = std::current_exception();
        } catch (...) {
            logger.Debug(L"DownloadEntry attempt failed with non-standard exception relativePath=" + path +
                         L", attempt=" + attemptText + L", url=" + url + L", archiveSize=" + sizeText(archivePath) +
                         L", extractedSize=" + sizeText(extractedPath));
            lastError = std::current_exception();
        }
        if (installed) {
            break;
        }
        DeleteFileQuiet(archivePath);
        DeleteFileQuiet(extractedPath);
        if (canceled || cancelUpdate.load()) {
            throw std::runtime_error("Canceled");
        }
        if (attempt < kAttempts) {
            logger.Debug(L"DownloadEntry retry delay relativePath=" + path + L", attempt=" + std::to_wstring(attempt));
            SleepWithCancel(attempt * 1200, cancelUpdate);
        }
    }
    if (!installed) {
        logger.Debug(L"DownloadEntry rethrowing last error relativePath=" + path);
        std::rethrow_exception(lastError);
    }

    const double percent =
        DownloadPercent(RaiseEntryBytes(perEntryBytes, downloadedBytes, progressMutex, index,
                                        std::max(entry.size, 0LL)),
                        totalBytes);
    ReportDownloadProgress(*this, percent);
    logger.Log(L"Downloaded: " + path);
    logger.Debug(L"DownloadEntry complete relativePath=" + path + L", finalPercent=" + SixDecimals(percent));
}

namespace {

// Counts a file whose attempts all failed as done, so that the run goes on
// and the percent still reaches 100.
void GiveUp(NativeApp& app, const UpdatePlan& plan, DownloadPhase& phase, unsigned index, const char* message) {
    const UpdateFileEntry& entry = plan.downloads[index];
    phase.failedDownloads.fetch_add(1);
    {
        std::lock_guard<std::mutex> lock(phase.failedFilesMutex);
        phase.failedFiles.push_back(entry.relativePath);
    }
    const long long done = RaiseEntryBytes(phase.perEntryBytes, phase.downloadedBytes, phase.progressMutex, index,
                                           std::max(entry.size, 0LL));
    ReportDownloadProgress(app, DownloadPercent(done, plan.bytesToDownload));
    app.logger.Log(L"Download failed, skipped: " + entry.relativePath + L": " + WideFromUtf8(message) + L" url=" +
                   entry.downloadUrl);
}

}  // namespace

// The outermost handler is the last resort when a log line cannot be written
// (for want of memory): the error is kept all the same, without allocating.
void DownloadWorker(NativeApp& app, unsigned id, const UpdatePlan& plan, DownloadPhase& phase) try {
    const std::wstring idText = std::to_wstring(id);
    app.logger.Debug(L"Download worker started id=" + idText);
    try {
        for (;;) {
            PauseCheckpoint(app.cancelUpdate, app.paused);
            const unsigned index = phase.nextDownloadIndex.fetch_add(1);
            if (index >= plan.downloads.size()) {
                app.logger.Debug(L"Download worker finished id=" + idText);
                return;
            }
            const UpdateFileEntry& entry = plan.downloads[index];
            app.logger.Debug(L"Download worker id=" + idText + L" downloading index=" + std::to_wstring(index) +
                             L", relativePath=" + entry.relativePath);
            try {
                app.DownloadEntry(entry, phase.tempRoot, index, plan.bytesToDownload, phase.downloadedBytes,
                                  phase.perEntryBytes, phase.progressMutex, phase.speedMeter);
            } catch (const std::exception& error) {
                PassOnCancellation(error, app.cancelUpdate);
                GiveUp(app, plan, phase, index, error.what());
                continue;
            }
            const int downloaded = phase.downloadedFiles.fetch_add(1) + 1;
            app.logger.Debug(L"Download worker id=" + idText + L" completed relativePath=" + entry.relativePath +
                             L", downloadedFiles=" + std::to_wstring(downloaded));
        }
    } catch (...) {
        CaptureFirstError(phase.firstDownloadError, phase.downloadErrorMutex, app.cancelUpdate);
        app.logger.Debug(L"Download worker captured error id=" + idText);
    }
} catch (...) {
    CaptureFirstError(phase.firstDownloadError, phase.downloadErrorMutex, app.cancelUpdate);
}

DownloadOutcome RunDownloadPhase(NativeApp& app, const UpdatePlan& plan, const std::wstring& tempRoot) {
    DownloadPhase phase(plan.downloads.size(), tempRoot);
    app.SetSpeed(L"");
    app.SetUi(app.paused.load() ? L"Пауза" : L"Скачивание", L"Загрузка файлов...", 0);

    const unsigned hardwareThreads = std::thread::hardware_concurrency();
    const unsigned degree =
        std::max(1u, std::min<unsigned>(WorkerDegreesFor(hardwareThreads).download, plan.downloads.size()));
    app.logger.Log(L"Parallel download started, cpu=" +
                   std::to_wstring(hardwareThreads == 0 ? 4 : hardwareThreads) + L", degree=" +
                   std::to_wstring(degree));
    app.logger.Debug(L"Downloads ready count=" + std::to_wstring(plan.downloads.size()) + L", bytesToDownload=" +
                     std::to_wstring(plan.bytesToDownload));

    RunWorkerPool(degree, app.cancelUpdate, [&](unsigned id) { DownloadWorker(app, id, plan, phase); });
    app.logger.Debug(L"All download workers joined. downloadedFiles=" +
                     std::to_wstring(phase.downloadedFiles.load()) + L", failedDownloads=" +
                     std::to_wstring(phase.failedDownloads.load()) + L", downloadedBytes=" +
                     std::to_wstring(phase.downloadedBytes.load()));
    if (phase.firstDownloadError) {
        std::rethrow_exception(phase.firstDownloadError);
    }
    return {phase.downloadedFiles.load(), phase.failedDownloads.load()};
}

}  // namespace updater
