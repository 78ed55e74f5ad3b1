#include "http/url_builders.h"

#include <cstdio>
#include <regex>
#include <vector>

#include <windows.h>

#include <gtest/gtest.h>

#include "foundation/text.h"

namespace updater {
namespace {

std::string Narrow(const std::wstring& text) {
    return Utf8FromWide(text);
}

std::wstring ToUpperAscii(std::wstring text) {
    for (wchar_t& c : text) {
        if (c >= L'a' && c <= L'z') {
            c = static_cast<wchar_t>(c - L'a' + L'A');
        }
    }
    return text;
}

TEST(UrlBuilders, AppendUrlParamPicksTheSeparatorAndEscapesNothing) {
    EXPECT_EQ(AppendUrlParam(L"https://h/p", L"v", L"abc"), L"https://h/p?v=abc");
    EXPECT_EQ(AppendUrlParam(L"https://h/p?x=1", L"v", L"abc"), L"https://h/p?x=1&v=abc");
    EXPECT_EQ(AppendUrlParam(L"https://h/p?", L"v", L"abc"), L"https://h/p?&v=abc");
    EXPECT_EQ(AppendUrlParam(L"https://h/p", L"v", L""), L"https://h/p");
    EXPECT_EQ(AppendUrlParam(L"", L"v", L"a b&c"), L"?v=a b&c");
}

TEST(UrlBuilders, SanitizeUrlTokenKeepsOnlyTokenCharacters) {
    EXPECT_EQ(SanitizeUrlToken(L"  1.2.3 beta "), L"1.2.3-beta");
    EXPECT_EQ(SanitizeUrlToken(L"2024-05-01T10:20:30Z"), L"2024-05-01T10-20-30Z");
    EXPECT_EQ(SanitizeUrlToken(L" \t\r\n"), L"");
    EXPECT_EQ(SanitizeUrlToken(L"a_Z.9-+/~"), L"a_Z.9----");
    EXPECT_EQ(SanitizeUrlToken(L"v\u00e4\U0001F600x"), L"v---x");
    EXPECT_EQ(SanitizeUrlToken(L"a  b"), L"a--b");
}

TEST(UrlBuilders, ForceHttpsSchemeReplacesOnlyALeadingHttp) {
    EXPECT_EQ(ForceHttpsScheme(L"  HTTP://Host.Example/Some/Path?Q=1 "), L"https://Host.Example/Some/Path?Q=1");
    EXPECT_EQ(ForceHttpsScheme(L"http://"), L"https://");
    EXPECT_EQ(ForceHttpsScheme(L"hTtP://x"), L"https://x");
    EXPECT_EQ(ForceHttpsScheme(L"\thttps://x/ "), L"https://x/");
    EXPECT_EQ(ForceHttpsScheme(L"HTTPS://x/"), L"HTTPS://x/");
    EXPECT_EQ(ForceHttpsScheme(L"ftp://x/"), L"ftp://x/");
    EXPECT_EQ(ForceHttpsScheme(L"http:/x"), L"http:/x");
    EXPECT_EQ(ForceHttpsScheme(L"x/http://y"), L"x/http://y");
    EXPECT_EQ(ForceHttpsScheme(L"   "), L"");
}

TEST(UrlBuilders, NormalizeExternalUrlAlwaysEndsWithAWebScheme) {
    EXPECT_EQ(NormalizeExternalUrl(L"forum.example.org/board"), L"https://forum.example.org/board");
    EXPECT_EQ(NormalizeExternalUrl(L" http://t.example/x "), L"https://t.example/x");
    EXPECT_EQ(NormalizeExternalUrl(L"HTTPS://t.example/x"), L"HTTPS://t.example/x");
    EXPECT_EQ(NormalizeExternalUrl(L"ftp://t.example/x"), L"https://ftp://t.example/x");
    EXPECT_EQ(NormalizeExternalUrl(L""), L"");
    EXPECT_EQ(NormalizeExternalUrl(L" \r\n"), L"");
}

TEST(UrlBuilders, AppendCacheBustAddsTimeAndProcessId) {
    FILETIME before{};
    GetSystemTimeAsFileTime(&before);
    const std::wstring first = AppendCacheBust(L"https://h/UpdateConfig.xml");
    const std::wstring second = AppendCacheBust(L"https://h/UpdateConfig.xml?v=1");
    const std::string pid = std::to_string(GetCurrentProcessId());
    std::smatch match;
    const std::string firstText = Narrow(first);
    ASSERT_TRUE(
        std::regex_match(firstText, match, std::regex("https://h/UpdateConfig\\.xml\\?cacheBust=([1-9][0-9]*)-" + pid)))
        << firstText;
    const unsigned long long ticks = std::stoull(match[1].str());
    const unsigned long long start =
        (static_cast<unsigned long long>(before.dwHighDateTime) << 32) | before.dwLowDateTime;
    EXPECT_GE(ticks, start);
    EXPECT_LT(ticks - start, 600000000ull);
    EXPECT_TRUE(std::regex_match(Narrow(second),
                                 std::regex("https://h/UpdateConfig\\.xml\\?v=1&cacheBust=[1-9][0-9]*-" + pid)));
    EXPECT_EQ(AppendCacheBust(L" x").rfind(L" x?cacheBust=", 0), 0u);
}

TEST(UrlBuilders, RootsAreLowerCaseHttpsRoots) {
    for (const std::wstring& root : {DefaultDownloadServerRoot(), DirectDownloadServerRoot()}) {
        EXPECT_EQ(root.rfind(L"https://", 0), 0u) << Narrow(root);
        EXPECT_EQ(root.back(), L'/');
        EXPECT_EQ(ToLower(root), root);
    }
    EXPECT_NE(DefaultDownloadServerRoot(), DirectDownloadServerRoot());
}

TEST(UrlBuilders, FallbackMappingsMoveUrlsBetweenTheRootsAndUndoEachOther) {
    const std::wstring a = DefaultDownloadServerRoot();
    const std::wstring b = DirectDownloadServerRoot();
    EXPECT_EQ(DirectDownloadFallbackUrl(ToUpperAscii(a) + L"Client/Sys Tem/File.zip?v=AB-1"),
              b + L"Client/Sys Tem/File.zip?v=AB-1");
    EXPECT_EQ(DirectDownloadFallbackUrl(b + L"x"), L"");
    EXPECT_EQ(CdnDownloadFallbackUrl(a + L"x"), L"");
    EXPECT_EQ(DirectDownloadFallbackUrl(a), b);
    EXPECT_EQ(CdnDownloadFallbackUrl(b), a);
    for (const std::wstring tail : {L"", L"x", L"Patch/UpdateInfo.xml?v=1.2", L"a/b/c.zip?v=%23&cacheBust=1-2"}) {
        EXPECT_EQ(CdnDownloadFallbackUrl(DirectDownloadFallbackUrl(a + tail)), a + tail) << Narrow(tail);
        EXPECT_EQ(DirectDownloadFallbackUrl(CdnDownloadFallbackUrl(b + tail)), b + tail) << Narrow(tail);
    }
    const std::wstring shorter = a.substr(0, a.size() - 1);
    for (const std::wstring& other :
         std::vector<std::wstring>{L"", shorter, L" " + a + L"x", L"http" + a.substr(5) + L"x",
                                   L"https://elsewhere.example/x", L"https://other" + a.substr(8)}) {
        EXPECT_EQ(DirectDownloadFallbackUrl(other), L"") << Narrow(other);
        EXPECT_EQ(CdnDownloadFallbackUrl(other), L"") << Narrow(other);
    }
}

std::wstring ExpectedByte(unsigned byte, bool slashKept) {
    const bool kept = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
                      byte == '-' || byte == '.' || byte == '_' || byte == '~' || (slashKept && byte == '/');
    if (kept) {
        return std::wstring(1, static_cast<wchar_t>(byte));
    }
    wchar_t text[4] = {};
    swprintf(text, 4, L"%%%02X", byte);
    return text;
}

// A character whose UTF-8 form holds the byte, and that whole form. Every
// byte that UTF-8 can hold is reached; C0, C1 and F5 to FF never occur in it.
bool CharacterWithByte(unsigned byte, std::wstring& character, std::vector<unsigned>& utf8) {
    if (byte < 0x80) {
        character = std::wstring(1, static_cast<wchar_t>(byte));
        utf8 = {byte};
    } else if (byte < 0xC0) {
        character = std::wstring(1, static_cast<wchar_t>(0x80 + (byte - 0x80)));
        utf8 = {0xC2, byte};
    } else if (byte < 0xC2) {
        return false;
    } else if (byte < 0xE0) {
        character = std::wstring(1, static_cast<wchar_t>((byte - 0xC0) << 6));
        utf8 = {byte, 0x80};
    } else if (byte == 0xE0) {
        character = L"\u0800";
        utf8 = {0xE0, 0xA0, 0x80};
    } else if (byte < 0xF0) {
        character = std::wstring(1, static_cast<wchar_t>((byte - 0xE0) << 12));
        utf8 = {byte, 0x80, 0x80};
    } else if (byte == 0xF0) {
        character = L"\U00010000";
        utf8 = {0xF0, 0x90, 0x80, 0x80};
    } else if (byte < 0xF5) {
        const unsigned codePoint = (byte - 0xF0) << 18;
        character = {static_cast<wchar_t>(0xD800 + ((codePoint - 0x10000) >> 10)),
                     static_cast<wchar_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF))};
        utf8 = {byte, 0x80, 0x80, 0x80};
    } else {
        return false;
    }
    return true;
}

