#include <stdexcept>
#include <vector>

#include <windows.h>

#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "update/self_update.h"

namespace updater {

namespace {

std::wstring Quoted(const std::wstring& path) {
    // cmd expands "%" even between quotes; in a script "%%" stands for one "%".
    return L"\"" + ReplaceAllText(path, L"%", L"%%") + L"\"";
}

std::wstring SystemFolder() {
    std::vector<wchar_t> buffer(MAX_PATH);
    UINT length = GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
    if (length >= buffer.size()) {
        buffer.resize(length + 1);
        length = GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
    }
    if (length == 0 || length >= buffer.size()) throw std::runtime_error("Could not find the system folder");
    return std::wstring(buffer.data(), length);
}

}  // namespace

std::string ReplaceScriptText(unsigned long pid, const std::wstring& currentExe, const std::wstring& newExe) {
    const std::wstring current = Quoted(currentExe);
    const std::wstring next = Quoted(newExe);
    // A reused process id must not keep the script waiting for ever, and a
    // file still in use must never cost the player the old updater: the old
    // one is only ever replaced by the move, never deleted first.
    const std::vector<std::wstring> lines = {
        L"@echo off",
        L"chcp 65001 >nul",
        L"set PID=" + std::to_wstring(pid),
        L"set WAITS=0",
        L":wait",
        L"tasklist /FI \"PID eq %PID%\" | find \"%PID%\" >nul",
        L"if errorlevel 1 goto replace",
        L"set /a WAITS+=1",
        L"if %WAITS% geq 60 goto replace",
        L"ping -n 2 127.0.0.1 >nul",
        L"goto wait",
        L":replace",
        L"set MOVES=0",
        L":move",
        L"move /y " + next + L" " + current + L" >nul 2>nul",
        L"if not exist " + next + L" goto start",
        L"set /a MOVES+=1",
        L"if %MOVES% geq 60 goto start",
        L"ping -n 2 127.0.0.1 >nul",
        L"goto move",
        L":start",
        L"start \"\" " + current,
        L"del /f /q \"%~f0\" >nul 2>nul",
    };
    std::wstring text;
    for (const std::wstring& line : lines) text += line + L"\r\n";
    return Utf8FromWide(text);
}

ProcessLaunch ReplaceScriptLaunch(const std::wstring& appDir) {
    // The full path of cmd.exe keeps a cmd.exe in the updater's folder from
    // being run; the relative script path keeps "&", "(", "%" and the like of
    // the installation folder away from cmd's parser. cmd refuses a network
    // folder (\\server\share) as its working folder and works in the Windows
    // folder instead, where the relative path finds nothing: there the script
    // goes by its full path.
    const std::wstring script = appDir.rfind(L"\\\\", 0) == 0 ? JoinPath(appDir, kReplaceScriptRelativePath)
                                                                : std::wstring(kReplaceScriptRelativePath);
    return {JoinPath(SystemFolder(), L"cmd.exe"), L"cmd.exe /d /s /c \"\"" + script + L"\"\"", appDir};
}

bool StartHiddenProcess(const ProcessLaunch& launch, unsigned long& error) {
    std::vector<wchar_t> commandLine(launch.commandLine.begin(), launch.commandLine.end());
    commandLine.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(launch.applicationName.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                        CREATE_NO_WINDOW, nullptr, launch.workingFolder.c_str(), &startup, &process)) {
        error = GetLastError();
        return false;
    }
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    return true;
}

}  // namespace updater
