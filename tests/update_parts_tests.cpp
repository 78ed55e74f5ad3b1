// The update run's parts that need no site: speed and progress figures, the
// pool degrees, the worker error rules, the endings and the thread starts.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include <windows.h>

#include "app/native_app.h"
#include "foundation/files.h"
#include "tests/test_support.h"
#include "update/download_speed.h"
#include "update/download_workers.h"
#include "update/update_plan.h"
#include "update/update_run.h"

namespace updater {
namespace {

TEST(NeedsUpdate, ComparesPresenceSizeAndChecksum) {
    const struct {
        const char* content;  // null: no file; "<folder>": a folder in its place
        long long size;
        const wchar_t* hash;
        bool checkHash, needed, hashed;
    } rows[] = {
        {nullptr, 3, L"", false, true, false},
        {"<folder>", 0, L"", false, true, false},
        {"abcd", 3, L"352441c2", true, true, false},  // a size mismatch needs no checksum
        {"abc", 3, L"352441C2", true, false, true},   // the CRC-32 of "abc", in capitals
        {"abd", 3, L"352441c2", true, true, true},
        {"abc", 3, L"52441c2", true, true, true},     // fewer than eight digits never match
        {"abcdef", 0, L"", true, false, false},       // no size and no hash: presence is enough
        {"xyz", 3, L"352441c2", false, false, false},
    };
    for (const auto& row : rows) {
        NativeApp app;
        TempFolder folder;
        app.clientPath = folder.path();
        app.logger.directory = folder / L"app";
        app.logger.debugEnabled = true;
        if (row.content && std::string(row.content) == "<folder>") {
            CreateDirectoryW((folder / L"f.bin").c_str(), nullptr);
        } else if (row.content) {
            WriteTestFile(folder / L"f.bin", row.content);
        }
        UpdateFileEntry entry;
        entry.relativePath = L"f.bin";
        entry.size = row.size;
        entry.hash = row.hash;
        entry.checkHash = row.checkHash;
        std::atomic<long long> checkedWeight{0};
        EXPECT_EQ(app.NeedsUpdate(entry, checkedWeight, 1), row.needed) << row.content;
        const std::string log = ReadBinaryFile(folder / L"app\\logs\\updater-debug.log");
        EXPECT_EQ(log.find("BEGIN CRC32 check f.bin") != std::string::npos, row.hashed) << row.content;
    }
}

TEST(DownloadSpeed, FormatsEachUnit) {
    const struct {
        double bytesPerSecond;
        const wchar_t* text;
    } rows[] = {{800.9, L"800 B/s"},          {1023.99, L"1023 B/s"},     {1536, L"1.50 KB/s"},
                {20480, L"20.0 KB/s"},        {5242880, L"5.00 MB/s"},    {1048575, L"1024.0 KB/s"},
                {1048576, L"1.00 MB/s"},      {3.5 * (1LL << 30), L"3.50 GB/s"}, {4e15, L"3725290.3 GB/s"}};
    for (const auto& row : rows) {
        EXPECT_EQ(FormatSpeed(row.bytesPerSecond), row.text) << row.bytesPerSecond;
    }
}

TEST(DownloadSpeed, MeasuresTheLastThreeSeconds) {
    DownloadSpeedMeter meter;
    const long long second = 1000000000;
    EXPECT_EQ(meter.BytesPerSecond(10 * second), 0);
    meter.AddBlock(10 * second, 1000);
    meter.AddBlock(10 * second, 0);
    EXPECT_EQ(meter.BytesPerSecond(10 * second + second / 20), 0) << "not until the oldest is over 50 ms old";
    EXPECT_DOUBLE_EQ(meter.BytesPerSecond(10 * second + second / 10), 10000);
    meter.AddBlock(12 * second, 3000);
    EXPECT_DOUBLE_EQ(meter.BytesPerSecond(13 * second), 4000 / 3.0) << "a block exactly 3 s old stays";
    EXPECT_DOUBLE_EQ(meter.BytesPerSecond(14 * second), 3000 / 2.0) << "older blocks leave the window";
    EXPECT_EQ(meter.BytesPerSecond(16 * second), 0);
}

TEST(DownloadProgress, EstimatesStayWithinTheEntry) {
    const struct {
        long long downloaded, contentLength, size, expected;
    } rows[] = {
        {50, 100, 1000, 500},    {100, 100, 1000, 1000},  {500, 0, 1000, 500},     {5000, 0, 1000, 1000},
        {50, 100, 0, 0},         {50, 100, -5, 0},        {-10, 0, 1000, 0},
        // A body far beyond its Content-Length once overflowed the 64-bit estimate.
        {LLONG_MAX, 1, LLONG_MAX / 2, LLONG_MAX / 2}, {1LL << 62, 3, 1LL << 40, 1LL << 40}};
    for (const auto& row : rows) {
        EXPECT_EQ(EntryProgressBytes(row.downloaded, row.contentLength, row.size), row.expected) << row.downloaded;
    }
    EXPECT_EQ(DownloadPercent(0, 0), 100);
    EXPECT_EQ(DownloadPercent(250, 1000), 25);
}

TEST(WorkerDegrees, FollowTheProcessorCount) {
    for (unsigned cpus = 0; cpus <= 64; ++cpus) {
        const WorkerDegrees expected = cpus == 0 ? WorkerDegrees{2, 3}
                                       : cpus <= 2 ? WorkerDegrees{1, 2}
                                       : cpus <= 4 ? WorkerDegrees{2, 3}
                                       : cpus <= 8 ? WorkerDegrees{4, 4}
                                       : cpus <= 12 ? WorkerDegrees{6, 5}
                                                    : WorkerDegrees{8, 5};
        EXPECT_EQ(WorkerDegreesFor(cpus).check, expected.check) << cpus;
        EXPECT_EQ(WorkerDegreesFor(cpus).download, expected.download) << cpus;
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
                while (!cancel.load()) {
                }
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

// An application object whose logs and client go to a folder of its own.
struct FolderApp {
    FolderApp() {
        app.logger.directory = folder.path();
        app.clientPath = folder / L"client";
    }
    TempFolder folder;
    NativeApp app;
};

TEST(UpdateEndings, EveryErrorEndsTheRun) {
    const struct {
        std::function<void()> steps;
        const wchar_t* status;
        const wchar_t* detail;
    } rows[] = {
        {[] { throw std::runtime_error("Canceled"); }, L"Обновление отменено", L""},
        {[] { throw std::runtime_error("Could not replace file"); }, L"Ошибка обновления", L"Could not replace file"},
        {[] { throw 42; }, L"Ошибка обновления", L"Unknown error"},
    };
    for (const auto& row : rows) {
        FolderApp owner;
        NativeApp& app = owner.app;
        ASSERT_TRUE(app.ClaimUpdateRun());
        app.SetBusy(true);
        RunToOneEnding(app, row.steps);
        EXPECT_FALSE(app.workerRunning || app.startedUpdateMustFinish || app.ui.busy);
        EXPECT_EQ(app.ui.status, row.status);
        EXPECT_EQ(app.ui.detail, row.detail);
        EXPECT_EQ(app.ui.percent, 0);
    }
}

// The download phase of a paused run starts showing the pause, not a transfer.
TEST(UpdateEndings, APausedDownloadPhaseShowsThePause) {
    FolderApp owner;
    NativeApp& app = owner.app;
    UpdatePlan plan;
    plan.downloads.resize(2);
    app.paused = true;
    std::string error;
    std::thread phase([&] { error = ErrorOf([&] { RunDownloadPhase(app, plan, owner.folder / L"temp"); }); });
    Sleep(300);
    EXPECT_EQ(app.ui.status, L"Пауза");
    EXPECT_EQ(app.ui.detail, L"Загрузка файлов...");
    app.cancelUpdate = true;
    phase.join();
    EXPECT_EQ(error, "Canceled");
}

TEST(ThreadStarts, AFailedWorkerStartStopsAndJoinsTheStartedOnes) {
    std::atomic<bool> cancel{false};
    std::atomic<int> ran{0}, ended{0};
    std::string error;
    {
        AddressSpaceTaken taken(4u << 20);  // room for one thread
        error = ErrorOf([&] {
            try {
                RunWorkerPool(3, cancel, [&](unsigned) {
                    ++ran;
                    while (!cancel.load()) {
                        Sleep(5);
                    }
                    ++ended;
                });
            } catch (const std::system_error& failure) {
                throw std::runtime_error(failure.what());
            }
        });
    }
    EXPECT_NE(error, "");
    EXPECT_TRUE(cancel.load());
    EXPECT_EQ(ran.load(), 1);
    EXPECT_EQ(ended.load(), 1) << "the started worker is joined before the error passes on";
}

TEST(ThreadStarts, AnUpdateThreadThatCannotStartGivesTheSlotBack) {
    FolderApp owner;
    NativeApp& app = owner.app;
    ASSERT_TRUE(app.ClaimUpdateRun());
    {
        AddressSpaceTaken taken;
        app.StartUpdateRun(false);
    }
    EXPECT_FALSE(app.updateThread.joinable());
    EXPECT_FALSE(app.workerRunning.load());
    EXPECT_FALSE(app.startedUpdateMustFinish.load());
    EXPECT_FALSE(app.ui.busy);
    EXPECT_EQ(app.ui.status, L"Ошибка обновления");
    EXPECT_NE(app.ui.detail, L"");
}

}  // namespace
}  // namespace updater
