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
        const wchar_t* commandLine;
        bool debug;
        std::vector<std::wstring> arguments;
    };
    const Case cases[] = {
        {L"u.exe", false, {}},
        {L"u.exe --debug", true, {L"--debug"}},
        {L"u.exe -debug", true, {L"-debug"}},
        {L"u.exe /debug", true, {L"/debug"}},
        {L"u.exe --debug-log", true, {L"--debug-log"}},
        {L"u.exe -debug-log", true, {L"-debug-log"}},
        {L"u.exe /debug-log", true, {L"/debug-log"}},
        {L"u.exe --verbose", true, {L"--verbose"}},
        {L"u.exe -verbose", true, {L"-verbose"}},
        {L"u.exe /verbose", true, {L"/verbose"}},
        {L"u.exe \"  /DEBUG-LOG  \"", true, {L"  /DEBUG-LOG  "}},
        {L"u.exe --Verbose", true, {L"--Verbose"}},
        {L"u.exe --debug /verbose --debug", true, {L"--debug", L"/verbose", L"--debug"}},
        {L"u.exe --debuglog debug -v --debug=1 //debug", false, {L"--debuglog", L"debug", L"-v", L"--debug=1", L"//debug"}},
        {L"u.exe a \"b c\" \"\"", false, {L"a", L"b c", L""}},
        {L"\"C:\\Games (old)\\u.exe\" --debug", true, {L"--debug"}},
    };
    for (const Case& item : cases) {
        SCOPED_TRACE(Utf8FromWide(item.commandLine));
        const LaunchOptions options = ParseLaunchOptions(item.commandLine);
        EXPECT_EQ(options.commandLine, item.commandLine);
        EXPECT_EQ(options.debug, item.debug);
        EXPECT_EQ(options.arguments, item.arguments);
    }
    const LaunchOptions none = ParseLaunchOptions(nullptr);
    EXPECT_FALSE(none.debug);
    EXPECT_TRUE(none.commandLine.empty());
    EXPECT_TRUE(none.arguments.empty());
}

// Builds one settings file and the object that reads it.
class SettingsTest : public ::testing::Test {
protected:
    SettingsTest() { PrepareApp(app, temp.path()); }

    std::string FileBytes() const { return ReadBinaryFile(app.SettingsPath()); }

    TempFolder temp;
    NativeApp app;
};

TEST_F(SettingsTest, MissingFileIsCreatedWithTheDefaults) {
    for (bool launchDebug : {false, true}) {
        DeleteFileW(app.SettingsPath().c_str());
        NativeApp fresh;
        PrepareApp(fresh, temp.path());
        fresh.launchOptions.debug = launchDebug;
        fresh.LoadSettings();
        EXPECT_EQ(FileBytes(), "{\"ClientPath\":\"" + Utf8FromWide(ReplaceAllText(temp.path(), L"\\", L"\\\\")) +
                                   "\",\"Language\":\"RU\",\"ClanPatchEnabled\":false,\"DebugLog\":" +
                                   (launchDebug ? "true" : "false") + "}");
        EXPECT_EQ(fresh.clientPath, temp.path());
    }
}

TEST_F(SettingsTest, RoundTripIsByteExact) {
    app.clientPath = L"D:\\Игры\\\"Tavrine\"\\client\t1";
    app.SetLanguage(L"EN");
    app.clanPatchEnabled = true;
    app.debugLog = true;
    app.SaveSettings();
    const std::string written = FileBytes();
    EXPECT_EQ(written, "{\"ClientPath\":\"D:\\\\\xD0\x98\xD0\xB3\xD1\x80\xD1\x8B\\\\\\\"Tavrine\\\"\\\\client\\t1\","
                       "\"Language\":\"EN\",\"ClanPatchEnabled\":true,\"DebugLog\":true}");
    EXPECT_EQ(GetFileAttributesW((app.SettingsPath() + L".tmp").c_str()), INVALID_FILE_ATTRIBUTES);

    NativeApp reloaded;
    PrepareApp(reloaded, temp.path());
    reloaded.LoadSettings();
    EXPECT_EQ(reloaded.clientPath, app.clientPath);
    EXPECT_EQ(reloaded.language, L"EN");
    EXPECT_TRUE(reloaded.clanPatchEnabled);
    EXPECT_TRUE(reloaded.debugLog);
    EXPECT_TRUE(reloaded.logger.debugEnabled.load());
    reloaded.SaveSettings();
    EXPECT_EQ(FileBytes(), written);
}

TEST_F(SettingsTest, ReadRules) {
    struct Case {
        std::string file;
        bool launchDebug;
        std::wstring clientPath;  // empty: the program folder
        std::wstring language;
        bool clanPatch;
        bool debugLog;
    };
    const Case cases[] = {
        {"{\"ClientPath\":\"C:\\\\G\",\"Language\":\"UA\",\"ClanPatchEnabled\":true,\"DebugLog\":false}", false,
         L"C:\\G", L"UK", true, false},
        {"{\"Language\":\"uk\"}", false, L"", L"UK", false, false},
        {"{\"Language\":\"en\"}", false, L"", L"EN", false, false},
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
        NativeApp loaded;
        PrepareApp(loaded, temp.path());
        loaded.launchOptions.debug = item.launchDebug;
        loaded.LoadSettings();
        EXPECT_EQ(loaded.clientPath, item.clientPath.empty() ? temp.path() : item.clientPath);
        EXPECT_EQ(loaded.language, item.language);
        EXPECT_EQ(loaded.clanPatchEnabled, item.clanPatch);
        EXPECT_EQ(loaded.debugLog, item.debugLog);
        EXPECT_EQ(loaded.logger.debugEnabled.load(), item.debugLog);
        EXPECT_EQ(FileBytes(), item.file) << "a file that reads is never rewritten by the load";
    }
}

