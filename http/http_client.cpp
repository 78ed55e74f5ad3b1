#include "http/http_client.h"

#include <stdexcept>
#include <utility>

#include "foundation/cancellation.h"
#include "foundation/log_line.h"
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

// What a request needs of its URL.
struct UrlParts {
    std::wstring host;
    std::wstring path;  // with the query
    INTERNET_PORT port = 0;
    bool secure = false;
};

UrlParts CrackUrl(const std::wstring& url) {
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
    UrlParts cracked;
    cracked.host.assign(hostBuffer, parts.dwHostNameLength);
    cracked.path.assign(pathBuffer, parts.dwUrlPathLength);
    if (parts.dwExtraInfoLength != 0) {
        cracked.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    }
    cracked.port = parts.nPort;
    cracked.secure = parts.nScheme == INTERNET_SCHEME_HTTPS;
    return cracked;
}

// Without its own limit, the synchronous send waits for the response head for
// ever on some platforms, whatever the receive time-out says.
void SetReceiveResponseTimeout(HINTERNET handle, DWORD milliseconds) {
    WinHttpSetOption(handle, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &milliseconds, sizeof(milliseconds));
}

// A failed WinHTTP call while opening: its line, then "Canceled" when the
// caller's cancel flag is given and set (an abort closed the handle), else the failure.
[[noreturn]] void FailRequestCall(const HttpClient& client, DWORD error, const wchar_t* call,
                                  const std::atomic<bool>* cancel, const std::string& failure) {
    client.DebugLog(std::wstring(call) + L" failed: " + GetLastErrorText(error));
    if (cancel != nullptr) {
        ThrowIfCanceled(*cancel);
    }
    throw std::runtime_error(failure);
}