TEST(UrlBuilders, BuildFileUrlEncodesEveryByteOfPathAndVersion) {
    int reached = 0;
    for (unsigned byte = 0; byte < 256; ++byte) {
        std::wstring character;
        std::vector<unsigned> utf8;
        if (!CharacterWithByte(byte, character, utf8)) {
            continue;
        }
        ++reached;
        std::wstring pathPart;
        std::wstring versionPart;
        for (const unsigned b : utf8) {
            pathPart += b == '\\' ? L"/" : ExpectedByte(b, true);
            versionPart += ExpectedByte(b, false);
        }
        EXPECT_EQ(BuildFileUrl(L"https://h/base", L"d" + character + L"e", L"", 0),
                  L"https://h/base/d" + pathPart + L"e.zip")
            << "byte " << byte;
        EXPECT_EQ(BuildFileUrl(L"https://h/base/", L"f", L"t" + character + L"u", 7),
                  L"https://h/base/f.zip?v=t" + versionPart + L"u-7")
            << "byte " << byte;
    }
    EXPECT_EQ(reached, 256 - 13);
}

TEST(UrlBuilders, BuildFileUrlCases) {
    EXPECT_EQ(BuildFileUrl(L"https://h/client", L"Sys Tem\\\u00e4+b.dat", L" abc ", 10),
              L"https://h/client/Sys%20Tem/%C3%A4%2Bb.dat.zip?v=abc-10");
    EXPECT_EQ(BuildFileUrl(L" https://h/client/ ", L"system/l2.exe", L"0a1b2c3d", 1234567890123),
              L"https://h/client/system/l2.exe.zip?v=0a1b2c3d-1234567890123");
    EXPECT_EQ(BuildFileUrl(L"https://h/c", L"a/b~c-d_e.f", L"", 0), L"https://h/c/a/b~c-d_e.f.zip");
    EXPECT_EQ(BuildFileUrl(L"https://h/c", L"a", L"  ", 1234), L"https://h/c/a.zip?v=-1234");
    EXPECT_EQ(BuildFileUrl(L"https://h/c", L"a", L"x", -5), L"https://h/c/a.zip?v=x");
    EXPECT_EQ(BuildFileUrl(L"https://h/c", L"a", L"", -5), L"https://h/c/a.zip");
    EXPECT_EQ(BuildFileUrl(L"https://h/c", L"100%?#", L"a#b&c d/e", 5),
              L"https://h/c/100%25%3F%23.zip?v=a%23b%26c%20d%2Fe-5");
    EXPECT_EQ(BuildFileUrl(L"https://h/c?x=1", L"a", L"v", 0), L"https://h/c?x=1/a.zip&v=v");
}

}  // namespace
}  // namespace updater
