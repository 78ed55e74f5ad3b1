// A stand-in for the updater in the replacement script's tests. With
// "--run-ms N" it stays alive N milliseconds, as the running updater does
// while the script waits; started without arguments, as the script starts the
// updater, it appends its flavour ("old" or "new") and a line end to
// started.txt beside itself.
#include <cstdlib>
#include <string>
#include <vector>

#include <windows.h>

#include "foundation/files.h"
#include "foundation/paths.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    if (__argc == 3 && std::wstring(__wargv[1]) == L"--run-ms") {
        Sleep(static_cast<DWORD>(_wtoi(__wargv[2])));
        return 0;
    }
    std::vector<wchar_t> path(32768);
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    const std::wstring marker = updater::JoinPath(updater::DirectoryName(std::wstring(path.data(), length)), L"started.txt");
    updater::WriteBinaryFile(marker, STANDIN_FLAVOR "\r\n", true);
    return 0;
}
