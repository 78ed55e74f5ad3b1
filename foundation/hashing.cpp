#include "foundation/hashing.h"

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include <windows.h>
#include <wincrypt.h>

#include "foundation/cancellation.h"
#include "foundation/crc32.h"
#include "foundation/handles.h"
#include "foundation/logger.h"

namespace updater {
namespace {

constexpr DWORD kBlockSize = 131072;
constexpr long long kLogStep = 33554432;

// Read-only, shared for reading only, with the sequential-scan hint.
FileHandle OpenForHashing(const std::wstring& path) {
    return FileHandle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
}

void DebugLine(Logger* logger, const std::wstring& message) {
    if (logger != nullptr) {
        logger->Debug(message);
    }
}

std::wstring HexDigits(const unsigned char* bytes, std::size_t count) {
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(count * 2);
    for (std::size_t i = 0; i < count; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace

unsigned int ComputeCrc32(const std::wstring& path, const std::atomic<bool>& cancel, const std::atomic<bool>& pause,
                          const std::function<void(long long processed, long long total)>& progress, Logger* logger,
                          const std::wstring& label) {
    DebugScope scope(logger, L"CRC32 " + (label.empty() ? path : label));

    const FileHandle file = OpenForHashing(path);
    if (!file) {
        throw std::runtime_error("Could not open file for CRC");
    }
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) {
        size.QuadPart = 0;
    }
    const long long total = size.QuadPart > 0 ? size.QuadPart : 1;
    DebugLine(logger, L"CRC32 start path=" + path + L", label=" + label + L", totalBytes=" + std::to_wstring(total));

    std::vector<unsigned char> buffer(kBlockSize);
    std::uint32_t crc = 0;
    long long processed = 0;
    long long nextLogMark = 0;
    for (;;) {
        PauseCheckpoint(cancel, pause);
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer.data(), kBlockSize, &read, nullptr)) {
            throw std::runtime_error("Could not read file for CRC");
        }
        if (read == 0) {
            break;
        }
        processed += read;
        crc = Crc32Update(crc, buffer.data(), read);
        // A line for the first block, then one per 32 MiB, and one at the block that reaches the size.
        if (processed >= std::min(nextLogMark, total)) {
            DebugLine(logger, L"CRC32 progress label=" + label + L", processed=" + std::to_wstring(processed) +
                                  L", total=" + std::to_wstring(total));
            nextLogMark = processed + kLogStep;
        }
        progress(processed, total);
    }
    progress(total, total);
    DebugLine(logger, L"CRC32 complete label=" + label + L", processed=" + std::to_wstring(processed) + L", hex=" +
                          Crc32Hex(crc));
    return crc;
}

std::wstring Crc32Hex(unsigned int value) {
    const unsigned char bytes[4] = {
        static_cast<unsigned char>(value >> 24), static_cast<unsigned char>(value >> 16),
        static_cast<unsigned char>(value >> 8), static_cast<unsigned char>(value)};
    return HexDigits(bytes, sizeof bytes);
}

std::wstring Sha256Hex(const std::wstring& path) {
    const FileHandle file = OpenForHashing(path);
    if (!file) {
        throw std::runtime_error("Could not open file for SHA256");
    }
    HCRYPTPROV acquired = 0;
    if (!CryptAcquireContextW(&acquired, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
        throw std::runtime_error("Could not initialize SHA256");
    }
    const CryptProviderHandle provider(acquired);
    HCRYPTHASH created = 0;
    if (!CryptCreateHash(provider.get(), CALG_SHA_256, 0, 0, &created)) {
        throw std::runtime_error("Could not initialize SHA256");
    }
    const CryptHashHandle hash(created);

    std::vector<unsigned char> buffer(kBlockSize);
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer.data(), kBlockSize, &read, nullptr)) {
            throw std::runtime_error("Could not read file for SHA256");
        }
        if (read == 0) {
            break;
        }
        // A digest over part of the file must never be returned.
        if (!CryptHashData(hash.get(), buffer.data(), read, 0)) {
            throw std::runtime_error("Could not read file for SHA256");
        }
    }

    unsigned char digest[32] = {};
    DWORD length = sizeof digest;
    if (!CryptGetHashParam(hash.get(), HP_HASHVAL, digest, &length, 0)) {
        throw std::runtime_error("Could not finish SHA256");
    }
    return HexDigits(digest, std::min<DWORD>(length, sizeof digest));
}

}  // namespace updater
