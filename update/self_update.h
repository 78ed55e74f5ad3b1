#pragma once

#include <string>
#include <vector>

namespace updater {

// A version text read as numbers, at least three of them: "3.0.32" gives 3, 0, 32.
struct ParsedVersion {
    std::vector<int> parts;
};

// -1 when current is older than remote, +1 when it is newer, 0 when they are
// equal; a part that one side lacks counts as 0.
int CompareVersions(const ParsedVersion& current, const ParsedVersion& remote);

// The package's file name in the work folder, taken from its URL: the last
// path segment without query or fragment, every character outside
// A-Z a-z 0-9 . _ - turned into "-". "TavrineUpdater.exe" when that leaves
// nothing, ends in a dot or names a device (CON, PRN, AUX, NUL, COM1-9, LPT1-9).
std::wstring SelfUpdatePackageName(const std::wstring& launcherUrl);

// True when the file starts with "MZ" and holds "PE" and two zero bytes at the
// offset stored at 0x3C: a Windows executable image.
bool IsWindowsExecutableImage(const std::wstring& path);

// The replacement script's UTF-8 bytes (no byte-order mark, CR LF after every
// line). It waits (at most about a minute) until the process id has left the
// task list, then moves newExe over currentExe, trying again every second for
// about a minute while the target is in use, starts currentExe (the new one,
// or the untouched old one when every move failed) and deletes itself.
std::string ReplaceScriptText(unsigned long pid, const std::wstring& currentExe, const std::wstring& newExe);

// The script's place below the updater's folder; it is started from there.
inline constexpr wchar_t kReplaceScriptRelativePath[] = L"temp\\launcher-update\\replace-updater.cmd";

// A process to start: the executable by full path, its command line and its
// working folder.
struct ProcessLaunch {
    std::wstring applicationName;
    std::wstring commandLine;
    std::wstring workingFolder;
};

// The system folder's cmd.exe running the replacement script by its path
// relative to appDir, which is the working folder. The command line quotes
// that path so that no folder name of the installation reaches cmd's parser.
// An appDir that begins with two backslashes (a network folder, which cmd
// cannot work in) gives the script's full path instead.
ProcessLaunch ReplaceScriptLaunch(const std::wstring& appDir);

// Starts the process with a hidden window and no console, inheriting no
// handles, and does not wait for it. False with the system's error code when
// it could not be started.
bool StartHiddenProcess(const ProcessLaunch& launch, unsigned long& error);

}  // namespace updater
