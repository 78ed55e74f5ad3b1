// Runs one whole update run with no window, for the crash test and the
// benchmarks: a client folder and a site in, the final status and counters out.
//
//   update_driver.exe --client DIR --app DIR [--site NAME] [--reset] [--debug] [--check-only]
//
// The site is the test server's update site of that name (its roots are the
// test roots this program is linked with). --check-only builds the plan and
// times only the check phase, by this program's own clock.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "app/native_app.h"
#include "foundation/files.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "update/check_workers.h"
#include "update/update_plan.h"
#include "update/update_run.h"

namespace {

using updater::NativeApp;

// Lines of the main log written since the given offset that contain the text.
int CountLogLines(const std::string& log, size_t from, const char* text) {
    int count = 0;
    for (size_t at = log.find(text, from); at != std::string::npos; at = log.find(text, at + 1)) {
        ++count;
    }
    return count;
}

void Print(const std::wstring& text) {
    std::fputs(updater::Utf8FromWide(text + L"\n").c_str(), stdout);
}

int CheckOnly(NativeApp& app) {
    updater::UpdatePlan plan = app.BuildPlan();
    const unsigned degree = std::min<unsigned>(
        updater::WorkerDegreesFor(std::thread::hardware_concurrency()).check, plan.entries.size());
    const auto start = std::chrono::steady_clock::now();
    updater::RunCheckPhase(app, plan);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    Print(L"check_ms=" + std::to_wstring(ms) + L"\nentries=" + std::to_wstring(plan.entries.size()) +
          L"\ndownloads=" + std::to_wstring(plan.downloads.size()) + L"\ncheck_degree=" + std::to_wstring(degree) +
          L"\ncpu=" + std::to_wstring(std::thread::hardware_concurrency()));
    return 0;
}

int WholeRun(NativeApp& app, bool reset) {
    const std::wstring logPath = updater::JoinPath(updater::JoinPath(app.appDir, L"logs"), L"updater.log");
    const size_t logStart = updater::ReadBinaryFile(logPath).size();
    const auto start = std::chrono::steady_clock::now();
    if (!app.ClaimUpdateRun()) {
        Print(L"status=refused");
        return 2;
    }
    app.StartUpdateRun(reset);
    app.updateThread.join();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    const std::string log = updater::ReadBinaryFile(logPath);
    Print(L"status=" + app.ui.status + L"\ndetail=" + app.ui.detail + L"\npercent=" +
          std::to_wstring(app.ui.percent) + L"\ndownloaded=" +
          std::to_wstring(CountLogLines(log, logStart, "] Downloaded: ")) + L"\nfailed=" +
          std::to_wstring(CountLogLines(log, logStart, "] Download failed, skipped: ")) + L"\nrun_ms=" +
          std::to_wstring(ms));
    return app.ui.status == L"Готов к работе" ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    NativeApp app;
    bool reset = false;
    bool checkOnly = false;
    for (int i = 1; i < argc; ++i) {
        const std::wstring option = argv[i];
        const std::wstring value = i + 1 < argc ? argv[i + 1] : L"";
        if (option == L"--client") {
            app.clientPath = updater::FullPath(value);
            ++i;
        } else if (option == L"--app") {
            app.appDir = updater::FullPath(value);
            ++i;
        } else if (option == L"--site") {
            app.http.userAgent += L" site=" + value;
            ++i;
        } else if (option == L"--reset") {
            reset = true;
        } else if (option == L"--debug") {
            app.logger.debugEnabled = true;
        } else if (option == L"--check-only") {
            checkOnly = true;
        } else {
            Print(L"unknown option " + option);
            return 64;
        }
    }
    if (app.clientPath.empty() || app.appDir.empty()) {
        Print(L"usage: update_driver --client DIR --app DIR [--site NAME] [--reset] [--debug] [--check-only]");
        return 64;
    }
    app.logger.directory = app.appDir;
    app.http.logger = &app.logger;
    app.startupWork = false;
    return checkOnly ? CheckOnly(app) : WholeRun(app, reset);
}
