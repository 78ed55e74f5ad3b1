#include "foundation/files.h"

#include <stdexcept>

#include <windows.h>

#include <gtest/gtest.h>

#include "foundation/handles.h"
#include "foundation/paths.h"
#include "tests/test_support.h"

namespace updater {
namespace {

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string WriteError(const std::wstring& path, const std::string& bytes, bool append) {
    try {
        WriteBinaryFile(path, bytes, append);
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

// Holds a file open with no sharing at all, as another program might.
FileHandle LockFile(const std::wstring& path) {
    return FileHandle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

TEST(FileSizeOf, MissingEmptyAndBeyondFourGigabytes) {
    TempFolder temp;
    EXPECT_EQ(FileSizeOf(temp / L"missing"), -1);
    WriteTestFile(temp / L"empty", "");
    EXPECT_EQ(FileSizeOf(temp / L"empty"), 0);

    const long long large = (4LL << 30) + 5;
    {
        const FileHandle file(CreateFileW((temp / L"large").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
        LARGE_INTEGER end;
        end.QuadPart = large;
        ASSERT_TRUE(SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN));
        ASSERT_TRUE(SetEndOfFile(file.get()));
    }
    EXPECT_EQ(FileSizeOf(temp / L"large"), large);
}

TEST(DeleteFileQuiet, DeletesOnlyPlainFiles) {
    TempFolder temp;
    WriteTestFile(temp / L"plain", "x");
    DeleteFileQuiet(temp / L"plain");
    EXPECT_FALSE(Exists(temp / L"plain"));

    CreateDirectoryRecursive(temp / L"folder");
    DeleteFileQuiet(temp / L"folder");
    EXPECT_TRUE(Exists(temp / L"folder"));

    WriteTestFile(temp / L"readonly", "x");
    SetFileAttributesW((temp / L"readonly").c_str(), FILE_ATTRIBUTE_READONLY);
    DeleteFileQuiet(temp / L"readonly");
    EXPECT_TRUE(Exists(temp / L"readonly"));
    SetFileAttributesW((temp / L"readonly").c_str(), FILE_ATTRIBUTE_NORMAL);

    DeleteFileQuiet(temp / L"missing");
}

TEST(ReadBinaryFile, WholeFilesAtBlockBoundaries) {
    TempFolder temp;
    EXPECT_EQ(ReadBinaryFile(temp / L"missing"), "");
    for (size_t size : {size_t{0}, size_t{1}, size_t{65535}, size_t{65536}, size_t{65537}, size_t{3 * 65536 + 7}}) {
        const std::string bytes = PatternBytes(size, static_cast<unsigned>(size));
        const std::wstring path = temp / (L"f" + std::to_wstring(size));
        WriteTestFile(path, bytes);
        EXPECT_EQ(ReadBinaryFile(path), bytes) << size;
    }
    const std::string lineEnds = "a\r\nb\nc\r\x1A" "d";
    WriteTestFile(temp / L"text", lineEnds);
    EXPECT_EQ(ReadBinaryFile(temp / L"text"), lineEnds);
}

TEST(ReadBinaryFile, FileHeldWithoutSharingReadsAsEmpty) {
    TempFolder temp;
    WriteTestFile(temp / L"locked", "secret");
    FileHandle lock = LockFile(temp / L"locked");
    EXPECT_EQ(ReadBinaryFile(temp / L"locked"), "");
}

TEST(WriteBinaryFile, AppendVersusReplace) {
    TempFolder temp;
    const std::wstring path = temp / L"f.bin";
    WriteBinaryFile(path, "", true);
    EXPECT_TRUE(Exists(path));
    EXPECT_EQ(FileSizeOf(path), 0);

    WriteBinaryFile(path, "ab\r\n", true);
    WriteBinaryFile(path, "cd", true);
    WriteBinaryFile(path, "", true);
    EXPECT_EQ(ReadBinaryFile(path), "ab\r\ncd");

    WriteBinaryFile(path, "x\n", false);
    EXPECT_EQ(ReadBinaryFile(path), "x\n");
    WriteBinaryFile(path, "", false);
    EXPECT_TRUE(Exists(path));
    EXPECT_EQ(FileSizeOf(path), 0);
}

TEST(WriteBinaryFile, CreatesTheFolderChain) {
    TempFolder temp;
    const std::wstring path = temp / L"a/b\\c/d.bin";
    WriteBinaryFile(path, "data", false);
    EXPECT_EQ(ReadBinaryFile(path), "data");
}

TEST(WriteBinaryFile, FailuresThrowInsteadOfReportingSuccess) {
    TempFolder temp;
    WriteTestFile(temp / L"file", "x");
    EXPECT_EQ(WriteError(temp / L"file\\child.bin", "data", false), "Could not open file for writing");
    CreateDirectoryRecursive(temp / L"folder");
    EXPECT_EQ(WriteError(temp / L"folder", "data", false), "Could not open file for writing");
    WriteTestFile(temp / L"locked", "x");
    FileHandle lock = LockFile(temp / L"locked");
    EXPECT_EQ(WriteError(temp / L"locked", "data", true), "Could not open file for writing");

    // A device that is always full: the open succeeds, the write does not.
    EXPECT_EQ(WriteError(L"Z:\\dev\\full", std::string(100000, 'x'), false), "Could not write file");
}

TEST(CreateDirectoryRecursive, CreatesEveryMissingLevel) {
    TempFolder temp;
    CreateDirectoryRecursive(temp.path() + L"/one/two\\three\\");
    EXPECT_TRUE(Exists(temp / L"one\\two\\three"));
    CreateDirectoryRecursive(temp / L"one\\two\\three");
    CreateDirectoryRecursive(L"");

    CreateDirectoryRecursive(L"S:\\drive-level\\below");
    EXPECT_TRUE(Exists(L"S:\\drive-level\\below"));
    std::wstring error;
    EXPECT_TRUE(DeleteDirectoryRecursive(L"S:\\drive-level", error)) << error;

    WriteTestFile(temp / L"blocker", "x");
    CreateDirectoryRecursive(temp / L"blocker\\sub");
    EXPECT_FALSE(Exists(temp / L"blocker\\sub"));
}

TEST(DeleteDirectoryRecursive, MissingPathsCountAsGone) {
    TempFolder temp;
    std::wstring error = L"untouched";
    EXPECT_TRUE(DeleteDirectoryRecursive(temp / L"missing", error));
    EXPECT_TRUE(DeleteDirectoryRecursive(temp / L"missing\\deeper", error));
    EXPECT_EQ(error, L"untouched");
}

TEST(DeleteDirectoryRecursive, RemovesFilesFoldersAndAttributes) {
    TempFolder temp;
    std::wstring error;
    WriteTestFile(temp / L"single", "x");
    SetFileAttributesW((temp / L"single").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(DeleteDirectoryRecursive(temp / L"single", error)) << error;
    EXPECT_FALSE(Exists(temp / L"single"));

    CreateDirectoryRecursive(temp / L"empty");
    EXPECT_TRUE(DeleteDirectoryRecursive(temp / L"empty", error)) << error;
    EXPECT_FALSE(Exists(temp / L"empty"));

    const std::wstring tree = temp / L"tree";
    CreateDirectoryRecursive(tree + L"\\a\\b\\c");
    CreateDirectoryRecursive(tree + L"\\d");
    WriteTestFile(tree + L"\\top.txt", "1");
    WriteTestFile(tree + L"\\a\\ro.txt", "2");
    WriteTestFile(tree + L"\\a\\b\\hidden.txt", "3");
    WriteTestFile(tree + L"\\a\\b\\c\\sys.txt", "4");
    SetFileAttributesW((tree + L"\\a\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((tree + L"\\a\\b\\hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    SetFileAttributesW((tree + L"\\a\\b\\c\\sys.txt").c_str(), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((tree + L"\\d").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(DeleteDirectoryRecursive(tree, error)) << error;
    EXPECT_FALSE(Exists(tree));
}

TEST(DeleteDirectoryRecursive, LockedFileDeepInTheTreeStopsWithItsName) {
    TempFolder temp;
    const std::wstring tree = temp / L"tree";
    const std::wstring locked = tree + L"\\a\\b\\locked.bin";
    CreateDirectoryRecursive(tree + L"\\a\\b");
    WriteTestFile(locked, "x");
    FileHandle lock = LockFile(locked);

    std::wstring error;
    EXPECT_FALSE(DeleteDirectoryRecursive(tree, error));
    const std::wstring expected = L"delete file failed path=" + locked + L", error=";
    EXPECT_EQ(error.substr(0, expected.size()), expected) << error;
    EXPECT_NE(error.find(L"(code "), std::wstring::npos) << error;
    EXPECT_TRUE(Exists(locked));
}

TEST(DeleteDirectoryRecursive, RefusesDriveRootsWithoutTouchingThem) {
    WriteTestFile(L"S:\\keep-root.txt", "x");
    wchar_t previous[MAX_PATH] = {};
    GetCurrentDirectoryW(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryW(L"S:\\"));
    for (const wchar_t* path : {L"S:\\", L"S:/", L"\\", L"S:", L"s:\\\\"}) {
        std::wstring error;
        EXPECT_FALSE(DeleteDirectoryRecursive(path, error)) << path;
        EXPECT_EQ(error, std::wstring(L"refused dangerous directory path=") + path);
    }
    SetCurrentDirectoryW(previous);
    EXPECT_TRUE(Exists(L"S:\\keep-root.txt"));
    DeleteFileW(L"S:\\keep-root.txt");
}

TEST(DeleteDirectoryRecursive, UnreadableAttributesOtherThanMissingFail) {
    std::wstring error;
    EXPECT_FALSE(DeleteDirectoryRecursive(L"S:\\bad<name>|?", error));
    EXPECT_EQ(error.rfind(L"read attributes failed path=S:\\bad<name>|?, error=", 0), 0u) << error;
}

// Deleting a link either removes the link alone or refuses it by name; what it
// points to is never touched. Which of the two depends on whether the system
// can open a link apart from its target.
void ExpectLinkRemovedOrRefused(bool removed, const std::wstring& error, const std::wstring& link) {
    if (removed) {
        EXPECT_FALSE(Exists(link));
    } else {
        EXPECT_EQ(error, L"refused link path=" + link);
    }
}

TEST(IsLinkReparseTag, OnlyNameSurrogatesAndUnreadTagsAreLinks) {
    const struct {
        unsigned long tag;
        bool link;
    } cases[] = {
        {IO_REPARSE_TAG_SYMLINK, true}, {IO_REPARSE_TAG_MOUNT_POINT, true}, {0, true},
        {IO_REPARSE_TAG_DEDUP, false},  {IO_REPARSE_TAG_CLOUD, false},      {IO_REPARSE_TAG_WOF, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IsLinkReparseTag(c.tag), c.link) << std::hex << c.tag;
    }
}

TEST(DeleteDirectoryRecursive, LinksAreNeverFollowed) {
    // Made by the link fixture on the host: links\tree\sub\link and links\tree-link
    // point at links\outside, which holds keep.txt; links\tree-empty\link points at
    // the empty folder links\empty.
    ASSERT_TRUE(Exists(L"S:\\links\\outside\\keep.txt"));
    std::wstring error;
    bool removed = DeleteDirectoryRecursive(L"S:\\links\\tree", error);
    ExpectLinkRemovedOrRefused(removed, error, L"S:\\links\\tree\\sub\\link");
    EXPECT_TRUE(Exists(L"S:\\links\\outside\\keep.txt"));

    removed = DeleteDirectoryRecursive(L"S:\\links\\tree-link", error);
    ExpectLinkRemovedOrRefused(removed, error, L"S:\\links\\tree-link");
    EXPECT_TRUE(Exists(L"S:\\links\\outside\\keep.txt"));

    removed = DeleteDirectoryRecursive(L"S:\\links\\tree-empty", error);
    ExpectLinkRemovedOrRefused(removed, error, L"S:\\links\\tree-empty\\link");
    EXPECT_TRUE(Exists(L"S:\\links\\empty"));
}

}  // namespace
}  // namespace updater
