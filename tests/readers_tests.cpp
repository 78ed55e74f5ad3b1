#include "foundation/xml_json_readers.h"

#include <chrono>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace updater {
namespace {

// A manifest as servers write it, plus the traps the readers must step around.
const std::wstring kManifest =
    L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n"
    L"<ArrayOfFileModel>\r\n"
    L"  <FileModels count=\"2\">decoy</FileModels>\r\n"
    L"  <FileModel id=\"1\" note=\"a>b\">\r\n"
    L"    <Name>l2.exe</Name><PatchPath>wrong</PatchPath><Path>system</Path>\r\n"
    L"    <Size> 1024 </Size>\r\n"
    L"  </FileModel>\r\n"
    L"  <FILEMODEL>\r\n"
    L"    <NAME>Data.ini</NAME><path>system/cfg</path>\r\n"
    L"  </filemodel>\r\n"
    L"  <FileModel\t>\r\n"
    L"    <Name>cut off</Name>\r\n";

TEST(XmlBlocks, CutsEveryCompleteElementAndStopsAtTheUnfinishedOne) {
    const std::vector<std::wstring> blocks = XmlBlocks(kManifest, L"FileModel");
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0],
              L"<FileModel id=\"1\" note=\"a>b\">\r\n"
              L"    <Name>l2.exe</Name><PatchPath>wrong</PatchPath><Path>system</Path>\r\n"
              L"    <Size> 1024 </Size>\r\n"
              L"  </FileModel>");
    EXPECT_EQ(blocks[1],
              L"<FILEMODEL>\r\n"
              L"    <NAME>Data.ini</NAME><path>system/cfg</path>\r\n"
              L"  </filemodel>");

    EXPECT_EQ(XmlTagValue(blocks[0], L"name"), L"l2.exe");
    EXPECT_EQ(XmlTagValue(blocks[0], L"Path"), L"system");
    EXPECT_EQ(XmlTagValue(blocks[0], L"Size"), L"1024");
    EXPECT_EQ(XmlTagValue(blocks[1], L"Name"), L"Data.ini");
    EXPECT_EQ(XmlTagValue(blocks[1], L"PATH"), L"system/cfg");
    EXPECT_EQ(XmlTagValue(blocks[1], L"Size"), L"");
}

TEST(XmlBlocks, NoElementsAndDegenerateDocuments) {
    EXPECT_TRUE(XmlBlocks(L"", L"FileModel").empty());
    EXPECT_TRUE(XmlBlocks(L"<FileModel", L"FileModel").empty());
    EXPECT_TRUE(XmlBlocks(L"<FileModel>never closed", L"FileModel").empty());
    EXPECT_TRUE(XmlBlocks(L"<FileModel>x</FileModel >", L"FileModel").empty());
    // Nested elements of the same name: the block ends at the first closing tag.
    const std::vector<std::wstring> nested =
        XmlBlocks(L"<a><a>in</a>out</a><a>2</a>", L"a");
    ASSERT_EQ(nested.size(), 2u);
    EXPECT_EQ(nested[0], L"<a><a>in</a>");
    EXPECT_EQ(nested[1], L"<a>2</a>");
}

TEST(XmlTagValue, TagNameRulesAndFirstElementOnly) {
    // A name that merely ends with the wanted one is never a candidate.
    EXPECT_EQ(XmlTagValue(L"<PatchPath>p</PatchPath><ClientPath>c</ClientPath>", L"Path"), L"");
    // A name that continues the wanted one is skipped and the search goes on.
    EXPECT_EQ(XmlTagValue(L"<Names>n</Names><Name-x>y</Name-x><Name\n a=\"1\">v</Name>", L"Name"), L"v");
    // "/" right after the name is no match; with a blank before it the tag opens an element.
    EXPECT_EQ(XmlTagValue(L"<Hash/><Hash>abc</Hash>", L"Hash"), L"abc");
    EXPECT_EQ(XmlTagValue(L"<Hash /><Hash>abc</Hash>", L"Hash"), L"<Hash>abc");
    EXPECT_EQ(XmlTagValue(L"<Hash />", L"Hash"), L"");
    // Only the first accepted element counts, even when it is blank or unterminated.
    EXPECT_EQ(XmlTagValue(L"<Url> \t\r\n </Url><Url>later</Url>", L"Url"), L"");
    EXPECT_EQ(XmlTagValue(L"<Url>open", L"Url"), L"");
    // Child markup, comments and CDATA come back as written.
    EXPECT_EQ(XmlTagValue(L"<!-- <V>c</V> --><V>x</V>", L"V"), L"c");
    EXPECT_EQ(XmlTagValue(L"<V><![CDATA[a<b]]></V>", L"V"), L"<![CDATA[a<b]]>");
    // The value keeps the document's letters and non-ASCII text.
    EXPECT_EQ(XmlTagValue(L"<ТЕГ>Ж</ТЕГ><V>Привет Мир</V>", L"v"), L"Привет Мир");
}

