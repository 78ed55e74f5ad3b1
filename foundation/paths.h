#pragma once

#include <string>

namespace updater {

// Both "\" and "/" count as separators on input.

// The text before the last separator; "." when there is none.
std::wstring DirectoryName(const std::wstring& path);

// The text after the last separator; the whole path when there is none.
std::wstring FileNameOf(const std::wstring& path);

// base + "\" + relative, without a doubled separator; an empty side gives the other.
std::wstring JoinPath(const std::wstring& base, const std::wstring& relative);

// The absolute form of the path; the input unchanged when the system cannot make one.
std::wstring FullPath(const std::wstring& path);

// The trimmed text ending in "/" (empty stays empty).
std::wstring EnsureTrailingSlash(std::wstring text);

// Cleans a manifest path (prefix + path) into "a/b/c" form; returns "" when it
// climbs out with "..", names a drive or stream with ":", or is empty.
std::wstring NormalizeRelativePath(const std::wstring& prefix, const std::wstring& path);

// The full local path of a relative path below root; throws
// std::runtime_error("Unsafe manifest path") unless it lies inside root.
std::wstring SafeLocalPath(const std::wstring& root, const std::wstring& relativePath);

}  // namespace updater