// The client's one session, opened by the first request.
HINTERNET SharedSession(HttpClient& client) {
    std::lock_guard<std::mutex> lock(client.sessionMutex);
    if (client.session != nullptr) {
        return client.session;
    }
    client.DebugLog(L"opening session userAgent=" + client.userAgent);
    client.session = WinHttpOpen(client.userAgent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                 WINHTTP_NO_PROXY_BYPASS, 0);
    if (client.session == nullptr) {
        const DWORD error = GetLastError();
        FailRequestCall(client, error, L"WinHttpOpen", nullptr, "WinHttpOpen failed");
    }
    WinHttpSetTimeouts(client.session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs, kSessionReceiveTimeoutMs);
    SetReceiveResponseTimeout(client.session, kSessionReceiveTimeoutMs);
    // Older systems accept the protocol list only on the session.
    DWORD protocols = kTlsProtocols;
    WinHttpSetOption(client.session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
    client.DebugLog(L"session opened; timeouts resolve/connect/send/read=30000/30000/30000/600000 ms");
    return client.session;
}

// Adds the request to the list that an abort walks, dropping entries of finished requests.
size_t Track(HttpClient& client, const std::shared_ptr<HttpClient::RequestHandleState>& state) {
    std::lock_guard<std::mutex> lock(client.requestsMutex);
    auto& active = client.activeRequests;
    for (auto entry = active.begin(); entry != active.end();) {
        entry = entry->expired() ? active.erase(entry) : entry + 1;
    }
    active.push_back(state);
    return active.size();
}

// Each call takes the handle anew: an abort may take it at any moment.
void ApplyOptions(const HttpClient& client, const HttpClient::TrackedRequest& request, bool secure,
                  const HttpClient::RequestOptions& options) {
    const bool labelled = !options.label.empty();
    if (options.readTimeoutMs != 0) {
        WinHttpSetTimeouts(request.get(), kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                           options.readTimeoutMs);
        SetReceiveResponseTimeout(request.get(), options.readTimeoutMs);
        client.DebugLog(LogLine(L"request timeouts ")
                            .Add(L"resolve/connect/send/read",
                                 L"30000/30000/30000/" + std::to_wstring(options.readTimeoutMs) + L" ms")
                            .AddIf(labelled, L"label", options.label));
    }
    if (secure) {
        DWORD protocols = kTlsProtocols;
        WinHttpSetOption(request.get(), WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof(protocols));
        client.DebugLog(L"TLS protocols option set");
    }
    if (options.noCache) {
        WinHttpAddRequestHeaders(
            request.get(), L"Cache-Control: no-cache, no-store, must-revalidate\r\nPragma: no-cache\r\nExpires: 0\r\n",
            static_cast<DWORD>(-1), kAddOrReplace);
        client.DebugLog(L"no-cache headers added");
    } else {
        client.DebugLog(LogLine(L"no-cache headers skipped").AddIf(labelled, L"label", options.label));
    }
    if (options.connectionClose) {
        WinHttpAddRequestHeaders(request.get(), L"Connection: close\r\n", static_cast<DWORD>(-1), kAddOrReplace);
        client.DebugLog(LogLine(L"connection close header added").AddIf(labelled, L"label", options.label));
    }
}

// Sends the request and waits for the head; the status code, or a failure.
DWORD SendAndReceiveHead(const HttpClient& client, const HttpClient::TrackedRequest& request,
                         const std::atomic<bool>& cancel) {
    if (!CallOnRequest(request, [](HINTERNET handle) {
            return WinHttpSendRequest(handle, WINHTTP_NO_ADDITIONAL_HEADERS, 0, WINHTTP_NO_REQUEST_DATA, 0, 0, 0);
        })) {
        const DWORD error = GetLastError();
        FailRequestCall(client, error, L"WinHttpSendRequest", &cancel, "HTTP request failed");
    }
    client.DebugLog(L"request sent");
    if (!CallOnRequest(request, [](HINTERNET handle) { return WinHttpReceiveResponse(handle, nullptr); })) {
        const DWORD error = GetLastError();
        FailRequestCall(client, error, L"WinHttpReceiveResponse", &cancel, "HTTP request failed");
    }
    client.DebugLog(L"response received");
    DWORD status = 0;
    DWORD statusSize = sizeof(status);
    if (!CallOnRequest(request, [&](HINTERNET handle) {
            return WinHttpQueryHeaders(handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                       WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
        })) {
        const DWORD error = GetLastError();
        FailRequestCall(client, error, L"WinHttpQueryHeaders status", &cancel, "HTTP status 0");
    }
    client.DebugLog(L"response status=" + std::to_wstring(status));
    return status;
}

void LogResponseHeaders(const HttpClient& client, const HttpClient::TrackedRequest& request) {
    client.DebugLog(L"response headers raw=" +
                    HttpClient::QueryHeaderText(request.get(), WINHTTP_QUERY_RAW_HEADERS_CRLF));
    const struct {
        const wchar_t* name;
        DWORD infoLevel;
    } standard[] = {{L"Content-Length", WINHTTP_QUERY_CONTENT_LENGTH},
                    {L"Content-Type", WINHTTP_QUERY_CONTENT_TYPE},
                    {L"Last-Modified", WINHTTP_QUERY_LAST_MODIFIED},
                    {L"Transfer-Encoding", WINHTTP_QUERY_TRANSFER_ENCODING},
                    {L"Content-Encoding", WINHTTP_QUERY_CONTENT_ENCODING}};
    for (const auto& header : standard) {
        client.DebugLog(std::wstring(L"response header ") + header.name + L"=" +
                        HttpClient::QueryHeaderText(request.get(), header.infoLevel));
    }
    for (const wchar_t* name : {L"CDN-Cache", L"CDN-EdgeStorageId", L"CDN-RequestId"}) {
        client.DebugLog(std::wstring(L"response header ") + name + L"=" +
                        HttpClient::QueryCustomHeaderText(request.get(), name));
    }
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
    const std::wstring text = HttpClient::QueryHeaderText(request, WINHTTP_QUERY_CONTENT_LENGTH);
    return text.empty() ? 0 : _wtoi64(text.c_str());
}

HttpClient::RequestContext HttpClient::OpenRequest(const std::wstring& url, const std::atomic<bool>& cancel,
                                                   const RequestOptions& options) {
    DebugScope scope(logger, L"HTTP OpenRequest " + url);
    ThrowIfCanceled(cancel);
    const UrlParts parts = CrackUrl(url);
    DebugLog(LogLine(L"open request ")
                 .Add(L"url", url)
                 .Add(L"host", parts.host)
                 .Add(L"port", parts.port)
                 .Add(L"secure", parts.secure)
                 .Add(L"path", parts.path));
    const HINTERNET sessionHandle = SharedSession(*this);

    RequestContext context;
    context.connection.reset(WinHttpConnect(sessionHandle, parts.host.c_str(), parts.port, 0));
    if (!context.connection) {
        const DWORD error = GetLastError();
        FailRequestCall(*this, error, L"WinHttpConnect", nullptr, "WinHttpConnect failed");
    }
    DebugLog(L"connection opened host=" + parts.host);

    // The owner is made and tracked before the handle exists, so nothing that
    // throws can leave an open handle without an owner.
    auto state = std::make_shared<RequestHandleState>();
    const size_t tracked = Track(*this, state);
    context.request = TrackedRequest(state);
    DebugLog(L"request tracked activeRequests=" + std::to_wstring(tracked));
    HINTERNET opened = WinHttpOpenRequest(context.connection.get(), L"GET", parts.path.c_str(), nullptr,
                                          WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          parts.secure ? WINHTTP_FLAG_SECURE : 0);
    const DWORD openError = GetLastError();
    state->handle.store(opened);
    // An abort that ran just before the handle was stored could not close it.
    ThrowIfCanceled(cancel);
    if (context.request.get() == nullptr) {
        FailRequestCall(*this, opened == nullptr ? openError : ERROR_INVALID_HANDLE, L"WinHttpOpenRequest", nullptr,
                        "WinHttpOpenRequest failed");
    }
    DebugLog(L"request handle opened path=" + parts.path);

    ApplyOptions(*this, context.request, parts.secure, options);
    const DWORD status = SendAndReceiveHead(*this, context.request, cancel);
    LogResponseHeaders(*this, context.request);
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

}  // namespace updater
