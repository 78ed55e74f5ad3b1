#include "tests/site_app.h"

#include "foundation/files.h"
#include "foundation/text.h"
#include "tests/http_test_support.h"

namespace updater {

SiteApp::SiteApp(const std::wstring& site) {
    app.appDir = folder.path();
    app.logger.directory = folder.path();
    app.logger.debugEnabled = true;
    app.http.logger = &app.logger;
    UseSite(app.http, site);
}

std::vector<std::wstring> SiteApp::InfoLines() const {
    const std::wstring log = WideFromUtf8(ReadBinaryFile(folder / L"logs\\updater.log"));
    const std::wstring marker = L"][INFO] ";
    std::vector<std::wstring> lines;
    for (size_t start = log.find(marker); start != std::wstring::npos; start = log.find(marker, start)) {
        start += marker.size();
        lines.push_back(log.substr(start, log.find(L"\r\n", start) - start));
    }
    return lines;
}

std::wstring SiteApp::DebugLog() const {
    return WideFromUtf8(ReadBinaryFile(folder / L"logs\\updater-debug.log"));
}

}  // namespace updater
