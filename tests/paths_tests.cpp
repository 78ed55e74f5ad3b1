#include "foundation/paths.h"

#include <stdexcept>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "foundation/files.h"
#include "tests/test_support.h"

namespace updater {
namespace {

TEST(PathPieces, DirectoryNameAndFileNameOf) {
    EXPECT_EQ(DirectoryName(L"file.txt"), L".");
    EXPECT_EQ(DirectoryName(L"a/b\\c"), L"a/b");
    EXPECT_EQ(DirectoryName(L"C:\\dir\\file"), L"C:\\dir");
    EXPECT_EQ(DirectoryName(L"C:\\file"), L"C:");
    EXPECT_EQ(DirectoryName(L"\\file"), L"");
    EXPECT_EQ(FileNameOf(L"name"), L"name");
    EXPECT_EQ(FileNameOf(L"C:\\dir\\"), L"");
    EXPECT_EQ(FileNameOf(L"a/b\\c.txt"), L"c.txt");
}

TEST(PathPieces, JoinPathAddsOneSeparatorAndNormalisesNothingElse) {
    EXPECT_EQ(JoinPath(L"", L"x"), L"x");
    EXPECT_EQ(JoinPath(L"C:\\a", L""), L"C:\\a");
    EXPECT_EQ(JoinPath(L"C:\\a/", L"b"), L"C:\\a/b");
    EXPECT_EQ(JoinPath(L"C:\\a\\", L"b"), L"C:\\a\\b");
    EXPECT_EQ(JoinPath(L"C:\\a", L"b/c"), L"C:\\a\\b/c");
    EXPECT_EQ(JoinPath(L"C:\\a", L"..\\b"), L"C:\\a\\..\\b");
}

TEST(PathPieces, EnsureTrailingSlash) {
    EXPECT_EQ(EnsureTrailingSlash(L"  base \t"), L"base/");
    EXPECT_EQ(EnsureTrailingSlash(L"base/"), L"base/");
    EXPECT_EQ(EnsureTrailingSlash(L"base\\"), L"base\\/");
    EXPECT_EQ(EnsureTrailingSlash(L" \r\n"), L"");
}

TEST(PathPieces, FullPathResolvesDotsAndSlashes) {
    EXPECT_EQ(FullPath(L"C:\\a\\b\\..\\c/./d"), L"C:\\a\\c\\d");
}

TEST(NormalizeRelativePath, CleansSeparatorsPrefixesAndDots) {
    EXPECT_EQ(NormalizeRelativePath(L"", L"a\\b/c.txt"), L"a/b/c.txt");
    EXPECT_EQ(NormalizeRelativePath(L"data", L"x.bin"), L"data/x.bin");
    EXPECT_EQ(NormalizeRelativePath(L"data\\", L"/x.bin"), L"data/x.bin");
    EXPECT_EQ(NormalizeRelativePath(L"  ", L"a\\x"), L"a/x");
    EXPECT_EQ(NormalizeRelativePath(L"", L" a / . / b "), L"a/b");
    EXPECT_EQ(NormalizeRelativePath(L"", L"a//b"), L"a/b");
    EXPECT_EQ(NormalizeRelativePath(L"", L"\\\\server\\share\\x"), L"server/share/x");
    EXPECT_EQ(NormalizeRelativePath(L"", L"Sys/x*.TXT"), L"Sys/x*.TXT");
    EXPECT_EQ(NormalizeRelativePath(L"", L"./a.txt"), L"a.txt");
    EXPECT_EQ(NormalizeRelativePath(L".", L".\\textures\\a.utx"), L"textures/a.utx");
    EXPECT_EQ(NormalizeRelativePath(L"", L"a.b/.c"), L"a.b/.c");
}

TEST(NormalizeRelativePath, RejectsClimbingDrivesStreamsAndEmptiness) {
    for (const wchar_t* path : {L"a/../b", L"a/ .. /b", L"C:\\x", L"file.txt:stream", L"", L"./.", L"..", L"/",
                              L"a.txt.", L"system./l2.ini", L"system/l2.ini .", L"...", L"Sys/.../x"}) {
        EXPECT_EQ(NormalizeRelativePath(L"", path), L"") << path;
    }
    EXPECT_EQ(NormalizeRelativePath(L" ", L""), L"");
    EXPECT_EQ(NormalizeRelativePath(L"..", L"x"), L"");
}

// Every file below the folder, as full paths.
void CollectFiles(const std::wstring& folder, std::vector<std::wstring>& files) {
    WIN32_FIND_DATAW entry{};
    HANDLE find = FindFirstFileW(JoinPath(folder, L"*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::wstring name = entry.cFileName;
        if (name == L"." || name == L"..") {
            continue;
        }
        const std::wstring child = JoinPath(folder, name);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            CollectFiles(child, files);
        } else {
            files.push_back(child);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
}

bool Refused(const std::wstring& root, const std::wstring& relative) {
    try {
        SafeLocalPath(root, relative);
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Unsafe manifest path");
        return true;
    }
    return false;
}

TEST(SafeLocalPath, AcceptsPathsInsideTheRoot) {
    TempFolder temp;
    const std::wstring root = temp / L"Game";
    CreateDirectoryRecursive(root);
    EXPECT_EQ(SafeLocalPath(root, L"data/x.bin"), root + L"\\data\\x.bin");
    EXPECT_EQ(SafeLocalPath(root, L""), root);
    EXPECT_EQ(SafeLocalPath(root, L"."), root);
    EXPECT_EQ(SafeLocalPath(root, L"sub\\..\\x"), root + L"\\x");
    EXPECT_EQ(SafeLocalPath(root + L"\\", L"x"), root + L"\\x");
    EXPECT_EQ(SafeLocalPath(root + L"/", L"x"), root + L"\\x");
    EXPECT_EQ(SafeLocalPath(temp / L"GAME", L"x"), temp / L"GAME\\x");
    EXPECT_EQ(SafeLocalPath(root, L"..\\GAME\\x"), temp / L"GAME\\x");
}

TEST(SafeLocalPath, ConfinementTableLeavesNothingOutsideTheRoot) {
    TempFolder temp;
    const std::wstring root = temp / L"Game";
    CreateDirectoryRecursive(root);
    CreateDirectoryRecursive(temp / L"Game2");

    const std::vector<std::wstring> refused = {
        L"..\\x", L"../x", L"sub\\..\\..\\x", L"..\\Game2\\x", L"...\\x", L"a\\...\\x", L"....\\x",
        L". . \\x", L"sub\\ ..\\x", L"x:stream", L"data\\x.bin:evil:$DATA", L"C:\\x", L"C:x",
        L"..", L"sub/../../Game2/x",
    };
    for (const std::wstring& relative : refused) {
        EXPECT_TRUE(Refused(root, relative)) << relative;
    }

    const std::vector<std::wstring> tried = {
        L"a.txt", L"sub/b.txt", L"\\\\server\\share\\c.txt", L"\\d.txt", L"//e.txt", L"x..y\\f.txt",
        L"..g.txt", L"h..\\i.txt", L"sub\\.\\j.txt", L"k\\..\\l.txt", L"m n/q.txt", L"..\\game\\o.txt", L"sub\\...\\..\\p.txt",
    };
    int written = 0;
    for (const std::wstring& relative : tried) {
        std::wstring full;
        try {
            full = SafeLocalPath(root, relative);
        } catch (const std::runtime_error&) {
            continue;
        }
        EXPECT_NO_THROW(WriteBinaryFile(full, "x", false)) << relative << " -> " << full;
        ++written;
    }
    EXPECT_GE(written, 8);

    std::vector<std::wstring> files;
    CollectFiles(temp.path(), files);
    EXPECT_EQ(files.size(), static_cast<size_t>(written));
    for (const std::wstring& file : files) {
        EXPECT_EQ(_wcsnicmp(file.c_str(), (root + L"\\").c_str(), root.size() + 1), 0) << file;
    }
}

TEST(SafeLocalPath, DriveRootIsUsedWithoutASecondSeparator) {
    EXPECT_EQ(SafeLocalPath(L"S:\\", L"data/x.bin"), L"S:\\data\\x.bin");
    EXPECT_EQ(SafeLocalPath(L"S:\\", L""), L"S:\\");
    EXPECT_EQ(SafeLocalPath(L"S:\\", L"..\\..\\x"), L"S:\\x");
    EXPECT_TRUE(Refused(L"S:\\sub", L"..\\x"));
}

}  // namespace
}  // namespace updater
