#include <thread>

#include "app/native_app.h"
#include "foundation/text.h"
#include "update/updater_version.h"

namespace updater {

void NativeApp::LogStartupEnvironment() {
    logger.Debug(L"Command line: " + launchOptions.commandLine);
    logger.Debug(L"Arguments: " +
                 (launchOptions.arguments.empty() ? std::wstring(L"(none)") : JoinText(launchOptions.arguments, L" | ")));
    unsigned cores = std::thread::hardware_concurrency();
    if (cores == 0) cores = 4;
    logger.Debug(std::wstring(L"AppVersion=") + kUpdaterVersion + L", exePath=" + exePath + L", appDir=" + appDir +
                 L", pointerBits=" + std::to_wstring(sizeof(void*) * 8) + L", cpuCores=" + std::to_wstring(cores));
    wchar_t folder[MAX_PATH];
    const DWORD length = GetCurrentDirectoryW(MAX_PATH, folder);
    if (length >= 1 && length < MAX_PATH) logger.Debug(L"CurrentDirectory=" + std::wstring(folder, length));
}

}  // namespace updater
