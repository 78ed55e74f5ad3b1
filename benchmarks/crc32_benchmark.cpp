// Times ComputeCrc32 over one file and prints "crc32 MB/s=<n> crc=<hex>" (MB = 10^6 bytes).
// Usage: crc32_benchmark PATH

#include <atomic>
#include <chrono>
#include <cstdio>
#include <exception>
#include <string>

#include "foundation/hashing.h"
#include "foundation/text.h"

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: crc32_benchmark PATH\n");
        return 2;
    }
    const std::wstring path = argv[1];
    const std::atomic<bool> cancel{false};
    const std::atomic<bool> pause{false};
    long long bytes = 0;
    try {
        const auto start = std::chrono::steady_clock::now();
        const unsigned int crc = updater::ComputeCrc32(
            path, cancel, pause, [&bytes](long long processed, long long) { bytes = processed; }, nullptr, L"");
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::printf("crc32 MB/s=%.0f crc=%s\n", bytes / 1e6 / seconds,
                    updater::Utf8FromWide(updater::Crc32Hex(crc)).c_str());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "crc32_benchmark: %s\n", error.what());
        return 1;
    }
    return 0;
}
