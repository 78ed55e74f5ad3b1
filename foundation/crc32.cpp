#include "foundation/crc32.h"

#include <cstring>

#include <cpuid.h>
#include <immintrin.h>

namespace updater {
namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

// entries[k][n] is the register change caused by byte n followed by k zero bytes,
// so eight bytes fold in one step. Built by the compiler: nothing to fill at run time.
struct Crc32Tables {
    std::uint32_t entries[8][256];
};

constexpr Crc32Tables MakeTables() {
    Crc32Tables tables{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit) {
            c = (c & 1u) != 0 ? (c >> 1) ^ kPolynomial : c >> 1;
        }
        tables.entries[0][n] = c;
    }
    for (int k = 1; k < 8; ++k) {
        for (std::uint32_t n = 0; n < 256; ++n) {
            const std::uint32_t previous = tables.entries[k - 1][n];
            tables.entries[k][n] = (previous >> 8) ^ tables.entries[0][previous & 0xFFu];
        }
    }
    return tables;
}

constexpr Crc32Tables kTables = MakeTables();

// x^n mod P, bit-reflected over 33 bits (bit 32 - d holds x^d). The carry-less
// product of a reflected 64-bit lane and such a constant, read as a reflected
// 128-bit value, is lane * (x^n mod P) * x^32.
constexpr std::uint64_t FoldConstant(unsigned n) {
    std::uint32_t r = 0x80000000u;
    for (unsigned i = 0; i < n; ++i) {
        r = (r & 1u) != 0 ? (r >> 1) ^ kPolynomial : r >> 1;
    }
    return static_cast<std::uint64_t>(r) << 1;
}

// Moving a 16-byte block forward by D bits multiplies it by x^D: its first eight
// bytes (the higher degrees, x^64 up) by x^(D+32) mod P, its last eight by
// x^(D-32) mod P; the product's own x^32 makes up the rest.
constexpr std::uint64_t kFold512Low = FoldConstant(512 + 32);
constexpr std::uint64_t kFold512High = FoldConstant(512 - 32);
constexpr std::uint64_t kFold2048Low = FoldConstant(2048 + 32);
constexpr std::uint64_t kFold2048High = FoldConstant(2048 - 32);
constexpr std::uint64_t kFold128Low = FoldConstant(128 + 32);
constexpr std::uint64_t kFold128High = FoldConstant(128 - 32);

inline std::uint32_t LoadLittle32(const unsigned char* p) {
    std::uint32_t value;
    std::memcpy(&value, p, sizeof value);
    return value;
}

// Works on the raw register (no complement at either end).
std::uint32_t TableRegister(std::uint32_t reg, const unsigned char* p, std::size_t size) {
    const auto& t = kTables.entries;
    while (size >= 8) {
        const std::uint32_t one = LoadLittle32(p) ^ reg;
        const std::uint32_t two = LoadLittle32(p + 4);
        reg = t[7][one & 0xFFu] ^ t[6][(one >> 8) & 0xFFu] ^ t[5][(one >> 16) & 0xFFu] ^ t[4][one >> 24] ^
              t[3][two & 0xFFu] ^ t[2][(two >> 8) & 0xFFu] ^ t[1][(two >> 16) & 0xFFu] ^ t[0][two >> 24];
        p += 8;
        size -= 8;
    }
    while (size > 0) {
        reg = t[0][(reg ^ *p) & 0xFFu] ^ (reg >> 8);
        ++p;
        --size;
    }
    return reg;
}

// Replaces a block by its product with the fold constants plus the next block:
// the same remainder modulo P at the next block's position.
__attribute__((target("pclmul,sse4.1"))) inline __m128i Fold(__m128i block, __m128i constants, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(block, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(block, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(low, high), next);
}

__attribute__((target("pclmul,sse4.1"))) inline __m128i Load128(const unsigned char* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Folds four 16-byte lanes 64 bytes at a time, folds them into one, then folds
// the remaining whole 16-byte blocks. What is left is a 16-byte value with the
// same remainder as everything consumed, followed by the last few bytes: the table
// way finishes both from a zero register.
__attribute__((target("pclmul,sse4.1"))) std::uint32_t Carryless128Register(std::uint32_t reg, const unsigned char* p,
                                                                            std::size_t size) {
    if (size < 64) {
        return TableRegister(reg, p, size);
    }
    __m128i lane0 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(static_cast<int>(reg)));
    __m128i lane1 = Load128(p + 16);
    __m128i lane2 = Load128(p + 32);
    __m128i lane3 = Load128(p + 48);
    p += 64;
    size -= 64;

    const __m128i fold512 = _mm_set_epi64x(static_cast<long long>(kFold512High), static_cast<long long>(kFold512Low));
    while (size >= 64) {
        lane0 = Fold(lane0, fold512, Load128(p));
        lane1 = Fold(lane1, fold512, Load128(p + 16));
        lane2 = Fold(lane2, fold512, Load128(p + 32));
        lane3 = Fold(lane3, fold512, Load128(p + 48));
        p += 64;
        size -= 64;
    }

    const __m128i fold128 = _mm_set_epi64x(static_cast<long long>(kFold128High), static_cast<long long>(kFold128Low));
    __m128i folded = Fold(lane0, fold128, lane1);
    folded = Fold(folded, fold128, lane2);
    folded = Fold(folded, fold128, lane3);
    while (size >= 16) {
        folded = Fold(folded, fold128, Load128(p));
        p += 16;
        size -= 16;
    }

    unsigned char rest[16];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(rest), folded);
    return TableRegister(TableRegister(0, rest, sizeof rest), p, size);
}

