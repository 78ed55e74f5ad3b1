#include "update/self_update.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cwctype>
#include <exception>
#include <stdexcept>

#include <windows.h>
#include <shlwapi.h>

#include "app/native_app.h"
#include "foundation/cancellation.h"
#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/hashing.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "foundation/zip_extract.h"
#include "update/updater_version.h"

namespace updater {

namespace {

const wchar_t kWorkFolder[] = L"temp\\launcher-update";
const wchar_t kDefaultPackageName[] = L"TavrineUpdater.exe";
const wchar_t kExtractedName[] = L"TavrineUpdater.download.exe";
// Far above any updater package; a server that sends more must not fill the disk.
constexpr long long kLauncherPackageLimit = 64LL * 1024 * 1024;

bool IsSafeNameCharacter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'.' ||
           c == L'_' || c == L'-';
}

bool IsDeviceName(std::wstring stem) {
    for (wchar_t& c : stem) c = static_cast<wchar_t>(std::towupper(c));
    if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL") return true;
    return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
           stem[3] >= L'1' && stem[3] <= L'9';
}

bool ReadAt(HANDLE file, long long offset, unsigned char* buffer, DWORD count) {
    LARGE_INTEGER position;
    position.QuadPart = offset;
    DWORD read = 0;
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) && ReadFile(file, buffer, count, &read, nullptr) &&
           read == count;
}

}  // namespace

int CompareVersions(const ParsedVersion& current, const ParsedVersion& remote) {
    const size_t length = std::max(current.parts.size(), remote.parts.size());
    for (size_t i = 0; i < length; ++i) {
        const int mine = i < current.parts.size() ? current.parts[i] : 0;
        const int theirs = i < remote.parts.size() ? remote.parts[i] : 0;
        if (mine != theirs) return mine < theirs ? -1 : 1;
    }
    return 0;
}

std::wstring SelfUpdatePackageName(const std::wstring& launcherUrl) {
    std::wstring name = FileNameOf(launcherUrl.substr(0, launcherUrl.find_first_of(L"?#")));
    std::replace_if(name.begin(), name.end(), [](wchar_t c) { return !IsSafeNameCharacter(c); }, L'-');
    if (name.empty() || name.back() == L'.' || IsDeviceName(name.substr(0, name.find(L'.')))) {
        return kDefaultPackageName;
    }
    return name;
}

bool IsWindowsExecutableImage(const std::wstring& path) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    unsigned char header[64];
    if (!file || !ReadAt(file.get(), 0, header, sizeof header)) return false;
    if (header[0] != 'M' || header[1] != 'Z') return false;
    const unsigned long peOffset = header[0x3C] | (header[0x3D] << 8) | (header[0x3E] << 16) |
                                   (static_cast<unsigned long>(header[0x3F]) << 24);
    unsigned char signature[4];
    return ReadAt(file.get(), peOffset, signature, sizeof signature) && signature[0] == 'P' &&
           signature[1] == 'E' && signature[2] == 0 && signature[3] == 0;
}

ParsedVersion NativeApp::ParseVersion(const std::wstring& text) {
    ParsedVersion version;
    bool partHasDigits = false;
    int part = 0;
    for (wchar_t c : text) {
        if (c >= L'0' && c <= L'9') {
            // A part too long for an int counts as the largest one.
            const int digit = c - L'0';
            part = part > (INT_MAX - digit) / 10 ? INT_MAX : part * 10 + digit;
            partHasDigits = true;
        } else if (c == L'.') {
            version.parts.push_back(part);
            part = 0;
            partHasDigits = false;
        } else {
            break;
        }
    }
    if (partHasDigits || version.parts.empty()) version.parts.push_back(part);
    if (version.parts.size() < 3) version.parts.resize(3, 0);
    return version;
}

bool NativeApp::CheckSelfUpdate(const ServerConfig& config, bool force) {
    DebugScope scope(logger, L"CheckSelfUpdate");
    logger.Debug(L"CheckSelfUpdate currentVersion=" + std::wstring(kUpdaterVersion) +
                 L", remoteVersion=" + config.launcherVersion + L", remoteUrl=" + config.launcherUrl +
                 L", remoteSha256=" + config.launcherSha256 + L", force=" + BoolText(force));
    if (config.launcherUrl.empty()) {
        logger.Debug(L"CheckSelfUpdate skipped: launcherUrl is empty.");
        return false;
    }
    if (!force && config.launcherVersion.empty()) {
        logger.Debug(L"CheckSelfUpdate skipped: launcherVersion is empty.");
        return false;
    }
    const int compare = force && config.launcherVersion.empty()
                            ? 0
                            : CompareVersions(ParseVersion(kUpdaterVersion), ParseVersion(config.launcherVersion));
    logger.Debug(L"CheckSelfUpdate versionCompare=" + std::to_wstring(compare));
    if (!force && compare >= 0) {
        logger.Debug(L"CheckSelfUpdate skipped: current version is not older.");
        return false;
    }
    if (force) logger.Log(L"Manual self-update forced. SHA256: " + config.launcherSha256);

    try {
        SetUi(L"Загрузка новой версии апдейтера",
              std::wstring(kUpdaterVersion) + L" -> " +
                  (config.launcherVersion.empty() ? std::wstring(L"latest") : config.launcherVersion),
              0);
        const std::wstring workFolder = JoinPath(appDir, kWorkFolder);
        CreateDirectoryRecursive(workFolder);
        const std::wstring packagePath = JoinPath(workFolder, SelfUpdatePackageName(config.launcherUrl));
        const bool zipped = ToLower(PathFindExtensionW(packagePath.c_str())) == L".zip";
        const std::wstring newExe = zipped ? JoinPath(workFolder, kExtractedName) : packagePath;
        // Only a started script keeps them: it moves the new updater in. A
        // package that is the updater itself is guarded twice.
        FileDeletionGuard package(packagePath);
        FileDeletionGuard extracted(newExe);
        DownloadLauncherPackage(config, packagePath);

        if (zipped) {
            logger.Debug(L"CheckSelfUpdate extracting updater zip to=" + newExe);
            ExtractFirstZipFile(packagePath, newExe, kDefaultPackageName, nullptr);
        }
        // A portal page or a text file must never become the updater.
        if (!IsWindowsExecutableImage(newExe)) {
            throw std::runtime_error("Downloaded updater is not a Windows executable");
        }
        // The extraction cannot be canceled: a window closed meanwhile stops it here.
        ThrowIfCanceled(cancelUpdate);
        const bool started = StartSelfReplace(newExe);
        package.release();
        extracted.release();
        return started;
    } catch (const std::exception& error) {
        logger.Log(L"Self-update failed: " + WideFromUtf8(error.what()));
        SetUi(L"Готов к работе", L"Не удалось обновить апдейтер. Продолжаем текущую версию.", 0);
        return false;
    }
}

