#pragma once

#include <map>
#include <string>

#include "http/url_builders.h"

namespace updater {

// What the server's UpdateConfig.xml says; a plain value, copied whole under
// NativeApp::configMutex. Every field starts at its built-in default.
struct ServerConfig {
    struct ManifestArchive {
        std::wstring url;
        std::wstring sha256;
        long long size = 0;
    };

    std::wstring clientBaseUrl = DefaultDownloadServerRoot() + L"tavrine/updater/client/";
    std::wstring patchPath = DefaultDownloadServerRoot() + L"tavrine/updater/patch/";
    std::wstring patchClanPath = DefaultDownloadServerRoot() + L"tavrine/updater/patch_clan/";
    std::wstring gameStartPathRu = L"system/l2.exe";
    std::wstring gameStartPathEng = L"system/l2.exe";
    std::wstring manifestVersion;
    std::wstring generatedAtUtc;
    std::wstring launcherVersion;
    std::wstring launcherUrl;
    std::wstring launcherSha256;
    std::map<std::wstring, ManifestArchive> manifestArchives;
    std::map<std::wstring, std::wstring> links;
};

// The "v" token of the manifest requests: the sanitised generatedAtUtc, else
// manifestVersion, else launcherVersion, whichever is first non-empty as stored.
std::wstring ManifestToken(const ServerConfig& config);

// An optional sign and the decimal digits up to the first other character;
// 0 when no digit comes first. Digits beyond the 64-bit range give its limit.
long long DecimalPrefixValue(const std::wstring& text);

}  // namespace updater
