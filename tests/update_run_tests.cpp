// Whole update runs against the local update sites that update_run_sites.py
// publishes: the endings, the attempts, one file's failures, pause and cancel.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>

#include <windows.h>

#include "app/native_app.h"
#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/http_test_support.h"
#include "tests/site_app.h"

namespace updater {
namespace {

std::wstring NewClientFile(const std::wstring& site, const std::wstring& relative) {
    const std::wstring clients = ReplaceAllText(WideFromUtf8(std::getenv("UPDATE_RUN_CLIENTS")), L"/", L"\\");
    return SafeLocalPath(JoinPath(clients, site), relative);
}

class SiteRun : public SiteApp {
public:
    explicit SiteRun(const std::wstring& site, const std::wstring& client = L"") : SiteApp(site), site(site) {
        app.clientPath = client.empty() ? folder / L"client" : client;
        app.startupWork = false;
    }
    void Start(bool reset = false) {
        ASSERT_TRUE(app.ClaimUpdateRun());
        app.StartUpdateRun(reset);
    }
    void Finish() { app.updateThread.join(); }
    void ToEnd(bool reset = false) {
        Start(reset);
        Finish();
    }
    std::wstring Client(const std::wstring& relative) const { return SafeLocalPath(app.clientPath, relative); }
    void Put(const std::wstring& relative, const std::string& bytes) const {
        CreateDirectoryRecursive(DirectoryName(Client(relative)));
        WriteTestFile(Client(relative), bytes);
    }
    bool IsNew(const std::wstring& relative) const {
        return ReadBinaryFile(Client(relative)) == ReadBinaryFile(NewClientFile(site, relative));
    }
    std::wstring Log() const { return WideFromUtf8(ReadBinaryFile(folder / L"logs\\updater.log")); }
    // Waits until the ui state satisfies the condition; false after 20 s.
    bool WaitFor(const std::function<bool(const UiState&)>& condition) {
        for (int i = 0; i < 20000; ++i) {
            {
                std::lock_guard<std::mutex> lock(app.uiMutex);
                if (condition(app.ui)) return true;
            }
            Sleep(1);
        }
        return false;
    }
    void Cancel() {
        app.cancelUpdate = true;
        app.paused = false;
        app.http.AbortActiveRequests();
    }

    std::wstring site;
};

bool Has(const std::wstring& text, const std::wstring& part) {
    return text.find(part) != std::wstring::npos;
}

std::vector<std::string> RequestsFor(const std::wstring& site, const std::string& path) {
    std::vector<std::string> found;
    for (const std::string& line : ServerRequests(site)) {
        if (RequestField(line, "path") == path) found.push_back(line);
    }
    return found;
}

double TimeBetween(const std::string& earlier, const std::string& later) {
    return std::atof(RequestField(later, "time").c_str()) - std::atof(RequestField(earlier, "time").c_str());
}

void UpToDate(SiteRun& run, const std::vector<std::wstring>& files) {
    for (const std::wstring& file : files) run.Put(file, ReadBinaryFile(NewClientFile(run.site, file)));
}

const std::vector<std::wstring> kBasicFiles = {L"system/l2.ini", L"data/a.bin", L"data/x", L"data/x.zip",
                                               L"readme.txt"};

TEST(UpdateRun, EachEndingShowsItsFinalStatus) {
    const NativeApp texts;
    const std::wstring ready = L"Готов к работе", withErrors = texts.T(L"UpdateCompleteWithErrors");
    const std::wstring failedManifests = texts.T(L"FailedManifests") + L": ";
    const std::wstring unreachable = UntrustedRoot() + L"tavrine/updater/";
    const auto patchFails = [&](SiteRun& run) { run.app.serverConfig.patchPath = unreachable; };
    const auto nothing = [](SiteRun&) {};
    const struct {
        const wchar_t* site;
        bool reset;
        std::function<void(SiteRun&)> setup, check;
        std::wstring status, detail;
    } rows[] = {
        {L"run-empty", true, nothing, nothing, ready, L"Нет файлов для проверки"},
        {L"run-empty", false, [&](SiteRun& run) { run.app.serverConfig.clientBaseUrl = unreachable; patchFails(run); },
         nothing, withErrors, failedManifests + L"2"},
        {L"run-basic", false, [](SiteRun& run) { UpToDate(run, kBasicFiles); }, nothing, ready, L"Файлы уже актуальны"},
        // Current files of some sources only are no success, and a reset then
        // would delete what no manifest brings back.
        {L"run-patch-fails", true, [&](SiteRun& run) { UpToDate(run, kBasicFiles); patchFails(run); },
         [](SiteRun& run) {
             EXPECT_TRUE(run.IsNew(L"system/l2.ini"));
             EXPECT_TRUE(Has(run.Log(), L"System directory reset skipped: manifest failures=1"));
         },
         withErrors, failedManifests + L"1"},
        {L"run-basic", true, [](SiteRun& run) { run.Put(L"system/user.ini", "settings"); },
         [](SiteRun& run) {
             for (const std::wstring& file : kBasicFiles) EXPECT_TRUE(run.IsNew(file)) << file;
             EXPECT_EQ(FileSizeOf(run.Client(L"system/user.ini")), -1) << "the reset ran";
             EXPECT_TRUE(Has(run.DebugLog(), L"x.zip.new.download, destinationPath="));
         },
         ready, L"Обновление завершено"},
        {L"run-partial", false, patchFails, [](SiteRun& run) { EXPECT_TRUE(run.IsNew(L"good.bin")); }, withErrors,
         texts.T(L"FailedFiles") + L": 1, " + failedManifests + L"1"},
        // A reset must never delete the updater's own folder.
        {L"run-basic", true,
         [](SiteRun& run) { run.app.appDir = run.Client(L"System\\updater"); run.Put(L"system/keep", "k"); },
         [](SiteRun& run) { EXPECT_EQ(FileSizeOf(run.Client(L"system/keep")), 1); }, L"Ошибка обновления",
         L"Unsafe system reset path"},
    };
    for (const auto& row : rows) {
        SiteRun run(row.site);
        row.setup(run);
        run.ToEnd(row.reset);
        EXPECT_EQ(run.app.ui.status, row.status) << row.site;
        EXPECT_EQ(run.app.ui.detail, row.detail) << row.site;
        EXPECT_EQ(run.app.ui.percent, row.status == L"Ошибка обновления" ? 0 : 100);
        EXPECT_FALSE(run.app.workerRunning.load());
        row.check(run);
    }
}

TEST(UpdateRun, InstallsAcrossVolumesThroughACopyBesideTheFile) {
    const std::wstring client = L"Z:\\dev\\shm\\" + NewTestId();
    SiteRun run(L"run-basic", client);
    run.ToEnd();
    EXPECT_EQ(run.app.ui.detail, L"Обновление завершено");
    for (const std::wstring& file : kBasicFiles) {
        EXPECT_TRUE(run.IsNew(file)) << file;
        EXPECT_EQ(FileSizeOf(run.Client(file + L".new.download")), -1) << file;
    }
    run.Put(L"probe", "p");
    EXPECT_FALSE(MoveFileExW(run.Client(L"probe").c_str(), (run.folder / L"probe").c_str(), 0));
    EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_SAME_DEVICE}) << "the client lies on another volume";
    std::wstring error;
    DeleteDirectoryRecursive(client, error);
}

