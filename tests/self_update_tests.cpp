#include "update/self_update.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cwctype>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "foundation/files.h"
#include "foundation/hashing.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/allocation_failure.h"
#include "tests/site_app.h"

namespace updater {
namespace {

using Lines = std::vector<std::wstring>;

const std::wstring kPackages = L"" SELF_UPDATE_PACKAGES;
const std::wstring kWork = L"temp\\launcher-update";
const std::wstring kScriptCommand = L"cmd.exe /d /s /c \"\"temp\\launcher-update\\replace-updater.cmd\"\"";

// An application without a window, on a site of its own, which records the
// process its self-update would start instead of starting it.
struct Updater : SiteApp {
    Updater() {
        app.exePath = folder / L"TavrineUpdater.exe";
        app.startProcess = [this](const ProcessLaunch& launch, unsigned long& error) {
            launches.push_back(launch);
            error = ERROR_ACCESS_DENIED;
            return startSucceeds;
        };
    }

    // Offers a package of the packages folder on the site under the name.
    std::wstring Publish(const std::wstring& package, const std::wstring& name, const std::string& fault = "") {
        return Serve(name, ReadBinaryFile(JoinPath(kPackages, package)), fault);
    }

    std::wstring LastInfo() const {
        const Lines lines = InfoLines();
        return lines.empty() ? L"" : lines.back();
    }

    UiState Ui() {
        std::lock_guard<std::mutex> lock(app.uiMutex);
        return app.ui;
    }

    std::vector<ProcessLaunch> launches;
    bool startSucceeds = true;
};

template <typename Condition>
void WaitFor(Condition condition) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!condition() && std::chrono::steady_clock::now() < end) std::this_thread::yield();
}

TEST(SelfUpdateTest, VersionsParseAndCompare) {
    NativeApp app;
    const struct {
        const wchar_t* text;
        std::vector<int> parts;
        int currentAgainstIt;
    } cases[] = {
        {L"3.0.32", {3, 0, 32}, 0},         {L"3.0.32.0", {3, 0, 32, 0}, 0}, {L"3.0.32.1", {3, 0, 32, 1}, -1},
        {L"3.1", {3, 1, 0}, -1},            {L"3.1.", {3, 1, 0}, -1},        {L"3..40", {3, 0, 40}, -1},
        {L"3.0.33-beta", {3, 0, 33}, -1},   {L"3.0.31.9", {3, 0, 31, 9}, 1}, {L"2.99", {2, 99, 0}, 1},
        {L"v4", {0, 0, 0}, 1},              {L"", {0, 0, 0}, 1},             {L"3.99999999999", {3, INT_MAX, 0}, -1},
    };
    for (const auto& item : cases) {
        EXPECT_EQ(app.ParseVersion(item.text).parts, item.parts) << Utf8FromWide(item.text);
        EXPECT_EQ(CompareVersions(app.ParseVersion(L"3.0.32"), app.ParseVersion(item.text)), item.currentAgainstIt)
            << Utf8FromWide(item.text);
    }
}

TEST(SelfUpdateTest, PackageNamesAreSafeFileNames) {
    const std::pair<const wchar_t*, const wchar_t*> cases[] = {
        {L"https://h/u/Updater.zip?v=1#top", L"Updater.zip"}, {L"https://h/u/", L"TavrineUpdater.exe"},
        {L"https://h/u/..", L"TavrineUpdater.exe"},           {L"https://h/u/..%5C..%5Cx.exe", L"..-5C..-5Cx.exe"},
        {L"https://h/C:x.exe", L"C-x.exe"},                   {L"https://h/CON.exe", L"TavrineUpdater.exe"},
        {L"https://h/lpt9", L"TavrineUpdater.exe"},           {L"https://h/Aux.tar.gz", L"TavrineUpdater.exe"},
        {L"https://h/com0.exe", L"com0.exe"},                 {L"https://h/up date(1).exe", L"up-date-1-.exe"},
        {L"https://h/Апдейтер.exe", L"--------.exe"},
    };
    for (const auto& [url, name] : cases) EXPECT_EQ(SelfUpdatePackageName(url), name) << Utf8FromWide(url);
}

