#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "app/launch_options.h"
#include "app/message_guard.h"
#include "app/native_app.h"
#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/text.h"
#include "tests/app_shell_support.h"
#include "tests/test_support.h"

namespace updater {
namespace {

TEST(LaunchOptions, DebugSwitchesAndLookAlikes) {
    struct Case {
        std::wstring commandLine;
        bool debug;
        std::vector<std::wstring> arguments;
    };
    std::vector<Case> cases = {
        {L"u.exe", false, {}},
        {L"u.exe \"  /DEBUG-LOG  \"", true, {L"  /DEBUG-LOG  "}},
        {L"u.exe --Verbose", true, {L"--Verbose"}},
        {L"u.exe --debuglog debug -v --debug=1 //debug", false, {L"--debuglog", L"debug", L"-v", L"--debug=1", L"//debug"}},
        {L"u.exe a \"b c\" \"\"", false, {L"a", L"b c", L""}},
        {L"\"C:\\Games (old)\\u.exe\" --debug", true, {L"--debug"}},
    };
    for (const wchar_t* prefix : {L"--", L"-", L"/"}) {
        for (const wchar_t* name : {L"debug", L"debug-log", L"verbose"}) {
            cases.push_back({L"u.exe " + std::wstring(prefix) + name, true, {std::wstring(prefix) + name}});
        }
    }
    for (const Case& item : cases) {
        SCOPED_TRACE(Utf8FromWide(item.commandLine));
        const LaunchOptions options = ParseLaunchOptions(item.commandLine.c_str());
        EXPECT_EQ(options.commandLine, item.commandLine);
        EXPECT_EQ(options.debug, item.debug);
        EXPECT_EQ(options.arguments, item.arguments);
    }
    const LaunchOptions none = ParseLaunchOptions(nullptr);
    EXPECT_FALSE(none.debug);
    EXPECT_TRUE(none.commandLine.empty() && none.arguments.empty());
}

class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() { PrepareApp(app, temp.path()); }