TEST(UpdateRun, ThreeAttemptsOnBothRootsWithGrowingWaits) {
    SiteRun run(L"run-attempts");
    run.ToEnd();
    EXPECT_TRUE(run.IsNew(L"retry/third"));
    EXPECT_EQ(FileSizeOf(run.Client(L"retry/never")), -1);
    EXPECT_EQ(run.app.ui.detail, run.app.T(L"FailedFiles") + L": 1");
    EXPECT_TRUE(Has(run.Log(), L"Download failed, skipped: retry/never: HTTP status 500 url=" + RootA()));
    EXPECT_TRUE(Has(run.DebugLog(), L"downloadedFiles=1, failedDownloads=1, downloadedBytes=5000"))
        << "a file given up counts as done";
    for (const char* path : {"/tavrine/updater/client/retry/third.zip", "/tavrine/updater/client/retry/never.zip"}) {
        const std::vector<std::string> requests = RequestsFor(L"run-attempts", path);
        ASSERT_EQ(requests.size(), 3u) << path;
        EXPECT_EQ(RequestField(requests[0], "role") + RequestField(requests[1], "role") +
                      RequestField(requests[2], "role"), "aab");
        const double first = TimeBetween(requests[0], requests[1]);
        const double second = TimeBetween(requests[1], requests[2]);
        EXPECT_GE(first, 1.2);
        EXPECT_LT(first, 2.0);
        EXPECT_GE(second, 2.4);
        EXPECT_LT(second, 3.2);
    }
}

