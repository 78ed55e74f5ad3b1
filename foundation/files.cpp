#include "foundation/files.h"

#include <cstdio>
#include <stdexcept>

#include <windows.h>
#include <shlwapi.h>

#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"

namespace updater {

namespace {

// A C runtime stream is closed with fclose.
struct CrtFileTraits {
    using Type = FILE*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type file) noexcept { fclose(file); }
};

std::wstring FailureText(const wchar_t* what, const std::wstring& path, DWORD code) {
    return std::wstring(what) + L" path=" + path + L", error=" + GetLastErrorText(code);
}

bool IsGoneError(DWORD code) {
    return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND;
}

bool SameObject(HANDLE first, HANDLE second) {
    BY_HANDLE_FILE_INFORMATION a{};
    BY_HANDLE_FILE_INFORMATION b{};
    return GetFileInformationByHandle(first, &a) && GetFileInformationByHandle(second, &b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

// The tag of the reparse point at the path; 0 when it cannot be read.
DWORD ReparseTagOf(const std::wstring& path) {
    const FileHandle point(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    FILE_ATTRIBUTE_TAG_INFO info{};
    if (!point || !GetFileInformationByHandleEx(point.get(), FileAttributeTagInfo, &info, sizeof(info))) {
        return 0;
    }
    return info.ReparseTag;
}

// A junction or folder link is deleted as a link, never entered. Where the
// system cannot open the link apart from its target, deleting it would reach
// the target, so the link is refused and left in place.
bool RemoveLink(const std::wstring& path, std::wstring& errorText) {
    const DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const FileHandle link(CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!link) {
        errorText = FailureText(L"remove link failed", path, GetLastError());
        return false;
    }
    const FileHandle target(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, share, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (target && SameObject(link.get(), target.get())) {
        errorText = L"refused link path=" + path;
        return false;
    }
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(link.get(), FileDispositionInfo, &disposition, sizeof(disposition))) {
        errorText = FailureText(L"remove link failed", path, GetLastError());
        return false;
    }
    return true;
}

bool DeleteOneFile(const std::wstring& path, std::wstring& errorText) {
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(path.c_str())) {
        return true;
    }
    errorText = FailureText(L"delete file failed", path, GetLastError());
    return false;
}

bool IsDangerousDirectory(const std::wstring& path) {
    std::wstring full = ReplaceAllText(FullPath(path), L"/", L"\\");
    while (full.size() > 1 && full.back() == L'\\') {
        full.pop_back();
    }
    return full.empty() || full == L"." || full.size() <= 2;
}

bool DeleteTree(const std::wstring& path, DWORD attributes, std::wstring& errorText) {
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return DeleteOneFile(path, errorText);
    }
    if (IsDangerousDirectory(path)) {
        errorText = L"refused dangerous directory path=" + path;
        return false;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && IsLinkReparseTag(ReparseTagOf(path))) {
        return RemoveLink(path, errorText);
    }

    WIN32_FIND_DATAW entry{};
    const FindHandle find(FindFirstFileW(JoinPath(path, L"*").c_str(), &entry));
    if (!find) {
        const DWORD code = GetLastError();
        if (!IsGoneError(code)) {
            errorText = FailureText(L"enumerate directory failed", path, code);
            return false;
        }
    } else {
        do {
            const std::wstring name = entry.cFileName;
            if (name == L"." || name == L"..") {
                continue;
            }
            if (!DeleteTree(JoinPath(path, name), entry.dwFileAttributes, errorText)) {
                return false;
            }
        } while (FindNextFileW(find.get(), &entry));
    }

    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!RemoveDirectoryW(path.c_str())) {
        errorText = FailureText(L"remove directory failed", path, GetLastError());
        return false;
    }
    return true;
}

}  // namespace

bool IsLinkReparseTag(unsigned long reparseTag) {
    return reparseTag == 0 || IsReparseTagNameSurrogate(reparseTag);
}

long long FileSizeOf(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
        return -1;
    }
    return (static_cast<long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

void DeleteFileQuiet(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        DeleteFileW(path.c_str());
    }
}

std::string ReadBinaryFile(const std::wstring& path) {
    const ScopedHandle<CrtFileTraits> file(_wfopen(path.c_str(), L"rb"));
    if (!file) {
        return {};
    }
    std::string result;
    std::string block(65536, '\0');
    for (;;) {
        const size_t read = fread(&block[0], 1, block.size(), file.get());
        result.append(block.data(), read);
        if (read < block.size()) {
            break;
        }
    }
    // A read error is not an end of file: half a file must not pass for the whole.
    if (ferror(file.get())) {
        return {};
    }
    return result;
}

void WriteBinaryFile(const std::wstring& path, const std::string& bytes, bool append) {
    CreateDirectoryRecursive(DirectoryName(path));
    FILE* file = _wfopen(path.c_str(), append ? L"ab" : L"wb");
    if (file == nullptr) {
        throw std::runtime_error("Could not open file for writing");
    }
    const size_t written = bytes.empty() ? 0 : fwrite(bytes.data(), 1, bytes.size(), file);
    const bool closed = fclose(file) == 0;
    if (written != bytes.size() || !closed) {
        throw std::runtime_error("Could not write file");
    }
}

void CreateDirectoryRecursive(const std::wstring& path) {
    if (path.empty() || PathFileExistsW(path.c_str())) {
        return;
    }
    const std::wstring copy = ReplaceAllText(path, L"/", L"\\");
    const size_t start = (copy.size() > 2 && copy[1] == L':') ? 3 : 0;
    for (size_t i = start; i <= copy.size(); ++i) {
        if (i < copy.size() && copy[i] != L'\\') {
            continue;
        }
        const std::wstring prefix = copy.substr(0, i);
        if (!prefix.empty() && !PathFileExistsW(prefix.c_str())) {
            CreateDirectoryW(prefix.c_str(), nullptr);
        }
    }
}

bool DeleteDirectoryRecursive(const std::wstring& path, std::wstring& errorText) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        if (IsGoneError(code)) {
            return true;
        }
        errorText = FailureText(L"read attributes failed", path, code);
        return false;
    }
    return DeleteTree(path, attributes, errorText);
}

}  // namespace updater
