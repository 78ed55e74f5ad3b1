#include "foundation/hashing.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "foundation/crc32.h"
#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/logger.h"
#include "foundation/text.h"
#include "tests/test_support.h"

namespace updater {
namespace {

using Calls = std::vector<std::pair<long long, long long>>;
constexpr long long kBlock = 131072;

// One bit at a time, straight from the definition.
std::uint32_t BitwiseCrc(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::uint32_t reg = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) {
        reg ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 1u) != 0 ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
        }
    }
    return ~reg;
}

std::uint32_t BitwiseCrc(const std::string& bytes) {
    return BitwiseCrc(bytes.data(), bytes.size());
}

std::vector<Crc32Method> SupportedMethods() {
    std::vector<Crc32Method> methods;
    for (Crc32Method method : {Crc32Method::Table, Crc32Method::Carryless128, Crc32Method::Carryless512}) {
        if (Crc32MethodSupported(method)) {
            methods.push_back(method);
        } else {
            std::printf("note: CRC-32 method %d is not supported by this CPU and is not tested\n",
                        static_cast<int>(method));
        }
    }
    return methods;
}


// The progress calls a file of this size gets: one per block, then (total, total).
Calls ExpectedCalls(long long size) {
    const long long total = size > 0 ? size : 1;
    Calls calls;
    for (long long done = 0; done < size;) {
        done = std::min(done + kBlock, size);
        calls.emplace_back(done, total);
    }
    calls.emplace_back(total, total);
    return calls;
}

unsigned int Crc32Of(const std::wstring& path, Calls* calls = nullptr, Logger* logger = nullptr,
                     const std::wstring& label = L"") {
    const std::atomic<bool> cancel{false};
    const std::atomic<bool> pause{false};
    return ComputeCrc32(
        path, cancel, pause,
        [calls](long long processed, long long total) {
            if (calls != nullptr) {
                calls->emplace_back(processed, total);
            }
        },
        logger, label);
}

// Holds the file open without sharing anything, as another process might.
FileHandle HoldExclusively(const std::wstring& path) {
    return FileHandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool WaitFor(const std::atomic<bool>& condition, int seconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition.load() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition.load();
}

// The messages of the DEBUG lines of the file, in order; other lines come back whole.
std::vector<std::string> DebugMessages(const std::wstring& logFile) {
    const std::string text = ReadBinaryFile(logFile);
    const std::string marker = "][DEBUG] ";
    std::vector<std::string> messages;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        const std::size_t at = line.find(marker);
        messages.push_back(at == std::string::npos ? line : line.substr(at + marker.size()));
        start = end + 2;
    }
    return messages;
}

// "END <name> elapsedMs=<digits>"
void ExpectEndLine(const std::string& message, const std::string& name) {
    const std::string prefix = "END " + name + " elapsedMs=";
    ASSERT_EQ(message.substr(0, prefix.size()), prefix);
    const std::string digits = message.substr(prefix.size());
    EXPECT_FALSE(digits.empty());
    EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << message;
}

TEST(Crc32Core, CheckValueAndEmptyInputByEveryMethod) {
    const std::string digits = "123456789";
    EXPECT_EQ(Crc32Update(0, digits.data(), digits.size()), 0xCBF43926u);
    for (Crc32Method method : SupportedMethods()) {
        SCOPED_TRACE(static_cast<int>(method));
        EXPECT_EQ(Crc32UpdateWith(method, 0, digits.data(), digits.size()), 0xCBF43926u);
        EXPECT_EQ(Crc32UpdateWith(method, 0, nullptr, 0), 0u);
        EXPECT_EQ(Crc32UpdateWith(method, 0xCBF43926u, nullptr, 0), 0xCBF43926u);
    }
}

