#include "http/http_client.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <utility>

#include "foundation/cancellation.h"
#include "foundation/files.h"
#include "foundation/paths.h"
#include "foundation/text.h"

namespace updater {

namespace {

constexpr DWORD kResolveTimeoutMs = 30000;
constexpr DWORD kConnectTimeoutMs = 30000;
constexpr DWORD kSendTimeoutMs = 30000;
constexpr DWORD kSessionReceiveTimeoutMs = 600000;
constexpr DWORD kTlsProtocols =
    WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
constexpr DWORD kAddOrReplace = WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE;

constexpr DWORD kFileBlockBytes = 131072;
constexpr DWORD kStringBlockBytes = 16384;
constexpr long long kStringReserveLimit = 33554432;
// Far above any configuration or manifest; a 32-bit process cannot hold much more.
constexpr long long kStringBodyLimit = 67108864;

using Clock = std::chrono::steady_clock;

std::wstring BoolText(bool value) {
    return value ? L"true" : L"false";
}

std::wstring LabelSuffix(const std::wstring& label) {
    return label.empty() ? std::wstring() : L", label=" + label;
}

// Without its own limit, the synchronous send waits for the response head for
// ever on some platforms, whatever the receive time-out says.
void SetReceiveResponseTimeout(HINTERNET handle, DWORD milliseconds) {
    WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &milliseconds, sizeof(milliseconds));
}

std::wstring QueryHeader(HINTERNET request, DWORD infoLevel, const wchar_t* name) {
    DWORD size = 0;
    if (WinHttpQueryHeaders(request, infoLevel, name, WINHTTP_NO_OUTPUT_BUFFER, &size, WINHTTP_NO_HEADER_INDEX) ||
        GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
        return {};
    }
    std::vector<wchar_t> buffer(size / 2 + 1, L'\0');
    if (!WinHttpQueryHeaders(request, infoLevel, name, buffer.data(), &size, WINHTTP_NO_HEADER_INDEX)) {
        return {};
    }
    return Trim(std::wstring(buffer.data()));
}

// A failed WinHTTP call on the body: the failure line first, then the cancel
// re-check (an abort surfaces as "Canceled"), then the call's own error. The
// caller reads the error code before anything else can change it.
[[noreturn]] void FailBodyCall(const HttpClient& client, DWORD error, const std::wstring& call,
                               const std::wstring& kind, Clock::time_point started, const std::wstring& url,
                               const std::atomic<bool>& cancel) {
    client.DebugLog(call + L" failed for " + kind + L": " + GetLastErrorText(error) + L", elapsedMs=" +
                    std::to_wstring(ElapsedMsSince(started)) + L", url=" + url);
    ThrowIfCanceled(cancel);
    throw std::runtime_error(Utf8FromWide(call) + " failed");
}

}  // namespace

HttpClient::TrackedRequest::TrackedRequest(std::shared_ptr<RequestHandleState> state) : state(std::move(state)) {}

HttpClient::TrackedRequest::TrackedRequest(TrackedRequest&& other) noexcept : state(std::move(other.state)) {}

HttpClient::TrackedRequest& HttpClient::TrackedRequest::operator=(TrackedRequest&& other) noexcept {
    if (this != &other) {
        Close();
        state = std::move(other.state);
    }
    return *this;
}

HttpClient::TrackedRequest::~TrackedRequest() {
    Close();
}

HINTERNET HttpClient::TrackedRequest::get() const {
    return state ? state->handle.load() : nullptr;
}

void HttpClient::TrackedRequest::Close() {
    if (!state) {
        return;
    }
    HINTERNET handle = state->handle.exchange(nullptr);
    if (handle != nullptr) {
        WinHttpCloseHandle(handle);
    }
    state.reset();
}

HttpClient::~HttpClient() {
    if (session != nullptr) {
        WinHttpCloseHandle(session);
    }
}

void HttpClient::DebugLog(const std::wstring& message) const {
    if (logger == nullptr || !logger->debugEnabled.load()) {
        return;
    }
    logger->Write(L"DEBUG", L"HTTP " + message, false);
}

std::wstring HttpClient::QueryHeaderText(HINTERNET request, DWORD infoLevel) {
    return QueryHeader(request, infoLevel, WINHTTP_HEADER_NAME_BY_INDEX);
}

