#include "tests/http_test_support.h"

#include <chrono>
#include <thread>
#include <utility>

#include <windows.h>

#include "foundation/files.h"
#include "foundation/text.h"
#include "http/url_builders.h"

namespace updater {

namespace {

std::wstring ServerFolder() {
    return ReplaceAllText(WideFromUtf8(HTTP_TEST_SERVER_DIR), L"/", L"\\");
}

}  // namespace

std::wstring RootA() {
    return DefaultDownloadServerRoot();
}

std::wstring RootB() {
    return DirectDownloadServerRoot();
}

std::wstring PlainRoot() {
    return L"http://localhost:" + std::to_wstring(HTTP_TEST_PORT_PLAIN) + L"/";
}

std::wstring UntrustedRoot() {
    return L"https://localhost:" + std::to_wstring(HTTP_TEST_PORT_UNTRUSTED) + L"/";
}

std::wstring NewTestId() {
    static std::atomic<unsigned> counter{0};
    return L"t" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(GetTickCount()) + L"-" +
           std::to_wstring(++counter);
}

std::wstring ServerUrl(const std::wstring& root, const std::wstring& path, const std::wstring& id,
                       const std::wstring& query) {
    return root + path + L"?id=" + id + (query.empty() ? L"" : L"&" + query);
}

std::vector<std::string> ServerRequests(const std::wstring& id) {
    const std::string log = ReadBinaryFile(ServerFolder() + L"\\requests.jsonl");
    const std::string key = "\"id\": \"" + Utf8FromWide(id) + "\"";
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos) {
            end = log.size();
        }
        const std::string line = log.substr(start, end - start);
        if (line.find(key) != std::string::npos) {
            lines.push_back(line);
        }
        start = end + 1;
    }
    return lines;
}

bool WaitForServerRequest(const std::wstring& id) {
    for (int i = 0; i < 400; ++i) {
        if (!ServerRequests(id).empty()) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::wstring SiteFolder(const std::wstring& name) {
    return ServerFolder() + L"\\sites\\" + name;
}

void UseSite(HttpClient& client, const std::wstring& name) {
    client.userAgent += L" site=" + name;
}

std::string RequestField(const std::string& line, const std::string& name) {
    const std::string key = "\"" + name + "\": ";
    const size_t start = line.find(key);
    if (start == std::string::npos) {
        return "";
    }
    const size_t value = start + key.size();
    if (line.compare(value, 1, "\"") == 0) {
        return line.substr(value + 1, line.find('"', value + 1) - value - 1);
    }
    return line.substr(value, line.find_first_of(",}", value) - value);
}

std::vector<std::string> SiteRequests(const std::wstring& name) {
    std::vector<std::string> requests;
    for (const std::string& line : ServerRequests(name)) {
        const std::string query = RequestField(line, "query");
        requests.push_back(RequestField(line, "role") + " " + RequestField(line, "path") +
                           (query.empty() ? "" : "?" + query));
    }
    return requests;
}

void ReleaseStall(const std::wstring& name) {
    WriteBinaryFile(ServerFolder() + L"\\release\\" + name, "go", false);
}

StallReleaser::StallReleaser(std::wstring name, std::chrono::milliseconds after) : name(std::move(name)) {
    watchdog = std::thread([this, after] {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait_for(lock, after, [this] { return done; });
        ReleaseStall(this->name);
    });
}

StallReleaser::~StallReleaser() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
    }
    wake.notify_all();
    watchdog.join();
}

std::string ServerBody(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>((131 * i + 7 * (i >> 8) + 13 * (i >> 16)) & 0xFF);
    }
    return bytes;
}

HttpClient::RequestOptions TestOptions(bool fixedRead, unsigned long readTimeoutMs) {
    HttpClient::RequestOptions options;
    options.readTimeoutMs = readTimeoutMs;
    options.noCache = false;
    options.connectionClose = true;
    options.fixedReadString = fixedRead;
    options.fixedReadFile = fixedRead;
    return options;
}

}  // namespace updater
