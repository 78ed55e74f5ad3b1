#include "foundation/zip_extract.h"

#include <windows.h>

#include <cstring>
#include <stdexcept>
#include <wchar.h>

#include <miniz.h>

#include "foundation/cancellation.h"
#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"

namespace updater {

namespace {

bool IsCanceled(const ZipHandleIo& io) {
    return io.cancel != nullptr && io.cancel->load();
}

bool SeekTo(HANDLE handle, std::uint64_t offset) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) != FALSE;
}

// Owns the miniz reader state and ends the reader on every exit once it has been initialised.
class ZipReader {
public:
    ZipReader() { std::memset(&archive_, 0, sizeof(archive_)); }
    ~ZipReader() {
        if (open_) {
            mz_zip_reader_end(&archive_);
        }
    }
    ZipReader(const ZipReader&) = delete;
    ZipReader& operator=(const ZipReader&) = delete;

    bool Open(ZipHandleIo& io, std::uint64_t size) {
        archive_.m_pRead = ZipReadCallback;
        archive_.m_pIO_opaque = &io;
        open_ = mz_zip_reader_init(&archive_, size, 0) != MZ_FALSE;
        return open_;
    }

    void End() {
        mz_zip_reader_end(&archive_);
        open_ = false;
    }

    mz_zip_archive* get() { return &archive_; }

private:
    mz_zip_archive archive_;
    bool open_ = false;
};

}  // namespace

size_t ZipReadCallback(void* opaque, std::uint64_t offset, void* buffer, size_t count) {
    const ZipHandleIo& io = *static_cast<const ZipHandleIo*>(opaque);
    if (IsCanceled(io) || !SeekTo(io.handle, offset)) {
        return 0;
    }
    DWORD transferred = 0;
    if (!ReadFile(io.handle, buffer, static_cast<DWORD>(count), &transferred, nullptr)) {
        return 0;
    }
    return transferred;
}

size_t ZipWriteCallback(void* opaque, std::uint64_t offset, const void* buffer, size_t count) {
    const ZipHandleIo& io = *static_cast<const ZipHandleIo*>(opaque);
    if (IsCanceled(io) || !SeekTo(io.handle, offset)) {
        return 0;
    }
    DWORD transferred = 0;
    if (!WriteFile(io.handle, buffer, static_cast<DWORD>(count), &transferred, nullptr)) {
        return 0;
    }
    return transferred;
}

void ExtractFirstZipFile(const std::wstring& archivePath, const std::wstring& targetPath,
                         const std::wstring& preferredName, const std::atomic<bool>* cancel,
                         long long maxUncompressedSize) {
    if (cancel != nullptr) {
        ThrowIfCanceled(*cancel);
    }

    const FileHandle archiveFile(CreateFileW(archivePath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                             nullptr));
    if (!archiveFile) {
        throw std::runtime_error("Could not open zip archive");
    }
    LARGE_INTEGER archiveSize;
    if (!GetFileSizeEx(archiveFile.get(), &archiveSize)) {
        throw std::runtime_error("Could not read zip archive size");
    }

    ZipHandleIo archiveIo{archiveFile.get(), cancel};
    ZipReader reader;
    if (!reader.Open(archiveIo, static_cast<std::uint64_t>(archiveSize.QuadPart))) {
        throw std::runtime_error("Could not read zip archive");
    }

    bool chosen = false;
    mz_uint chosenIndex = 0;
    mz_uint64 chosenSize = 0;
    const mz_uint count = mz_zip_reader_get_num_files(reader.get());
    for (mz_uint index = 0; index < count; ++index) {
        if (cancel != nullptr) {
            ThrowIfCanceled(*cancel);
        }
        mz_zip_archive_file_stat stat;
        std::memset(&stat, 0, sizeof(stat));
        if (!mz_zip_reader_file_stat(reader.get(), index, &stat) ||
            mz_zip_reader_is_file_a_directory(reader.get(), index)) {
            continue;
        }
        if (!chosen) {
            chosen = true;
            chosenIndex = index;
            chosenSize = stat.m_uncomp_size;
        }
        if (preferredName.empty()) {
            continue;
        }
        // Entry names are taken as UTF-8 whatever the entry's flags say.
        const std::wstring baseName = FileNameOf(WideFromUtf8(stat.m_filename));
        if (_wcsicmp(baseName.c_str(), preferredName.c_str()) == 0) {
            chosenIndex = index;
            chosenSize = stat.m_uncomp_size;
            break;
        }
    }
    if (!chosen) {
        throw std::runtime_error("Zip archive has no file");
    }
    // The reader fails an entry whose data outgrows its declared size, so refusing a
    // declared size above the caller's maximum keeps a small archive from filling the disk.
    if (maxUncompressedSize >= 0 && chosenSize > static_cast<mz_uint64>(maxUncompressedSize)) {
        throw std::runtime_error("Zip entry larger than expected");
    }

    CreateDirectoryRecursive(DirectoryName(targetPath));
    const FileHandle targetFile(CreateFileW(targetPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!targetFile) {
        throw std::runtime_error("Could not create extracted file");
    }

    ZipHandleIo targetIo{targetFile.get(), cancel};
    const bool extracted = mz_zip_reader_extract_to_callback(reader.get(), chosenIndex,
                                                             ZipWriteCallback, &targetIo, 0) != MZ_FALSE;
    reader.End();
    if (!extracted) {
        if (cancel != nullptr && cancel->load()) {
            throw std::runtime_error("Canceled");
        }
        throw std::runtime_error("Could not extract zip archive");
    }
    // A cancel that came after the last write still ends the call, with the target complete.
    if (cancel != nullptr) {
        ThrowIfCanceled(*cancel);
    }
}

}  // namespace updater
