#include "update/self_update.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cwctype>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>

#include "foundation/files.h"
#include "foundation/hashing.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/http_test_support.h"
#include "tests/site_app.h"

namespace updater {
namespace {

const std::wstring kPackages = L"" SELF_UPDATE_PACKAGES;
const std::wstring kWork = L"temp\\launcher-update";
const std::wstring kScriptCommand = L"cmd.exe /d /s /c \"\"temp\\launcher-update\\replace-updater.cmd\"\"";

// An application without a window whose requests go to a site of its own and
// which records the process its self-update would start instead of starting it.
struct Updater {
    Updater() {
        app.exePath = env.folder / L"TavrineUpdater.exe";
        app.startProcess = [this](const ProcessLaunch& launch, unsigned long& error) {
            launches.push_back(launch);
            error = ERROR_ACCESS_DENIED;
            return startSucceeds;
        };
    }

    // Puts a package on the site as tavrine_updater/NAME with faults of the
    // test server's kind; its URL on root A.
    std::wstring Publish(const std::wstring& package, const std::wstring& name, const std::string& fault = "") {
        const std::wstring path = SiteFolder(site) + L"\\tavrine_updater\\" + name;
        WriteBinaryFile(path, ReadBinaryFile(JoinPath(kPackages, package)), false);
        if (!fault.empty()) WriteBinaryFile(path + L".fault", fault, false);
        return RootA() + L"tavrine_updater/" + name;
    }

    void ServeConfig(const std::wstring& xml) {
        WriteBinaryFile(SiteFolder(site) + L"\\tavrine_updater\\UpdateConfig.xml", Utf8FromWide(xml), false);
    }

    // The debug lines whose message starts with the prefix, in order.
    std::vector<std::wstring> DebugLines(const std::wstring& prefix) const {
        const std::wstring log = env.DebugLog();
        std::vector<std::wstring> lines;
        for (size_t at = log.find(L"] " + prefix); at != std::wstring::npos; at = log.find(L"] " + prefix, at + 2)) {
            lines.push_back(log.substr(at + 2, log.find(L"\r\n", at) - at - 2));
        }
        return lines;
    }

    std::wstring LastInfo() const {
        const auto lines = env.InfoLines();
        return lines.empty() ? L"" : lines.back();
    }

    UiState Ui() {
        std::lock_guard<std::mutex> lock(app.uiMutex);
        return app.ui;
    }

    std::wstring site = L"self-" + NewTestId();
    SiteApp env{site};
    NativeApp& app = env.app;
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
        bool offersUrl;
        bool force;
        const wchar_t* reason;
    } cases[] = {
        {L"3.0.32", true, false, L"current version is not older."},
        {L"3.0.31.9", true, false, L"current version is not older."},
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
                  std::vector<std::wstring>{L"CheckSelfUpdate skipped: " + std::wstring(item.reason)});
        EXPECT_TRUE(SiteRequests(updater.site).empty());
        EXPECT_EQ(updater.Ui().status, L"Готов к работе");
        EXPECT_TRUE(updater.launches.empty());
    }
}

struct DownloadCase {
    const char* what;
    const wchar_t* package;  // in the packages folder
    const wchar_t* name;     // on the site and in the work folder
    const char* fault;
    const wchar_t* version;  // offered; the call is forced when it is empty
    const wchar_t* sha256;   // "same": the package's own in capitals
    bool startSucceeds;
    const char* roots;        // the roots asked, in order
    const wchar_t* newExe;    // what the script moves in, in the work folder
    const wchar_t* failure;   // the reason logged, or empty when the script started
};

const DownloadCase kDownloads[] = {
    {"forced without a version, hash in capitals", L"new.exe", L"Up.exe", "", L"", L"same", true, "a", L"Up.exe", L""},
    {"zip member in a folder, other case", L"member.zip", L"p.zip", "", L"3.0.33", L"", true, "a",
     L"TavrineUpdater.download.exe", L""},
    {"first root fails, mirror serves", L"new.exe", L"u.exe", "status=500&faulthits=1", L"3.1", L"", true, "ab",
     L"u.exe", L""},
    {"hash mismatch on both roots", L"new.exe", L"u.exe", "", L"3.1", L"00ff", true, "ab", L"",
     L"Launcher SHA256 mismatch"},
    {"zip of text only", L"text.zip", L"t.zip", "", L"3.1", L"", true, "a", L"",
     L"Downloaded updater is not a Windows executable"},
    {"portal page", L"portal.html", L"u.exe", "", L"3.1", L"", true, "a", L"",
     L"Downloaded updater is not a Windows executable"},
    {"script cannot be started", L"new.exe", L"u.exe", "", L"3.1", L"", false, "a", L"u.exe",
     L"Could not start launcher replacement helper"},
};