TEST(SelfUpdateTest, ScriptBytesDoublePercentSignsAndKeepUtf8Paths) {
    const std::string expected =
        "@echo off\r\nchcp 65001 >nul\r\nset PID=4242\r\nset WAITS=0\r\n:wait\r\n"
        "tasklist /FI \"PID eq %PID%\" | find \"%PID%\" >nul\r\nif errorlevel 1 goto replace\r\n"
        "set /a WAITS+=1\r\nif %WAITS% geq 60 goto replace\r\nping -n 2 127.0.0.1 >nul\r\ngoto wait\r\n"
        ":replace\r\nset MOVES=0\r\n:move\r\n"
        "move /y \"D:\\Игры\\100%%\\n.exe\" \"D:\\Игры\\100%%\\Up (1) & co.exe\" >nul 2>nul\r\n"
        "if not exist \"D:\\Игры\\100%%\\n.exe\" goto start\r\n"
        "set /a MOVES+=1\r\nif %MOVES% geq 60 goto start\r\nping -n 2 127.0.0.1 >nul\r\ngoto move\r\n"
        ":start\r\nstart \"\" \"D:\\Игры\\100%%\\Up (1) & co.exe\"\r\ndel /f /q \"%~f0\" >nul 2>nul\r\n";
    EXPECT_EQ(ReplaceScriptText(4242, L"D:\\Игры\\100%\\Up (1) & co.exe", L"D:\\Игры\\100%\\n.exe"), expected);
}

TEST(SelfUpdateTest, DeclinesWithoutAskingTheServer) {
    const struct {
        const wchar_t* version;
        bool offersUrl, force;
        const wchar_t* reason;
    } cases[] = {
        {L"3.0.32", true, false, L"current version is not older."},
        {L"", true, false, L"launcherVersion is empty."},
        {L"9.0", false, true, L"launcherUrl is empty."},
    };
    for (const auto& item : cases) {
        Updater updater;
        ServerConfig config;
        config.launcherVersion = item.version;
        if (item.offersUrl) config.launcherUrl = updater.Publish(L"new.exe", L"new.exe");
        EXPECT_FALSE(updater.app.CheckSelfUpdate(config, item.force));
        EXPECT_EQ(updater.DebugLines(L"CheckSelfUpdate skipped: "),
                  Lines{L"CheckSelfUpdate skipped: " + std::wstring(item.reason)});
        EXPECT_TRUE(SiteRequests(updater.site).empty());
        EXPECT_TRUE(updater.DebugLines(L"SetUi ").empty());
        EXPECT_TRUE(updater.launches.empty());
    }
}

// A package offered and how the check must end: the roots asked, the file the
// script moves in, and the reason logged when it fails.
const struct DownloadCase {
    const char* what;
    const wchar_t *package, *name;  // in the packages folder; on the site and in the work folder
    const char* fault;
    const wchar_t *version, *sha256;  // no version: the call is forced; "same": the package's own in capitals
    bool startSucceeds;
    const char* roots;
    const wchar_t *newExe, *failure;  // in the work folder; empty when the script started
    bool closeDuringExtraction = false;
    const wchar_t* folderPrefix = L"";  // put before the updater's folder
} kDownloads[] = {
    {"forced without a version, hash in capitals", L"new.exe", L"Up.exe", "", L"", L"same", true, "a", L"Up.exe", L""},
    {"zip member in a folder, other case", L"member.zip", L"p.zip", "", L"3.0.33", L"", true, "a",
     L"TavrineUpdater.download.exe", L""},
    {"first root fails, mirror serves", L"new.exe", L"u.exe", "status=500&faulthits=1", L"3.1", L"", true, "ab",
     L"u.exe", L""},
    {"hash mismatch on both roots", L"new.exe", L"u.exe", "", L"3.1", L"00ff", true, "ab", L"",
     L"Launcher SHA256 mismatch"},
    {"endless package on both roots", L"new.exe", L"u.exe", "mode=endless&step=1048576&delay=0", L"3.1", L"", true,
     "ab", L"", L"Download larger than expected"},
    {"zip of text only", L"text.zip", L"t.zip", "", L"3.1", L"", true, "a", L"",
     L"Downloaded updater is not a Windows executable"},
    {"portal page", L"portal.html", L"u.exe", "", L"3.1", L"", true, "a", L"",
     L"Downloaded updater is not a Windows executable"},
    {"script cannot be started", L"new.exe", L"u.exe", "", L"3.1", L"", false, "a", L"u.exe",
     L"Could not start launcher replacement helper"},
    // The extraction cannot be canceled; the closed window must still stop the replacement.
    {"window closed during the extraction", L"slow.zip", L"slow.zip", "", L"4.0", L"", true, "a", L"", L"Canceled",
     true},
    // Wine serves no network share; a path of the \\?\ form stands in for
    // one, as it begins with the same two backslashes.
    {"folder on a network path", L"new.exe", L"u.exe", "", L"3.1", L"", true, "a", L"u.exe", L"", false, L"\\\\?\\"},
};

