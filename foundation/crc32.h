#pragma once

#include <cstddef>
#include <cstdint>

namespace updater {

// The CRC-32 of zip archives: reflected polynomial 0xEDB88320, register started
// at all ones, result complemented. Crc32Update(0, data, n) is the CRC of the n
// bytes; handing a result back in continues it over the bytes that follow.
// Uses the fastest method the CPU supports.
std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size);

// The ways of computing it, slowest first. All give the same results.
enum class Crc32Method {
    Table,         // eight bytes per step through constant tables; every CPU
    Carryless128,  // PCLMULQDQ folding of 16-byte blocks; needs PCLMULQDQ and SSE4.1
    Carryless512,  // VPCLMULQDQ folding of 64-byte blocks; needs AVX-512F and VPCLMULQDQ
};

// Whether this CPU (and the system's saving of its registers) allows the method.
bool Crc32MethodSupported(Crc32Method method);

// Crc32Update by the given method, which must be supported.
std::uint32_t Crc32UpdateWith(Crc32Method method, std::uint32_t crc, const void* data, std::size_t size);

}  // namespace updater