TEST(XmlTagValue, DecodesEntitiesInOnePass) {
    EXPECT_EQ(XmlTagValue(L"<V>  &amp;  </V>", L"V"), L"&");
    EXPECT_EQ(XmlTagValue(L"<V>&amp;lt;</V>", L"V"), L"&lt;");
    EXPECT_EQ(XmlTagValue(L"<V>&amp;amp;</V>", L"V"), L"&amp;");
    EXPECT_EQ(XmlTagValue(L"<V>&lt;&gt;</V>", L"V"), L"<>");
    EXPECT_EQ(XmlTagValue(L"<V>a=&quot;1&quot; b=&apos;2&apos;</V>", L"V"), L"a=\"1\" b='2'");
    EXPECT_EQ(XmlTagValue(L"<V>&#60;&#x3C;&nbsp;&AMP;</V>", L"V"), L"&#60;&#x3C;&nbsp;&AMP;");
    EXPECT_EQ(XmlTagValue(L"<V>?a=1&amp;b=2</V>", L"V"), L"?a=1&b=2");
    EXPECT_EQ(XmlTagValue(L"<V>&&lt;&lt&;&amp</V>", L"V"), L"&<&lt&;&amp");
    EXPECT_EQ(XmlTagValue(L"<V>x&quot</V>", L"V"), L"x&quot");
}

TEST(XmlTagValue, ValueFullOfReferencesDecodesInLinearTime) {
    std::wstring references;
    for (int i = 0; i < (1 << 20); ++i) {
        references += i % 2 == 0 ? L"&lt;" : L"&amp;";
    }
    const auto started = std::chrono::steady_clock::now();
    const std::wstring value = XmlTagValue(L"<V>" + references + L"</V>", L"V");
    const auto elapsed = std::chrono::steady_clock::now() - started;
    // Replacing in place took minutes here; one pass takes milliseconds.
    EXPECT_LT(elapsed, std::chrono::seconds(1));
    ASSERT_EQ(value.size(), size_t{1} << 20);
    EXPECT_EQ(value.substr(0, 4), L"<&<&");
    EXPECT_EQ(value.find_first_not_of(L"<&"), std::wstring::npos);
}

TEST(FirstXmlTagValue, TriesNamesInOrderAndSkipsBlankOnes) {
    const std::wstring config =
        L"<Config><LauncherUrl>  </LauncherUrl>"
        L"<UpdaterDownloadUrl>http://d/u.zip</UpdaterDownloadUrl>"
        L"<UpdaterUrl>http://b/u.exe</UpdaterUrl>"
        L"<ClientManifestZipUrl>http://m/c.zip</ClientManifestZipUrl></Config>";
    EXPECT_EQ(FirstXmlTagValue(config, {L"LauncherUrl", L"UpdaterUrl", L"LauncherDownloadUrl",
                                        L"UpdaterDownloadUrl"}),
              L"http://b/u.exe");
    EXPECT_EQ(FirstXmlTagValue(config, {L"LauncherUrl", L"UpdaterDownloadUrl", L"UpdaterUrl"}),
              L"http://d/u.zip");
    EXPECT_EQ(FirstXmlTagValue(config, {L"ClientManifestUrl", L"ClientManifestZipUrl"}),
              L"http://m/c.zip");
    EXPECT_EQ(FirstXmlTagValue(config, {L"Missing", L"LauncherUrl"}), L"");
    EXPECT_EQ(FirstXmlTagValue(config, {}), L"");
    EXPECT_EQ(FirstXmlTagValue(L"", {L"UpdaterUrl"}), L"");
}

