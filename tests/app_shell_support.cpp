#include "tests/app_shell_support.h"

#include "foundation/files.h"
#include "foundation/text.h"

namespace updater {

void PrepareApp(NativeApp& app, const std::wstring& folder) {
    app.appDir = folder;
    app.logger.directory = folder;
    app.http.logger = &app.logger;
}

std::vector<std::wstring> LogMessages(const std::wstring& path) {
    const std::wstring text = WideFromUtf8(ReadBinaryFile(path));
    std::vector<std::wstring> messages;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(L"\r\n", start);
        if (end == std::wstring::npos) end = text.size();
        const std::wstring line = text.substr(start, end - start);
        const size_t level = line.find(L"] ", line.find(L"][tid:"));
        messages.push_back(level == std::wstring::npos ? line : line.substr(level + 2));
        start = end + 2;
    }
    return messages;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace updater
