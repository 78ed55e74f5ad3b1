#pragma once

#include <atomic>
#include <exception>
#include <mutex>
#include <string>
#include <vector>

#include "update/download_speed.h"

namespace updater {

class NativeApp;
struct UpdatePlan;

// Shared state of one download phase; the update run owns it and reads the
// counters after the join.
struct DownloadPhase {
    DownloadPhase(size_t downloads, std::wstring tempRoot)
        : perEntryBytes(downloads, 0), tempRoot(std::move(tempRoot)) {}

    std::atomic<unsigned> nextDownloadIndex{0};
    std::atomic<int> downloadedFiles{0};
    std::atomic<int> failedDownloads{0};
    std::vector<std::wstring> failedFiles;
    std::mutex failedFilesMutex;
    std::atomic<long long> downloadedBytes{0};
    // Bytes counted per download entry; each only grows, and downloadedBytes is their sum.
    std::vector<long long> perEntryBytes;
    std::mutex progressMutex;
    DownloadSpeedMeter speedMeter;
    const std::wstring tempRoot;
    std::exception_ptr firstDownloadError;
    std::mutex downloadErrorMutex;
};

// Installs plan downloads one at a time until none is left. A file whose
// attempts all fail is given up and counted; a cancellation or any other
// error is stored in firstDownloadError (the first one wins) and then stops
// every worker through cancelUpdate. Lets nothing escape.
void DownloadWorker(NativeApp& app, unsigned id, const UpdatePlan& plan, DownloadPhase& phase);

struct DownloadOutcome {
    int downloadedFiles;
    int failedDownloads;
};

// The whole download phase over plan.downloads, with as many workers as the
// machine's degree allows and the downloads need; rethrows the first stored
// error after the join.
DownloadOutcome RunDownloadPhase(NativeApp& app, const UpdatePlan& plan, const std::wstring& tempRoot);

// The most bytes an entry's archive may bring: its size with room for zip
// headers and data that does not compress, at most LLONG_MAX; 0 (no limit)
// when the size is unknown.
long long EntryArchiveLimit(long long size);

// Flushes the verified file's data to the disk, then puts the file in place of
// the destination in one replacing move, so that the destination is always
// either the old or the new file. A source on another volume is first copied,
// written through, beside the destination.
// Throws "Could not replace file"; the old file then stays as it was.
void ReplaceFile(const std::wstring& verifiedPath, const std::wstring& destinationPath);

}  // namespace updater
