#include "foundation/zip_extract.h"

#include <windows.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/text.h"
#include "tests/test_support.h"

namespace updater {
namespace {

// Sizes the fixture script writes.
constexpr long long kLargeSize = 96LL * 1024 * 1024;
constexpr long long kLiarDeclaredSize = 1000;

// The archives come from make_zip_fixtures.py; CTest passes their folder in ZIP_FIXTURES_DIR.
std::wstring Fixture(const std::wstring& name) {
    wchar_t folder[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableW(L"ZIP_FIXTURES_DIR", folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        throw std::runtime_error("ZIP_FIXTURES_DIR is not set");
    }
    return std::wstring(folder) + L"\\" + name;
}

std::string Expected(const std::wstring& name) {
    const std::string bytes = ReadBinaryFile(Fixture(L"expected\\" + name));
    if (bytes.empty()) {
        throw std::runtime_error("Missing expected fixture data");
    }
    return bytes;
}

// Runs the extraction and returns the message it threw, or "" when it succeeded.
std::string Extract(const std::wstring& archive, const std::wstring& target, const std::wstring& preferred,
                    const std::atomic<bool>* cancel = nullptr, long long maxSize = -1) {
    try {
        ExtractFirstZipFile(archive, target, preferred, cancel, maxSize);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

TEST(ExtractFirstZipFile, ChoosesTheEntryByBaseNameElseTheFirstFile) {
    TempFolder temp;
    const std::wstring archive = Fixture(L"choose.zip");
    const std::wstring target = temp / L"out.bin";

    // Stored entry in a subfolder, other letter case; the later deflated match is ignored.
    ASSERT_EQ(Extract(archive, target, L"updateinfo.XML"), "");
    EXPECT_EQ(ReadBinaryFile(target), Expected(L"first-match.xml"));
    // A backslash in the stored name separates folders too.
    ASSERT_EQ(Extract(archive, target, L"BACK.TXT"), "");
    EXPECT_EQ(ReadBinaryFile(target), Expected(L"Back.txt"));
    // Stored names are UTF-8; only ASCII letters fold.
    ASSERT_EQ(Extract(archive, target, L"Файл.txt"), "");
    EXPECT_EQ(ReadBinaryFile(target), Expected(L"cyrillic.txt"));
    ASSERT_EQ(Extract(archive, target, L"ФАЙЛ.txt"), "");
    EXPECT_EQ(ReadBinaryFile(target), Expected(L"readme.txt"));
    // No match, a folder's name, or no preferred name: the first file, skipping the folder entry.
    for (const wchar_t* preferred : {L"missing.bin", L"folder", L"data", L""}) {
        DeleteFileW(target.c_str());
        ASSERT_EQ(Extract(archive, target, preferred), "") << Utf8FromWide(preferred);
        EXPECT_EQ(ReadBinaryFile(target), Expected(L"readme.txt"));
    }
    // An empty entry gives an empty file.
    ASSERT_EQ(Extract(archive, target, L"empty.txt"), "");
    EXPECT_TRUE(Exists(target));
    EXPECT_EQ(FileSizeOf(target), 0);
}

TEST(ExtractFirstZipFile, CreatesMissingFoldersAndReplacesAnExistingTarget) {
    TempFolder temp;
    const std::wstring nested = temp / L"a\\b/c\\out.xml";
    ASSERT_EQ(Extract(Fixture(L"choose.zip"), nested, L"UpdateInfo.xml"), "");
    EXPECT_EQ(ReadBinaryFile(nested), Expected(L"first-match.xml"));

    const std::wstring existing = temp / L"existing.xml";
    WriteTestFile(existing, std::string(5000, 'x'));
    ASSERT_EQ(Extract(Fixture(L"choose.zip"), existing, L"UpdateInfo.xml"), "");
    EXPECT_EQ(ReadBinaryFile(existing), Expected(L"first-match.xml"));
}

TEST(ExtractFirstZipFile, ArchivesWithoutAFileCreateNothing) {
    TempFolder temp;
    const std::wstring target = temp / L"never\\out.bin";
    EXPECT_EQ(Extract(Fixture(L"dirs-only.zip"), target, L""), "Zip archive has no file");
    EXPECT_EQ(Extract(Fixture(L"no-entries.zip"), target, L"b"), "Zip archive has no file");
    EXPECT_FALSE(Exists(temp / L"never"));
}

TEST(ExtractFirstZipFile, UnreadableArchivesLeaveTheTargetAlone) {
    TempFolder temp;
    const std::wstring target = temp / L"out.bin";
    WriteTestFile(target, "old");
    EXPECT_EQ(Extract(Fixture(L"not-a-zip.zip"), target, L""), "Could not read zip archive");
    EXPECT_EQ(Extract(Fixture(L"truncated.zip"), target, L""), "Could not read zip archive");
    EXPECT_EQ(Extract(temp / L"missing.zip", target, L""), "Could not open zip archive");
    EXPECT_EQ(Extract(temp.path(), target, L""), "Could not open zip archive");
    EXPECT_EQ(ReadBinaryFile(target), "old");
}

TEST(ExtractFirstZipFile, TargetThatCannotBeCreated) {
    TempFolder temp;
    const std::wstring target = temp / L"folder-in-the-way";
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    EXPECT_EQ(Extract(Fixture(L"choose.zip"), target, L""), "Could not create extracted file");
}

TEST(ExtractFirstZipFile, DamagedDataFailsTheCrcCheckAndReleasesBothFiles) {
    TempFolder temp;
    const std::wstring archive = temp / L"flipped.zip";
    ASSERT_TRUE(CopyFileW(Fixture(L"flipped-byte.zip").c_str(), archive.c_str(), FALSE));
    const std::wstring target = temp / L"payload.bin";
    WriteTestFile(target, std::string(300000, 'o'));

    EXPECT_EQ(Extract(archive, target, L"payload.bin"), "Could not extract zip archive");
    // The longer old file was replaced before the failure; the stored data stays behind.
    EXPECT_EQ(FileSizeOf(target), 100000);
    // Both handles are closed: the files can be deleted at once.
    EXPECT_TRUE(DeleteFileW(target.c_str()));
    EXPECT_TRUE(DeleteFileW(archive.c_str()));
}

TEST(ExtractFirstZipFile, SizeLimitRefusesALargerEntryBeforeCreatingTheTarget) {
    TempFolder temp;
    const std::wstring archive = Fixture(L"choose.zip");
    const std::wstring target = temp / L"sub\\readme.txt";
    const long long size = static_cast<long long>(Expected(L"readme.txt").size());

    EXPECT_EQ(Extract(archive, target, L"", nullptr, size - 1), "Zip entry larger than expected");
    EXPECT_FALSE(Exists(temp / L"sub"));
    ASSERT_EQ(Extract(archive, target, L"", nullptr, size), "");
    EXPECT_EQ(ReadBinaryFile(target), Expected(L"readme.txt"));
    ASSERT_EQ(Extract(archive, target, L"empty.txt", nullptr, 0), "");
    EXPECT_EQ(FileSizeOf(target), 0);
}

TEST(ExtractFirstZipFile, DataBeyondTheDeclaredSizeIsNotWrittenOut) {
    TempFolder temp;
    const std::wstring target = temp / L"bomb.bin";
    EXPECT_EQ(Extract(Fixture(L"declared-too-small.zip"), target, L"", nullptr, kLiarDeclaredSize),
              "Could not extract zip archive");
    // At most one inflate window (32 KiB) is written before the reader stops.
    EXPECT_LE(FileSizeOf(target), kLiarDeclaredSize + 32 * 1024);
}

TEST(ExtractFirstZipFile, CancelSetBeforehandStopsBeforeOpening) {
    TempFolder temp;
    const std::wstring target = temp / L"out.bin";
    std::atomic<bool> cancel{true};
    EXPECT_EQ(Extract(temp / L"missing.zip", target, L"", &cancel), "Canceled");
    EXPECT_EQ(Extract(Fixture(L"choose.zip"), target, L"", &cancel), "Canceled");
    EXPECT_FALSE(Exists(target));

    cancel = false;
    ASSERT_EQ(Extract(Fixture(L"choose.zip"), target, L"UpdateInfo.xml", &cancel), "");
    EXPECT_EQ(ReadBinaryFile(target), Expected(L"first-match.xml"));
}

TEST(ExtractFirstZipFile, CancelDuringExtractionLeavesAPartialTarget) {
    TempFolder temp;
    const std::wstring target = temp / L"big.bin";
    std::atomic<bool> cancel{false};
    std::atomic<bool> done{false};
    // Cancels as soon as the first bytes reach the target.
    std::thread canceler([&] {
        while (!done && FileSizeOf(target) <= 0) {
            std::this_thread::yield();
        }
        cancel = true;
    });
    const std::string error = Extract(Fixture(L"large.zip"), target, L"", &cancel);
    done = true;
    canceler.join();

    EXPECT_EQ(error, "Canceled");
    EXPECT_GT(FileSizeOf(target), 0);
    EXPECT_LT(FileSizeOf(target), kLargeSize);
    EXPECT_TRUE(DeleteFileW(target.c_str()));
}

TEST(ZipCallbacks, PositionAbsolutelyAndStopOnCancel) {
    TempFolder temp;
    const std::wstring path = temp / L"io.bin";
    const FileHandle file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    std::atomic<bool> cancel{false};
    ZipHandleIo io{file.get(), &cancel};

    EXPECT_EQ(ZipWriteCallback(&io, 4, "tail", 4), 4u);
    EXPECT_EQ(ZipWriteCallback(&io, 0, "head", 4), 4u);
    char buffer[16] = {};
    EXPECT_EQ(ZipReadCallback(&io, 2, buffer, 6), 6u);
    EXPECT_EQ(std::string(buffer, 6), "adtail");
    EXPECT_EQ(ZipReadCallback(&io, 6, buffer, 16), 2u);

    cancel = true;
    EXPECT_EQ(ZipWriteCallback(&io, 8, "more", 4), 0u);
    EXPECT_EQ(ZipReadCallback(&io, 0, buffer, 4), 0u);
    io.cancel = nullptr;
    EXPECT_EQ(ZipReadCallback(&io, 0, buffer, 16), 8u);
    EXPECT_EQ(std::string(buffer, 8), "headtail");
}

}  // namespace
}  // namespace updater