// Four 16-byte blocks per register; the three-way XOR is one ternary-logic step.
__attribute__((target("avx512f,vpclmulqdq"))) inline __m512i Fold(__m512i blocks, __m512i constants, __m512i next) {
    const __m512i low = _mm512_clmulepi64_epi128(blocks, constants, 0x00);
    const __m512i high = _mm512_clmulepi64_epi128(blocks, constants, 0x11);
    return _mm512_ternarylogic_epi64(low, high, next, 0x96);
}

// The same folding over four 64-byte lanes, 256 bytes at a time. The sixteen
// blocks left and the bytes after them are finished by the 16-byte way.
__attribute__((target("avx512f,vpclmulqdq"))) std::uint32_t Carryless512Register(std::uint32_t reg,
                                                                                 const unsigned char* p,
                                                                                 std::size_t size) {
    if (size < 256) {
        return Carryless128Register(reg, p, size);
    }
    const __m512i start = _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(reg)));
    __m512i lane0 = _mm512_xor_si512(_mm512_loadu_si512(p), start);
    __m512i lane1 = _mm512_loadu_si512(p + 64);
    __m512i lane2 = _mm512_loadu_si512(p + 128);
    __m512i lane3 = _mm512_loadu_si512(p + 192);
    p += 256;
    size -= 256;

    const long long high = static_cast<long long>(kFold2048High);
    const long long low = static_cast<long long>(kFold2048Low);
    const __m512i fold2048 = _mm512_set_epi64(high, low, high, low, high, low, high, low);
    while (size >= 256) {
        lane0 = Fold(lane0, fold2048, _mm512_loadu_si512(p));
        lane1 = Fold(lane1, fold2048, _mm512_loadu_si512(p + 64));
        lane2 = Fold(lane2, fold2048, _mm512_loadu_si512(p + 128));
        lane3 = Fold(lane3, fold2048, _mm512_loadu_si512(p + 192));
        p += 256;
        size -= 256;
    }

    unsigned char rest[256];
    _mm512_storeu_si512(rest, lane0);
    _mm512_storeu_si512(rest + 64, lane1);
    _mm512_storeu_si512(rest + 128, lane2);
    _mm512_storeu_si512(rest + 192, lane3);
    return Carryless128Register(Carryless128Register(0, rest, sizeof rest), p, size);
}

unsigned long long ReadXcr0() {
    unsigned int low = 0;
    unsigned int high = 0;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (static_cast<unsigned long long>(high) << 32) | low;
}

struct CpuSupport {
    bool carryless128 = false;
    bool carryless512 = false;
};

CpuSupport DetectCpu() {
    CpuSupport support;
    unsigned int eax = 0;
    unsigned int ebx = 0;
    unsigned int ecx = 0;
    unsigned int edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0) {
        return support;
    }
    support.carryless128 = (ecx & bit_PCLMUL) != 0 && (ecx & bit_SSE4_1) != 0;
    if (!support.carryless128 || (ecx & bit_OSXSAVE) == 0) {
        return support;
    }
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0) {
        return support;
    }
    // The system must also save the SSE, AVX and AVX-512 register state (XCR0 bits 1, 2, 5, 6, 7).
    constexpr unsigned long long kAvx512State = 0xE6;
    support.carryless512 = (ebx & bit_AVX512F) != 0 && (ecx & bit_VPCLMULQDQ) != 0 &&
                           (ReadXcr0() & kAvx512State) == kAvx512State;
    return support;
}

const CpuSupport& Cpu() {
    static const CpuSupport support = DetectCpu();
    return support;
}

Crc32Method BestMethod() {
    static const Crc32Method best = Cpu().carryless512   ? Crc32Method::Carryless512
                                    : Cpu().carryless128 ? Crc32Method::Carryless128
                                                         : Crc32Method::Table;
    return best;
}

}  // namespace

bool Crc32MethodSupported(Crc32Method method) {
    switch (method) {
    case Crc32Method::Table:
        return true;
    case Crc32Method::Carryless128:
        return Cpu().carryless128;
    case Crc32Method::Carryless512:
        return Cpu().carryless512;
    }
    return false;
}

std::uint32_t Crc32UpdateWith(Crc32Method method, std::uint32_t crc, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    switch (method) {
    case Crc32Method::Carryless512:
        return ~Carryless512Register(~crc, bytes, size);
    case Crc32Method::Carryless128:
        return ~Carryless128Register(~crc, bytes, size);
    case Crc32Method::Table:
        break;
    }
    return ~TableRegister(~crc, bytes, size);
}

std::uint32_t Crc32Update(std::uint32_t crc, const void* data, std::size_t size) {
    return Crc32UpdateWith(BestMethod(), crc, data, size);
}

}  // namespace updater
