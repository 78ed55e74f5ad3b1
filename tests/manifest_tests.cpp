#include "update/manifest.h"

#include <gtest/gtest.h>

#include "foundation/files.h"
#include "foundation/logger.h"
#include "foundation/text.h"
#include "tests/test_support.h"

namespace updater {
namespace {

const std::wstring kBase = L"https://host.example/tavrine/updater/client";

// "relativePath size hash quickUpdate checkHash url-tail"
std::wstring Describe(const UpdateFileEntry& entry) {
    return entry.relativePath + L" " + std::to_wstring(entry.size) + L" " + entry.hash + L" " +
           BoolText(entry.quickUpdate) + L" " + BoolText(entry.checkHash) + L" " +
           entry.downloadUrl.substr(kBase.size() + 1);
}

// The paths, XML and URL rules themselves are the readers' and builders'; these
// cases check how a manifest uses them.
const struct {
    const char* what;
    const wchar_t* xml;
    const wchar_t* entries;  // described, "|"-joined
} kCases[] = {
    {"path and name joined and cleaned, document order, duplicates stay",
     L"\xFEFF<FileModel><Path>system\\</Path><Name>.\\textures\\\x0430.utx</Name></FileModel>"
     L"<FileModel><Path>   </Path><Name>/a.txt</Name></FileModel><FileModel><Name>a.txt</Name></FileModel>",
     L"system/textures/\x0430.utx 0  true false system/textures/%D0%B0.utx.zip|a.txt 0  true false a.txt.zip|"
     L"a.txt 0  true false a.txt.zip"},
    {"unsafe and empty names are skipped",
     L"<FileModel><Name>../evil.dll</Name></FileModel><FileModel><Path>C:</Path><Name>x</Name></FileModel>"
     L"<FileModel><Name>.</Name></FileModel><FileModel><Name> </Name></FileModel><FileModel><Size>3</Size>"
     L"</FileModel><FileModel><Path>a/../b</Path><Name>x</Name></FileModel>",
     L""},
    {"element names in any case with attributes; self-closing, longer and unclosed elements are no files",
     L"<FILEMODEL kind=\"f\"><NAME>a</NAME></FILEMODEL><FileModel/><FileModels><Name>x</Name></FileModels>"
     L"<filemodel\r\n><name>b</name></filemodel><FileModel><Name>c</Name>",
     L"a 0  true false a.zip|b 0  true false b.zip"},
    {"sizes, hashes and flags",
     L"<FileModel><Name>a</Name><Size>12kb</Size><Hash>AbC</Hash><QuickUpdate>TRUE</QuickUpdate></FileModel>"
     L"<FileModel><Name>b</Name><Size>kb</Size><QuickUpdate>1</QuickUpdate></FileModel>"
     L"<FileModel><Name>c</Name><Size>-5</Size><Hash>1f</Hash><CheckHash>False</CheckHash></FileModel>"
     L"<FileModel><Name>d</Name><Size>99999999999999999999</Size><CheckHash>true</CheckHash></FileModel>"
     L"<FileModel><Name>e</Name><Hash>00ff</Hash><CheckHash>yes</CheckHash></FileModel>",
     L"a 12 AbC true true a.zip?v=AbC-12|b 0  false false b.zip|c -5 1f true false c.zip?v=1f|"
     L"d 9223372036854775807  true true d.zip?v=-9223372036854775807|e 0 00ff true false e.zip?v=00ff"},
    {"no file elements", L"<UpdateInfo></UpdateInfo>", L""},
};

TEST(ManifestTest, EntriesAndTheirDebugLines) {
    TempFolder folder;
    Logger logger;
    logger.directory = folder.path();
    logger.debugEnabled = true;
    for (const auto& item : kCases) {
        std::vector<std::wstring> described;
        for (const UpdateFileEntry& entry : ParseManifestEntries(L"patch", kBase, item.xml, logger)) {
            EXPECT_EQ(entry.source, L"patch") << item.what;
            described.push_back(Describe(entry));
        }
        EXPECT_EQ(JoinText(described, L"|"), item.entries) << item.what;
    }
    const std::wstring log = WideFromUtf8(ReadBinaryFile(folder / L"logs\\updater-debug.log"));
    for (const wchar_t* line : {L"LoadManifest source=patch skipped entry: empty Name.",
                                L"LoadManifest source=patch skipped entry: unsafe or empty path, name=../evil.dll",
                                L"Manifest entry source=patch, relativePath=a, size=12, hash=AbC, quickUpdate=true, "
                                L"checkHash=true, downloadUrl=https://host.example/tavrine/updater/client/"
                                L"a.zip?v=AbC-12"}) {
        EXPECT_NE(log.find(L"] " + std::wstring(line) + L"\r\n"), std::wstring::npos) << Utf8FromWide(line);
    }
    EXPECT_EQ(ReadBinaryFile(folder / L"logs\\updater.log"), "");
}

}  // namespace
}  // namespace updater
