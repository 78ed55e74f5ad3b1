#include <cwchar>
#include <stdexcept>

#include "app/native_app.h"
#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "foundation/xml_json_readers.h"

namespace updater {

namespace {

const wchar_t kSettingsFileName[] = L"updater_settings.json";
const char kWriteFailure[] = "Could not open file for writing";

std::wstring NormalizedLanguage(const std::wstring& code) {
    if (_wcsicmp(code.c_str(), L"EN") == 0) return L"EN";
    if (_wcsicmp(code.c_str(), L"UA") == 0 || _wcsicmp(code.c_str(), L"UK") == 0) return L"UK";
    return L"RU";
}

// Writes the whole file and flushes it to the disk before returning, so that
// the rename that follows can never publish a file whose data is not there.
void WriteFlushedFile(const std::wstring& path, const std::string& bytes) {
    FileHandle file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr));
    if (!file) throw std::runtime_error(kWriteFailure);
    DWORD written = 0;
    if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
        written != bytes.size() || !FlushFileBuffers(file.get())) {
        throw std::runtime_error(kWriteFailure);
    }
}

// The file exists but gives no bytes: locked, a folder in its place, or a
// failed read. Only a missing or empty file may be replaced by the defaults.
bool ExistsButUnreadable(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 || FileSizeOf(path) != 0;
}

}  // namespace

std::wstring NativeApp::SettingsPath() const {
    return JoinPath(appDir, kSettingsFileName);
}

// The file is replaced whole: the new content goes to a temporary file beside
// it, which then takes the old one's place in one rename, so a crash or a full
// disk never leaves a truncated settings file behind.
void NativeApp::SaveSettings() {
    logger.Debug(L"SaveSettings clientPath=" + clientPath + L", language=" + language + L", clanPatchEnabled=" +
                 BoolText(clanPatchEnabled) + L", debugLog=" + BoolText(debugLog));
    const std::string bytes = Utf8FromWide(L"{\"ClientPath\":\"" + JsonEscape(clientPath) + L"\",\"Language\":\"" +
                                           JsonEscape(language) + L"\",\"ClanPatchEnabled\":" +
                                           BoolText(clanPatchEnabled) + L",\"DebugLog\":" + BoolText(debugLog) + L"}");
    const std::wstring path = SettingsPath();
    const std::wstring temporary = path + L".tmp";
    try {
        WriteFlushedFile(temporary, bytes);
    } catch (...) {
        DeleteFileQuiet(temporary);
        throw;
    }
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileQuiet(temporary);
        throw std::runtime_error(kWriteFailure);
    }
    logger.Debug(L"SaveSettings wrote bytes=" + std::to_wstring(bytes.size()));
}

void NativeApp::SaveSettingsOrLog() {
    try {
        SaveSettings();
    } catch (const std::exception& error) {
        logger.Log(L"Settings save failed: " + WideFromUtf8(error.what()));
    }
}

void NativeApp::LoadSettings() {
    DebugScope scope(logger, L"LoadSettings");
    clientPath = appDir;
    debugLog = launchOptions.debug || logger.debugEnabled.load();
    logger.Debug(L"LoadSettings default clientPath=" + clientPath);
    const std::wstring path = SettingsPath();
    logger.Debug(L"LoadSettings reading path=" + path);
    const std::string bytes = ReadBinaryFile(path);
    if (bytes.empty()) {
        if (ExistsButUnreadable(path)) {
            logger.Log(L"Settings file could not be read; defaults used: " + path);
            return;
        }
        logger.Debug(L"LoadSettings file missing or empty; saving defaults.");
        SaveSettings();
        return;
    }
    logger.Debug(L"LoadSettings bytes=" + std::to_wstring(bytes.size()));
    const std::wstring json = WideFromUtf8(bytes);
    const std::wstring savedClientPath = JsonStringValue(json, L"ClientPath");
    if (!savedClientPath.empty()) clientPath = savedClientPath;
    SetLanguage(NormalizedLanguage(JsonStringValue(json, L"Language")));
    clanPatchEnabled = JsonBoolValue(json, L"ClanPatchEnabled", false);
    debugLog = launchOptions.debug || JsonBoolValue(json, L"DebugLog", false);
    logger.debugEnabled.store(debugLog);
    logger.Debug(L"LoadSettings resolved clientPath=" + clientPath + L", language=" + language +
                 L", clanPatchEnabled=" + BoolText(clanPatchEnabled) + L", debugLog=" + BoolText(debugLog));
}

}  // namespace updater