    std::string FileBytes() const { return ReadBinaryFile(app.SettingsPath()); }
    bool TempFileLeft() const {
        return GetFileAttributesW((app.SettingsPath() + L".tmp").c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    // Loads a fresh object from the folder's file.
    std::unique_ptr<NativeApp> Load(bool launchDebug = false) {
        auto loaded = std::make_unique<NativeApp>();
        PrepareApp(*loaded, temp.path());
        loaded->launchOptions.debug = launchDebug;
        loaded->LoadSettings();
        return loaded;
    }

    TempFolder temp;
    NativeApp app;
};

// A missing file is written with the defaults; a saved file reads back and
// saves again byte for byte, with no temp file left behind.
TEST_F(SettingsTest, DefaultsAndRoundTripAreByteExact) {
    for (bool launchDebug : {false, true}) {
        DeleteFileW(app.SettingsPath().c_str());
        EXPECT_EQ(Load(launchDebug)->clientPath, temp.path());
        EXPECT_EQ(FileBytes(), "{\"ClientPath\":\"" + Utf8FromWide(ReplaceAllText(temp.path(), L"\\", L"\\\\")) +
                                   "\",\"Language\":\"RU\",\"ClanPatchEnabled\":false,\"DebugLog\":" +
                                   (launchDebug ? "true" : "false") + "}");
    }
    app.clientPath = L"D:\\Игры\\\"Tavrine\"\\client\t1";
    app.SetLanguage(L"EN");
    app.clanPatchEnabled = app.debugLog = true;
    app.SaveSettings();
    const std::string written = FileBytes();
    EXPECT_EQ(written, "{\"ClientPath\":\"D:\\\\\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B\\\\\\\"Tavrine\\\"\\\\client\\t1\","
                       "\"Language\":\"EN\",\"ClanPatchEnabled\":true,\"DebugLog\":true}");
    EXPECT_FALSE(TempFileLeft());
    const auto reloaded = Load();
    EXPECT_EQ(reloaded->clientPath, app.clientPath);
    EXPECT_EQ(reloaded->language, L"EN");
    EXPECT_TRUE(reloaded->clanPatchEnabled && reloaded->debugLog && reloaded->logger.debugEnabled.load());
    reloaded->SaveSettings();
    EXPECT_EQ(FileBytes(), written);
}

TEST_F(SettingsTest, ReadRules) {
    struct Case {
        std::string file;
        bool launchDebug;
        std::wstring clientPath;  // empty: the program folder
        std::wstring language;
        bool clanPatch, debugLog;
    };
    const Case cases[] = {
        {"{\"ClientPath\":\"C:\\\\G\",\"Language\":\"UA\",\"ClanPatchEnabled\":true,\"DebugLog\":false}", false,
         L"C:\\G", L"UK", true, false},
        {"{\"Language\":\"uk\"}", false, L"", L"UK", false, false},
        {"{\"Language\":\"de\",\"ClientPath\":\"\"}", false, L"", L"RU", false, false},
        {"{\"DebugLog\":false}", true, L"", L"RU", false, true},
        {"{\"DebugLog\":true}", false, L"", L"RU", false, true},
        {"\xEF\xBB\xBF{ \"ClientPath\" : \"C:\\\\G\" ,\r\n \"Language\" :\t\"EN\",\n \"ClanPatchEnabled\": true,"
         "\n \"DebugLog\": false }\r\n",
         false, L"C:\\G", L"EN", true, false},
        {"not json at all", false, L"", L"RU", false, false},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(item.file);
        WriteTestFile(app.SettingsPath(), item.file);
        const auto loaded = Load(item.launchDebug);
        EXPECT_EQ(loaded->clientPath, item.clientPath.empty() ? temp.path() : item.clientPath);
        EXPECT_EQ(loaded->language, item.language);
        EXPECT_EQ(loaded->clanPatchEnabled, item.clanPatch);
        EXPECT_EQ(loaded->debugLog, item.debugLog);
        EXPECT_EQ(loaded->logger.debugEnabled.load(), item.debugLog);
        EXPECT_EQ(FileBytes(), item.file) << "a file that reads is never rewritten by the load";
    }
}

// A settings file that is held open (a scanner may hold it for a moment) or
// cannot be replaced keeps its content: loads use the defaults and saves fail
// before the old file is touched.
TEST_F(SettingsTest, HeldOrBlockedFileKeepsItsContent) {
    const std::string saved = "{\"ClientPath\":\"C:\\\\Keep\",\"Language\":\"EN\"}";
    WriteTestFile(app.SettingsPath(), saved);
    app.clientPath = L"C:\\New";
    {
        FileHandle held(CreateFileW(app.SettingsPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(ErrorOf([&] { app.SaveSettings(); }), "Could not open file for writing");
        EXPECT_FALSE(TempFileLeft());
        app.LoadSettings();
    }
    EXPECT_EQ(FileBytes(), saved);
    EXPECT_EQ(app.clientPath, temp.path());
    EXPECT_EQ(app.language, L"RU");

    ASSERT_TRUE(CreateDirectoryW((app.SettingsPath() + L".tmp").c_str(), nullptr));
    app.SaveSettingsOrLog();
    EXPECT_EQ(FileBytes(), saved);
    EXPECT_EQ(LogMessages(temp / L"logs\\updater.log"),
              (std::vector<std::wstring>{L"Settings file could not be read; defaults used: " + app.SettingsPath(),
                                         L"Settings save failed: Could not open file for writing"}));

    DeleteFileW(app.SettingsPath().c_str());
    ASSERT_TRUE(CreateDirectoryW(app.SettingsPath().c_str(), nullptr));
    app.LoadSettings();
    EXPECT_NE(GetFileAttributesW(app.SettingsPath().c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

// The lines go to the debug log only, and only while it is on.
TEST(StartupEnvironment, LinesWithAndWithoutArguments) {
    TempFolder temp;
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    const unsigned cores = std::thread::hardware_concurrency();
    const std::wstring debugLog = temp / L"logs\\updater-debug.log";
    const std::pair<LaunchOptions, std::wstring> cases[] = {
        {{false, L"C:\\T\\u.exe", {}}, L"Arguments: (none)"},
        {{false, L"C:\\T\\u.exe a \"b c\"", {L"a", L"b c"}}, L"Arguments: a | b c"},
    };
    for (const auto& [options, argumentsLine] : cases) {
        NativeApp app;
        PrepareApp(app, temp.path());
        app.launchOptions = options;
        app.exePath = L"C:\\T\\u.exe";
        app.appDir = L"C:\\T";
        app.LogStartupEnvironment();
        EXPECT_EQ(GetFileAttributesW(debugLog.c_str()), INVALID_FILE_ATTRIBUTES);
        app.logger.debugEnabled.store(true);
        app.LogStartupEnvironment();
        EXPECT_EQ(LogMessages(debugLog),
                  (std::vector<std::wstring>{L"Command line: " + options.commandLine, argumentsLine,
                                             L"AppVersion=3.0.32, exePath=C:\\T\\u.exe, appDir=C:\\T, pointerBits=32, "
                                             L"cpuCores=" + std::to_wstring(cores == 0 ? 4 : cores),
                                             L"CurrentDirectory=" + std::wstring(current)}));
        EXPECT_EQ(GetFileAttributesW((temp / L"logs\\updater.log").c_str()), INVALID_FILE_ATTRIBUTES);
        DeleteFileW(debugLog.c_str());
    }
}

LRESULT CALLBACK ThrowingProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    static Logger* logger = nullptr;
    if (message == WM_NCCREATE) {
        logger = static_cast<Logger*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    }
    if (message != WM_GETTEXTLENGTH && message != WM_USER && message != WM_USER + 1) {
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return GuardedMessage(*logger, hwnd, message, wParam, lParam, [&]() -> LRESULT {
        if (message == WM_GETTEXTLENGTH) throw std::runtime_error("\xD0\xA1\xD0\xB1\xD0\xBE\xD0\xB9 disk full");
        if (message == WM_USER) throw 7;
        return 42;
    });
}

// Exceptions cannot unwind through the system's dispatch frames; the boundary
// turns them into a log line and the message's default result.
TEST(WindowMessageBoundary, ThrowingHandlerGetsTheDefaultResult) {
    TempFolder temp;
    Logger logger;
    logger.directory = temp.path();
    HWND window = CreateMessageWindow(L"GuardedTestWindow", ThrowingProc, &logger);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0), 17);  // the title's length
    EXPECT_EQ(SendMessageW(window, WM_USER, 0, 0), 0);
    EXPECT_EQ(SendMessageW(window, WM_USER + 1, 0, 0), 42);
    DestroyWindow(window);
    EXPECT_EQ(LogMessages(temp / L"logs\\updater.log"),
              (std::vector<std::wstring>{L"Window message failed: message=14, error=Сбой disk full",
                                         L"Window message failed: message=1024, error=Unknown error"}));
}

}  // namespace
}  // namespace updater