TEST(SelfUpdateTest, DownloadVerifyAndStartTheScript) {
    for (const DownloadCase& item : kDownloads) {
        Updater updater;
        updater.startSucceeds = item.startSucceeds;
        ServerConfig config;
        config.launcherUrl = updater.Publish(item.package, item.name, item.fault);
        config.launcherVersion = item.version;
        config.launcherSha256 = item.sha256;
        if (config.launcherSha256 == L"same") {
            config.launcherSha256 = Sha256Hex(JoinPath(kPackages, item.package));
            for (wchar_t& c : config.launcherSha256) c = static_cast<wchar_t>(std::towupper(c));
        }
        const bool failed = *item.failure != L'\0';
        EXPECT_EQ(updater.app.CheckSelfUpdate(config, config.launcherVersion.empty()), !failed) << item.what;

        const std::wstring work = JoinPath(updater.app.appDir, kWork);
        const auto requests = SiteRequests(updater.site);
        std::string roots;
        for (const std::string& request : requests) roots += request.substr(0, 1);
        EXPECT_EQ(roots, item.roots) << item.what;
        // Only a package that failed its hash is deleted.
        EXPECT_EQ(FileSizeOf(JoinPath(work, item.name)) >= 0, std::wstring(item.failure) != L"Launcher SHA256 mismatch");
        if (requests.size() == 2) {
            const auto times = ServerRequests(updater.site);
            EXPECT_GE(std::stod(RequestField(times[1], "time")) - std::stod(RequestField(times[0], "time")), 0.9);
        }
        EXPECT_EQ(updater.DebugLines(L"SetUi status=Загрузка").at(0),
                  L"SetUi status=Загрузка новой версии апдейтера, detail=3.0.32 -> " +
                      (config.launcherVersion.empty() ? L"latest" : config.launcherVersion) + L", percent=0.000000")
            << item.what;
        if (*item.newExe != L'\0') {
            const std::wstring newExe = JoinPath(work, item.newExe);
            EXPECT_EQ(ReadBinaryFile(newExe), ReadBinaryFile(JoinPath(kPackages, L"new.exe"))) << item.what;
            EXPECT_EQ(ReadBinaryFile(JoinPath(work, L"replace-updater.cmd")),
                      ReplaceScriptText(GetCurrentProcessId(), updater.app.exePath, newExe));
            ASSERT_EQ(updater.launches.size(), 1u) << item.what;
            wchar_t system[MAX_PATH];
            const std::wstring cmd = std::wstring(system, GetSystemDirectoryW(system, MAX_PATH)) + L"\\cmd.exe";
            EXPECT_EQ(updater.launches[0].applicationName, cmd);
            EXPECT_EQ(updater.launches[0].commandLine, kScriptCommand);
            EXPECT_EQ(updater.launches[0].workingFolder, updater.app.appDir);
            EXPECT_EQ(updater.DebugLines(L"StartSelfReplace command="),
                      std::vector<std::wstring>{L"StartSelfReplace command=" + kScriptCommand});
        }
        if (failed) {
            EXPECT_EQ(updater.LastInfo(), L"Self-update failed: " + std::wstring(item.failure)) << item.what;
            EXPECT_EQ(updater.Ui().detail, L"Не удалось обновить апдейтер. Продолжаем текущую версию.");
            EXPECT_EQ(updater.Ui().status, L"Готов к работе");
        }
    }
}

TEST(SelfUpdateTest, WindowClosedDuringTheExtractionStartsNoScript) {
    Updater updater;
    ServerConfig config;
    config.launcherUrl = updater.Publish(L"slow.zip", L"slow.zip");
    config.launcherVersion = L"4.0";
    std::thread closer([&] {
        WaitFor([&] { return FileSizeOf(updater.app.appDir + L"\\" + kWork + L"\\TavrineUpdater.download.exe") >= 0; });
        updater.app.cancelUpdate = true;
    });
    EXPECT_FALSE(updater.app.CheckSelfUpdate(config, false));
    closer.join();
    EXPECT_TRUE(updater.DebugLines(L"CheckSelfUpdate attempt failed").empty());
    EXPECT_EQ(updater.LastInfo(), L"Self-update failed: Canceled");
    EXPECT_TRUE(updater.launches.empty());
    EXPECT_EQ(FileSizeOf(updater.app.appDir + L"\\" + kWork + L"\\replace-updater.cmd"), -1);
}

