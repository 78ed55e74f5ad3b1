#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

namespace updater {

// What the zip reader hands back to the two file callbacks: a Win32 file handle
// and the caller's cancel flag (null: never cancels).
struct ZipHandleIo {
    void* handle = nullptr;
    const std::atomic<bool>* cancel = nullptr;
};

// Read and write at an absolute offset of ZipHandleIo's handle. They return the
// count transferred; 0 (or a short count) on failure or once the cancel flag is
// set, which makes the reader fail the step it is in.
size_t ZipReadCallback(void* opaque, std::uint64_t offset, void* buffer, size_t count);
size_t ZipWriteCallback(void* opaque, std::uint64_t offset, const void* buffer, size_t count);

// Writes one entry of the archive to the target, creating the target's folders and
// replacing an existing file: the first file entry whose base name equals the
// preferred name in any ASCII case, else the archive's first file entry.
// An entry whose declared uncompressed size exceeds a non-negative maximum is refused
// before the target is created. Throws std::runtime_error: "Canceled",
// "Could not open zip archive", "Could not read zip archive size",
// "Could not read zip archive", "Zip archive has no file", "Zip entry larger than expected",
// "Could not create extracted file", "Could not extract zip archive".
// A failed extraction leaves the partial target behind; removing it is the caller's job.
void ExtractFirstZipFile(const std::wstring& archivePath, const std::wstring& targetPath,
                         const std::wstring& preferredName, const std::atomic<bool>* cancel,
                         long long maxUncompressedSize = -1);

}  // namespace updater