TEST(UpdateRun, AFailedFileLeavesTheOldOneAsItWas) {
    SiteRun run(L"run-failures");
    CreateDirectoryRecursive(run.Client(L"fail/folder"));
    run.Put(L"fail/folder/inside", "kept");
    run.Put(L"fail/readonly", "old");
    SetFileAttributesW(run.Client(L"fail/readonly").c_str(), FILE_ATTRIBUTE_READONLY);
    const DWORD readOnlyAttributes = GetFileAttributesW(run.Client(L"fail/readonly").c_str());
    run.ToEnd();
    const struct {
        const wchar_t* path;
        const wchar_t* error;
    } rows[] = {{L"fail/crc", L"Downloaded file CRC mismatch"},
                {L"fail/short", L"Downloaded file size mismatch"},
                {L"fail/bomb", L"Zip entry larger than expected"},
                {L"fail/folder", L"Could not replace file"},
                {L"fail/readonly", L"Could not replace file"}};
    for (const auto& row : rows) {
        EXPECT_TRUE(Has(run.Log(), L"Download failed, skipped: " + std::wstring(row.path) + L": " + row.error))
            << row.path;
    }
    EXPECT_TRUE(Has(run.DebugLog(), L"extractedSize=-1, error=Zip entry larger than expected"));
    EXPECT_EQ(ReadBinaryFile(run.Client(L"fail/folder/inside")), "kept");
    EXPECT_EQ(ReadBinaryFile(run.Client(L"fail/readonly")), "old");
    EXPECT_EQ(GetFileAttributesW(run.Client(L"fail/readonly").c_str()), readOnlyAttributes);
    EXPECT_TRUE(run.IsNew(L"ok/good"));
    EXPECT_EQ(run.app.ui.detail, run.app.T(L"FailedFiles") + L": 5");
    SetFileAttributesW(run.Client(L"fail/readonly").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(UpdateRun, ALockedFileIsCheckedFailedAndFetchedOnceFree) {
    SiteRun locked(L"run-locked");
    locked.Put(L"locked.bin", std::string(8192, 'o'));
    {
        const FileHandle hold(CreateFileW(locked.Client(L"locked.bin").c_str(), GENERIC_READ, 0, nullptr,
                                          OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(hold);
        locked.ToEnd();
    }
    EXPECT_TRUE(Has(locked.Log(), L"Check failed, will download: locked.bin: Could not open file for CRC"));
    EXPECT_TRUE(Has(locked.Log(), L"Download failed, skipped: locked.bin: Could not replace file"));
    EXPECT_EQ(ReadBinaryFile(locked.Client(L"locked.bin")), std::string(8192, 'o'));
    SiteRun freed(L"run-locked", locked.app.clientPath);
    freed.ToEnd();
    EXPECT_EQ(freed.app.ui.detail, L"Обновление завершено");
    EXPECT_TRUE(freed.IsNew(L"locked.bin"));
}

// Pauses once the run is inside the phase, checks that the bar stands still,
// then resumes or cancels.
void PauseThen(SiteRun& run, const std::wstring& phaseStatus, bool cancel) {
    run.Start();
    ASSERT_TRUE(run.WaitFor([&](const UiState& ui) { return ui.status == phaseStatus && ui.percent > 0; }));
    run.app.paused = true;
    Sleep(800);  // a block already asked for may still arrive
    const double held = run.app.ui.percent;
    Sleep(600);
    EXPECT_EQ(run.app.ui.percent, held);
    EXPECT_LT(held, 100);
    if (cancel) {
        run.Cancel();
    } else {
        run.app.paused = false;
    }
    run.Finish();
}

TEST(UpdateRun, PauseHoldsATransferAndAChecksumUntilResumed) {
    SiteRun transfer(L"run-slow-pause");
    PauseThen(transfer, transfer.app.T(L"Downloading"), false);
    EXPECT_EQ(transfer.app.ui.detail, L"Обновление завершено");
    EXPECT_TRUE(transfer.IsNew(L"slow.bin"));
    EXPECT_EQ(RequestsFor(L"run-slow-pause", "/tavrine/updater/client/slow.bin.zip").size(), 1u);

    SiteRun check(L"run-big-check");
    UpToDate(check, {L"big.bin"});
    PauseThen(check, check.app.T(L"CheckingFiles"), false);
    EXPECT_EQ(check.app.ui.detail, L"Файлы уже актуальны");
    const std::wstring log = check.DebugLog();
    EXPECT_EQ(log.find(L"BEGIN CRC32 check big.bin"), log.rfind(L"BEGIN CRC32 check big.bin"))
        << "resumed, not restarted";
}

TEST(UpdateRun, CancelInEitherPhaseEndsWithoutFailedFiles) {
    SiteRun check(L"run-big-check");
    UpToDate(check, {L"big.bin"});
    PauseThen(check, check.app.T(L"CheckingFiles"), true);
    SiteRun transfer(L"run-slow-cancel");
    transfer.Start();
    ASSERT_TRUE(transfer.WaitFor([&](const UiState& ui) { return ui.percent > 0 && ui.speed != L""; }));
    transfer.Cancel();
    transfer.Finish();
    EXPECT_EQ(RequestsFor(L"run-slow-cancel", "/tavrine/updater/client/slow.bin.zip").size(), 1u);
    for (SiteRun* run : {&check, &transfer}) {
        EXPECT_EQ(run->app.ui.status, L"Обновление отменено");
        EXPECT_EQ(run->app.ui.detail, L"");
        EXPECT_EQ(run->app.ui.percent, 0);
        EXPECT_FALSE(Has(run->Log(), L"failed"));
    }
}

}  // namespace
}  // namespace updater
