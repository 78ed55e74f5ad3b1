#pragma once

#include <atomic>
#include <functional>
#include <string>

namespace updater {

struct Logger;

// The CRC-32 of a whole file (as in zip), read in 128 KiB blocks. Before every
// read it stops with "Canceled" when cancel is set and holds still while pause
// is set. progress gets (bytes so far, total) after every non-empty block and
// (total, total) once at the end; total is the file size, or 1 for an empty file.
// Debug lines go to logger (null: none) and name the file by label.
// Throws "Could not open file for CRC" or "Could not read file for CRC".
unsigned int ComputeCrc32(const std::wstring& path, const std::atomic<bool>& cancel, const std::atomic<bool>& pause,
                          const std::function<void(long long processed, long long total)>& progress, Logger* logger,
                          const std::wstring& label);

// Eight lowercase hexadecimal digits, zero-filled.
std::wstring Crc32Hex(unsigned int value);

// 64 lowercase hexadecimal digits of the file's SHA-256. Throws "Could not open
// file for SHA256", "Could not initialize SHA256", "Could not read file for SHA256"
// or "Could not finish SHA256".
std::wstring Sha256Hex(const std::wstring& path);

}  // namespace updater