// A file that exists but cannot be read keeps its content: a scanner may hold
// it for a moment, and the user's choices must survive that.
TEST_F(SettingsTest, UnreadableFileIsLeftAlone) {
    const std::string saved = "{\"ClientPath\":\"C:\\\\Keep\",\"Language\":\"EN\"}";
    WriteTestFile(app.SettingsPath(), saved);
    {
        FileHandle held(CreateFileW(app.SettingsPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        app.LoadSettings();
    }
    EXPECT_EQ(FileBytes(), saved);
    EXPECT_EQ(app.clientPath, temp.path());
    EXPECT_EQ(app.language, L"RU");
    EXPECT_EQ(LogMessages(temp / L"logs\\updater.log"),
              std::vector<std::wstring>{L"Settings file could not be read; defaults used: " + app.SettingsPath()});

    DeleteFileW(app.SettingsPath().c_str());
    ASSERT_TRUE(CreateDirectoryW(app.SettingsPath().c_str(), nullptr));
    app.LoadSettings();
    EXPECT_NE(GetFileAttributesW(app.SettingsPath().c_str()) & FILE_ATTRIBUTE_DIRECTORY, 0u);
}

// The old file stays whole whenever the new one cannot take its place.
TEST_F(SettingsTest, FailedSaveKeepsTheOldFile) {
    const std::string saved = "{\"ClientPath\":\"C:\\\\Keep\",\"Language\":\"EN\"}";
    WriteTestFile(app.SettingsPath(), saved);
    app.clientPath = L"C:\\New";
    {
        FileHandle held(CreateFileW(app.SettingsPath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(held);
        EXPECT_EQ(ErrorOf([&] { app.SaveSettings(); }), "Could not open file for writing");
    }
    EXPECT_EQ(FileBytes(), saved);
    EXPECT_EQ(GetFileAttributesW((app.SettingsPath() + L".tmp").c_str()), INVALID_FILE_ATTRIBUTES);

    ASSERT_TRUE(CreateDirectoryW((app.SettingsPath() + L".tmp").c_str(), nullptr));
    EXPECT_EQ(ErrorOf([&] { app.SaveSettings(); }), "Could not open file for writing");
    app.SaveSettingsOrLog();
    EXPECT_EQ(FileBytes(), saved);
    EXPECT_EQ(LogMessages(temp / L"logs\\updater.log"),
              std::vector<std::wstring>{L"Settings save failed: Could not open file for writing"});
}

TEST(StartupEnvironment, LinesWithAndWithoutDebug) {
    TempFolder temp;
    wchar_t current[MAX_PATH];
    GetCurrentDirectoryW(MAX_PATH, current);
    unsigned cores = std::thread::hardware_concurrency();
    const std::wstring coreText = std::to_wstring(cores == 0 ? 4 : cores);
    struct Case {
        LaunchOptions options;
        std::wstring argumentsLine;
    };
    const Case cases[] = {
        {{false, L"C:\\T\\u.exe", {}}, L"Arguments: (none)"},
        {{false, L"C:\\T\\u.exe a \"b c\"", {L"a", L"b c"}}, L"Arguments: a | b c"},
    };
    for (const Case& item : cases) {
        NativeApp app;
        PrepareApp(app, temp.path());
        app.launchOptions = item.options;
        app.exePath = L"C:\\T\\u.exe";
        app.appDir = L"C:\\T";
        app.LogStartupEnvironment();
        EXPECT_FALSE(FileExists(temp / L"logs\\updater-debug.log"));
        app.logger.debugEnabled.store(true);
        app.LogStartupEnvironment();
        EXPECT_EQ(LogMessages(temp / L"logs\\updater-debug.log"),
                  (std::vector<std::wstring>{L"Command line: " + item.options.commandLine, item.argumentsLine,
                                             L"AppVersion=3.0.32, exePath=C:\\T\\u.exe, appDir=C:\\T, pointerBits=32, "
                                             L"cpuCores=" + coreText,
                                             L"CurrentDirectory=" + std::wstring(current)}));
        EXPECT_FALSE(FileExists(temp / L"logs\\updater.log"));
        DeleteFileW((temp / L"logs\\updater-debug.log").c_str());
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
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = ThrowingProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"GuardedTestWindow";
    ASSERT_NE(RegisterClassExW(&windowClass), 0);
    HWND window = CreateWindowExW(0, L"GuardedTestWindow", L"Guarded", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, &logger);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0), 7);
    EXPECT_EQ(SendMessageW(window, WM_USER, 0, 0), 0);
    EXPECT_EQ(SendMessageW(window, WM_USER + 1, 0, 0), 42);
    DestroyWindow(window);
    EXPECT_EQ(LogMessages(temp / L"logs\\updater.log"),
              (std::vector<std::wstring>{L"Window message failed: message=14, error=Сбой disk full",
                                         L"Window message failed: message=1024, error=Unknown error"}));
}

}  // namespace
}  // namespace updater