TEST(JsonEscape, EscapesExactlyFiveCharacters) {
    EXPECT_EQ(JsonEscape(L""), L"");
    EXPECT_EQ(JsonEscape(L"C:\\Games\\L2"), L"C:\\\\Games\\\\L2");
    EXPECT_EQ(JsonEscape(L"a\"b\tc\rd\ne"), L"a\\\"b\\tc\\rd\\ne");
    EXPECT_EQ(JsonEscape(L"/ Игра \x0001 \x00e9"), L"/ Игра \x0001 \x00e9");
}

TEST(JsonStringValue, ReadsBackWhatJsonEscapeWrote) {
    const std::vector<std::wstring> samples = {
        L"",
        L"C:\\Games\\Lineage II\\",
        L"\\\\server\\share\\\"quoted\"",
        L"tab\there\r\nnext line\n",
        L"D:\\Игры\\Таврин",
        L"\\",
        L"\\\"",
        L"ends with backslash n: \\n",
    };
    for (const std::wstring& sample : samples) {
        const std::wstring json = L"{\"ClientPath\":\"" + JsonEscape(sample) +
                                  L"\",\"Language\":\"RU\",\"DebugLog\":true}";
        EXPECT_EQ(JsonStringValue(json, L"ClientPath"), sample);
        EXPECT_EQ(JsonStringValue(json, L"Language"), L"RU");
    }
}

TEST(JsonStringValue, LenientReading) {
    EXPECT_EQ(JsonStringValue(L"{\"Language\" : \"UK\"}", L"Language"), L"UK");
    EXPECT_EQ(JsonStringValue(L"{\"Language\":\"UK\"}", L"language"), L"");
    EXPECT_EQ(JsonStringValue(L"{\"Language\":\"\"}", L"Language"), L"");
    EXPECT_EQ(JsonStringValue(L"{\"Language\"}", L"Language"), L"");
    EXPECT_EQ(JsonStringValue(L"{\"Language\": 5}", L"Language"), L"");
    EXPECT_EQ(JsonStringValue(L"{\"P\":\"a\\/b\\u0041\\q\"}", L"P"), L"a/bu0041q");
    EXPECT_EQ(JsonStringValue(L"{\"P\":\"no end", L"P"), L"no end");
    EXPECT_EQ(JsonStringValue(L"{\"P\":\"trailing\\", L"P"), L"trailing\\");
    // A value that is not a string yields the next string in the text.
    EXPECT_EQ(JsonStringValue(L"{\"ClientPath\":null,\"Language\":\"EN\"}", L"ClientPath"),
              L"Language");
    EXPECT_EQ(JsonStringValue(L"{\"ClientPath\":12,\"X\":1}", L"ClientPath"), L"X");
}

TEST(JsonBoolValue, EightCharacterWindowAfterTheColon) {
    EXPECT_TRUE(JsonBoolValue(L"{\"DebugLog\":true}", L"DebugLog", false));
    EXPECT_FALSE(JsonBoolValue(L"{\"DebugLog\":false}", L"DebugLog", true));
    EXPECT_TRUE(JsonBoolValue(L"{\"DebugLog\":\"TRUE\"}", L"DebugLog", false));
    EXPECT_TRUE(JsonBoolValue(L"{\"DebugLog\":    True}", L"DebugLog", false));
    EXPECT_FALSE(JsonBoolValue(L"{\"DebugLog\":     true}", L"DebugLog", false));
    EXPECT_TRUE(JsonBoolValue(L"{\"DebugLog\":     true}", L"DebugLog", true));
    EXPECT_FALSE(JsonBoolValue(L"{\"DebugLog\":1}", L"DebugLog", false));
    EXPECT_TRUE(JsonBoolValue(L"{\"DebugLog\":1}", L"DebugLog", true));
    EXPECT_TRUE(JsonBoolValue(L"{\"Other\":false}", L"DebugLog", true));
    EXPECT_FALSE(JsonBoolValue(L"{\"debuglog\":true}", L"DebugLog", false));
    EXPECT_TRUE(JsonBoolValue(L"{\"DebugLog\" true}", L"DebugLog", true));
    EXPECT_TRUE(JsonBoolValue(L"{\"DebugLog\":tru", L"DebugLog", true));
    // The window after "false" holds the comma, a quote and one letter of the next key.
    EXPECT_FALSE(JsonBoolValue(L"{\"ClanPatchEnabled\":false,\"DebugLog\":true}",
                               L"ClanPatchEnabled", true));
    EXPECT_FALSE(JsonBoolValue(L"{\"A\":false,\"true\":1}", L"A", true));
}

}  // namespace
}  // namespace updater
