#include "foundation/paths.h"

#include <stdexcept>
#include <vector>

#include <windows.h>

#include "foundation/text.h"

namespace updater {

namespace {

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

size_t LastSeparator(const std::wstring& path) {
    return path.find_last_of(L"\\/");
}

// True when a segment of the path is made only of dots and blanks ("..", "...",
// ". ."): such a segment is one the system did not resolve, and a later file
// operation may still resolve it upwards, out of the root.
bool HoldsDotOnlySegment(const std::wstring& path) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find_first_of(L"\\/", start);
        if (end == std::wstring::npos) {
            end = path.size();
        }
        if (end > start && path.find_first_not_of(L". ", start) >= end) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// A colon anywhere but after the drive letter names a stream or a device.
bool HoldsStrayColon(const std::wstring& path) {
    const size_t colon = path.find(L':', 2);
    return colon != std::wstring::npos;
}

}  // namespace

std::wstring DirectoryName(const std::wstring& path) {
    const size_t separator = LastSeparator(path);
    return separator == std::wstring::npos ? L"." : path.substr(0, separator);
}

std::wstring FileNameOf(const std::wstring& path) {
    const size_t separator = LastSeparator(path);
    return separator == std::wstring::npos ? path : path.substr(separator + 1);
}

std::wstring JoinPath(const std::wstring& base, const std::wstring& relative) {
    if (base.empty()) {
        return relative;
    }
    if (relative.empty()) {
        return base;
    }
    if (IsSeparator(base.back())) {
        return base + relative;
    }
    return base + L"\\" + relative;
}

std::wstring FullPath(const std::wstring& path) {
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return path;
    }
    std::wstring buffer(needed, L'\0');
    const DWORD written = GetFullPathNameW(path.c_str(), needed, &buffer[0], nullptr);
    if (written == 0 || written >= needed) {
        return path;
    }
    buffer.resize(written);
    return buffer;
}

std::wstring EnsureTrailingSlash(std::wstring text) {
    text = Trim(text);
    if (!text.empty() && text.back() != L'/') {
        text += L'/';
    }
    return text;
}

std::wstring NormalizeRelativePath(const std::wstring& prefix, const std::wstring& path) {
    std::wstring working;
    if (!Trim(prefix).empty()) {
        working = prefix;
        if (!IsSeparator(working.back())) {
            working += L'/';
        }
    }
    working += path;
    working = ReplaceAllText(working, L"\\", L"/");

    std::vector<std::wstring> kept;
    size_t start = 0;
    while (start <= working.size()) {
        size_t end = working.find(L'/', start);
        if (end == std::wstring::npos) {
            end = working.size();
        }
        const std::wstring piece = Trim(working.substr(start, end - start));
        start = end + 1;
        if (piece.empty() || piece == L".") {
            continue;
        }
        // Windows strips a piece's trailing dots, so "a.txt." and "system." would
        // name the same file as another entry, and "..." the folder itself.
        if (piece.back() == L'.' || piece.find(L':') != std::wstring::npos) {
            return {};
        }
        kept.push_back(piece);
    }
    return JoinText(kept, L"/");
}

std::wstring SafeLocalPath(const std::wstring& root, const std::wstring& relativePath) {
    const std::wstring copy = ReplaceAllText(relativePath, L"/", L"\\");
    const std::wstring fullRoot = FullPath(root);
    const std::wstring candidate = FullPath(JoinPath(fullRoot, copy));
    const std::wstring prefix = (!fullRoot.empty() && fullRoot.back() == L'\\') ? fullRoot : fullRoot + L"\\";

    const bool inside = StartsWithIgnoringCase(candidate, prefix) || _wcsicmp(candidate.c_str(), fullRoot.c_str()) == 0;
    // A result that changes when resolved again was not fully resolved.
    if (!inside || HoldsDotOnlySegment(candidate) || HoldsStrayColon(candidate) || FullPath(candidate) != candidate) {
        throw std::runtime_error("Unsafe manifest path");
    }
    return candidate;
}

}  // namespace updater
