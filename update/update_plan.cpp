#include "update/update_plan.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <functional>
#include <map>
#include <stdexcept>

#include <windows.h>

#include "app/native_app.h"
#include "foundation/cancellation.h"
#include "foundation/files.h"
#include "foundation/hashing.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "foundation/zip_extract.h"
#include "http/url_builders.h"

namespace updater {

namespace {

// A manifest is read whole into memory: the zipped form may not unpack to more
// than the transport accepts for the plain form.
constexpr long long kManifestXmlLimit = 64LL * 1024 * 1024;
// A zipped manifest of no configured size may be as large as its manifest may be.
constexpr long long kManifestArchiveLimit = kManifestXmlLimit;

// Where one source's manifest is looked for, in the order it is tried.
struct ManifestSource {
    std::wstring name;
    std::wstring baseUrl;
    ServerConfig::ManifestArchive archive;
    std::wstring archiveUrl;
    std::wstring primaryUrl;
    std::wstring fallbackUrl;
    std::vector<std::wstring> archiveAttempts;
    std::vector<std::wstring> legacyAttempts;
};

// What the attempts of one source have got so far.
struct ManifestLoad {
    std::string bytes;
    std::wstring loadedUrl;
    std::exception_ptr lastError;
};

// Twice the URL, then its form on the direct-download server when it has one.
std::vector<std::wstring> AttemptUrls(const std::wstring& url) {
    std::vector<std::wstring> urls{url, url};
    const std::wstring fallback = DirectDownloadFallbackUrl(url);
    if (!fallback.empty()) {
        urls.push_back(fallback);
    }
    return urls;
}

ManifestSource DescribeSource(const ServerConfig& config, const std::wstring& name, const std::wstring& token) {
    ManifestSource source;
    source.name = name;
    source.baseUrl = name == L"patch"        ? config.patchPath
                     : name == L"patch_clan" ? config.patchClanPath
                                             : config.clientBaseUrl;
    source.primaryUrl = AppendUrlParam(EnsureTrailingSlash(source.baseUrl) + L"UpdateInfo.xml", L"v", token);
    const auto archive = config.manifestArchives.find(name);
    if (archive != config.manifestArchives.end()) {
        source.archive = archive->second;
    }
    source.archiveUrl = source.archive.url;
    if (source.archiveUrl.empty() && !source.archive.sha256.empty()) {
        source.archiveUrl = AppendUrlParam(EnsureTrailingSlash(source.baseUrl) + L"UpdateInfo.xml.zip", L"v", token);
    }
    if (!source.archiveUrl.empty()) {
        source.archiveAttempts = AttemptUrls(source.archiveUrl);
    }
    source.fallbackUrl = DirectDownloadFallbackUrl(source.primaryUrl);
    source.legacyAttempts = AttemptUrls(source.primaryUrl);
    return source;
}

HttpClient::RequestOptions ManifestOptions(bool archive, const std::wstring& source) {
    HttpClient::RequestOptions options;
    options.readTimeoutMs = 30000;
    options.connectionClose = true;
    options.fixedReadString = !archive;
    options.fixedReadFile = archive;
    options.label = (archive ? L"manifest-archive:" : L"manifest:") + source;
    return options;
}

bool IsCancel(const std::exception& error, const std::atomic<bool>& cancel) {
    return std::string(error.what()) == "Canceled" || cancel.load();
}

// Tries the URLs one after another until one answers, waiting k seconds after
// the k-th failure; a cancel passes through, other errors are kept in load.
void RunAttempts(NativeApp& app, const std::wstring& source, const std::vector<std::wstring>& urls,
                 const std::wstring& debugPrefix, const std::wstring& failureLine,
                 const std::function<std::string(const std::wstring&)>& fetch, ManifestLoad& load) {
    const std::wstring count = std::to_wstring(urls.size());
    for (size_t k = 1; k <= urls.size(); ++k) {
        const std::wstring& url = urls[k - 1];
        const std::wstring attempt = std::to_wstring(k);
        app.logger.Debug(debugPrefix + L" start source=" + source + L", attempt=" + attempt + L"/" + count +
                         L", url=" + url);
        const auto started = std::chrono::steady_clock::now();
        try {
            load.bytes = fetch(url);
            load.loadedUrl = url;
            app.logger.Debug(debugPrefix + L" success source=" + source + L", attempt=" + attempt + L", bytes=" +
                             std::to_wstring(load.bytes.size()) + L", elapsedMs=" +
                             std::to_wstring(ElapsedMsSince(started)) + L", url=" + url);
            return;
        } catch (const std::exception& error) {
            if (IsCancel(error, app.cancelUpdate)) {
                throw;
            }
            load.lastError = std::current_exception();
            app.logger.Log(failureLine + source + L", attempt=" + attempt + L"/" + count + L", url=" + url +
                           L", error=" + WideFromUtf8(error.what()));
            if (k < urls.size()) {
                SleepWithCancel(static_cast<unsigned long>(k * 1000), app.cancelUpdate);
            }
        }
    }
}

std::vector<UpdateFileEntry> LoadManifest(NativeApp& app, const ManifestSource& source, const std::wstring& token) {
    DebugScope scope(app.logger, L"LoadManifest " + source.name);
    app.logger.Debug(L"LoadManifest source=" + source.name + L", baseUrl=" + source.baseUrl + L", manifestToken=" +
                     token + L", archiveAttempts=" + std::to_wstring(source.archiveAttempts.size()) +
                     L", legacyAttempts=" + std::to_wstring(source.legacyAttempts.size()) + L", archiveUrl=" +
                     source.archiveUrl + L", archiveSha256=" + source.archive.sha256 + L", archiveSize=" +
                     std::to_wstring(source.archive.size) + L", primaryUrl=" + source.primaryUrl +
                     (source.fallbackUrl.empty() ? L"" : L", fallbackUrl=" + source.fallbackUrl));
    ManifestLoad load;
    RunAttempts(
        app, source.name, source.archiveAttempts, L"LoadManifest archive attempt",
        L"Manifest archive load attempt failed: ",
        [&](const std::wstring& url) {
            return app.DownloadManifestArchive(source.name, url, source.archive.sha256, source.archive.size);
        },
        load);
    if (load.bytes.empty()) {
        const HttpClient::RequestOptions options = ManifestOptions(false, source.name);
        RunAttempts(
            app, source.name, source.legacyAttempts, L"LoadManifest attempt", L"Manifest load attempt failed: ",
            [&](const std::wstring& url) { return app.http.DownloadString(url, app.cancelUpdate, app.paused, options); },
            load);
    }
    if (load.bytes.empty()) {
        if (load.lastError) {
            std::rethrow_exception(load.lastError);
        }
        throw std::runtime_error("Empty manifest");
    }
    const std::wstring text = WideFromUtf8(load.bytes);
    app.logger.Debug(L"LoadManifest source=" + source.name + L", loadedUrl=" + load.loadedUrl + L" xmlChars=" +
                     std::to_wstring(text.size()));
    std::vector<UpdateFileEntry> entries = ParseManifestEntries(source.name, source.baseUrl, text, app.logger);
    app.logger.Log(L"Manifest loaded: " + source.name + L", files=" + std::to_wstring(entries.size()));
    return entries;
}

// Windows compares file names without regard to case, by the file system's
// own upper-casing rather than an ASCII fold; paths that name one file there
// must meet under one key here.
struct FileNameLess {
    bool operator()(const std::wstring& left, const std::wstring& right) const {
        return CompareStringOrdinal(left.c_str(), static_cast<int>(left.size()), right.c_str(),
                                    static_cast<int>(right.size()), TRUE) == CSTR_LESS_THAN;
    }
};

}  // namespace

UpdatePlan NativeApp::BuildPlan() {
    DebugScope scope(logger, L"BuildPlan");
    std::vector<std::wstring> sources{L"client", L"patch"};
    if (clanPatchEnabled) {
        sources.push_back(L"patch_clan");
    }
    logger.Debug(L"BuildPlan sources=" + JoinText(sources, L", ") + L", clanPatchEnabled=" +
                 BoolText(clanPatchEnabled));
    ServerConfig config;
    {
        std::lock_guard<std::mutex> lock(configMutex);
        config = serverConfig;
    }
    const std::wstring token = ManifestToken(config);
    UpdatePlan plan;
    std::map<std::wstring, UpdateFileEntry, FileNameLess> merged;
    for (const std::wstring& name : sources) {
        logger.Debug(L"BuildPlan loading source=" + name);
        std::vector<UpdateFileEntry> loaded;
        try {
            loaded = LoadManifest(*this, DescribeSource(config, name, token), token);
        } catch (const std::exception& error) {
            if (IsCancel(error, cancelUpdate)) {
                throw;
            }
            ++plan.manifestFailures;
            logger.Log(L"Manifest failed: " + name + L": " + WideFromUtf8(error.what()));
            continue;
        }
        for (UpdateFileEntry& entry : loaded) {
            const auto [position, inserted] = merged.try_emplace(entry.relativePath);
            if (!inserted) {
                logger.Debug(L"BuildPlan overriding duplicate relativePath=" + entry.relativePath +
                             L" with source=" + name);
            }
            position->second = std::move(entry);
        }
    }
    for (auto& item : merged) {
        plan.entries.push_back(std::move(item.second));
    }
    std::sort(plan.entries.begin(), plan.entries.end(),
              [](const UpdateFileEntry& a, const UpdateFileEntry& b) { return a.relativePath < b.relativePath; });
    logger.Debug(L"BuildPlan complete entries=" + std::to_wstring(plan.entries.size()) + L", manifestFailures=" +
                 std::to_wstring(plan.manifestFailures));
    return plan;
}

std::string NativeApp::DownloadManifestArchive(const std::wstring& source, const std::wstring& url,
                                               const std::wstring& sha256, long long size) {
    DebugScope scope(logger, L"DownloadManifestArchive " + source);
    const std::wstring folder = JoinPath(JoinPath(appDir, L"temp"), L"manifests");
    CreateDirectoryRecursive(folder);
    const std::wstring archivePath = JoinPath(folder, source + L"-UpdateInfo.xml.zip.download");
    const std::wstring xmlPath = JoinPath(folder, source + L"-UpdateInfo.xml.download");
    DeleteFileQuiet(archivePath);
    DeleteFileQuiet(xmlPath);
    // Neither file outlives the call, whether it fails or not.
    const FileDeletionGuard archiveFile(archivePath);
    const FileDeletionGuard xmlFile(xmlPath);
    logger.Debug(L"DownloadManifestArchive start source=" + source + L", url=" + url + L", expectedSha256=" + sha256 +
                 L", expectedSize=" + std::to_wstring(size) + L", archivePath=" + archivePath + L", xmlPath=" +
                 xmlPath);
    HttpClient::RequestOptions options = ManifestOptions(true, source);
    options.maxFileBytes = size > 0 ? size : kManifestArchiveLimit;
    http.DownloadFile(url, archivePath, cancelUpdate, paused, [](long long, long long, long long) {}, options);
    ThrowIfCanceled(cancelUpdate);
    const long long actual = FileSizeOf(archivePath);
    logger.Debug(L"DownloadManifestArchive downloaded source=" + source + L", actualSize=" +
                 std::to_wstring(actual) + L", expectedSize=" + std::to_wstring(size));
    if (size > 0 && actual != size) {
        throw std::runtime_error("Manifest archive size mismatch");
    }
    if (!sha256.empty()) {
        const std::wstring actualHash = Sha256Hex(archivePath);
        logger.Debug(L"DownloadManifestArchive SHA256 source=" + source + L", actual=" + actualHash +
                     L", expected=" + sha256);
        if (_wcsicmp(actualHash.c_str(), sha256.c_str()) != 0) {
            throw std::runtime_error("Manifest archive SHA256 mismatch");
        }
    }
    ExtractFirstZipFile(archivePath, xmlPath, L"UpdateInfo.xml", &cancelUpdate, kManifestXmlLimit);
    std::string bytes = ReadBinaryFile(xmlPath);
    logger.Debug(L"DownloadManifestArchive extracted source=" + source + L", xmlBytes=" +
                 std::to_wstring(bytes.size()));
    if (bytes.empty()) {
        throw std::runtime_error("Empty manifest archive XML");
    }
    return bytes;
}

}  // namespace updater