TEST(SelfUpdateTest, DownloadVerifyAndStartTheScript) {
    wchar_t system[MAX_PATH];
    const std::wstring cmd = std::wstring(system, GetSystemDirectoryW(system, MAX_PATH)) + L"\\cmd.exe";
    for (const DownloadCase& item : kDownloads) {
        Updater updater;
        updater.startSucceeds = item.startSucceeds;
        updater.app.appDir = item.folderPrefix + updater.app.appDir;
        ServerConfig config;
        config.launcherUrl = updater.Publish(item.package, item.name, item.fault);
        config.launcherVersion = item.version;
        config.launcherSha256 = item.sha256;
        if (config.launcherSha256 == L"same") {
            config.launcherSha256 = Sha256Hex(JoinPath(kPackages, item.package));
            for (wchar_t& c : config.launcherSha256) c = static_cast<wchar_t>(std::towupper(c));
        }
        const std::wstring work = JoinPath(updater.app.appDir, kWork);
        std::thread closer;
        if (item.closeDuringExtraction) {
            closer = std::thread([&] {
                WaitFor([&] { return FileSizeOf(JoinPath(work, L"TavrineUpdater.download.exe")) >= 0; });
                updater.app.cancelUpdate = true;
            });
        }
        const bool failed = *item.failure != L'\0';
        EXPECT_EQ(updater.app.CheckSelfUpdate(config, config.launcherVersion.empty()), !failed) << item.what;
        if (closer.joinable()) closer.join();

        std::string roots;
        for (const std::string& request : SiteRequests(updater.site)) roots += request.substr(0, 1);
        EXPECT_EQ(roots, item.roots) << item.what;
        if (roots.size() == 2) {  // the mirror is asked a second after the failure
            const auto times = ServerRequests(updater.site);
            EXPECT_GE(std::stod(RequestField(times[1], "time")) - std::stod(RequestField(times[0], "time")), 0.9);
        }
        // A failure leaves neither the package nor the extracted updater behind;
        // a started script needs what it moves in.
        for (const std::wstring name : {item.name, L"TavrineUpdater.download.exe"}) {
            EXPECT_EQ(FileSizeOf(JoinPath(work, name)) >= 0, !failed && (name == item.name || name == item.newExe))
                << item.what << ": " << Utf8FromWide(name);
        }
        EXPECT_EQ(updater.DebugLines(L"SetUi status=Загрузка").at(0),
                  L"SetUi status=Загрузка новой версии апдейтера, detail=3.0.32 -> " +
                      (config.launcherVersion.empty() ? L"latest" : config.launcherVersion) + L", percent=0.000000")
            << item.what;
        if (*item.newExe != L'\0') {
            const std::wstring newExe = JoinPath(work, item.newExe);
            if (!failed) {
                EXPECT_EQ(ReadBinaryFile(newExe), ReadBinaryFile(JoinPath(kPackages, L"new.exe"))) << item.what;
            }
            EXPECT_EQ(ReadBinaryFile(JoinPath(work, L"replace-updater.cmd")),
                      ReplaceScriptText(GetCurrentProcessId(), updater.app.exePath, newExe));
            ASSERT_EQ(updater.launches.size(), 1u) << item.what;
            const ProcessLaunch& launch = updater.launches[0];
            const std::wstring command = *item.folderPrefix == L'\0'
                                             ? kScriptCommand
                                             : L"cmd.exe /d /s /c \"\"" + work + L"\\replace-updater.cmd\"\"";
            EXPECT_EQ(launch.applicationName + L"|" + launch.commandLine + L"|" + launch.workingFolder,
                      cmd + L"|" + command + L"|" + updater.app.appDir);
            EXPECT_EQ(updater.DebugLines(L"StartSelfReplace command="), Lines{L"StartSelfReplace command=" + command});
        } else {
            EXPECT_EQ(FileSizeOf(JoinPath(work, L"replace-updater.cmd")), -1) << item.what;
            EXPECT_TRUE(updater.launches.empty()) << item.what;
        }
        if (failed) {
            EXPECT_EQ(updater.LastInfo(), L"Self-update failed: " + std::wstring(item.failure)) << item.what;
            EXPECT_EQ(updater.Ui().status + L"|" + updater.Ui().detail,
                      L"Готов к работе|Не удалось обновить апдейтер. Продолжаем текущую версию.");
        }
    }
}