struct ManualCase {
    const char* what;
    bool servesConfig;
    bool offersPackage;
    bool cancelDuringDownload;
    const wchar_t* detail;  // empty: the replacement started
};

const ManualCase kManualEndings[] = {
    {"package offered", true, true, false, L""},
    {"no package offered", true, false, false, L"Самообновление недоступно."},
    {"configuration missing: the stored one stays", false, false, false, L"Самообновление недоступно."},
    {"canceled during the package download", true, true, true, L"Самообновление отменено."},
};

TEST(SelfUpdateThreadsTest, ManualSelfUpdateEndings) {
    for (const ManualCase& item : kManualEndings) {
        Updater updater;
        NativeApp& app = updater.app;
        const std::wstring url =
            updater.Publish(L"new.exe", L"u.exe", item.cancelDuringDownload ? "mode=trickle&step=4096&delay=50" : "");
        if (item.servesConfig) {
            updater.ServeConfig(item.offersPackage ? L"<LauncherUrl>" + url + L"</LauncherUrl>" : L"<ForumLink>f</ForumLink>");
        }
        app.serverConfig.launcherVersion = L"kept";
        app.startupWork = false;
        app.ForceSelfUpdate();
        // workerRunning is freed last: whoever sees it clear finds the rest cleared too.
        bool orderKept = true;
        std::atomic<bool> ended{false};
        std::thread watcher([&] {
            while (app.workerRunning && !ended) std::this_thread::yield();
            orderKept = ended || (!app.startedUpdateMustFinish && !app.manualSelfUpdateRunning && !updater.Ui().busy);
        });
        if (item.cancelDuringDownload) {
            WaitFor([&] { return updater.Ui().percent > 0; });
            app.cancelUpdate = true;
            app.http.AbortActiveRequests();
        }
        app.updateThread.join();
        ended = true;
        watcher.join();

        const bool launched = *item.detail == L'\0';
        EXPECT_EQ(updater.launches.size(), launched ? 1u : 0u) << item.what;
        EXPECT_TRUE(orderKept) << item.what;
        for (const auto* flag : {&app.workerRunning, &app.startedUpdateMustFinish, &app.manualSelfUpdateRunning}) {
            EXPECT_EQ(flag->load(), launched) << item.what;
        }
        EXPECT_EQ(updater.Ui().busy, launched) << item.what;
        if (!launched) {
            EXPECT_EQ(updater.Ui().detail, item.detail) << item.what;
        }
        EXPECT_EQ(app.serverConfig.launcherVersion == L"kept", !item.servesConfig) << item.what;
        EXPECT_EQ(updater.DebugLines(L"BEGIN CheckSelfUpdate").size(), item.servesConfig ? 1u : 0u) << item.what;
    }
}

TEST(SelfUpdateThreadsTest, ButtonRefusalsAndTheJoinBeforeTheFirstStatus) {
    Updater updater;
    NativeApp& app = updater.app;
    app.ForceSelfUpdate();
    EXPECT_EQ(updater.Ui().status, L"Подключение...");
    EXPECT_EQ(updater.Ui().detail, L"Дождитесь завершения проверки апдейтера.");
    EXPECT_FALSE(app.workerRunning);

    app.startupWork = false;
    app.workerRunning = true;
    app.SetUi(L"Скачивание", L"", 40);
    app.ForceSelfUpdate();
    EXPECT_EQ(updater.Ui().status, L"Скачивание");
    EXPECT_EQ(updater.Ui().detail, L"Дождитесь завершения текущего обновления.");
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
    const auto lines = updater.DebugLines(L"Set");
    const auto at = [&](const std::wstring& prefix) {
        return std::find_if(lines.begin(), lines.end(), [&](const std::wstring& line) { return line.rfind(prefix, 0) == 0; });
    };
    EXPECT_LT(at(L"SetUi status=Обновление завершено"), at(L"SetBusy value=true"));
    EXPECT_LT(at(L"SetBusy value=true"), at(L"SetUi status=Проверка версии апдейтера"));
}

TEST(SelfUpdateThreadsTest, StartupCheckStatusesAndWhatEscapes) {
    const struct {
        const char* what;
        bool serverDown;
        const wchar_t* lastInfo;
        std::vector<std::wstring> statuses;
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
        updater.ServeConfig(L"<LauncherVersion>4.0</LauncherVersion><LauncherUrl>" + url + L"</LauncherUrl>");
        if (item.serverDown) {
            WriteBinaryFile(SiteFolder(updater.site) + L"\\tavrine_updater\\UpdateConfig.xml.fault", "mode=drop_head", false);
        }
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
        std::vector<std::wstring> statuses;
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