void NativeApp::DownloadLauncherPackage(const ServerConfig& config, const std::wstring& packagePath) {
    std::vector<std::wstring> urls{config.launcherUrl};
    for (const std::wstring& mirror :
         {DirectDownloadFallbackUrl(config.launcherUrl), CdnDownloadFallbackUrl(config.launcherUrl)}) {
        if (!mirror.empty() && std::find(urls.begin(), urls.end(), mirror) == urls.end()) urls.push_back(mirror);
    }
    HttpClient::RequestOptions options;
    options.readTimeoutMs = 120000;
    options.connectionClose = true;
    options.fixedReadFile = true;
    options.label = L"self-update";
    options.maxFileBytes = kLauncherPackageLimit;
    const std::atomic<bool> neverPaused{false};
    const std::wstring count = std::to_wstring(urls.size());

    std::exception_ptr lastError;
    for (size_t attempt = 1; attempt <= urls.size(); ++attempt) {
        const std::wstring number = std::to_wstring(attempt);
        try {
            const std::wstring url = AppendCacheBust(urls[attempt - 1]);
            DeleteFileQuiet(packagePath);
            logger.Debug(L"CheckSelfUpdate attempt start attempt=" + number + L"/" + count + L", url=" + url +
                         L", packagePath=" + packagePath);
            const auto started = std::chrono::steady_clock::now();
            http.DownloadFile(
                url, packagePath, cancelUpdate, neverPaused,
                [this](long long downloaded, long long contentLength, long long chunkBytes) {
                    OnLauncherDownloadProgress(downloaded, contentLength, chunkBytes);
                },
                options);
            logger.Debug(L"CheckSelfUpdate download complete attempt=" + number + L", size=" +
                         std::to_wstring(FileSizeOf(packagePath)) + L", elapsedMs=" +
                         std::to_wstring(ElapsedMsSince(started)));
            if (!config.launcherSha256.empty()) {
                const std::wstring actual = Sha256Hex(packagePath);
                logger.Debug(L"CheckSelfUpdate SHA256 actual=" + actual + L", expected=" + config.launcherSha256);
                if (ToLower(actual) != ToLower(config.launcherSha256)) {
                    throw std::runtime_error("Launcher SHA256 mismatch");
                }
            }
            return;
        } catch (const std::exception& error) {
            const std::string message = error.what();
            logger.Debug(L"CheckSelfUpdate attempt failed attempt=" + number + L"/" + count + L", tempSize=" +
                         std::to_wstring(FileSizeOf(packagePath)) + L", error=" + WideFromUtf8(message));
            DeleteFileQuiet(packagePath);
            if (message == "Canceled" || cancelUpdate.load()) throw;
            lastError = std::current_exception();
            if (attempt < urls.size()) SleepWithCancel(static_cast<unsigned long>(attempt) * 1000, cancelUpdate);
        }
    }
    logger.Debug(L"CheckSelfUpdate all download attempts failed.");
    std::rethrow_exception(lastError);
}

void NativeApp::OnLauncherDownloadProgress(long long downloaded, long long contentLength, long long) {
    const double percent =
        contentLength > 0 ? static_cast<double>(downloaded) * 100.0 / static_cast<double>(contentLength) : 0.0;
    SetProgressUi(T(L"DownloadingLauncherUpdate"), L"", percent);
}

bool NativeApp::StartSelfReplace(const std::wstring& newExe) {
    const unsigned long pid = GetCurrentProcessId();
    const std::wstring scriptPath = JoinPath(appDir, kReplaceScriptRelativePath);
    CreateDirectoryRecursive(DirectoryName(scriptPath));
    logger.Debug(L"StartSelfReplace newExe=" + newExe + L", currentExe=" + exePath + L", script=" + scriptPath +
                 L", pid=" + std::to_wstring(pid));
    const std::string script = ReplaceScriptText(pid, exePath, newExe);
    WriteBinaryFile(scriptPath, script, false);
    logger.Debug(L"StartSelfReplace script content=" + WideFromUtf8(script));

    const ProcessLaunch launch = ReplaceScriptLaunch(appDir);
    logger.Debug(L"StartSelfReplace command=" + launch.commandLine);
    unsigned long error = 0;
    const bool started = startProcess ? startProcess(launch, error) : StartHiddenProcess(launch, error);
    if (!started) {
        logger.Debug(L"StartSelfReplace CreateProcess failed: " + GetLastErrorText(error));
        throw std::runtime_error("Could not start launcher replacement helper");
    }
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    logger.Debug(L"StartSelfReplace helper started.");
    return true;
}

}  // namespace updater