TEST(Crc32Core, EveryMethodWholeOrContinuedMatchesTheBitwiseReferenceAtAnyLengthAndAlignment) {
    const std::string bytes = PatternBytes(70000 + 16, 3);
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length <= 300; ++length) {
        lengths.push_back(length);
    }
    for (std::size_t length : {511u, 512u, 513u, 1041u, 4351u, 65543u, 70000u}) {
        lengths.push_back(length);
    }
    const std::vector<Crc32Method> methods = SupportedMethods();
    int mismatches = 0;
    for (std::size_t offset = 0; offset < 16; ++offset) {
        for (std::size_t length : lengths) {
            const char* data = bytes.data() + offset;
            const std::uint32_t expected = BitwiseCrc(data, length);
            for (Crc32Method method : methods) {
                const std::size_t split = length / 3;
                const std::uint32_t whole = Crc32UpdateWith(method, 0, data, length);
                const std::uint32_t continued =
                    Crc32UpdateWith(method, Crc32UpdateWith(method, 0, data, split), data + split, length - split);
                if ((whole != expected || continued != expected) && ++mismatches <= 10) {
                    ADD_FAILURE() << "method " << static_cast<int>(method) << " offset " << offset << " length "
                                  << length;
                }
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(Crc32Hex, EightLowercaseZeroFilledDigits) {
    EXPECT_EQ(Crc32Hex(0), L"00000000");
    EXPECT_EQ(Crc32Hex(0xF), L"0000000f");
    EXPECT_EQ(Crc32Hex(0xABCD), L"0000abcd");
    EXPECT_EQ(Crc32Hex(0xCBF43926u), L"cbf43926");
    EXPECT_EQ(Crc32Hex(0xFFFFFFFFu), L"ffffffff");
}

TEST(ComputeCrc32, FilesAroundTheBlockSizeGiveTheReferenceAndOneProgressCallPerBlock) {
    TempFolder temp;
    const std::wstring digits = temp / L"digits.txt";
    WriteTestFile(digits, "123456789");
    Calls calls;
    EXPECT_EQ(Crc32Hex(Crc32Of(digits, &calls)), L"cbf43926");
    EXPECT_EQ(calls, (Calls{{9, 9}, {9, 9}}));

    for (long long size : {kBlock - 1, kBlock, kBlock + 1, 3 * kBlock + 5}) {
        SCOPED_TRACE(size);
        const std::wstring path = temp / (L"data-" + std::to_wstring(size) + L".bin");
        const std::string bytes = PatternBytes(static_cast<std::size_t>(size), static_cast<unsigned>(size));
        WriteTestFile(path, bytes);
        calls.clear();
        EXPECT_EQ(Crc32Of(path, &calls), BitwiseCrc(bytes));
        EXPECT_EQ(calls, ExpectedCalls(size));
    }
}

TEST(ComputeCrc32, EmptyFileGivesZeroAndOneProgressCallOfOneOne) {
    TempFolder temp;
    const std::wstring path = temp / L"empty.bin";
    WriteTestFile(path, "");
    Calls calls;
    EXPECT_EQ(Crc32Of(path, &calls), 0u);
    EXPECT_EQ(calls, (Calls{{1, 1}}));
}

TEST(ComputeCrc32, EightThreadsAtOnceEachGetTheirOwnFilesCrc) {
    TempFolder temp;
    constexpr int kThreads = 8;
    std::vector<std::wstring> paths;
    std::vector<std::uint32_t> expected;
    for (int i = 0; i < kThreads; ++i) {
        const std::string bytes = PatternBytes(300000 + static_cast<std::size_t>(i) * 70001, 100 + i);
        paths.push_back(temp / (L"file" + std::to_wstring(i) + L".bin"));
        WriteTestFile(paths.back(), bytes);
        expected.push_back(BitwiseCrc(bytes));
    }
    std::atomic<bool> go{false};
    std::vector<std::uint32_t> results(kThreads);
    std::vector<std::string> errors(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            errors[i] = ErrorOf([&] {
                for (int round = 0; round < 3; ++round) {
                    results[i] = Crc32Of(paths[i]);
                    if (results[i] != expected[i]) {
                        return;
                    }
                }
            });
        });
    }
    go = true;
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int i = 0; i < kThreads; ++i) {
        EXPECT_EQ(errors[i], "") << i;
        EXPECT_EQ(results[i], expected[i]) << i;
    }
}