std::wstring HttpClient::QueryCustomHeaderText(HINTERNET request, const wchar_t* name) {
    return QueryHeader(request, WINHTTP_QUERY_CUSTOM, name);
}

long long ParseContentLengthHeader(HINTERNET request) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER,
                        &size, WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) {
        return 0;
    }
    std::vector<wchar_t> buffer(size / 2 + 1, L'\0');
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, buffer.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return 0;
    }
    return _wtoi64(buffer.data());
}

HttpClient::RequestContext HttpClient::OpenRequest(const std::wstring& url, const std::atomic<bool>& cancel,
                                                   const RequestOptions& options) {
    DebugScope scope(logger, L"HTTP OpenRequest " + url);
    ThrowIfCanceled(cancel);

    wchar_t hostBuffer[512] = {};
    wchar_t pathBuffer[4096] = {};
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof(parts);
    parts.dwSchemeLength = static_cast<DWORD>(-1);
    parts.lpszHostName = hostBuffer;
    parts.dwHostNameLength = 512;
    parts.lpszUrlPath = pathBuffer;
    parts.dwUrlPathLength = 4096;
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
        throw std::runtime_error("Invalid URL");
    }
    const std::wstring host(hostBuffer, parts.dwHostNameLength);
    std::wstring path(pathBuffer, parts.dwUrlPathLength);
    if (parts.dwExtraInfoLength != 0) {
        path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    }
    const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    const INTERNET_PORT port = parts.nPort;
    DebugLog(L"open request url=" + url + L", host=" + host + L", port=" + std::to_wstring(port) + L", secure=" +
             (secure ? L"true" : L"false") + L", path=" + path);

    HINTERNET sessionHandle = nullptr;
    {
        std::lock_guard<std::mutex> lock(sessionMutex);
        if (session == nullptr) {
            DebugLog(L"opening session userAgent=" + userAgent);
            session = WinHttpOpen(userAgent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
            if (session == nullptr) {
                const DWORD error = GetLastError();
                DebugLog(L"WinHttpOpen failed: " + GetLastErrorText(error));
                throw std::runtime_error("WinHttpOpen failed");
            }
            WinHttpSetTimeouts(session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kSessionReceiveTimeoutMs);
            SetReceiveResponseTimeout(session, kSessionReceiveTimeoutMs);
            // Older systems accept the protocol list only on the session.
            DWORD protocols = kTlsProtocols;
            WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
            DebugLog(L"session opened; timeouts resolve/connect/send/read=30000/30000/30000/600000 ms");
        }
        sessionHandle = session;
    }

    RequestContext context;
    context.connection.reset(WinHttpConnect(sessionHandle, host.c_str(), port, 0));
    if (!context.connection) {
        const DWORD error = GetLastError();
        DebugLog(L"WinHttpConnect failed: " + GetLastErrorText(error));
        throw std::runtime_error("WinHttpConnect failed");
    }
    DebugLog(L"connection opened host=" + host);

    // The owner is made and tracked before the handle exists, so nothing that
    // throws can leave an open handle without an owner.
    auto state = std::make_shared<RequestHandleState>();
    size_t tracked = 0;
    {
        std::lock_guard<std::mutex> lock(requestsMutex);
        for (auto entry = activeRequests.begin(); entry != activeRequests.end();) {
            entry = entry->expired() ? activeRequests.erase(entry) : entry + 1;
        }
        activeRequests.push_back(state);
        tracked = activeRequests.size();
    }
    context.request = TrackedRequest(state);
    DebugLog(L"request tracked activeRequests=" + std::to_wstring(tracked));
    HINTERNET opened = WinHttpOpenRequest(context.connection.get(), L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                          WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0);
    const DWORD openError = GetLastError();
    state->handle.store(opened);
    // An abort that ran just before the request was tracked could not close it.
    ThrowIfCanceled(cancel);

    if (context.request.get() == nullptr) {
        DebugLog(L"WinHttpOpenRequest failed: " +
                 GetLastErrorText(opened == nullptr ? openError : ERROR_INVALID_HANDLE));
        throw std::runtime_error("WinHttpOpenRequest failed");
    }
    DebugLog(L"request handle opened path=" + path);

    if (options.readTimeoutMs != 0) {
        WinHttpSetTimeouts(context.request.get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                           options.readTimeoutMs);
        SetReceiveResponseTimeout(context.request.get(), options.readTimeoutMs);
        DebugLog(L"request timeouts resolve/connect/send/read=30000/30000/30000/" +
                 std::to_wstring(options.readTimeoutMs) + L" ms" + LabelSuffix(options.label));
    }
    if (secure) {
        DWORD protocols = kTlsProtocols;
        WinHttpSetOption(context.request.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
        DebugLog(L"TLS protocols option set");
    }
    if (options.noCache) {
        WinHttpAddRequestHeaders(
            context.request.get(),
            L"Cache-Control: no-cache, no-store, must-revalidate\r\nPragma: no-cache\r\nExpires: 0\r\n",
            static_cast<DWORD>(-1), kAddOrReplace);
        DebugLog(L"no-cache headers added");
    } else {
        DebugLog(L"no-cache headers skipped" + LabelSuffix(options.label));
    }
    if (options.connectionClose) {
        WinHttpAddRequestHeaders(context.request.get(), L"Connection: close\r\n", static_cast<DWORD>(-1),
                                 kAddOrReplace);
        DebugLog(L"connection close header added" + LabelSuffix(options.label));
    }

    if (!WinHttpSendRequest(context.request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0,
                            0)) {
        const DWORD error = GetLastError();
        DebugLog(L"WinHttpSendRequest failed: " + GetLastErrorText(error));
        ThrowIfCanceled(cancel);
        throw std::runtime_error("HTTP request failed");
    }
    DebugLog(L"request sent");
    if (!WinHttpReceiveResponse(context.request.get(), nullptr)) {
        const DWORD error = GetLastError();
        DebugLog(L"WinHttpReceiveResponse failed: " + GetLastErrorText(error));
        ThrowIfCanceled(cancel);
        throw std::runtime_error("HTTP request failed");
    }
    DebugLog(L"response received");

    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    if (!WinHttpQueryHeaders(context.request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX)) {
        const DWORD error = GetLastError();
        DebugLog(L"WinHttpQueryHeaders status failed: " + GetLastErrorText(error));
        ThrowIfCanceled(cancel);
        throw std::runtime_error("HTTP status " + std::to_string(status));
    }
    DebugLog(L"response status=" + std::to_wstring(status));

    DebugLog(L"response headers raw=" + QueryHeaderText(context.request.get(), WINHTTP_QUERY_RAW_HEADERS_CRLF));
    DebugLog(L"response header Content-Length=" + QueryHeaderText(context.request.get(), WINHTTP_QUERY_CONTENT_LENGTH));
    DebugLog(L"response header Content-Type=" + QueryHeaderText(context.request.get(), WINHTTP_QUERY_CONTENT_TYPE));
    DebugLog(L"response header Last-Modified=" + QueryHeaderText(context.request.get(), WINHTTP_QUERY_LAST_MODIFIED));
    DebugLog(L"response header Transfer-Encoding=" +
             QueryHeaderText(context.request.get(), WINHTTP_QUERY_TRANSFER_ENCODING));
    DebugLog(L"response header Content-Encoding=" +
             QueryHeaderText(context.request.get(), WINHTTP_QUERY_CONTENT_ENCODING));
    DebugLog(L"response header CDN-Cache=" + QueryCustomHeaderText(context.request.get(), L"CDN-Cache"));
    DebugLog(L"response header CDN-EdgeStorageId=" +
             QueryCustomHeaderText(context.request.get(), L"CDN-EdgeStorageId"));
    DebugLog(L"response header CDN-RequestId=" + QueryCustomHeaderText(context.request.get(), L"CDN-RequestId"));

    if (status < 200 || status > 299) {
        ThrowIfCanceled(cancel);
        throw std::runtime_error("HTTP status " + std::to_string(status));
    }
    return context;
}

void HttpClient::AbortActiveRequests() {
    DebugLog(L"abort active requests requested");
    std::vector<HINTERNET> taken;
    {
        std::lock_guard<std::mutex> lock(requestsMutex);
        // Room for every handle first: a handle taken out must reach the close below.
        taken.reserve(activeRequests.size());
        for (auto entry = activeRequests.begin(); entry != activeRequests.end();) {
            std::shared_ptr<RequestHandleState> state = entry->lock();
            if (!state) {
                entry = activeRequests.erase(entry);
                continue;
            }
            HINTERNET handle = state->handle.exchange(nullptr);
            if (handle != nullptr) {
                taken.push_back(handle);
            }
            ++entry;
        }
    }
    for (HINTERNET handle : taken) {
        WinHttpCloseHandle(handle);
    }
    DebugLog(L"abort active requests completed; closed=" + std::to_wstring(taken.size()));
}

void HttpClient::DownloadFile(const std::wstring& url, const std::wstring& destination, const std::atomic<bool>& cancel,
                              const std::atomic<bool>& pause,
                              const std::function<void(long long, long long, long long)>& progress,
                              const RequestOptions& options) {
    DebugScope scope(logger, L"HTTP DownloadFile " + url);
    DebugLog(L"download file start url=" + url + L", destination=" + destination + LabelSuffix(options.label));
    CreateDirectoryRecursive(DirectoryName(destination));
    const FileHandle file(
        CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        DebugLog(L"download file create failed: " + GetLastErrorText(error) + L", destination=" + destination);
        throw std::runtime_error("Could not create download file");
    }
    DebugLog(L"download file opened destination=" + destination);

    RequestContext context = OpenRequest(url, cancel, options);
    const long long contentLength = ParseContentLengthHeader(context.request.get());
    DebugLog(L"download file content-length=" + std::to_wstring(contentLength) + L", url=" + url);

    long long downloaded = 0;
    DWORD count = 0;
    auto writeBlock = [&](const std::vector<char>& buffer, DWORD read) {
        DWORD written = 0;
        if (!WriteFile(file.get(), buffer.data(), read, &written, nullptr) || written != read) {
            const DWORD error = GetLastError();
            DebugLog(L"download file write failed: " + GetLastErrorText(error) + L", destination=" +
                     destination);
            throw std::runtime_error("Could not write download file");
        }
        return written;
    };

    if (options.fixedReadFile) {
        std::vector<char> buffer(kFileBlockBytes, '\0');
        DebugLog(L"download file fixed-read mode enabled" + LabelSuffix(options.label) + L", url=" + url);
        for (;;) {
            const DWORD pass = count + 1;
            PauseCheckpoint(cancel, pause);
            DWORD read = 0;
            const auto started = Clock::now();
            DebugLog(L"read data start kind=file-fixed, chunk=" + std::to_wstring(pass) + L", requested=" +
                     std::to_wstring(kFileBlockBytes) + L", downloaded=" + std::to_wstring(downloaded) + L", cancel=" +
                     BoolText(cancel.load()) + L", paused=" + BoolText(pause.load()) + L", url=" + url);
            if (!WinHttpReadData(context.request.get(), buffer.data(), kFileBlockBytes, &read)) {
                const DWORD error = GetLastError();
                FailBodyCall(*this, error, L"WinHttpReadData", L"file-fixed", started, url, cancel);
            }
            if (read == 0) {
                DebugLog(L"read data eof kind=file-fixed, chunk=" + std::to_wstring(pass) + L", elapsedMs=" +
                         std::to_wstring(ElapsedMsSince(started)) + L", downloaded=" + std::to_wstring(downloaded) +
                         L", total=" + std::to_wstring(contentLength) + L", url=" + url);
                break;
            }
            const DWORD written = writeBlock(buffer, read);
            downloaded += read;
            DebugLog(L"download file fixed chunk=" + std::to_wstring(pass) + L", read=" + std::to_wstring(read) +
                     L", written=" + std::to_wstring(written) + L", readElapsedMs=" +
                     std::to_wstring(ElapsedMsSince(started)) + L", downloaded=" + std::to_wstring(downloaded) +
                     L", total=" + std::to_wstring(contentLength) + L", destination=" + destination);
            progress(downloaded, contentLength, read);
            count = pass;
        }
    } else {
        for (;;) {
            const DWORD pass = count + 1;
            PauseCheckpoint(cancel, pause);
            DWORD available = 0;
            const auto queried = Clock::now();
            DebugLog(L"query data available start kind=file, chunk=" + std::to_wstring(pass) + L", downloaded=" +
                     std::to_wstring(downloaded) + L", cancel=" + BoolText(cancel.load()) + L", paused=" +
                     BoolText(pause.load()) + L", url=" + url);
            if (!WinHttpQueryDataAvailable(context.request.get(), &available)) {
                const DWORD error = GetLastError();
                FailBodyCall(*this, error, L"WinHttpQueryDataAvailable", L"file", queried, url, cancel);
            }
            DebugLog(L"query data available done kind=file, chunk=" + std::to_wstring(pass) + L", available=" +
                     std::to_wstring(available) + L", elapsedMs=" + std::to_wstring(ElapsedMsSince(queried)) +
                     L", url=" + url);
            if (available == 0) {
                break;
            }
            const DWORD size = std::min(available, kFileBlockBytes);
            std::vector<char> buffer(size, '\0');
            DWORD read = 0;
            const auto started = Clock::now();
            DebugLog(L"read data start kind=file, requested=" + std::to_wstring(size) + L", available=" +
                     std::to_wstring(available) + L", url=" + url);
            if (!WinHttpReadData(context.request.get(), buffer.data(), size, &read)) {
                const DWORD error = GetLastError();
                FailBodyCall(*this, error, L"WinHttpReadData", L"file", started, url, cancel);
            }
            if (read == 0) {
                break;
            }
            const DWORD written = writeBlock(buffer, read);
            downloaded += read;
            DebugLog(L"download file chunk=" + std::to_wstring(pass) + L", available=" + std::to_wstring(available) +
                     L", read=" + std::to_wstring(read) + L", written=" + std::to_wstring(written) +
                     L", readElapsedMs=" + std::to_wstring(ElapsedMsSince(started)) + L", downloaded=" +
                     std::to_wstring(downloaded) + L", total=" + std::to_wstring(contentLength) + L", destination=" +
                     destination);
            progress(downloaded, contentLength, read);
            count = pass;
        }
    }

    // A connection that closes early can end the body "cleanly": only the
    // announced length tells a truncated body from a whole one.
    if (contentLength > 0 && downloaded != contentLength) {
        DebugLog(L"download file incomplete bytes=" + std::to_wstring(downloaded) + L", total=" +
                 std::to_wstring(contentLength) + L", destination=" + destination);
        ThrowIfCanceled(cancel);
        throw std::runtime_error("Incomplete HTTP body");
    }
    DebugLog(L"download file complete bytes=" + std::to_wstring(downloaded) + L", chunks=" + std::to_wstring(count) +
             (options.fixedReadFile ? L", mode=fixed-read" : L"") + L", destination=" + destination);
}

std::string HttpClient::DownloadString(const std::wstring& url, const std::atomic<bool>& cancel,
                                       const std::atomic<bool>& pause, const RequestOptions& options) {
    DebugScope scope(logger, L"HTTP DownloadString " + url);
    DebugLog(L"download string start url=" + url + LabelSuffix(options.label));
    RequestContext context = OpenRequest(url, cancel, options);
    const long long contentLength = ParseContentLengthHeader(context.request.get());
    std::string result;
    DWORD count = 0;
    // An endless or huge body would grow memory until some allocation on some
    // thread fails; it is refused at the ceiling instead, before reading when announced.
    const auto refuseBeyondLimit = [&](long long bytes) {
        if (bytes > kStringBodyLimit) {
            DebugLog(L"body too large bytes=" + std::to_wstring(bytes) + L", limit=" +
                     std::to_wstring(kStringBodyLimit) + L", url=" + url);
            ThrowIfCanceled(cancel);
            throw std::runtime_error("HTTP body too large");
        }
    };
    refuseBeyondLimit(contentLength);

    if (options.fixedReadString) {
        if (contentLength >= 1 && contentLength <= kStringReserveLimit) {
            result.reserve(static_cast<size_t>(contentLength));
        }
        std::vector<char> buffer(kStringBlockBytes, '\0');
        DebugLog(L"download string fixed-read mode enabled, content-length=" + std::to_wstring(contentLength) +
                 LabelSuffix(options.label) + L", url=" + url);
        for (;;) {
            const DWORD pass = count + 1;
            PauseCheckpoint(cancel, pause);
            DWORD read = 0;
            const auto started = Clock::now();
            DebugLog(L"read data start kind=string-fixed, chunk=" + std::to_wstring(pass) + L", requested=" +
                     std::to_wstring(kStringBlockBytes) + L", total=" + std::to_wstring(result.size()) + L", cancel=" +
                     BoolText(cancel.load()) + L", paused=" + BoolText(pause.load()) + L", url=" + url);
            if (!WinHttpReadData(context.request.get(), buffer.data(), kStringBlockBytes, &read)) {
                const DWORD error = GetLastError();
                FailBodyCall(*this, error, L"WinHttpReadData", L"string-fixed", started, url, cancel);
            }
            if (read == 0) {
                DebugLog(L"read data eof kind=string-fixed, chunk=" + std::to_wstring(pass) + L", elapsedMs=" +
                         std::to_wstring(ElapsedMsSince(started)) + L", total=" + std::to_wstring(result.size()) +
                         L", url=" + url);
                break;
            }
            refuseBeyondLimit(static_cast<long long>(result.size()) + read);
            result.append(buffer.data(), read);
            DebugLog(L"download string fixed chunk=" + std::to_wstring(pass) + L", read=" + std::to_wstring(read) +
                     L", readElapsedMs=" + std::to_wstring(ElapsedMsSince(started)) + L", total=" +
                     std::to_wstring(result.size()) + L", url=" + url);
            count = pass;
        }
    } else {
        for (;;) {
            const DWORD pass = count + 1;
            PauseCheckpoint(cancel, pause);
            DWORD available = 0;
            const auto queried = Clock::now();
            DebugLog(L"query data available start kind=string, chunk=" + std::to_wstring(pass) + L", total=" +
                     std::to_wstring(result.size()) + L", cancel=" + BoolText(cancel.load()) + L", paused=" +
                     BoolText(pause.load()) + L", url=" + url);
            if (!WinHttpQueryDataAvailable(context.request.get(), &available)) {
                const DWORD error = GetLastError();
                FailBodyCall(*this, error, L"WinHttpQueryDataAvailable", L"string", queried, url, cancel);
            }
            DebugLog(L"query data available done kind=string, chunk=" + std::to_wstring(pass) + L", available=" +
                     std::to_wstring(available) + L", elapsedMs=" + std::to_wstring(ElapsedMsSince(queried)) +
                     L", url=" + url);
            if (available == 0) {
                break;
            }
            refuseBeyondLimit(static_cast<long long>(result.size()) + available);
            std::vector<char> buffer(available, '\0');
            DWORD read = 0;
            const auto started = Clock::now();
            DebugLog(L"read data start kind=string, requested=" + std::to_wstring(available) + L", url=" + url);
            if (!WinHttpReadData(context.request.get(), buffer.data(), available, &read)) {
                const DWORD error = GetLastError();
                FailBodyCall(*this, error, L"WinHttpReadData", L"string", started, url, cancel);
            }
            // Nothing read although data was announced: the body ends here
            // instead of asking again for ever.
            if (read == 0) {
                break;
            }
            result.append(buffer.data(), read);
            DebugLog(L"download string chunk=" + std::to_wstring(pass) + L", available=" + std::to_wstring(available) +
                     L", read=" + std::to_wstring(read) + L", readElapsedMs=" +
                     std::to_wstring(ElapsedMsSince(started)) + L", total=" + std::to_wstring(result.size()) +
                     L", url=" + url);
            count = pass;
        }
    }

    if (contentLength > 0 && static_cast<long long>(result.size()) != contentLength) {
        DebugLog(L"download string incomplete bytes=" + std::to_wstring(result.size()) + L", total=" +
                 std::to_wstring(contentLength) + L", url=" + url);
        ThrowIfCanceled(cancel);
        throw std::runtime_error("Incomplete HTTP body");
    }
    DebugLog(L"download string complete bytes=" + std::to_wstring(result.size()) + L", chunks=" +
             std::to_wstring(count) + (options.fixedReadString ? L", mode=fixed-read" : L"") + L", url=" + url);
    return result;
}

}  // namespace updater
