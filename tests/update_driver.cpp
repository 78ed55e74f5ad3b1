// Runs one whole update with no window, for the crash test and the benchmarks:
//   update_driver.exe --client DIR --app DIR [--site NAME] [--check-only]
// NAME is an update site of the test server; --check-only times only the check.
#include <algorithm>
#include <chrono>
#include <cstdio>
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

using namespace updater;

void Print(const std::wstring& text) {
    std::fputs(Utf8FromWide(text + L"\n").c_str(), stdout);
}

std::wstring MillisecondsSince(std::chrono::steady_clock::time_point start) {
    return std::to_wstring(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
}

int CheckOnly(NativeApp& app) {
    UpdatePlan plan = app.BuildPlan();
    const unsigned cpus = std::thread::hardware_concurrency();
    const auto start = std::chrono::steady_clock::now();
    RunCheckPhase(app, plan);
    Print(L"check_ms=" + MillisecondsSince(start) + L"\nentries=" + std::to_wstring(plan.entries.size()) +
          L"\ndownloads=" + std::to_wstring(plan.downloads.size()) + L"\ncheck_degree=" +
          std::to_wstring(std::min<size_t>(WorkerDegreesFor(cpus).check, plan.entries.size())) + L"\ncpu=" +
          std::to_wstring(cpus));
    return 0;
}

int WholeRun(NativeApp& app) {
    const std::wstring logPath = JoinPath(JoinPath(app.appDir, L"logs"), L"updater.log");
    const size_t logStart = ReadBinaryFile(logPath).size();
    const auto start = std::chrono::steady_clock::now();
    if (!app.ClaimUpdateRun()) return 2;
    app.StartUpdateRun(false);
    app.updateThread.join();
    const std::string log = ReadBinaryFile(logPath);
    const auto linesWith = [&](const char* text) {
        int count = 0;
        for (size_t at = log.find(text, logStart); at != std::string::npos; at = log.find(text, at + 1)) ++count;
        return std::to_wstring(count);
    };
    Print(L"status=" + app.ui.status + L"\ndetail=" + app.ui.detail + L"\npercent=" + std::to_wstring(app.ui.percent) +
          L"\ndownloaded=" + linesWith("] Downloaded: ") + L"\nfailed=" + linesWith("] Download failed, skipped: ") +
          L"\nrun_ms=" + MillisecondsSince(start));
    return app.ui.status == L"Готов к работе" ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    NativeApp app;
    bool checkOnly = false, known = true;
    for (int i = 1; i < argc && known; ++i) {
        const std::wstring option = argv[i], value = i + 1 < argc ? argv[i + 1] : L"";
        if (option == L"--check-only") {
            checkOnly = true;
            continue;
        }
        ++i;
        if (option == L"--client") {
            app.clientPath = FullPath(value);
        } else if (option == L"--app") {
            app.appDir = FullPath(value);
        } else if (option == L"--site") {
            app.http.userAgent += L" site=" + value;
        } else {
            known = false;
        }
    }
    if (!known || app.clientPath.empty() || app.appDir.empty()) {
        Print(L"usage: update_driver --client DIR --app DIR [--site NAME] [--check-only]");
        return 64;
    }
    app.logger.directory = app.appDir;
    app.http.logger = &app.logger;
    app.startupWork = false;
    return checkOnly ? CheckOnly(app) : WholeRun(app);
}