// Lets the thread, stopped at uiMutex (held through `ui`) in the SetUi that
// shows the detail, store it and run on to its next uiMutex, where it stops
// again: meanwhile the logger's mutex holds it at its next log line.
void StepPastSetUi(Updater& updater, std::unique_lock<std::mutex>& ui, const std::wstring& detail) {
    NativeApp& app = updater.app;
    WaitFor([&] { return !updater.DebugLines(L"SetUi status=Готов к работе, detail=" + detail + L",").empty(); });
    std::lock_guard<std::mutex> logging(app.logger.mutex);
    ui.unlock();
    WaitFor([&] {
        std::lock_guard<std::mutex> lock(app.uiMutex);
        return app.ui.detail == detail;
    });
    ui.lock();
}

// The thread's end, seen as it happens: the site holds one answer until the
// thread's setters can be stepped through, one by one, under uiMutex. The busy
// state is cleared under uiMutex too, after startedUpdateMustFinish and
// manualSelfUpdateRunning and before workerRunning, so that whoever sees
// workerRunning clear finds the rest cleared too. A load that fails gives the
// defaults, which must not replace the stored configuration.
TEST(SelfUpdateThreadsTest, ManualSelfUpdateEndings) {
    const wchar_t kLoaded[] = L"Server config loaded.";
    const struct {
        const char* what;
        bool servesConfig, offersPackage;
        const wchar_t* held;  // the answer held until the thread's end is watched; null: none
        bool cancel;          // Cancel, while it is held
        const wchar_t* configLine;
        Lines details;  // what the thread shows then; none: the replacement started
    } cases[] = {
        {"package offered", true, true, nullptr, false, kLoaded, {}},
        {"no package offered", true, false, L"UpdateConfig.xml", false, kLoaded, {L"Самообновление недоступно."}},
        {"configuration missing", false, false, L"UpdateConfig.xml", false,
         L"Server config failed, defaults used: HTTP status 404", {L"Самообновление недоступно."}},
        {"canceled during the configuration reload", true, true, L"UpdateConfig.xml", true,
         L"Server config failed, defaults used: Canceled", {L"Самообновление отменено."}},
        {"canceled during the package download", true, true, L"u.exe", true, kLoaded,
         {L"Не удалось обновить апдейтер. Продолжаем текущую версию.", L"Самообновление отменено."}},
    };
    for (const auto& item : cases) {
        Updater updater;
        NativeApp& app = updater.app;
        const std::wstring release = NewTestId();
        const auto fault = [&](const std::wstring& name) {
            const bool held = item.held != nullptr && name == item.held;
            return held ? "mode=stall_head&maxwait=60&release=" + Utf8FromWide(release) : "";
        };
        const std::wstring url = updater.Publish(L"new.exe", L"u.exe", fault(L"u.exe"));
        if (item.servesConfig) {
            const std::wstring offer = item.offersPackage ? L"<LauncherUrl>" + url + L"</LauncherUrl>" : L"";
            updater.Serve(L"UpdateConfig.xml", Utf8FromWide(offer + L"<ForumLink>f</ForumLink>"),
                          fault(L"UpdateConfig.xml"));
        } else {
            WriteBinaryFile(SiteFolder(updater.site) + L"\\tavrine_updater\\UpdateConfig.xml.fault",
                            fault(L"UpdateConfig.xml"), false);
        }
        app.serverConfig.launcherVersion = L"kept";
        app.startupWork = false;
        app.ForceSelfUpdate();
        if (item.held != nullptr) {
            WaitFor([&] {
                const auto requests = SiteRequests(updater.site);
                return std::any_of(requests.begin(), requests.end(), [&](const std::string& request) {
                    return request.find("/tavrine_updater/" + Utf8FromWide(item.held)) != std::string::npos;
                });
            });
            std::unique_lock<std::mutex> ui(app.uiMutex);
            if (item.cancel) {
                app.cancelUpdate = true;
                app.http.AbortActiveRequests();
            }
            ReleaseStall(release);
            for (const std::wstring& detail : item.details) StepPastSetUi(updater, ui, detail);
            // Stopped where it clears the busy state.
            WaitFor([&] { return !app.startedUpdateMustFinish && !app.manualSelfUpdateRunning; });
            EXPECT_FALSE(app.startedUpdateMustFinish || app.manualSelfUpdateRunning) << item.what;
            EXPECT_TRUE(app.ui.busy && app.workerRunning) << item.what;
        }
        app.updateThread.join();

        const bool launched = item.details.empty();
        const bool loaded = std::wstring(item.configLine) == kLoaded;
        EXPECT_EQ(updater.launches.size(), launched ? 1u : 0u) << item.what;
        for (const bool flag : {app.workerRunning.load(), app.startedUpdateMustFinish.load(),
                                app.manualSelfUpdateRunning.load(), updater.Ui().busy}) {
            EXPECT_EQ(flag, launched) << item.what;
        }
        if (!launched) {
            EXPECT_EQ(updater.Ui().detail, item.details.back()) << item.what;
        }
        Lines configLines;
        for (const std::wstring& line : updater.InfoLines()) {
            if (line.rfind(L"Server config ", 0) == 0) configLines.push_back(line);
        }
        EXPECT_EQ(configLines, Lines{item.configLine}) << item.what;
        EXPECT_EQ(app.serverConfig.launcherVersion == L"kept", !loaded) << item.what;
        EXPECT_EQ(updater.DebugLines(L"BEGIN CheckSelfUpdate").size(), loaded ? 1u : 0u) << item.what;
    }
}

