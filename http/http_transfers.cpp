#include "http/http_client.h"

#include <algorithm>
#include <chrono>
#include <stdexcept>

#include "foundation/cancellation.h"
#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/log_line.h"
#include "foundation/paths.h"
#include "foundation/text.h"

namespace updater {

namespace {

constexpr DWORD kFileBlockBytes = 131072;
constexpr DWORD kStringBlockBytes = 16384;
constexpr long long kStringReserveLimit = 33554432;
// Far above any configuration or manifest; a 32-bit process cannot hold much more.
constexpr long long kStringBodyLimit = 67108864;

using Clock = std::chrono::steady_clock;

// The most bytes a body may bring (none when 0), and the error once it brings more.
struct BodyLimit {
    long long bytes;
    const char* error;
};

// One body to read: the request, where the bytes go, and how they are read.
struct BodyRead {
    const HttpClient::TrackedRequest& request;  // taken anew for every call: an abort may take it
    const std::wstring& url;
    const std::wstring& destination;  // empty for a string
    bool fixed;                       // fixed-size reads until one brings nothing, else what is available
    long long contentLength;          // 0 when not announced
    BodyLimit limit;
    std::function<void(const char* data, DWORD bytes)> store;
    const std::function<void(long long, long long, long long)>* progress;  // null for a string
};

// A failed WinHTTP call on the body: the failure line first, then the cancel
// re-check (an abort surfaces as "Canceled"), then the call's own error. The
// caller reads the error code before anything else can change it.
[[noreturn]] void FailBodyCall(const HttpClient& client, DWORD error, const wchar_t* call, const wchar_t* kind,
                               Clock::time_point started, const std::wstring& url, const std::atomic<bool>& cancel) {
    client.DebugLog(LogLine(std::wstring(call) + L" failed for " + kind + L": " + GetLastErrorText(error))
                        .Add(L"elapsedMs", ElapsedMsSince(started))
                        .Add(L"url", url));
    ThrowIfCanceled(cancel);
    throw std::runtime_error(Utf8FromWide(call) + " failed");
}

// An endless or huge body would grow memory until some allocation on some
// thread fails, or a file until the disk is full; it is refused at its limit instead.
void RefuseAboveLimit(const HttpClient& client, long long bytes, const BodyLimit& limit, const std::wstring& url,
                      const std::atomic<bool>& cancel) {
    if (limit.bytes <= 0 || bytes <= limit.bytes) {
        return;
    }
    client.DebugLog(LogLine(L"body too large ").Add(L"bytes", bytes).Add(L"limit", limit.bytes).Add(L"url", url));
    ThrowIfCanceled(cancel);
    throw std::runtime_error(limit.error);
}

// Reads the body to its end, block by block, in the one loop that all four
// read modes share, then checks it against its announced length.
void ReadBody(const HttpClient& client, const BodyRead& body, const std::atomic<bool>& cancel,
              const std::atomic<bool>& pause) {
    const bool toFile = !body.destination.empty();
    const wchar_t* kind = toFile ? (body.fixed ? L"file-fixed" : L"file") : (body.fixed ? L"string-fixed" : L"string");
    const wchar_t* countKey = toFile ? L"downloaded" : L"total";
    const wchar_t* placeKey = toFile ? L"destination" : L"url";
    const std::wstring& place = toFile ? body.destination : body.url;
    const std::wstring chunkHead = std::wstring(toFile ? L"download file " : L"download string ") +
                                   (body.fixed ? L"fixed " : L"");
    // Announced amounts of a string are read whole; everything else in blocks.
    const DWORD blockBytes = toFile ? kFileBlockBytes : body.fixed ? kStringBlockBytes : MAXDWORD;
    std::vector<char> buffer;
    long long done = 0;
    DWORD blocks = 0;
    // The line before a call that can wait: where the body stands and whether it should.
    const auto waitLine = [&](const wchar_t* head, DWORD pass, bool withRequested, DWORD requested) {
        return LogLine(head)
            .Add(L"kind", kind)
            .Add(L"chunk", pass)
            .AddIf(withRequested, L"requested", requested)
            .Add(countKey, done)
            .Add(L"cancel", cancel.load())
            .Add(L"paused", pause.load())
            .Add(L"url", body.url);
    };
    for (;;) {
        const DWORD pass = blocks + 1;
        PauseCheckpoint(cancel, pause);
        DWORD available = 0;
        DWORD size = blockBytes;
        if (!body.fixed) {
            const auto queried = Clock::now();
            client.DebugLog(waitLine(L"query data available start ", pass, false, 0));
            if (!CallOnRequest(body.request,
                               [&](HINTERNET handle) { return WinHttpQueryDataAvailable(handle, &available); })) {
                const DWORD error = GetLastError();
                FailBodyCall(client, error, L"WinHttpQueryDataAvailable", kind, queried, body.url, cancel);
            }
            client.DebugLog(LogLine(L"query data available done ")
                                .Add(L"kind", kind)
                                .Add(L"chunk", pass)
                                .Add(L"available", available)
                                .Add(L"elapsedMs", ElapsedMsSince(queried))
                                .Add(L"url", body.url));
            if (available == 0) {
                break;
            }
            RefuseAboveLimit(client, done + available, body.limit, body.url, cancel);
            size = std::min(available, blockBytes);
        }
        buffer.resize(std::max<size_t>(buffer.size(), size));

        const auto started = Clock::now();
        if (body.fixed) {
            client.DebugLog(waitLine(L"read data start ", pass, true, size));
        } else {
            client.DebugLog(LogLine(L"read data start ")
                                .Add(L"kind", kind)
                                .Add(L"requested", size)
                                .AddIf(toFile, L"available", available)
                                .Add(L"url", body.url));
        }
        DWORD read = 0;
        if (!CallOnRequest(body.request,
                           [&](HINTERNET handle) { return WinHttpReadData(handle, buffer.data(), size, &read); })) {
            const DWORD error = GetLastError();
            FailBodyCall(client, error, L"WinHttpReadData", kind, started, body.url, cancel);
        }
        // Nothing read ends the body, also where data was announced: asking
        // again would never end.
        if (read == 0) {
            if (body.fixed) {
                client.DebugLog(LogLine(L"read data eof ")
                                    .Add(L"kind", kind)
                                    .Add(L"chunk", pass)
                                    .Add(L"elapsedMs", ElapsedMsSince(started))
                                    .Add(countKey, done)
                                    .AddIf(toFile, L"total", body.contentLength)
                                    .Add(L"url", body.url));
            }
            break;
        }
        // Checked before the block is stored, so a file never holds more than its limit.
        RefuseAboveLimit(client, done + read, body.limit, body.url, cancel);
        body.store(buffer.data(), read);
        done += read;
        client.DebugLog(LogLine(chunkHead)
                            .Add(L"chunk", pass)
                            .AddIf(!body.fixed, L"available", available)
                            .Add(L"read", read)
                            .AddIf(toFile, L"written", read)
                            .Add(L"readElapsedMs", ElapsedMsSince(started))
                            .Add(countKey, done)
                            .AddIf(toFile, L"total", body.contentLength)
                            .Add(placeKey, place));
        if (body.progress != nullptr) {
            (*body.progress)(done, body.contentLength, read);
        }
        blocks = pass;
    }

    const std::wstring what = toFile ? L"download file " : L"download string ";
    // A connection that closes early can end the body "cleanly": only the
    // announced length tells a truncated body from a whole one.
    if (body.contentLength > 0 && done != body.contentLength) {
        client.DebugLog(
            LogLine(what + L"incomplete ").Add(L"bytes", done).Add(L"total", body.contentLength).Add(placeKey, place));
        ThrowIfCanceled(cancel);
        throw std::runtime_error("Incomplete HTTP body");
    }
    client.DebugLog(LogLine(what + L"complete ")
                        .Add(L"bytes", done)
                        .Add(L"chunks", blocks)
                        .AddIf(body.fixed, L"mode", L"fixed-read")
                        .Add(placeKey, place));
}

}  // namespace

void HttpClient::DownloadFile(const std::wstring& url, const std::wstring& destination, const std::atomic<bool>& cancel,
                              const std::atomic<bool>& pause,
                              const std::function<void(long long, long long, long long)>& progress,
                              const RequestOptions& options) {
    DebugScope scope(logger, L"HTTP DownloadFile " + url);
    const bool labelled = !options.label.empty();
    DebugLog(LogLine(L"download file start ")
                 .Add(L"url", url)
                 .Add(L"destination", destination)
                 .AddIf(labelled, L"label", options.label));
    CreateDirectoryRecursive(DirectoryName(destination));
    const FileHandle file(
        CreateFileW(destination.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        const DWORD error = GetLastError();
        DebugLog(LogLine(L"download file create failed: " + GetLastErrorText(error)).Add(L"destination", destination));
        throw std::runtime_error("Could not create download file");
    }
    DebugLog(L"download file opened destination=" + destination);

    RequestContext context = OpenRequest(url, cancel, options);
    const long long contentLength = ParseContentLengthHeader(context.request.get());
    DebugLog(LogLine(L"download file ").Add(L"content-length", contentLength).Add(L"url", url));
    const BodyLimit limit{options.maxFileBytes, "Download larger than expected"};
    RefuseAboveLimit(*this, contentLength, limit, url, cancel);
    if (options.fixedReadFile) {
        DebugLog(LogLine(L"download file fixed-read mode enabled")
                     .AddIf(labelled, L"label", options.label)
                     .Add(L"url", url));
    }
    const auto write = [&](const char* data, DWORD bytes) {
        DWORD written = 0;
        if (!WriteFile(file.get(), data, bytes, &written, nullptr) || written != bytes) {
            const DWORD error = GetLastError();
            DebugLog(LogLine(L"download file write failed: " + GetLastErrorText(error))
                         .Add(L"destination", destination));
            throw std::runtime_error("Could not write download file");
        }
    };
    ReadBody(*this,
             {context.request, url, destination, options.fixedReadFile, contentLength, limit, write, &progress},
             cancel, pause);
}

std::string HttpClient::DownloadString(const std::wstring& url, const std::atomic<bool>& cancel,
                                       const std::atomic<bool>& pause, const RequestOptions& options) {
    DebugScope scope(logger, L"HTTP DownloadString " + url);
    const bool labelled = !options.label.empty();
    DebugLog(LogLine(L"download string start ").Add(L"url", url).AddIf(labelled, L"label", options.label));
    RequestContext context = OpenRequest(url, cancel, options);
    const long long contentLength = ParseContentLengthHeader(context.request.get());
    const BodyLimit limit{kStringBodyLimit, "HTTP body too large"};
    RefuseAboveLimit(*this, contentLength, limit, url, cancel);
    std::string result;
    if (options.fixedReadString) {
        if (contentLength >= 1 && contentLength <= kStringReserveLimit) {
            result.reserve(static_cast<size_t>(contentLength));
        }
        DebugLog(LogLine(L"download string fixed-read mode enabled")
                     .Add(L"content-length", contentLength)
                     .AddIf(labelled, L"label", options.label)
                     .Add(L"url", url));
    }
    const auto append = [&](const char* data, DWORD bytes) { result.append(data, bytes); };
    ReadBody(*this,
             {context.request, url, std::wstring(), options.fixedReadString, contentLength, limit, append, nullptr},
             cancel, pause);
    return result;
}

}  // namespace updater
