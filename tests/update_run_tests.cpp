// The update run: its parts (speed and progress figures, pool degrees, worker
// error rules, endings, thread starts), then whole runs against the local
// update sites that update_run_sites.py publishes.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include <windows.h>

#include "app/native_app.h"
#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/http_test_support.h"
#include "tests/site_app.h"
#include "update/download_speed.h"
#include "update/download_workers.h"
#include "update/update_plan.h"
#include "update/update_run.h"

namespace updater {
namespace {

struct SiteRun : SiteApp {
    explicit SiteRun(std::wstring site = L"site-" + NewTestId()) : SiteApp(std::move(site)) {
        app.clientPath = folder / L"client";
        app.startupWork = false;
    }
    void Start(bool reset = false) {
        ASSERT_TRUE(app.ClaimUpdateRun());
        app.StartUpdateRun(reset);
    }
    void ToEnd(bool reset = false) {
        Start(reset);
        app.updateThread.join();
    }
    std::wstring Client(const std::wstring& relative) const { return SafeLocalPath(app.clientPath, relative); }
    // The file as the site publishes it.
    std::string New(const std::wstring& relative) const {
        const std::wstring clients = ReplaceAllText(WideFromUtf8(std::getenv("UPDATE_RUN_CLIENTS")), L"/", L"\\");
        return ReadBinaryFile(SafeLocalPath(JoinPath(clients, site), relative));
    }
    void Put(const std::wstring& relative, const std::string& bytes) const {
        CreateDirectoryRecursive(DirectoryName(Client(relative)));
        WriteTestFile(Client(relative), bytes);
    }
    bool IsNew(const std::wstring& relative) const { return ReadBinaryFile(Client(relative)) == New(relative); }
    bool Logged(const std::wstring& text, bool debugLog = false) const {
        const std::wstring log = debugLog ? DebugLog() : WideFromUtf8(ReadBinaryFile(folder / L"logs\\updater.log"));
        return log.find(text) != std::wstring::npos;
    }
};

std::vector<std::string> RequestsFor(const std::wstring& site, const std::string& path) {
    std::vector<std::string> found;
    for (const std::string& line : ServerRequests(site)) {
        if (RequestField(line, "path") == "/tavrine/updater/client/" + path) found.push_back(line);
    }
    return found;
}

TEST(NeedsUpdate, ComparesPresenceSizeAndChecksum) {
    // content null: no file; "<folder>": a folder in its place. "352441c2" is the CRC-32 of "abc".
    const struct { const char* content; long long size; const wchar_t* hash; bool checkHash, needed, hashed; }
        rows[] = {{nullptr, 3, L"", false, true, false},         {"<folder>", 0, L"", false, true, false},
                  {"abcd", 3, L"352441c2", true, true, false},   // a size mismatch needs no checksum
                  {"abc", 3, L"352441C2", true, false, true},    {"abd", 3, L"352441c2", true, true, true},
                  {"abc", 3, L"52441c2", true, true, true},      // fewer than eight digits never match
                  {"abcdef", 0, L"", true, false, false},        // no size and no hash: presence is enough
                  {"xyz", 3, L"352441c2", false, false, false}};
    for (const auto& row : rows) {
        SiteRun run;
        if (row.content && std::string(row.content) == "<folder>") {
            CreateDirectoryRecursive(run.Client(L"f.bin"));
        } else if (row.content) {
            run.Put(L"f.bin", row.content);
        }
        const UpdateFileEntry entry{L"f.bin", row.size, row.hash, true, row.checkHash, L"client", L""};
        std::atomic<long long> weight{0};
        EXPECT_EQ(run.app.NeedsUpdate(entry, weight, 1), row.needed) << row.content;
        EXPECT_EQ(run.Logged(L"BEGIN CRC32 check f.bin", true), row.hashed) << row.content;
    }
}

// Speed texts, the speed of the last three seconds, and progress estimates
// that stay within their entry.
TEST(DownloadFigures, SpeedAndProgress) {
    const struct { double bytesPerSecond; const wchar_t* text; } speeds[] = {
        {800.9, L"800 B/s"},     {1023.99, L"1023 B/s"},    {1536, L"1.50 KB/s"},     {20480, L"20.0 KB/s"},
        {5242880, L"5.00 MB/s"}, {1048575, L"1024.0 KB/s"}, {1048576, L"1.00 MB/s"},  {4e15, L"3725290.3 GB/s"},
        {3.5 * (1LL << 30), L"3.50 GB/s"}};
    for (const auto& row : speeds) EXPECT_EQ(FormatSpeed(row.bytesPerSecond), row.text) << row.bytesPerSecond;

    DownloadSpeedMeter meter;
    const long long second = 1000000000;
    meter.AddBlock(10 * second, 1000);
    meter.AddBlock(10 * second, 0);
    EXPECT_EQ(meter.BytesPerSecond(10 * second + second / 20), 0) << "not until the oldest is over 50 ms old";
    EXPECT_DOUBLE_EQ(meter.BytesPerSecond(10 * second + second / 10), 10000);
    meter.AddBlock(12 * second, 3000);
    EXPECT_DOUBLE_EQ(meter.BytesPerSecond(13 * second), 4000 / 3.0) << "a block exactly 3 s old stays";
    EXPECT_DOUBLE_EQ(meter.BytesPerSecond(14 * second), 3000 / 2.0) << "older blocks leave the window";
    EXPECT_EQ(meter.BytesPerSecond(16 * second), 0);

    const struct { long long downloaded, contentLength, size, expected; } progress[] = {
        {50, 100, 1000, 500}, {100, 100, 1000, 1000}, {500, 0, 1000, 500}, {5000, 0, 1000, 1000},
        {50, 100, 0, 0},      {50, 100, -5, 0},       {-10, 0, 1000, 0},
        // A body far beyond its Content-Length once overflowed the 64-bit estimate.
        {LLONG_MAX, 1, LLONG_MAX / 2, LLONG_MAX / 2}, {1LL << 62, 3, 1LL << 40, 1LL << 40}};
    for (const auto& row : progress) {
        EXPECT_EQ(EntryProgressBytes(row.downloaded, row.contentLength, row.size), row.expected) << row.downloaded;
    }
    // An archive may exceed its entry's size by a sixteenth and 1 MiB; sizes up to LLONG_MAX must not overflow.
    const long long limits[][2] = {{0, 0}, {-1, 0}, {1100, 1100 + 68 + 1048576},
                                   {LLONG_MAX / 2, LLONG_MAX / 2 + LLONG_MAX / 2 / 16 + 1048576},
                                   {LLONG_MAX - 1048576, LLONG_MAX}, {LLONG_MAX, LLONG_MAX}};
    for (const auto& row : limits) EXPECT_EQ(EntryArchiveLimit(row[0]), row[1]) << row[0];
    EXPECT_EQ(DownloadPercent(0, 0), 100);
    EXPECT_EQ(DownloadPercent(250, 1000), 25);
}

TEST(WorkerDegrees, FollowTheProcessorCount) {
    const unsigned rows[][3] = {{0, 2, 3}, {1, 1, 2}, {2, 1, 2},  {3, 2, 3},  {4, 2, 3},  {5, 4, 4},
                                {8, 4, 4}, {9, 6, 5}, {12, 6, 5}, {13, 8, 5}, {64, 8, 5}};
    for (const auto& row : rows) {
        EXPECT_EQ(WorkerDegreesFor(row[0]).check, row[1]) << row[0];
        EXPECT_EQ(WorkerDegreesFor(row[0]).download, row[2]) << row[0];
    }
}

// A worker that fails sets the cancel flag only after keeping its error, so a
// worker that stops on that flag can never put its "Canceled" in its place.
TEST(WorkerErrors, TheFirstRealErrorIsKept) {
    for (int round = 0; round < 200; ++round) {
        std::atomic<bool> cancel{false};
        std::exception_ptr first;
        std::mutex mutex;
        std::thread stopped([&] {
            try {
                while (!cancel.load()) {}  // spins, to meet the failing worker as early as possible
                PassOnCancellation(std::runtime_error("Could not read file for CRC"), cancel);
            } catch (...) {
                CaptureFirstError(first, mutex, cancel);
            }
        });
        try {
            throw std::runtime_error("Disk failure");
        } catch (...) {
            CaptureFirstError(first, mutex, cancel);
        }
        stopped.join();
        ASSERT_EQ(ErrorOf([&] { std::rethrow_exception(first); }), "Disk failure");
    }
    std::atomic<bool> cancel{false};
    EXPECT_EQ(ErrorOf([&] { PassOnCancellation(std::runtime_error("Could not read"), cancel); }), "");
    EXPECT_EQ(ErrorOf([&] { PassOnCancellation(std::runtime_error("Canceled"), cancel); }), "Canceled");
}

// Every error ends the run once, a non-standard one too; so does an update
// thread that cannot start, which gives the run's slot back.
TEST(UpdateEndings, EveryErrorEndsTheRun) {
    // steps null: the update thread cannot start; detail null: any message.
    const struct { std::function<void()> steps; const wchar_t* status; const wchar_t* detail; } rows[] = {
        {[] { throw std::runtime_error("Canceled"); }, L"Обновление отменено", L""},
        {[] { throw std::runtime_error("Could not replace file"); }, L"Ошибка обновления", L"Could not replace file"},
        {[] { throw 42; }, L"Ошибка обновления", L"Unknown error"},
        {nullptr, L"Ошибка обновления", nullptr},
    };
    for (const auto& row : rows) {
        SiteRun run;
        NativeApp& app = run.app;
        ASSERT_TRUE(app.ClaimUpdateRun());
        app.SetBusy(true);
        if (row.steps) {
            ThreadEnding ending(app, EndUpdateRunWithoutAllocating);
            RunToOneEnding(app, ending, row.steps);
        } else {
            const AddressSpaceTaken taken;
            app.StartUpdateRun(false);
        }
        EXPECT_FALSE(app.updateThread.joinable() || app.workerRunning || app.startedUpdateMustFinish || app.ui.busy);
        EXPECT_EQ(app.ui.status, row.status);
        EXPECT_TRUE(row.detail ? app.ui.detail == row.detail : !app.ui.detail.empty()) << app.ui.detail;
        EXPECT_EQ(app.ui.percent, 0);
    }
}

// The download phase of a paused run starts showing the pause, not a transfer.
TEST(UpdateEndings, APausedDownloadPhaseShowsThePause) {
    SiteRun run;
    UpdatePlan plan;
    plan.downloads.resize(2);
    run.app.paused = true;
    std::string error;
    std::thread phase([&] { error = ErrorOf([&] { RunDownloadPhase(run.app, plan, run.folder / L"temp"); }); });
    Sleep(300);
    EXPECT_EQ(run.app.ui.status, L"Пауза");
    EXPECT_EQ(run.app.ui.detail, L"Загрузка файлов...");
    run.app.cancelUpdate = true;
    phase.join();
    EXPECT_EQ(error, "Canceled");
}

TEST(ThreadStarts, AFailedWorkerStartStopsAndJoinsTheStartedOnes) {
    std::atomic<bool> cancel{false};
    std::atomic<int> ran{0}, ended{0};
    bool failed = false;
    try {
        const AddressSpaceTaken taken(4u << 20);  // room for one thread
        RunWorkerPool(3, cancel, [&](unsigned) {
            ++ran;
            while (!cancel.load()) Sleep(5);
            ++ended;
        });
    } catch (const std::system_error&) {
        failed = true;
    }
    EXPECT_TRUE(failed && cancel.load());
    EXPECT_EQ(ran.load(), 1);
    EXPECT_EQ(ended.load(), 1) << "the started worker is joined before the error passes on";
}

const std::vector<std::wstring> kBasicFiles = {L"system/l2.ini", L"data/a.bin", L"data/x", L"data/x.zip",
                                               L"readme.txt"};

TEST(UpdateRun, EachEndingShowsItsFinalStatus) {
    const NativeApp texts;
    const std::wstring ready = L"Готов к работе", withErrors = texts.T(L"UpdateCompleteWithErrors");
    const std::wstring failedManifests = texts.T(L"FailedManifests") + L": ";
    const std::wstring unreachable = UntrustedRoot() + L"tavrine/updater/";
    const auto patchFails = [&](SiteRun& run) { run.app.serverConfig.patchPath = unreachable; };
    const auto upToDate = [](SiteRun& run) {
        for (const std::wstring& file : kBasicFiles) run.Put(file, run.New(file));
    };
    const struct { const wchar_t* site; bool reset; std::function<void(SiteRun&)> setup, check;
                   std::wstring status, detail; } rows[] = {
        {L"run-empty", true, nullptr, nullptr, ready, L"Нет файлов для проверки"},
        {L"run-empty", false, [&](SiteRun& run) { run.app.serverConfig.clientBaseUrl = unreachable; patchFails(run); },
         nullptr, withErrors, failedManifests + L"2"},
        {L"run-basic", false, upToDate, nullptr, ready, L"Файлы уже актуальны"},
        // Current files of some sources only are no success, and a reset then
        // would delete what no manifest brings back.
        {L"run-basic", true, [&](SiteRun& run) { upToDate(run); patchFails(run); },
         [](SiteRun& run) {
             EXPECT_TRUE(run.IsNew(L"system/l2.ini"));
             EXPECT_TRUE(run.Logged(L"System directory reset skipped: manifest failures=1"));
         },
         withErrors, failedManifests + L"1"},
        // A client on another volume than the temporary folder gets its files
        // through a copy beside each one.
        {L"run-basic", true,
         [](SiteRun& run) { run.app.clientPath = L"Z:\\dev\\shm\\" + NewTestId(); run.Put(L"system/user.ini", "u"); },
         [](SiteRun& run) {
             for (const std::wstring& file : kBasicFiles) {
                 EXPECT_TRUE(run.IsNew(file)) << file;
                 EXPECT_EQ(FileSizeOf(run.Client(file + L".new.download")), -1) << file;
             }
             EXPECT_EQ(FileSizeOf(run.Client(L"system/user.ini")), -1) << "the reset ran";
             EXPECT_TRUE(run.Logged(L"x.zip.new.download, destinationPath=", true));
             EXPECT_FALSE(MoveFileExW(run.Client(L"readme.txt").c_str(), (run.folder / L"probe").c_str(), 0))
                 << "the client lies on another volume";
             std::wstring error;
             DeleteDirectoryRecursive(run.app.clientPath, error);
         },
         ready, L"Обновление завершено"},
        {L"run-partial", false, patchFails, [](SiteRun& run) { EXPECT_TRUE(run.IsNew(L"good.bin")); }, withErrors,
         texts.T(L"FailedFiles") + L": 1, " + failedManifests + L"1"},
        // Two sizes of LLONG_MAX: the sums stop there instead of turning negative.
        {L"run-huge", false, nullptr,
         [](SiteRun& run) {
             EXPECT_TRUE(run.Logged(L"entries=2, totalWeight=9223372036854775807", true));
             EXPECT_TRUE(run.Logged(L"Downloads ready count=2, bytesToDownload=9223372036854775807", true));
         },
         withErrors, texts.T(L"FailedFiles") + L": 2"},
        // A reset must never delete the updater's own folder.
        {L"run-basic", true,
         [](SiteRun& run) { run.app.appDir = run.Client(L"System\\updater"); run.Put(L"system/keep", "k"); },
         [](SiteRun& run) { EXPECT_EQ(FileSizeOf(run.Client(L"system/keep")), 1); }, L"Ошибка обновления",
         L"Unsafe system reset path"},
    };
    for (const auto& row : rows) {
        SiteRun run(row.site);
        if (row.setup) row.setup(run);
        run.ToEnd(row.reset);
        EXPECT_EQ(run.app.ui.status, row.status) << row.site;
        EXPECT_EQ(run.app.ui.detail, row.detail) << row.site;
        EXPECT_EQ(run.app.ui.percent, row.status == L"Ошибка обновления" ? 0 : 100);
        EXPECT_FALSE(run.app.workerRunning.load());
        if (row.check) row.check(run);
    }
}

TEST(UpdateRun, ThreeAttemptsOnBothRootsWithGrowingWaits) {
    SiteRun run(L"run-attempts");
    run.ToEnd();
    EXPECT_TRUE(run.IsNew(L"retry/third"));
    EXPECT_EQ(FileSizeOf(run.Client(L"retry/never")), -1);
    EXPECT_EQ(run.app.ui.detail, run.app.T(L"FailedFiles") + L": 1");
    EXPECT_TRUE(run.Logged(L"Download failed, skipped: retry/never: HTTP status 500 url=" + RootA()));
    EXPECT_TRUE(run.Logged(L"downloadedFiles=1, failedDownloads=1, downloadedBytes=5000", true))
        << "a file given up counts as done";
    for (const char* path : {"retry/third.zip", "retry/never.zip"}) {
        const std::vector<std::string> requests = RequestsFor(L"run-attempts", path);
        ASSERT_EQ(requests.size(), 3u) << path;
        std::string roles;
        for (const std::string& request : requests) roles += RequestField(request, "role");
        EXPECT_EQ(roles, "aab");
        const auto wait = [&](int i) {
            return std::atof(RequestField(requests[i + 1], "time").c_str()) -
                   std::atof(RequestField(requests[i], "time").c_str());
        };
        EXPECT_TRUE(wait(0) >= 1.2 && wait(0) < 2.0) << wait(0);
        EXPECT_TRUE(wait(1) >= 2.4 && wait(1) < 3.2) << wait(1);
    }
}

TEST(UpdateRun, AFailedFileLeavesTheOldOneAsItWas) {
    SiteRun run(L"run-failures");
    CreateDirectoryRecursive(run.Client(L"fail/folder"));
    run.Put(L"fail/folder/inside", "kept");
    run.Put(L"fail/readonly", "old");
    run.Put(L"fail/locked", std::string(4096, 'o'));  // the manifest's size, so its checksum is read
    SetFileAttributesW(run.Client(L"fail/readonly").c_str(), FILE_ATTRIBUTE_READONLY);
    {
        const FileHandle hold(
            CreateFileW(run.Client(L"fail/locked").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(hold);
        run.ToEnd();
    }
    const struct { const wchar_t* path; const wchar_t* error; } rows[] = {
        {L"crc", L"Downloaded file CRC mismatch"},  {L"short", L"Downloaded file size mismatch"},
        {L"bomb", L"Zip entry larger than expected"}, {L"folder", L"Could not replace file"},
        {L"readonly", L"Could not replace file"},     {L"locked", L"Could not replace file"},
        {L"endless", L"Download larger than expected"}};
    for (const auto& row : rows) {
        EXPECT_TRUE(run.Logged(L"Download failed, skipped: fail/" + std::wstring(row.path) + L": " + row.error));
    }
    EXPECT_TRUE(run.Logged(L"Check failed, will download: fail/locked: Could not open file for CRC"));
    EXPECT_TRUE(run.Logged(L"extractedSize=-1, error=Zip entry larger than expected", true));
    EXPECT_EQ(ReadBinaryFile(run.Client(L"fail/folder/inside")), "kept");
    EXPECT_EQ(ReadBinaryFile(run.Client(L"fail/readonly")), "old");
    EXPECT_EQ(ReadBinaryFile(run.Client(L"fail/locked")), std::string(4096, 'o'));
    EXPECT_EQ(GetFileAttributesW(run.Client(L"fail/readonly").c_str()),
              DWORD{FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE});
    EXPECT_TRUE(run.IsNew(L"ok/good"));
    EXPECT_EQ(run.app.ui.detail, run.app.T(L"FailedFiles") + L": 7");
    SetFileAttributesW(run.Client(L"fail/readonly").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// Pauses (or not) once the run is inside a phase, checks that the bar stands
// still, then resumes or cancels; a resumed phase goes on where it stood.
TEST(UpdateRun, PauseHoldsEachPhaseAndCancelEndsIt) {
    const struct { const wchar_t* site; const wchar_t* phase; bool pause, cancel; } rows[] = {
        {L"run-slow-pause", L"Downloading", true, false}, {L"run-big-check", L"CheckingFiles", true, false},
        {L"run-big-check", L"CheckingFiles", true, true}, {L"run-slow-cancel", L"Downloading", false, true}};
    for (const auto& row : rows) {
        SiteRun run(row.site);
        const bool check = std::wstring(row.phase) == L"CheckingFiles";
        if (check) run.Put(L"big.bin", run.New(L"big.bin"));
        run.Start();
        const auto inPhase = [&] {
            std::lock_guard<std::mutex> lock(run.app.uiMutex);
            return run.app.ui.status == run.app.T(row.phase) && run.app.ui.percent > 0;
        };
        for (int i = 0; i < 20000 && !inPhase(); ++i) Sleep(1);
        EXPECT_TRUE(inPhase()) << row.site;
        if (row.pause) {
            run.app.paused = true;
            Sleep(800);  // a block already asked for may still arrive
            const double held = run.app.ui.percent;
            Sleep(600);
            EXPECT_EQ(run.app.ui.percent, held) << row.site;
            EXPECT_LT(held, 100);
        }
        if (row.cancel) {
            run.app.cancelUpdate = true;
            run.app.http.AbortActiveRequests();
        }
        run.app.paused = false;
        run.app.updateThread.join();
        // Resumed, not restarted: one checksum of the current file, which is
        // never downloaded; one attempt and one request for the slow one.
        if (check) {
            EXPECT_EQ(run.DebugLines(L"BEGIN CRC32 check big.bin").size(), 1u) << row.site;
            EXPECT_TRUE(RequestsFor(row.site, "big.bin.zip").empty()) << row.site;
        } else {
            EXPECT_EQ(run.DebugLines(L"DownloadEntry attempt start relativePath=slow.bin,").size(), 1u) << row.site;
            EXPECT_EQ(RequestsFor(row.site, "slow.bin.zip").size(), 1u) << row.site;
        }
        if (row.cancel) {
            EXPECT_EQ(run.app.ui.status + run.app.ui.detail, L"Обновление отменено") << row.site;
            EXPECT_EQ(run.app.ui.percent, 0);
            EXPECT_FALSE(run.Logged(L"failed")) << row.site;
        } else {
            EXPECT_EQ(run.app.ui.detail, check ? L"Файлы уже актуальны" : L"Обновление завершено");
            EXPECT_TRUE(run.IsNew(check ? L"big.bin" : L"slow.bin"));
        }
    }
}

}  // namespace
}  // namespace updater
