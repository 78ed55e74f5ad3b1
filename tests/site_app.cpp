#include "tests/site_app.h"

#include "foundation/files.h"
#include "foundation/text.h"

namespace updater {

namespace {

// The rest of each line of the log after every place where `lead + prefix` is found.
std::vector<std::wstring> LinesAfter(const std::wstring& log, const std::wstring& lead, const std::wstring& prefix) {
    std::vector<std::wstring> lines;
    for (size_t at = log.find(lead + prefix); at != std::wstring::npos; at = log.find(lead + prefix, at + 1)) {
        const size_t start = at + lead.size();
        lines.push_back(log.substr(start, log.find(L"\r\n", start) - start));
    }
    return lines;
}

}  // namespace

SiteApp::SiteApp(std::wstring site) : site(std::move(site)) {
    app.appDir = folder.path();
    app.logger.directory = folder.path();
    app.logger.debugEnabled = true;
    app.http.logger = &app.logger;
    UseSite(app.http, this->site);
}

std::wstring SiteApp::Serve(const std::wstring& name, const std::string& bytes, const std::string& fault) const {
    const std::wstring path = SiteFolder(site) + L"\\tavrine_updater\\" + name;
    WriteBinaryFile(path, bytes, false);
    if (!fault.empty()) WriteBinaryFile(path + L".fault", fault, false);
    return RootA() + L"tavrine_updater/" + name;
}

std::vector<std::wstring> SiteApp::InfoLines() const {
    return LinesAfter(WideFromUtf8(ReadBinaryFile(folder / L"logs\\updater.log")), L"][INFO] ", L"");
}

std::vector<std::wstring> SiteApp::DebugLines(const std::wstring& prefix) const {
    return LinesAfter(DebugLog(), L"] ", prefix);
}

std::wstring SiteApp::DebugLog() const {
    return WideFromUtf8(ReadBinaryFile(folder / L"logs\\updater-debug.log"));
}

}  // namespace updater
