#include "update/server_config.h"

#include <map>

#include <gtest/gtest.h>

#include "foundation/text.h"
#include "tests/site_app.h"

namespace updater {
namespace {

// Every field as "name" -> text; archives as "url|sha256|size", links by key.
std::map<std::wstring, std::wstring> Fields(const ServerConfig& config) {
    std::map<std::wstring, std::wstring> fields{
        {L"client", config.clientBaseUrl},   {L"patch", config.patchPath},        {L"clan", config.patchClanPath},
        {L"ru", config.gameStartPathRu},     {L"eng", config.gameStartPathEng},   {L"manifest", config.manifestVersion},
        {L"version", config.launcherVersion}, {L"url", config.launcherUrl},       {L"sha256", config.launcherSha256},
        {L"token", ManifestToken(config)}};
    for (const auto& [key, archive] : config.manifestArchives) {
        fields[L"archive " + key] = archive.url + L"|" + archive.sha256 + L"|" + std::to_wstring(archive.size);
    }
    for (const auto& [key, url] : config.links) fields[L"link " + key] = url;
    return fields;
}

// How the download of the configuration ended and what it gave: the fields
// named, or the built-in defaults when the load failed.
struct ConfigCase {
    const char* what;
    const char* body;  // null: no file on the site
    const char* fault;
    bool cancel;
    const wchar_t* lastLine;
    std::map<std::wstring, std::wstring> expected;
};

const wchar_t kLoaded[] = L"Server config loaded.";

const ConfigCase kCases[] = {
    {"first tags of every list, normalised",
     "<UpdateConfig>\n <ClientPath>HTTP://mirror.example/base</ClientPath><PatchPath>  \t</PatchPath>\n"
     " <PatchClanPath>https://mirror.example/clan\\</PatchClanPath><GameStartPathRu>system/ru.exe</GameStartPathRu>\n"
     " <UpdaterVersion>3.1 beta:2</UpdaterVersion><SelfUpdatePath>http://mirror.example/Updater.ZIP</SelfUpdatePath>\n"
     " <UpdaterHash>ABCDEF</UpdaterHash><ClientManifestZipUrl>http://mirror.example/c.zip</ClientManifestZipUrl>\n"
     " <ClientManifestHash>AbC</ClientManifestHash><ClientManifestSize></ClientManifestSize>\n"
     " <ClientManifestZipSize>345</ClientManifestZipSize><PatchManifestSize>-7</PatchManifestSize>\n"
     " <PatchClanManifestSize>12kb</PatchClanManifestSize><PatchClanManifestZipSize>9</PatchClanManifestZipSize>\n"
     " <SiteLink>site.example/about</SiteLink><DonateLink>http://pay.example/x?a=1&amp;b=2</DonateLink>\n"
     " <TgLink>HTTPS://t.example</TgLink><FacebookLink>fb.example</FacebookLink><ForumLink> </ForumLink>\n"
     "</UpdateConfig>",
     "", false, kLoaded,
     {{L"client", L"https://mirror.example/base/"}, {L"patch", RootA() + L"tavrine/updater/patch/"},
      {L"clan", L"https://mirror.example/clan\\/"}, {L"ru", L"system/ru.exe"}, {L"eng", L"system/ru.exe"},
      {L"manifest", L"3.1 beta:2"}, {L"version", L"3.1 beta:2"}, {L"token", L"3.1-beta-2"},
      {L"url", L"https://mirror.example/Updater.ZIP"}, {L"sha256", L"ABCDEF"},
      {L"archive client", L"https://mirror.example/c.zip|AbC|345"}, {L"archive patch", L"||-7"},
      {L"archive patch_clan", L"||12"}, {L"link About", L"https://site.example/about"},
      {L"link Donation", L"https://pay.example/x?a=1&b=2"}, {L"link Facebook", L"https://fb.example"},
      {L"link Forum", L""}, {L"link Registration", L""}, {L"link Telegram", L"HTTPS://t.example"}}},
    {"earlier tags win, the time stamp gives the token",
     "\xEF\xBB\xBF<UpdateConfig><GeneratedAtUtc>2026-01-02 03:04:05</GeneratedAtUtc>"
     "<ManifestVersion>m1</ManifestVersion><LauncherVersion>l1</LauncherVersion><UpdaterVersion>u9</UpdaterVersion>"
     "<LauncherUrl></LauncherUrl><UpdaterDownloadUrl>http://x.example/u.exe</UpdaterDownloadUrl>"
     "<SelfUpdatePath>https://x.example/other.exe</SelfUpdatePath><GameStartPathEng>en.exe</GameStartPathEng>"
     "<FBLink>fb1</FBLink><FacebookLink>fb2</FacebookLink><reglink kind=\"x\">reg.example</reglink>"
     "<PatchManifestSha256>s1</PatchManifestSha256><PatchManifestHash>s2</PatchManifestHash></UpdateConfig>",
     "", false, kLoaded,
     {{L"client", RootA() + L"tavrine/updater/client/"}, {L"ru", L"system/l2.exe"}, {L"eng", L"en.exe"},
      {L"manifest", L"m1"}, {L"version", L"l1"}, {L"token", L"2026-01-02-03-04-05"},
      {L"url", L"https://x.example/u.exe"}, {L"archive patch", L"|s1|0"}, {L"link Facebook", L"https://fb1"},
      {L"link Registration", L"https://reg.example"}}},
    {"self-update path without an extension",
     "<SelfUpdatePath>https://x.example/updater</SelfUpdatePath><LauncherVersion>7.0</LauncherVersion>"
     "<ManifestVersion> </ManifestVersion>",
     "", false, kLoaded, {{L"url", L""}, {L"token", L"7.0"}}},
    {"self-update path with a query after .exe", "<SelfUpdatePath>https://x.example/u.exe?x=1</SelfUpdatePath>", "",
     false, kLoaded, {{L"url", L""}, {L"token", L""}}},
    // An empty answer is still the server's: the caller must hear that it came.
    {"empty body", "", "", false, kLoaded, {{L"archive client", L"||0"}, {L"link Forum", L""}}},
    {"missing", nullptr, "", false, L"Server config failed, defaults used: HTTP status 404", {}},
    {"dropped", "<ForumLink>f</ForumLink>", "mode=drop_head", false,
     L"Server config failed, defaults used: HTTP request failed", {}},
    {"canceled", "<ForumLink>f</ForumLink>", "", true, L"Server config failed, defaults used: Canceled", {}},
};

TEST(ServerConfigTest, OutcomesTagPrioritiesAndNormalisation) {
    const auto defaults = Fields(ServerConfig{});
    for (const ConfigCase& item : kCases) {
        SiteApp site;
        if (item.body != nullptr) site.Serve(L"UpdateConfig.xml", item.body, item.fault);
        site.app.cancelStartup = item.cancel;
        const bool loaded = std::wstring(item.lastLine) == kLoaded;
        bool fromServer = !loaded;
        const auto fields = Fields(site.app.LoadServerConfig(site.app.cancelStartup, fromServer));
        EXPECT_EQ(fromServer, loaded) << item.what;
        if (loaded) {
            EXPECT_EQ(fields.size(), 19u) << item.what;
            for (const auto& [name, value] : item.expected) {
                EXPECT_EQ(fields.at(name), value) << item.what << ": " << Utf8FromWide(name);
            }
        } else {
            EXPECT_EQ(fields, defaults) << item.what;
        }

        const auto lines = site.InfoLines();
        ASSERT_EQ(lines.size(), 2u) << item.what;
        const std::wstring url = RootA() + L"tavrine_updater/UpdateConfig.xml?cacheBust=";
        EXPECT_EQ(lines[0].rfind(L"Loading server config: " + url, 0), 0u) << item.what;
        EXPECT_EQ(lines[1], item.lastLine) << item.what;
        const auto requests = ServerRequests(site.site);
        ASSERT_EQ(requests.size(), item.cancel ? 0u : 1u) << item.what;
        for (const std::string& request : requests) {
            EXPECT_EQ(RequestField(request, "role"), "a");
            EXPECT_EQ(RequestField(request, "target"), Utf8FromWide(lines[0].substr(lines[0].find(L"/tavrine_"))));
            EXPECT_NE(request.find("\"pragma\": \"no-cache\""), std::string::npos);
        }
    }
}

}  // namespace
}  // namespace updater
