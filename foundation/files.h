#pragma once

#include <string>
#include <utility>

namespace updater {

// The size in bytes, or -1 when the attributes cannot be read.
long long FileSizeOf(const std::wstring& path);

// Deletes the file when it exists and is not a folder; reports nothing.
void DeleteFileQuiet(const std::wstring& path);

// Deletes the file with DeleteFileQuiet when it goes away, unless release()
// has handed the file on: a temporary file that only a success may keep.
class FileDeletionGuard {
public:
    explicit FileDeletionGuard(std::wstring path) : path(std::move(path)) {}
    ~FileDeletionGuard() {
        if (!released) {
            DeleteFileQuiet(path);
        }
    }
    FileDeletionGuard(const FileDeletionGuard&) = delete;
    FileDeletionGuard& operator=(const FileDeletionGuard&) = delete;

    void release() noexcept { released = true; }

private:
    std::wstring path;
    bool released = false;
};

// The whole file; empty when it cannot be opened or a read fails.
std::string ReadBinaryFile(const std::wstring& path);

// Creates the missing parent folders, then replaces or appends to the file.
// Throws "Could not open file for writing" or "Could not write file".
void WriteBinaryFile(const std::wstring& path, const std::string& bytes, bool append);

// Creates every missing folder of the path; failures surface at the next file operation.
void CreateDirectoryRecursive(const std::wstring& path);

// Whether a folder reparse point with this tag is a link, deleted as such and never
// entered: name surrogates (symbolic links, junctions) are; deduplicated files and
// cloud placeholders are plain folders. An unread tag, 0, counts as a link: Wine
// reports host symbolic links so, and a tree is never entered through a point of
// unknown kind.
bool IsLinkReparseTag(unsigned long reparseTag);

// Deletes a file or a whole folder tree without following links out of it.
// True when the path is gone or never existed; false with errorText set otherwise.
bool DeleteDirectoryRecursive(const std::wstring& path, std::wstring& errorText);

}  // namespace updater