// The process start runs out of memory, and so does every handler after it:
// the thread still ends and frees its flags in their order, allocating
// nothing. uiMutex, held from the process start on, stops it where it clears
// the busy state.
TEST(SelfUpdateThreadsTest, HandlersOutOfMemoryStillFreeTheFlagsInOrder) {
    Updater updater;
    NativeApp& app = updater.app;
    const std::wstring url = updater.Publish(L"new.exe", L"u.exe");
    updater.Serve(L"UpdateConfig.xml", Utf8FromWide(L"<LauncherUrl>" + url + L"</LauncherUrl>"));
    std::atomic<bool> starting{false}, uiHeld{false};
    app.startProcess = [&](const ProcessLaunch&, unsigned long&) -> bool {
        starting = true;
        WaitFor([&] { return uiHeld.load(); });
        FailEveryAllocation(true);  // on this thread, which ends without allocating again
        throw std::bad_alloc();
    };
    app.startupWork = false;
    app.ForceSelfUpdate();
    WaitFor([&] { return starting.load(); });
    {
        std::lock_guard<std::mutex> ui(app.uiMutex);
        uiHeld = true;
        WaitFor([&] { return !app.startedUpdateMustFinish && !app.manualSelfUpdateRunning; });
        EXPECT_FALSE(app.startedUpdateMustFinish || app.manualSelfUpdateRunning);
        EXPECT_TRUE(app.ui.busy && app.workerRunning);
    }
    app.updateThread.join();
    EXPECT_FALSE(app.workerRunning || app.startedUpdateMustFinish || app.manualSelfUpdateRunning);
    EXPECT_FALSE(updater.Ui().busy || updater.Ui().cancelVisible);
}

// An error of another kind than std::exception ends the thread as a failure
// too, not with the status of the step it came from.
TEST(SelfUpdateThreadsTest, AnErrorOfAnyKindEndsTheManualThreadAsFailed) {
    Updater updater;
    NativeApp& app = updater.app;
    const std::wstring url = updater.Publish(L"new.exe", L"u.exe");
    updater.Serve(L"UpdateConfig.xml", Utf8FromWide(L"<LauncherUrl>" + url + L"</LauncherUrl>"));
    app.startProcess = [](const ProcessLaunch&, unsigned long&) -> bool { throw 42; };
    app.startupWork = false;
    app.ForceSelfUpdate();
    app.updateThread.join();
    EXPECT_EQ(updater.LastInfo(), L"Manual self-update failed: Unknown error");
    EXPECT_EQ(updater.Ui().status + L"|" + updater.Ui().detail, L"Готов к работе|Не удалось обновить апдейтер.");
    EXPECT_FALSE(app.workerRunning || app.manualSelfUpdateRunning || updater.Ui().busy);
}

