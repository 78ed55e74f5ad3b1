// Runs the real replacement script under the system's cmd in an installation
// folder whose name holds a blank, "(", "&" and "%", with small stand-in
// programs in place of the old and the new updater.
#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <windows.h>

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "tests/test_support.h"
#include "update/self_update.h"

namespace updater {
namespace {

bool WaitUntil(const std::function<bool()>& done, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

class Installation {
public:
    Installation()
        : appDir(temp / L"Games (old) & 100% done"),
          current(JoinPath(appDir, L"TavrineUpdater.exe")),
          next(JoinPath(appDir, L"temp\\launcher-update\\TavrineUpdater.download.exe")),
          script(JoinPath(appDir, kReplaceScriptRelativePath)),
          marker(JoinPath(appDir, L"started.txt")) {
        CreateDirectoryRecursive(DirectoryName(next));
        EXPECT_TRUE(CopyFileW(L"" STANDIN_OLD, current.c_str(), FALSE));
        EXPECT_TRUE(CopyFileW(L"" STANDIN_NEW, next.c_str(), FALSE));
    }

    // Starts the installed updater, which stays alive for the given time.
    KernelHandle RunCurrent(int milliseconds, unsigned long& pid) {
        std::wstring commandLine = L"\"" + current + L"\" --run-ms " + std::to_wstring(milliseconds);
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION process{};
        EXPECT_TRUE(CreateProcessW(current.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr,
                                   appDir.c_str(), &startup, &process));
        KernelHandle thread(process.hThread);
        pid = process.dwProcessId;
        return KernelHandle(process.hProcess);
    }

    void StartScript(unsigned long pid) {
        WriteBinaryFile(script, ReplaceScriptText(pid, current, next), false);
        unsigned long error = 0;
        ASSERT_TRUE(StartHiddenProcess(ReplaceScriptLaunch(appDir), error)) << error;
    }

    // Wine's cmd expands "%" once more inside the expansion of %~f0, so there
    // the script cannot delete itself from this folder; it goes once cmd lets go of it.
    ~Installation() {
        WaitUntil([&] { return DeleteFileW(script.c_str()) || FileSizeOf(script) < 0; }, std::chrono::seconds(10));
    }

    TempFolder temp;
    std::wstring appDir, current, next, script, marker;
};

TEST(ReplaceScriptRun, ReplacesTheUpdaterOnceItHasEndedAndStartsTheNewOne) {
    Installation site;
    unsigned long pid = 0;
    KernelHandle running = site.RunCurrent(3000, pid);

    site.StartScript(pid);
    ASSERT_TRUE(WaitUntil([&] { return FileSizeOf(site.marker) > 0; }, std::chrono::seconds(40)));
    EXPECT_EQ(WaitForSingleObject(running.get(), 0), WAIT_OBJECT_0) << "started before the old one ended";
    EXPECT_EQ(ReadBinaryFile(site.marker), "new\r\n");
    EXPECT_EQ(ReadBinaryFile(site.current), ReadBinaryFile(L"" STANDIN_NEW));
    EXPECT_EQ(FileSizeOf(site.next), -1);
}

// Slow by nature: the script gives up after about a minute of failed moves.
TEST(ReplaceScriptRun, KeepsAndRestartsTheOldUpdaterWhenTheMoveKeepsFailing) {
    Installation site;
    unsigned long pid = 0;
    KernelHandle holder = site.RunCurrent(180000, pid);

    site.StartScript(pid);
    const bool restarted = WaitUntil([&] { return FileSizeOf(site.marker) > 0; }, std::chrono::seconds(150));
    TerminateProcess(holder.get(), 0);
    WaitForSingleObject(holder.get(), 10000);
    ASSERT_TRUE(restarted);
    EXPECT_EQ(ReadBinaryFile(site.marker), "old\r\n");
    EXPECT_EQ(ReadBinaryFile(site.current), ReadBinaryFile(L"" STANDIN_OLD));
    EXPECT_EQ(ReadBinaryFile(site.next), ReadBinaryFile(L"" STANDIN_NEW));
}

}  // namespace
}  // namespace updater
