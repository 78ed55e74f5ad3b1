#include "update/server_config.h"

#include <map>
#include <utility>

#include <gtest/gtest.h>

#include "foundation/files.h"
#include "foundation/text.h"
#include "tests/http_test_support.h"
#include "tests/site_app.h"

namespace updater {
namespace {

const std::wstring kConfigPath = L"tavrine_updater\\UpdateConfig.xml";

// Every field as "name" -> text; archives as "url|sha256|size", links by key.
std::map<std::wstring, std::wstring> Fields(const ServerConfig& config) {
    std::map<std::wstring, std::wstring> fields{
        {L"clientBaseUrl", config.clientBaseUrl},   {L"patchPath", config.patchPath},
        {L"patchClanPath", config.patchClanPath},   {L"gameStartPathRu", config.gameStartPathRu},
        {L"gameStartPathEng", config.gameStartPathEng}, {L"manifestVersion", config.manifestVersion},
        {L"launcherVersion", config.launcherVersion}, {L"launcherUrl", config.launcherUrl},
        {L"launcherSha256", config.launcherSha256}, {L"token", ManifestToken(config)}};
    for (const auto& [key, archive] : config.manifestArchives) {
        fields[L"archive " + key] = archive.url + L"|" + archive.sha256 + L"|" + std::to_wstring(archive.size);
    }
    for (const auto& [key, url] : config.links) {
        fields[L"link " + key] = url;
    }
    return fields;
}

struct ConfigCase {
    const char* what;
    const char* xml;
    std::map<std::wstring, std::wstring> expected;
};

const ConfigCase kConfigCases[] = {
    {"first rows of every list",
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
     {{L"clientBaseUrl", L"https://mirror.example/base/"},
      {L"patchPath", RootA() + L"tavrine/updater/patch/"},
      {L"patchClanPath", L"https://mirror.example/clan\\/"},
      {L"gameStartPathRu", L"system/ru.exe"},
      {L"gameStartPathEng", L"system/ru.exe"},
      {L"manifestVersion", L"3.1 beta:2"},
      {L"launcherVersion", L"3.1 beta:2"},
      {L"token", L"3.1-beta-2"},
      {L"launcherUrl", L"https://mirror.example/Updater.ZIP"},
      {L"launcherSha256", L"ABCDEF"},
      {L"archive client", L"https://mirror.example/c.zip|AbC|345"},
      {L"archive patch", L"||-7"},
      {L"archive patch_clan", L"||12"},
      {L"link About", L"https://site.example/about"},
      {L"link Donation", L"https://pay.example/x?a=1&b=2"},
      {L"link Facebook", L"https://fb.example"},
      {L"link Forum", L""},
      {L"link Registration", L""},
      {L"link Telegram", L"HTTPS://t.example"}}},
    {"earlier tags win, time stamp gives the token",
     "\xEF\xBB\xBF<UpdateConfig><GeneratedAtUtc>2026-01-02 03:04:05</GeneratedAtUtc>"
     "<ManifestVersion>m1</ManifestVersion><LauncherVersion>l1</LauncherVersion><UpdaterVersion>u9</UpdaterVersion>"
     "<LauncherUrl></LauncherUrl><UpdaterDownloadUrl>http://x.example/u.exe</UpdaterDownloadUrl>"
     "<SelfUpdatePath>https://x.example/other.exe</SelfUpdatePath><GameStartPathEng>en.exe</GameStartPathEng>"
     "<FBLink>fb1</FBLink><FacebookLink>fb2</FacebookLink><reglink kind=\"x\">reg.example</reglink>"
     "<PatchManifestSha256>s1</PatchManifestSha256><PatchManifestHash>s2</PatchManifestHash></UpdateConfig>",
     {{L"clientBaseUrl", RootA() + L"tavrine/updater/client/"},
      {L"gameStartPathRu", L"system/l2.exe"},
      {L"gameStartPathEng", L"en.exe"},
      {L"manifestVersion", L"m1"},
      {L"launcherVersion", L"l1"},
      {L"token", L"2026-01-02-03-04-05"},
      {L"launcherUrl", L"https://x.example/u.exe"},
      {L"archive patch", L"|s1|0"},
      {L"link Facebook", L"https://fb1"},
      {L"link Registration", L"https://reg.example"}}},
    {"self-update path without an extension",
     "<SelfUpdatePath>https://x.example/updater</SelfUpdatePath><LauncherVersion>7.0</LauncherVersion>"
     "<ManifestVersion> </ManifestVersion>",
     {{L"launcherUrl", L""}, {L"token", L"7.0"}, {L"gameStartPathEng", L"system/l2.exe"}}},
    {"self-update path with a query after .exe",
     "<SelfUpdatePath>https://x.example/u.exe?x=1</SelfUpdatePath>", {{L"launcherUrl", L""}, {L"token", L""}}},
};

TEST(ServerConfigTest, TagPrioritiesAndNormalisation) {
    for (const ConfigCase& item : kConfigCases) {
        const std::wstring site = L"config-" + NewTestId();
        WriteBinaryFile(SiteFolder(site) + L"\\" + kConfigPath, item.xml, false);
        SiteApp app(site);
        bool fromServer = false;
        const auto fields = Fields(app.app.LoadServerConfig(fromServer));
        EXPECT_TRUE(fromServer) << item.what;
        EXPECT_EQ(fields.size(), 19u) << item.what;
        for (const auto& [name, value] : item.expected) {
            EXPECT_EQ(fields.at(name), value) << item.what << ": " << Utf8FromWide(name);
        }
    }
}

// How the download of the configuration ended, and whether the caller hears of it.
struct OutcomeCase {
    const char* what;
    const char* body;  // null: no file on the site
    const char* fault;
    bool cancel;
    bool fromServer;
    const wchar_t* lastLine;
};

const OutcomeCase kOutcomes[] = {
    {"served", "<ForumLink>forum.example</ForumLink>", "", false, true, L"Server config loaded."},
    {"empty body", "", "", false, true, L"Server config loaded."},
    {"missing", nullptr, "", false, false, L"Server config failed, defaults used: HTTP status 404"},
    {"dropped", "<ForumLink>forum.example</ForumLink>", "mode=drop_head", false, false,
     L"Server config failed, defaults used: HTTP request failed"},
    {"canceled", "<ForumLink>forum.example</ForumLink>", "", true, false,
     L"Server config failed, defaults used: Canceled"},
};

TEST(ServerConfigTest, OutcomesAndTheFromServerFlag) {
    const auto defaults = Fields(ServerConfig{});
    for (const OutcomeCase& item : kOutcomes) {
        const std::wstring site = L"config-" + NewTestId();
        const std::wstring path = SiteFolder(site) + L"\\" + kConfigPath;
        if (item.body != nullptr) {
            WriteBinaryFile(path, item.body, false);
        }
        if (*item.fault != '\0') {
            WriteBinaryFile(path + L".fault", item.fault, false);
        }
        SiteApp app(site);
        app.app.cancelStartup = item.cancel;
        bool fromServer = !item.fromServer;
        const ServerConfig config = app.app.LoadServerConfig(fromServer);
        EXPECT_EQ(fromServer, item.fromServer) << item.what;

        auto fields = Fields(config);
        if (item.fromServer) {
            EXPECT_EQ(fields.size(), 19u) << item.what;
            EXPECT_EQ(fields.at(L"link Forum"), *item.body ? L"https://forum.example" : L"") << item.what;
            EXPECT_EQ(fields.at(L"archive client"), L"||0") << item.what;
        } else {
            EXPECT_EQ(fields, defaults) << item.what;
        }
        const auto lines = app.InfoLines();
        ASSERT_EQ(lines.size(), 2u) << item.what;
        const std::wstring url = RootA() + L"tavrine_updater/UpdateConfig.xml?cacheBust=";
        EXPECT_EQ(lines[0].rfind(L"Loading server config: " + url, 0), 0u) << item.what;
        EXPECT_EQ(lines[1], item.lastLine) << item.what;

        const auto requests = ServerRequests(site);
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