TEST(ComputeCrc32, CancelBeforeStartAndProgressErrorsEndTheCallAndReleaseTheFile) {
    TempFolder temp;
    const std::wstring path = temp / L"data.bin";
    std::atomic<bool> cancel{true};
    const std::atomic<bool> pause{false};
    int calls = 0;
    WriteTestFile(path, PatternBytes(3 * kBlock));
    EXPECT_EQ(ErrorOf([&] { ComputeCrc32(path, cancel, pause, [&](long long, long long) { ++calls; }, nullptr, L""); }),
              "Canceled");
    EXPECT_EQ(calls, 0);
    EXPECT_TRUE(DeleteFileW(path.c_str())) << "the file is still open";

    cancel = false;
    WriteTestFile(path, PatternBytes(3 * kBlock));
    const auto stop = [](long long, long long) { throw std::runtime_error("stop here"); };
    EXPECT_EQ(ErrorOf([&] { ComputeCrc32(path, cancel, pause, stop, nullptr, L""); }), "stop here");
    EXPECT_TRUE(DeleteFileW(path.c_str())) << "the file is still open";
}

TEST(ComputeCrc32, PauseHoldsBetweenBlocksThenReadingGoesOnWhereItStopped) {
    TempFolder temp;
    const std::wstring path = temp / L"data.bin";
    const std::string bytes = PatternBytes(3 * kBlock + 5, 9);
    WriteTestFile(path, bytes);
    const std::atomic<bool> cancel{false};
    std::atomic<bool> pause{false};
    std::atomic<int> callCount{0};
    std::atomic<bool> paused{false};
    std::atomic<bool> done{false};
    Calls calls;
    unsigned int result = 0;
    std::thread worker([&] {
        result = ComputeCrc32(
            path, cancel, pause,
            [&](long long processed, long long total) {
                calls.emplace_back(processed, total);
                ++callCount;
                if (processed == kBlock) {
                    pause = true;
                    paused = true;
                }
            },
            nullptr, L"");
        done = true;
    });
    ASSERT_TRUE(WaitFor(paused, 10));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(callCount.load(), 1);
    EXPECT_FALSE(done.load());
    pause = false;
    EXPECT_TRUE(WaitFor(done, 10));
    worker.join();
    EXPECT_EQ(result, BitwiseCrc(bytes));
    EXPECT_EQ(calls, ExpectedCalls(3 * kBlock + 5));
}

