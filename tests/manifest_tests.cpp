#include "update/manifest.h"

#include <gtest/gtest.h>

#include "foundation/files.h"
#include "foundation/logger.h"
#include "foundation/text.h"
#include "tests/test_support.h"

namespace updater {
namespace {

const std::wstring kBase = L"https://host.example/tavrine/updater/client";

struct ManifestCase {
    const char* what;
    const wchar_t* xml;
    // Expected entries, "|"-joined "relativePath size hash quick check url-tail".
    const wchar_t* entries;
};

std::wstring Describe(const UpdateFileEntry& entry) {
    return entry.relativePath + L" " + std::to_wstring(entry.size) + L" " + entry.hash + L" " +
           BoolText(entry.quickUpdate) + L" " + BoolText(entry.checkHash) + L" " +
           entry.downloadUrl.substr(kBase.size() + 1);
}

const ManifestCase kCases[] = {
    {"name and path only", L"<FileModel><Name>l2.ini</Name><Path>system</Path></FileModel>",
     L"system/l2.ini 0  true false system/l2.ini.zip"},
    {"backslashes and dot pieces", L"<FileModel><Path>system\\</Path><Name>.\\textures\\a.utx</Name></FileModel>",
     L"system/textures/a.utx 0  true false system/textures/a.utx.zip"},
    {"doubled and leading slashes", L"<FileModel><Name>/system//l2.exe</Name></FileModel>",
     L"system/l2.exe 0  true false system/l2.exe.zip"},
    {"blank path", L"<FileModel><Path>   </Path><Name>a.txt</Name></FileModel>", L"a.txt 0  true false a.txt.zip"},
    {"three dots are a name", L"<FileModel><Name>.../x</Name></FileModel>", L".../x 0  true false .../x.zip"},
    {"unsafe and empty names are skipped",
     L"<FileModel><Name>../evil.dll</Name></FileModel><FileModel><Path>C:</Path><Name>x</Name></FileModel>"
     L"<FileModel><Name>.</Name></FileModel><FileModel><Name> </Name></FileModel><FileModel><Size>3</Size>"
     L"</FileModel><FileModel><Path>a/../b</Path><Name>x</Name></FileModel>",
     L""},
    {"element names in any case, attributes allowed",
     L"<FILEMODEL kind=\"f\"><NAME>a</NAME></FILEMODEL><filemodel\r\n><name>b</name></filemodel>",
     L"a 0  true false a.zip|b 0  true false b.zip"},
    {"self-closing and longer element names are not file elements",
     L"<FileModel/><FileModels><Name>x</Name></FileModels><FileModel><Name>y</Name></FileModel>",
     L"y 0  true false y.zip"},
    {"entities decoded once, numeric references kept",
     L"<FileModel><Name>R&amp;D &amp;lt;&#38;.txt</Name></FileModel>",
     L"R&D &lt;&#38;.txt 0  true false R%26D%20%26lt%3B%26%2338%3B.txt.zip"},
    {"size prefixes", L"<FileModel><Name>a</Name><Size>12kb</Size><Hash>AbC</Hash></FileModel>"
                      L"<FileModel><Name>b</Name><Size>kb</Size></FileModel>"
                      L"<FileModel><Name>c</Name><Size>-5</Size><Hash>1f</Hash></FileModel>"
                      L"<FileModel><Name>d</Name><Size>99999999999999999999</Size></FileModel>",
     L"a 12 AbC true true a.zip?v=AbC-12|b 0  true false b.zip|c -5 1f true true c.zip?v=1f|"
     L"d 9223372036854775807  true false d.zip?v=-9223372036854775807"},
    {"quick update flags", L"<FileModel><Name>a</Name><QuickUpdate>TRUE</QuickUpdate></FileModel>"
                           L"<FileModel><Name>b</Name><QuickUpdate>1</QuickUpdate></FileModel>",
     L"a 0  true false a.zip|b 0  false false b.zip"},
    {"check hash flags",
     L"<FileModel><Name>a</Name><Hash>00ff</Hash><CheckHash>False</CheckHash></FileModel>"
     L"<FileModel><Name>b</Name><Hash>00ff</Hash><CheckHash>yes</CheckHash></FileModel>"
     L"<FileModel><Name>c</Name><CheckHash>true</CheckHash></FileModel>",
     L"a 0 00ff true false a.zip?v=00ff|b 0 00ff true false b.zip?v=00ff|c 0  true true c.zip"},
    {"comments are not special, the first Name counts, duplicates stay",
     L"<root><!-- <FileModel><Name>old</Name></FileModel> --><FileModel><Name>x</Name><Name>y</Name></FileModel>"
     L"<FileModel><Name>x</Name></FileModel></root>",
     L"old 0  true false old.zip|x 0  true false x.zip|x 0  true false x.zip"},
    {"an unclosed element ends the reading",
     L"<FileModel><Name>a</Name></FileModel><FileModel><Name>b</Name><FileModel><Name>c</Name>",
     L"a 0  true false a.zip"},
    {"no file elements", L"<UpdateInfo></UpdateInfo>", L""},
};

TEST(ManifestTest, ParseTable) {
    TempFolder folder;
    Logger logger;
    logger.directory = folder.path();
    for (const ManifestCase& item : kCases) {
        std::vector<std::wstring> described;
        for (const UpdateFileEntry& entry : ParseManifestEntries(L"patch", kBase, item.xml, logger)) {
            EXPECT_EQ(entry.source, L"patch") << item.what;
            described.push_back(Describe(entry));
        }
        EXPECT_EQ(JoinText(described, L"|"), item.entries) << item.what;
    }
}

TEST(ManifestTest, ByteOrderMarkReadsTheSame) {
    TempFolder folder;
    Logger logger;
    logger.directory = folder.path();
    const std::string xml = "<FileModel><Name>\xD0\xB0.txt</Name></FileModel>";
    const auto plain = ParseManifestEntries(L"client", kBase, WideFromUtf8(xml), logger);
    const auto marked = ParseManifestEntries(L"client", kBase, WideFromUtf8("\xEF\xBB\xBF" + xml), logger);
    ASSERT_EQ(plain.size(), 1u);
    ASSERT_EQ(marked.size(), 1u);
    EXPECT_EQ(marked[0].relativePath, L"\x0430.txt");
    EXPECT_EQ(marked[0].downloadUrl, plain[0].downloadUrl);
    EXPECT_EQ(plain[0].downloadUrl, kBase + L"/%D0%B0.txt.zip");
}

TEST(ManifestTest, SkippedAndAcceptedElementsWriteTheirDebugLines) {
    TempFolder folder;
    Logger logger;
    logger.directory = folder.path();
    logger.debugEnabled = true;
    ParseManifestEntries(L"client", kBase,
                         L"<FileModel><Size>1</Size></FileModel><FileModel><Name>..\\x</Name></FileModel>"
                         L"<FileModel><Name>a b</Name><Size>7</Size><Hash>0A</Hash></FileModel>",
                         logger);
    const std::wstring log = WideFromUtf8(ReadBinaryFile(folder / L"logs\\updater-debug.log"));
    EXPECT_NE(log.find(L"] LoadManifest source=client skipped entry: empty Name.\r\n"), std::wstring::npos);
    EXPECT_NE(log.find(L"] LoadManifest source=client skipped entry: unsafe or empty path, name=..\\x\r\n"),
              std::wstring::npos);
    EXPECT_NE(log.find(L"] Manifest entry source=client, relativePath=a b, size=7, hash=0A, quickUpdate=true, "
                       L"checkHash=true, downloadUrl=" +
                       kBase + L"/a%20b.zip?v=0A-7\r\n"),
              std::wstring::npos);
    EXPECT_EQ(ReadBinaryFile(folder / L"logs\\updater.log"), "");
}

}  // namespace
}  // namespace updater
