#include "update/server_config.h"

#include <cwchar>
#include <initializer_list>
#include <stdexcept>

#include <shlwapi.h>

#include "app/native_app.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "foundation/xml_json_readers.h"

namespace updater {

namespace {

using TagList = std::initializer_list<const wchar_t*>;

struct ArchiveTags {
    const wchar_t* key;
    TagList url;
    TagList sha256;
    TagList size;
};

const ArchiveTags kArchiveTags[] = {
    {L"client",
     {L"ClientManifestUrl", L"ClientManifestZipUrl", L"ClientManifestArchiveUrl"},
     {L"ClientManifestSha256", L"ClientManifestHash", L"ClientManifestZipSha256"},
     {L"ClientManifestSize", L"ClientManifestZipSize"}},
    {L"patch",
     {L"PatchManifestUrl", L"PatchManifestZipUrl", L"PatchManifestArchiveUrl"},
     {L"PatchManifestSha256", L"PatchManifestHash", L"PatchManifestZipSha256"},
     {L"PatchManifestSize", L"PatchManifestZipSize"}},
    {L"patch_clan",
     {L"PatchClanManifestUrl", L"PatchClanManifestZipUrl", L"PatchClanManifestArchiveUrl"},
     {L"PatchClanManifestSha256", L"PatchClanManifestHash", L"PatchClanManifestZipSha256"},
     {L"PatchClanManifestSize", L"PatchClanManifestZipSize"}},
};

struct LinkTags {
    const wchar_t* key;
    TagList tags;
};

const LinkTags kLinkTags[] = {
    {L"About", {L"AboutLink", L"DescriptionLink", L"InfoLink", L"SiteLink"}},
    {L"Donation", {L"DonationLink", L"DonateLink", L"BalanceLink", L"TopUpLink"}},
    {L"Registration", {L"RegLink", L"RegistrationLink", L"RegisterLink"}},
    {L"Forum", {L"ForumLink"}},
    {L"Telegram", {L"TelegramLink", L"TgLink"}},
    {L"Facebook", {L"FBLink", L"FacebookLink"}},
};

// A configured base URL in https form ending in "/"; the fallback when none is given.
std::wstring BaseUrlValue(const std::wstring& xml, const wchar_t* tag, const std::wstring& fallback) {
    const std::wstring value = XmlTagValue(xml, tag);
    return value.empty() ? fallback : EnsureTrailingSlash(ForceHttpsScheme(value));
}

std::wstring ValueOr(std::wstring value, const std::wstring& fallback) {
    return value.empty() ? fallback : value;
}

// The updater package's URL; "SelfUpdatePath" counts only for an .exe or a .zip.
std::wstring LauncherUrlValue(const std::wstring& xml) {
    std::wstring url =
        FirstXmlTagValue(xml, {L"LauncherUrl", L"UpdaterUrl", L"LauncherDownloadUrl", L"UpdaterDownloadUrl"});
    if (url.empty()) {
        const std::wstring selfUpdatePath = XmlTagValue(xml, L"SelfUpdatePath");
        const std::wstring extension = ToLower(PathFindExtensionW(selfUpdatePath.c_str()));
        if (extension == L".exe" || extension == L".zip") {
            url = selfUpdatePath;
        }
    }
    return ForceHttpsScheme(url);
}

void FillFromXml(ServerConfig& config, const std::wstring& xml) {
    config.clientBaseUrl = BaseUrlValue(xml, L"ClientPath", config.clientBaseUrl);
    config.patchPath = BaseUrlValue(xml, L"PatchPath", config.patchPath);
    config.patchClanPath = BaseUrlValue(xml, L"PatchClanPath", config.patchClanPath);
    config.gameStartPathRu = ValueOr(XmlTagValue(xml, L"GameStartPathRu"), L"system/l2.exe");
    config.gameStartPathEng = ValueOr(XmlTagValue(xml, L"GameStartPathEng"), config.gameStartPathRu);
    config.manifestVersion = FirstXmlTagValue(xml, {L"ManifestVersion", L"UpdaterVersion"});
    config.generatedAtUtc = XmlTagValue(xml, L"GeneratedAtUtc");
    config.launcherVersion = FirstXmlTagValue(xml, {L"LauncherVersion", L"UpdaterVersion", L"AppVersion"});
    config.launcherUrl = LauncherUrlValue(xml);
    config.launcherSha256 =
        FirstXmlTagValue(xml, {L"LauncherSha256", L"UpdaterSha256", L"LauncherHash", L"UpdaterHash"});
    for (const ArchiveTags& archive : kArchiveTags) {
        ServerConfig::ManifestArchive& target = config.manifestArchives[archive.key];
        target.url = ForceHttpsScheme(FirstXmlTagValue(xml, archive.url));
        target.sha256 = FirstXmlTagValue(xml, archive.sha256);
        target.size = DecimalPrefixValue(FirstXmlTagValue(xml, archive.size));
    }
    for (const LinkTags& link : kLinkTags) {
        config.links[link.key] = NormalizeExternalUrl(FirstXmlTagValue(xml, link.tags));
    }
}

void LogResolved(Logger& logger, const ServerConfig& config) {
    logger.Debug(L"Server config resolved clientPath=" + config.clientBaseUrl + L", patchPath=" + config.patchPath +
                 L", patchClanPath=" + config.patchClanPath + L", gameStartPathRu=" + config.gameStartPathRu +
                 L", gameStartPathEng=" + config.gameStartPathEng + L", manifestVersion=" +
                 config.manifestVersion + L", generatedAtUtc=" + config.generatedAtUtc + L", manifestToken=" +
                 ManifestToken(config) + L", launcherVersion=" + config.launcherVersion + L", launcherUrl=" +
                 config.launcherUrl + L", launcherSha256=" + config.launcherSha256);
    for (const auto& [source, archive] : config.manifestArchives) {
        logger.Debug(L"Server config manifest archive source=" + source + L", url=" + archive.url + L", sha256=" +
                     archive.sha256 + L", size=" + std::to_wstring(archive.size));
    }
    for (const auto& [key, url] : config.links) {
        logger.Debug(L"Server config link " + key + L"=" + url);
    }
}

}  // namespace

std::wstring ManifestToken(const ServerConfig& config) {
    if (!config.generatedAtUtc.empty()) {
        return SanitizeUrlToken(config.generatedAtUtc);
    }
    return SanitizeUrlToken(config.manifestVersion.empty() ? config.launcherVersion : config.manifestVersion);
}

long long DecimalPrefixValue(const std::wstring& text) {
    return std::wcstoll(text.c_str(), nullptr, 10);
}

ServerConfig NativeApp::LoadServerConfig(const std::atomic<bool>& cancel, bool& fromServer) {
    DebugScope scope(logger, L"LoadServerConfig");
    ServerConfig config;
    fromServer = false;
    try {
        const std::wstring url = AppendCacheBust(DefaultDownloadServerRoot() + L"tavrine_updater/UpdateConfig.xml");
        logger.Log(L"Loading server config: " + url);
        HttpClient::RequestOptions options;
        options.readTimeoutMs = 30000;
        options.noCache = true;
        options.connectionClose = true;
        options.fixedReadString = true;
        options.label = L"string-default";
        const std::atomic<bool> neverPaused{false};
        const std::string body = http.DownloadString(url, cancel, neverPaused, options);
        fromServer = true;
        logger.Debug(L"Server config downloaded bytes=" + std::to_wstring(body.size()));
        const std::wstring xml = WideFromUtf8(body);
        logger.Debug(L"Server config XML=" + xml);
        FillFromXml(config, xml);
        LogResolved(logger, config);
        logger.Log(L"Server config loaded.");
    } catch (const std::exception& error) {
        logger.Log(L"Server config failed, defaults used: " + WideFromUtf8(error.what()));
    }
    return config;
}

}  // namespace updater