TEST(ComputeCrc32, CancelDuringPauseEndsWithCanceled) {
    TempFolder temp;
    const std::wstring path = temp / L"data.bin";
    WriteTestFile(path, PatternBytes(2 * kBlock));
    std::atomic<bool> cancel{false};
    const std::atomic<bool> pause{true};
    std::atomic<int> callCount{0};
    std::atomic<bool> done{false};
    std::string error;
    std::thread worker([&] {
        const auto count = [&](long long, long long) { ++callCount; };
        error = ErrorOf([&] { ComputeCrc32(path, cancel, pause, count, nullptr, L""); });
        done = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(done.load()) << "a paused hash must hold still";
    cancel = true;
    EXPECT_TRUE(WaitFor(done, 10));
    worker.join();
    EXPECT_EQ(error, "Canceled");
    EXPECT_EQ(callCount.load(), 0);
}

TEST(HashOpenFailures, MissingFileDirectoryAndLockedFileGiveTheExactMessages) {
    TempFolder temp;
    const std::wstring locked = temp / L"locked.bin";
    WriteTestFile(locked, "abc");
    const FileHandle holder = HoldExclusively(locked);
    ASSERT_TRUE(holder);
    for (const std::wstring& path : {temp / L"missing.bin", temp.path(), locked}) {
        SCOPED_TRACE(Utf8FromWide(path));
        int calls = 0;
        const std::atomic<bool> flag{false};
        const auto count = [&](long long, long long) { ++calls; };
        EXPECT_EQ(ErrorOf([&] { ComputeCrc32(path, flag, flag, count, nullptr, L""); }), "Could not open file for CRC");
        EXPECT_EQ(calls, 0);
        EXPECT_EQ(ErrorOf([&] { Sha256Hex(path); }), "Could not open file for SHA256");
    }
}

TEST(Sha256Hex, KnownDigestsOfShortEmptyAndMultiBlockFiles) {
    TempFolder temp;
    const std::wstring abc = temp / L"abc.txt";
    const std::wstring empty = temp / L"empty.bin";
    const std::wstring blocks = temp / L"blocks.bin";
    WriteTestFile(abc, "abc");
    WriteTestFile(empty, "");
    WriteTestFile(blocks, PatternBytes(3 * kBlock + 5, 7));
    EXPECT_EQ(Sha256Hex(abc), L"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(Sha256Hex(empty), L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256Hex(blocks), L"10762dedb6437a60911fb6c44fac1df815ad7026e437919628ee9256eba5092c");
}

TEST(ComputeCrc32DebugLog, WritesScopeStartProgressAndCompleteLines) {
    TempFolder temp;
    const std::wstring path = temp / L"data.bin";
    const std::string bytes = PatternBytes(kBlock + 1, 11);
    WriteTestFile(path, bytes);
    Logger logger;
    logger.directory = temp.path();
    logger.debugEnabled = true;
    const std::string hex = Utf8FromWide(Crc32Hex(Crc32Of(path, nullptr, &logger, L"check data/a.bin")));
    EXPECT_EQ(hex, Utf8FromWide(Crc32Hex(BitwiseCrc(bytes))));

    const std::vector<std::string> lines = DebugMessages(temp / L"logs\\updater-debug.log");
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "BEGIN CRC32 check data/a.bin");
    EXPECT_EQ(lines[1], "CRC32 start path=" + Utf8FromWide(path) + ", label=check data/a.bin, totalBytes=131073");
    EXPECT_EQ(lines[2], "CRC32 progress label=check data/a.bin, processed=131072, total=131073");
    EXPECT_EQ(lines[3], "CRC32 progress label=check data/a.bin, processed=131073, total=131073");
    EXPECT_EQ(lines[4], "CRC32 complete label=check data/a.bin, processed=131073, hex=" + hex);
    ExpectEndLine(lines[5], "CRC32 check data/a.bin");
    EXPECT_EQ(FileSizeOf(temp / L"logs\\updater.log"), -1) << "debug lines stay out of the main log";

    logger.debugEnabled = false;
    Crc32Of(path, nullptr, &logger, L"quiet");
    EXPECT_EQ(DebugMessages(temp / L"logs\\updater-debug.log").size(), 6u);
}

TEST(ComputeCrc32DebugLog, EmptyLabelAndEmptyFileAndFailedOpen) {
    TempFolder temp;
    const std::wstring path = temp / L"empty.bin";
    WriteTestFile(path, "");
    Logger logger;
    logger.directory = temp.path();
    logger.debugEnabled = true;
    Crc32Of(path, nullptr, &logger, L"");
    const std::wstring missing = temp / L"missing.bin";
    EXPECT_EQ(ErrorOf([&] { Crc32Of(missing, nullptr, &logger, L"downloaded x.dat"); }), "Could not open file for CRC");

    const std::string name = Utf8FromWide(path);
    const std::vector<std::string> lines = DebugMessages(temp / L"logs\\updater-debug.log");
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0], "BEGIN CRC32 " + name);
    EXPECT_EQ(lines[1], "CRC32 start path=" + name + ", label=, totalBytes=1");
    EXPECT_EQ(lines[2], "CRC32 complete label=, processed=0, hex=00000000");
    ExpectEndLine(lines[3], "CRC32 " + name);
    EXPECT_EQ(lines[4], "BEGIN CRC32 downloaded x.dat");
    ExpectEndLine(lines[5], "CRC32 downloaded x.dat");
}

TEST(ComputeCrc32DebugLog, ProgressLinesAtTheFirstBlockEvery32MiBAndAtTheEnd) {
    TempFolder temp;
    const std::wstring path = temp / L"big.bin";
    const long long size = 40LL * 1024 * 1024;
    WriteTestFile(path, PatternBytes(static_cast<std::size_t>(size), 13));
    Logger logger;
    logger.directory = temp.path();
    logger.debugEnabled = true;
    Calls calls;
    Crc32Of(path, &calls, &logger, L"big");
    EXPECT_EQ(calls, ExpectedCalls(size));

    std::vector<std::string> progressLines;
    for (const std::string& line : DebugMessages(temp / L"logs\\updater-debug.log")) {
        if (line.rfind("CRC32 progress ", 0) == 0) {
            progressLines.push_back(line);
        }
    }
    EXPECT_EQ(progressLines, (std::vector<std::string>{
                                 "CRC32 progress label=big, processed=131072, total=41943040",
                                 "CRC32 progress label=big, processed=33685504, total=41943040",
                                 "CRC32 progress label=big, processed=41943040, total=41943040",
                             }));
}

}  // namespace
}  // namespace updater