TEST(SelfUpdateThreadsTest, ButtonRefusalsAndTheJoinBeforeTheFirstStatus) {
    Updater updater;
    NativeApp& app = updater.app;
    app.ForceSelfUpdate();
    EXPECT_EQ(updater.Ui().status + L"|" + updater.Ui().detail,
              L"Подключение...|Дождитесь завершения проверки апдейтера.");
    EXPECT_FALSE(app.workerRunning);

    app.startupWork = false;
    app.workerRunning = true;
    app.SetUi(L"Скачивание", L"", 40);
    app.ForceSelfUpdate();
    EXPECT_EQ(updater.Ui().status + L"|" + updater.Ui().detail,
              L"Скачивание|Дождитесь завершения текущего обновления.");
    EXPECT_EQ(updater.Ui().percent, 40);
    EXPECT_FALSE(app.manualSelfUpdateRunning);

    // A finished run that is still storing its final status.
    app.workerRunning = false;
    app.updateThread = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        app.SetUi(L"Обновление завершено", L"", 100);
    });
    app.ForceSelfUpdate();
    app.updateThread.join();
    const Lines lines = updater.DebugLines(L"Set");
    const auto at = [&](const std::wstring& prefix) {
        return std::find_if(lines.begin(), lines.end(),
                            [&](const std::wstring& line) { return line.rfind(prefix, 0) == 0; });
    };
    EXPECT_LT(at(L"SetUi status=Обновление завершено"), at(L"SetBusy value=true"));
    EXPECT_LT(at(L"SetBusy value=true"), at(L"SetUi status=Проверка версии апдейтера"));
}

// The start-up thread lets nothing escape, and shows its final status before
// it frees startupWork.
TEST(SelfUpdateThreadsTest, StartupCheckStatusesAndWhatEscapes) {
    const struct {
        const char* what;
        bool serverDown;
        const wchar_t* lastInfo;
        Lines statuses;
    } cases[] = {
        {"server down", true, L"Server config failed, defaults used: HTTP request failed",
         {L"Подключение...", L"Проверка версии апдейтера", L"Готов к работе"}},
        {"the process start throws what is no std::exception", false, L"Startup thread failed: Unknown error",
         {L"Подключение...", L"Проверка версии апдейтера", L"Загрузка новой версии апдейтера", L"Готов к работе"}},
    };
    for (const auto& item : cases) {
        Updater updater;
        NativeApp& app = updater.app;
        const std::wstring url = updater.Publish(L"new.exe", L"u.exe");
        updater.Serve(L"UpdateConfig.xml",
                      Utf8FromWide(L"<LauncherVersion>4.0</LauncherVersion><LauncherUrl>" + url + L"</LauncherUrl>"),
                      item.serverDown ? "mode=drop_head" : "");
        app.startProcess = [](const ProcessLaunch&, unsigned long&) -> bool { throw 42; };
        app.serverConfig.launcherVersion = L"kept";
        std::wstring statusWhenFreed;
        std::thread watcher([&] {
            WaitFor([&] { return !app.startupWork; });
            statusWhenFreed = updater.Ui().status;
        });
        app.StartStartupCheck();
        app.startupThread.join();
        watcher.join();

        EXPECT_EQ(statusWhenFreed, L"Готов к работе") << item.what;
        EXPECT_EQ(updater.Ui().detail, L"") << item.what;
        EXPECT_EQ(updater.LastInfo(), item.lastInfo) << item.what;
        EXPECT_EQ(app.serverConfig.launcherVersion, item.serverDown ? L"" : L"4.0") << item.what;
        Lines statuses;
        for (const std::wstring& line : updater.DebugLines(L"SetUi status=")) {
            statuses.push_back(line.substr(13, line.find(L", detail=") - 13));
        }
        EXPECT_EQ(statuses, item.statuses) << item.what;
    }
}

// With the address space used up no thread stack can be reserved.
TEST(SelfUpdateThreadsTest, AThreadThatCannotStartPutsEverythingBack) {
    Updater updater;
    NativeApp& app = updater.app;
    app.startupWork = false;
    {
        AddressSpaceTaken taken;
        app.ForceSelfUpdate();
    }
    EXPECT_FALSE(app.updateThread.joinable());
    EXPECT_FALSE(app.workerRunning || app.startedUpdateMustFinish || app.manualSelfUpdateRunning);
    EXPECT_FALSE(updater.Ui().busy);
    EXPECT_EQ(updater.Ui().status, L"Ошибка обновления");
    EXPECT_FALSE(updater.Ui().detail.empty());
}

}  // namespace
}  // namespace updater
