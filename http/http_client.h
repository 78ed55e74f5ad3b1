#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <windows.h>
#include <winhttp.h>

#include "foundation/handles.h"
#include "foundation/logger.h"

namespace updater {

// The one HTTP client of the program: a shared WinHTTP session opened by the
// first request, a connection of its own for every GET, and a list of the
// open request handles so that another thread can close them all at once.
class HttpClient {
public:
    struct RequestOptions {
        // 0 keeps the session's time-outs; otherwise the request's receive time-out.
        unsigned long readTimeoutMs = 0;
        bool noCache = false;
        bool connectionClose = false;
        bool fixedReadString = false;
        bool fixedReadFile = false;
        std::wstring label;
        // Read only by DownloadFile: a body above this many bytes is refused; 0 sets no limit.
        long long maxFileBytes = 0;
    };

    // Holds a request handle; whoever exchanges it to null closes it, so each
    // handle is closed exactly once, by its owner or by an abort.
    struct RequestHandleState {
        std::atomic<HINTERNET> handle{nullptr};
    };

    class TrackedRequest {
    public:
        TrackedRequest() = default;
        explicit TrackedRequest(std::shared_ptr<RequestHandleState> state);
        TrackedRequest(TrackedRequest&& other) noexcept;
        TrackedRequest& operator=(TrackedRequest&& other) noexcept;
        TrackedRequest(const TrackedRequest&) = delete;
        TrackedRequest& operator=(const TrackedRequest&) = delete;
        ~TrackedRequest();

        // The current handle, or null once an abort or the owner has taken it.
        HINTERNET get() const;

    private:
        void Close();

        std::shared_ptr<RequestHandleState> state;
    };

    // One request's connection and tracked request handle; members close in
    // reverse order, so the request goes before its connection.
    struct RequestContext {
        InternetHandle connection;
        TrackedRequest request;
    };

    HttpClient() = default;
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Opens, sends and status-checks one GET; the body is left unread.
    RequestContext OpenRequest(const std::wstring& url, const std::atomic<bool>& cancel, const RequestOptions& options);

    // Closes every request handle still held by a live tracked request.
    void AbortActiveRequests();

    void DebugLog(const std::wstring& message) const;

    // One response header (or the whole header block) as trimmed text; empty when absent.
    static std::wstring QueryHeaderText(HINTERNET request, DWORD infoLevel);
    static std::wstring QueryCustomHeaderText(HINTERNET request, const wchar_t* name);

    // Streams the body into the destination, created anew before the request is sent.
    void DownloadFile(const std::wstring& url, const std::wstring& destination, const std::atomic<bool>& cancel,
                      const std::atomic<bool>& pause,
                      const std::function<void(long long, long long, long long)>& progress,
                      const RequestOptions& options);

    // The body's raw bytes.
    std::string DownloadString(const std::wstring& url, const std::atomic<bool>& cancel, const std::atomic<bool>& pause,
                               const RequestOptions& options);

    std::wstring userAgent = L"TavrineUpdaterNative/3.0";
    Logger* logger = nullptr;
    HINTERNET session = nullptr;
    std::mutex sessionMutex;
    std::mutex requestsMutex;
    std::vector<std::weak_ptr<RequestHandleState>> activeRequests;
};

// The response's Content-Length, 0 when absent or unreadable.
long long ParseContentLengthHeader(HINTERNET request);

// Makes one WinHTTP call on the request's handle as it is right now. Once an
// abort has taken the handle, the call fails as on a closed handle instead:
// the old value may already belong to another request.
template <typename WinHttpCall>
BOOL CallOnRequest(const HttpClient::TrackedRequest& request, WinHttpCall call) {
    const HINTERNET handle = request.get();
    if (handle == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return call(handle);
}

}  // namespace updater
