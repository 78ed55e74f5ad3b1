// Stands in for the game and for the web browser in the launcher's end-to-end
// tests. Every start appends two lines to record.txt beside itself: "cwd=" and
// the working folder, "args=" and the arguments after the program name,
// joined by " | ".
#include <string>
#include <vector>

#include <windows.h>

#include "foundation/files.h"
#include "foundation/paths.h"
#include "foundation/text.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::vector<wchar_t> buffer(32768);
    const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    const std::wstring record = updater::JoinPath(updater::DirectoryName(std::wstring(buffer.data(), length)),
                                                  L"record.txt");
    const DWORD folderLength = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    std::vector<std::wstring> arguments(__wargv + 1, __wargv + __argc);
    const std::wstring lines = L"cwd=" + std::wstring(buffer.data(), folderLength) + L"\r\nargs=" +
                               updater::JoinText(arguments, L" | ") + L"\r\n";
    updater::WriteBinaryFile(record, updater::Utf8FromWide(lines), true);
    return 0;
}
