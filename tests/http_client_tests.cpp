#include "http/http_client.h"

#include <chrono>
#include <new>
#include <regex>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/files.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/allocation_failure.h"
#include "tests/http_test_support.h"
#include "tests/test_support.h"

namespace updater {
namespace {

using namespace std::chrono_literals;

// A client whose debug lines go to a log folder of a fresh temp folder.
struct LoggedClient {
    LoggedClient() {
        logger.directory = folder.path();
        logger.debugEnabled = true;
        client.logger = &logger;
    }

    // The messages of the DEBUG lines written so far, without their prefixes;
    // a message that spans lines keeps its CR LF.
    std::vector<std::string> Messages() const {
        const std::string text = ReadBinaryFile(JoinPath(JoinPath(folder.path(), L"logs"), L"updater-debug.log"));
        std::vector<std::string> messages;
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find("\r\n", start);
            if (end == std::string::npos) {
                end = text.size();
            }
            const std::string line = text.substr(start, end - start);
            const size_t level = line.find("][DEBUG] ");
            if (line.rfind("[", 0) == 0 && line.find("][pid:") != std::string::npos && level != std::string::npos) {
                messages.push_back(line.substr(level + 9));
            } else if (!messages.empty()) {
                messages.back() += "\r\n" + line;
            }
            start = end + 2;
        }
        return messages;
    }

    bool HasMessage(const std::string& message) const {
        for (const std::string& line : Messages()) {
            if (line == message) {
                return true;
            }
        }
        return false;
    }

    TempFolder folder;
    Logger logger;
    HttpClient client;
};

std::string Narrow(const std::wstring& text) {
    return Utf8FromWide(text);
}

// Elapsed times vary from run to run; every other character of a line is fixed.
std::string WithoutTimes(const std::string& message) {
    static const std::regex elapsed("(elapsedMs|ElapsedMs)=[0-9]+");
    return std::regex_replace(message, elapsed, "$1=N");
}

// The port of a test root "scheme://localhost:PORT/".
std::string PortOf(const std::wstring& root) {
    const size_t colon = root.rfind(L':');
    return Narrow(root.substr(colon + 1, root.size() - colon - 2));
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

const std::atomic<bool> kNotSet{false};

TEST(HttpRequest, ServerSeesUserAgentCloseHeaderPathQueryAndPort) {
    HttpClient client;
    const std::wstring id = NewTestId();
    HttpClient::RequestOptions options = TestOptions(true);
    EXPECT_EQ(
        client.DownloadString(ServerUrl(RootA(), L"files/a%20b.bin", id, L"size=3&x=y"), kNotSet, kNotSet, options),
        ServerBody(3));
    options.noCache = true;
    client.DownloadString(ServerUrl(RootB(), L"UpdateConfig.xml", id), kNotSet, kNotSet, options);
    options.noCache = false;
    options.connectionClose = false;
    client.DownloadString(ServerUrl(PlainRoot(), L"plain", id), kNotSet, kNotSet, options);

    const std::vector<std::string> seen = ServerRequests(id);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_TRUE(Contains(seen[0], "\"role\": \"a\""));
    EXPECT_TRUE(Contains(seen[0], "\"target\": \"/files/a%20b.bin?id=" + Narrow(id) + "&size=3&x=y\""));
    EXPECT_TRUE(Contains(seen[0], "\"method\": \"GET\""));
    EXPECT_TRUE(Contains(seen[0], "\"user-agent\": \"TavrineUpdaterNative/3.0\""));
    EXPECT_TRUE(Contains(seen[0], "\"connection\": \"close\""));
    EXPECT_TRUE(Contains(seen[0], "\"host\": \"localhost:" + PortOf(RootA()) + "\""));
    for (const char* header : {"cache-control", "pragma", "expires"}) {
        EXPECT_FALSE(Contains(seen[0], std::string("\"") + header + "\"")) << header;
        EXPECT_FALSE(Contains(seen[2], std::string("\"") + header + "\"")) << header;
    }

    EXPECT_TRUE(Contains(seen[1], "\"role\": \"b\""));
    EXPECT_TRUE(Contains(seen[1], "\"path\": \"/UpdateConfig.xml\""));
    EXPECT_TRUE(Contains(seen[1], "\"cache-control\": \"no-cache, no-store, must-revalidate\""));
    EXPECT_TRUE(Contains(seen[1], "\"pragma\": \"no-cache\""));
    EXPECT_TRUE(Contains(seen[1], "\"expires\": \"0\""));
    EXPECT_TRUE(Contains(seen[1], "\"connection\": \"close\""));

    EXPECT_TRUE(Contains(seen[2], "\"role\": \"plain\""));
    EXPECT_FALSE(Contains(seen[2], "\"connection\": \"close\""));
}

TEST(HttpRequest, StatusesInside200To299SucceedOthersFail) {
    HttpClient client;
    const std::wstring id = NewTestId();
    for (const int status : {200, 201, 299}) {
        EXPECT_EQ(ErrorOf([&] {
                      client.DownloadString(
                          ServerUrl(RootA(), L"status", id, L"size=4&status=" + std::to_wstring(status)), kNotSet,
                          kNotSet, TestOptions(true));
                  }),
                  "")
            << status;
    }
    for (const int status : {300, 404, 500}) {
        for (const bool fixed : {true, false}) {
            EXPECT_EQ(ErrorOf([&] {
                          client.DownloadString(
                              ServerUrl(RootA(), L"status", id, L"size=4&status=" + std::to_wstring(status)), kNotSet,
                              kNotSet, TestOptions(fixed));
                      }),
                      "HTTP status " + std::to_string(status));
        }
    }
    EXPECT_EQ(ServerRequests(id).size(), 9u);
}

TEST(HttpRequest, CancelSetBeforeTheCallSendsNothing) {
    LoggedClient logged;
    const std::wstring id = NewTestId();
    const std::atomic<bool> cancel{true};
    EXPECT_EQ(ErrorOf([&] {
                  logged.client.DownloadString(ServerUrl(RootA(), L"x", id), cancel, kNotSet, TestOptions(true));
              }),
              "Canceled");
    EXPECT_EQ(logged.client.session, nullptr);
    EXPECT_TRUE(ServerRequests(id).empty());
    for (const std::string& line : logged.Messages()) {
        EXPECT_FALSE(Contains(line, "open request url=")) << line;
    }
}

TEST(HttpRequest, CancelSetWhileTheAnswerIsAwaitedTurnsAnErrorStatusIntoCanceled) {
    HttpClient client;
    const std::wstring id = NewTestId();
    std::atomic<bool> cancel{false};
    std::string error;
    std::thread request([&] {
        error = ErrorOf([&] {
            client.DownloadString(ServerUrl(RootA(), L"late", id, L"status=404&mode=stall_head&release=" + id), cancel,
                                  kNotSet, TestOptions(true));
        });
    });
    ASSERT_TRUE(WaitForServerRequest(id));
    cancel = true;
    ReleaseStall(id);
    request.join();
    EXPECT_EQ(error, "Canceled");
}

TEST(HttpRequest, InvalidUrlsAreRefusedBeforeAnythingIsOpenedOrTracked) {
    LoggedClient logged;
    for (const std::wstring url : {L"", L"not a url", L"ftp://localhost/file", L"localhost/file"}) {
        EXPECT_EQ(ErrorOf([&] { logged.client.DownloadString(url, kNotSet, kNotSet, TestOptions(true)); }),
                  "Invalid URL")
            << Narrow(url);
    }
    EXPECT_EQ(logged.client.session, nullptr);
    EXPECT_TRUE(logged.client.activeRequests.empty());
    for (const std::string& line : logged.Messages()) {
        EXPECT_FALSE(Contains(line, "open request url=")) << line;
    }
}

TEST(HttpRequest, TrustedCertificatesAreAcceptedUntrustedOnesRefused) {
    LoggedClient logged;
    const std::wstring id = NewTestId();
    EXPECT_EQ(
        logged.client.DownloadString(ServerUrl(RootB(), L"tls", id, L"size=7"), kNotSet, kNotSet, TestOptions(false)),
        ServerBody(7));
    EXPECT_EQ(ErrorOf([&] {
                  logged.client.DownloadString(ServerUrl(UntrustedRoot(), L"tls", id, L"size=7"), kNotSet, kNotSet,
                                               TestOptions(false));
              }),
              "HTTP request failed");
    EXPECT_EQ(ServerRequests(id).size(), 1u);
    bool sendFailureLogged = false;
    for (const std::string& line : logged.Messages()) {
        sendFailureLogged = sendFailureLogged || line.rfind("HTTP WinHttpSendRequest failed: ", 0) == 0;
    }
    EXPECT_TRUE(sendFailureLogged);
}

TEST(HttpRequest, SessionIsOpenedOnceAndFinishedRequestsLeaveTheCount) {
    LoggedClient logged;
    const std::wstring id = NewTestId();
    for (int i = 0; i < 3; ++i) {
        logged.client.DownloadString(ServerUrl(RootA(), L"again", id, L"size=1"), kNotSet, kNotSet, TestOptions(true));
    }
    int sessions = 0;
    int tracked = 0;
    for (const std::string& line : logged.Messages()) {
        sessions += line.rfind("HTTP opening session userAgent=TavrineUpdaterNative/3.0", 0) == 0;
        if (line.rfind("HTTP request tracked activeRequests=", 0) == 0) {
            EXPECT_EQ(line, "HTTP request tracked activeRequests=1");
            ++tracked;
        }
    }
    EXPECT_EQ(sessions, 1);
    EXPECT_EQ(tracked, 3);
}

TEST(HttpRequest, AbortWithNothingOpenClosesNothing) {
    LoggedClient logged;
    logged.client.AbortActiveRequests();
    logged.client.AbortActiveRequests();
    const std::vector<std::string> messages = logged.Messages();
    const std::vector<std::string> expected = {
        "HTTP abort active requests requested", "HTTP abort active requests completed; closed=0",
        "HTTP abort active requests requested", "HTTP abort active requests completed; closed=0"};
    EXPECT_EQ(messages, expected);
}

TEST(HttpRequest, AbortWhileTheAnswerIsAwaitedEndsWithCanceledAndClosesOnce) {
    LoggedClient logged;
    const std::wstring id = NewTestId();
    std::atomic<bool> cancel{false};
    std::string error;
    std::thread request([&] {
        error = ErrorOf([&] {
            logged.client.DownloadString(ServerUrl(RootA(), L"held", id, L"size=10&mode=stall_head&release=" + id),
                                         cancel, kNotSet, TestOptions(true, 3000));
        });
    });
    ASSERT_TRUE(WaitForServerRequest(id));
    cancel = true;
    logged.client.AbortActiveRequests();
    ReleaseStall(id);
    request.join();
    EXPECT_EQ(error, "Canceled");
    // A second abort finds the handle already taken by the first.
    logged.client.AbortActiveRequests();
    const std::string completed = "HTTP abort active requests completed; closed=";
    std::vector<std::string> closed;
    for (const std::string& line : logged.Messages()) {
        if (line.rfind(completed, 0) == 0) {
            closed.push_back(line.substr(completed.size()));
        }
    }
    EXPECT_EQ(closed, (std::vector<std::string>{"1", "0"}));
}

// True while the WinHTTP handle is open.
bool IsOpen(HINTERNET handle) {
    DWORD_PTR context = 0;
    DWORD size = sizeof(context);
    return WinHttpQueryOption(handle, WINHTTP_OPTION_CONTEXT_VALUE, &context, &size) != FALSE;
}

TEST(HttpRequest, AbortThatRunsOutOfMemoryLeavesNoHandleWithoutAnOwner) {
    HttpClient client;
    const std::wstring id = NewTestId();
    // The first failing allocation moves through the abort, one step per round,
    // until the abort gets through without one.
    for (int failing = 1;; ++failing) {
        ASSERT_LT(failing, 100);
        HttpClient::RequestContext context =
            client.OpenRequest(ServerUrl(RootA(), L"oom", id, L"size=10"), kNotSet, TestOptions(false));
        const HINTERNET handle = context.request.get();
        ASSERT_TRUE(IsOpen(handle));
        bool outOfMemory = false;
        FailNthAllocation(failing);
        try {
            client.AbortActiveRequests();
        } catch (const std::bad_alloc&) {
            outOfMemory = true;
        }
        FailNthAllocation(0);
        // Either the request still owns its handle, or the handle is closed.
        EXPECT_TRUE(context.request.get() == handle || !IsOpen(handle)) << "allocation " << failing;
        if (!outOfMemory) {
            EXPECT_EQ(context.request.get(), nullptr);
            EXPECT_FALSE(IsOpen(handle));
            break;
        }
    }
}

TEST(HttpRequest, AbortThatComesBeforeTheRequestIsTrackedIsNotMissed) {
    LoggedClient logged;
    const std::wstring id = NewTestId();
    std::atomic<bool> cancel{false};
    std::string error;
    std::thread request;
    {
        // Holding the session lock stops the request after its URL is cracked
        // and before it is tracked: the window's cancel sequence runs in that gap.
        std::lock_guard<std::mutex> hold(logged.client.sessionMutex);
        request = std::thread([&] {
            error = ErrorOf([&] {
                logged.client.DownloadString(ServerUrl(RootA(), L"gap", id, L"size=10"), cancel, kNotSet,
                                             TestOptions(true));
            });
        });
        const std::string waiting = "HTTP open request url=" + Narrow(ServerUrl(RootA(), L"gap", id, L"size=10")) +
                                    ", host=localhost, port=" + PortOf(RootA()) + ", secure=true, path=/gap?id=" +
                                    Narrow(id) + "&size=10";
        for (int i = 0; i < 400 && !logged.HasMessage(waiting); ++i) {
            std::this_thread::sleep_for(10ms);
        }
        cancel = true;
        logged.client.AbortActiveRequests();
    }
    request.join();
    EXPECT_EQ(error, "Canceled");
    EXPECT_TRUE(ServerRequests(id).empty());
}

TEST(HttpRequest, ResponseHeadThatNeverComesEndsAtTheReadTimeout) {
    HttpClient client;
    const std::wstring id = NewTestId();
    // Without a bound on the wait for the head, the answer released later would be a success.
    StallReleaser releaser(id, 30s);
    EXPECT_EQ(ErrorOf([&] {
                  client.DownloadString(ServerUrl(RootA(), L"silent", id, L"size=5&mode=stall_head&release=" + id),
                                        kNotSet, kNotSet, TestOptions(true, 1500));
              }),
              "HTTP request failed");
}

TEST(HttpRequest, ContentLengthHeaderIsParsedOrZero) {
    HttpClient client;
    const std::wstring id = NewTestId();
    const std::vector<std::pair<std::wstring, long long>> cases = {
        {L"size=1048576", 1048576}, {L"mode=chunked&size=10", 0}, {L"size=0", 0}};
    for (const auto& item : cases) {
        HttpClient::RequestContext context =
            client.OpenRequest(ServerUrl(RootA(), L"length", id, item.first), kNotSet, TestOptions(true));
        EXPECT_EQ(ParseContentLengthHeader(context.request.get()), item.second) << Narrow(item.first);
    }
}

TEST(HttpRequest, HeaderTextIsTrimmedAndEmptyWhenAbsent) {
    HttpClient client;
    const std::wstring id = NewTestId();
    HttpClient::RequestContext context = client.OpenRequest(
        ServerUrl(RootA(), L"headers", id, L"size=2&header=CDN-Cache:%20%20HIT%20%20&header=X-Empty:"), kNotSet,
        TestOptions(true));
    EXPECT_EQ(HttpClient::QueryCustomHeaderText(context.request.get(), L"CDN-Cache"), L"HIT");
    EXPECT_EQ(HttpClient::QueryCustomHeaderText(context.request.get(), L"CDN-RequestId"), L"");
    EXPECT_EQ(HttpClient::QueryHeaderText(context.request.get(), WINHTTP_QUERY_LAST_MODIFIED), L"");
    EXPECT_EQ(HttpClient::QueryHeaderText(context.request.get(), WINHTTP_QUERY_CONTENT_TYPE),
              L"application/octet-stream");
    const std::wstring raw = HttpClient::QueryHeaderText(context.request.get(), WINHTTP_QUERY_RAW_HEADERS_CRLF);
    EXPECT_EQ(raw.rfind(L"HTTP/1.1 200 OK\r\n", 0), 0u) << Narrow(raw);
    EXPECT_NE(raw.substr(raw.size() - 2), L"\r\n");
}

TEST(HttpDebugLog, SmallStringTransferWritesExactlyTheseLines) {
    LoggedClient logged;
    const std::wstring id = NewTestId();
    const std::wstring url = ServerUrl(RootA(), L"cfg.xml", id, L"size=5");
    HttpClient::RequestOptions options = TestOptions(true, 30000);
    options.noCache = true;
    options.label = L"string-default";
    EXPECT_EQ(logged.client.DownloadString(url, kNotSet, kNotSet, options), ServerBody(5));

    const std::string u = Narrow(url);
    const std::string port = PortOf(RootA());
    const std::string path = "/cfg.xml?id=" + Narrow(id) + "&size=5";
    const std::vector<std::string> expected = {
        "BEGIN HTTP DownloadString " + u,
        "HTTP download string start url=" + u + ", label=string-default",
        "BEGIN HTTP OpenRequest " + u,
        "HTTP open request url=" + u + ", host=localhost, port=" + port + ", secure=true, path=" + path,
        "HTTP opening session userAgent=TavrineUpdaterNative/3.0",
        "HTTP session opened; timeouts resolve/connect/send/read=30000/30000/30000/600000 ms",
        "HTTP connection opened host=localhost",
        "HTTP request tracked activeRequests=1",
        "HTTP request handle opened path=" + path,
        "HTTP request timeouts resolve/connect/send/read=30000/30000/30000/30000 ms, label=string-default",
        "HTTP TLS protocols option set",
        "HTTP no-cache headers added",
        "HTTP connection close header added, label=string-default",
        "HTTP request sent",
        "HTTP response received",
        "HTTP response status=200",
        "HTTP response headers raw=HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
        "Content-Length: 5\r\nConnection: close",
        "HTTP response header Content-Length=5",
        "HTTP response header Content-Type=application/octet-stream",
        "HTTP response header Last-Modified=",
        "HTTP response header Transfer-Encoding=",
        "HTTP response header Content-Encoding=",
        "HTTP response header CDN-Cache=",
        "HTTP response header CDN-EdgeStorageId=",
        "HTTP response header CDN-RequestId=",
        "END HTTP OpenRequest " + u + " elapsedMs=N",
        "HTTP download string fixed-read mode enabled, content-length=5, label=string-default, url=" + u,
        "HTTP read data start kind=string-fixed, chunk=1, requested=16384, total=0, cancel=false, paused=false, url=" +
            u,
        "HTTP download string fixed chunk=1, read=5, readElapsedMs=N, total=5, url=" + u,
        "HTTP read data start kind=string-fixed, chunk=2, requested=16384, total=5, cancel=false, paused=false, url=" +
            u,
        "HTTP read data eof kind=string-fixed, chunk=2, elapsedMs=N, total=5, url=" + u,
        "HTTP download string complete bytes=5, chunks=1, mode=fixed-read, url=" + u,
        "END HTTP DownloadString " + u + " elapsedMs=N",
    };
    std::vector<std::string> messages;
    for (const std::string& message : logged.Messages()) {
        messages.push_back(WithoutTimes(message));
    }
    EXPECT_EQ(messages, expected);
}

TEST(HttpDebugLog, SmallFileTransferOverPlainHttpWritesExactlyTheseLines) {
    LoggedClient logged;
    const std::wstring id = NewTestId();
    const std::wstring url = ServerUrl(PlainRoot(), L"f.zip", id, L"size=3");
    const std::wstring destination = logged.folder / L"out\\f.zip.download";
    HttpClient::RequestOptions options = TestOptions(false, 0);
    options.connectionClose = false;
    logged.client.DownloadFile(
        url, destination, kNotSet, kNotSet, [](long long, long long, long long) {}, options);
    EXPECT_EQ(ReadBinaryFile(destination), ServerBody(3));

    const std::string u = Narrow(url);
    const std::string d = Narrow(destination);
    const std::string port = PortOf(PlainRoot());
    const std::string path = "/f.zip?id=" + Narrow(id) + "&size=3";
    const std::vector<std::string> expected = {
        "BEGIN HTTP DownloadFile " + u,
        "HTTP download file start url=" + u + ", destination=" + d,
        "HTTP download file opened destination=" + d,
        "BEGIN HTTP OpenRequest " + u,
        "HTTP open request url=" + u + ", host=localhost, port=" + port + ", secure=false, path=" + path,
        "HTTP opening session userAgent=TavrineUpdaterNative/3.0",
        "HTTP session opened; timeouts resolve/connect/send/read=30000/30000/30000/600000 ms",
        "HTTP connection opened host=localhost",
        "HTTP request tracked activeRequests=1",
        "HTTP request handle opened path=" + path,
        "HTTP no-cache headers skipped",
        "HTTP request sent",
        "HTTP response received",
        "HTTP response status=200",
        "HTTP response headers raw=HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
        "Content-Length: 3\r\nConnection: close",
        "HTTP response header Content-Length=3",
        "HTTP response header Content-Type=application/octet-stream",
        "HTTP response header Last-Modified=",
        "HTTP response header Transfer-Encoding=",
        "HTTP response header Content-Encoding=",
        "HTTP response header CDN-Cache=",
        "HTTP response header CDN-EdgeStorageId=",
        "HTTP response header CDN-RequestId=",
        "END HTTP OpenRequest " + u + " elapsedMs=N",
        "HTTP download file content-length=3, url=" + u,
        "HTTP query data available start kind=file, chunk=1, downloaded=0, cancel=false, paused=false, url=" + u,
        "HTTP query data available done kind=file, chunk=1, available=3, elapsedMs=N, url=" + u,
        "HTTP read data start kind=file, requested=3, available=3, url=" + u,
        "HTTP download file chunk=1, available=3, read=3, written=3, readElapsedMs=N, downloaded=3, total=3, "
        "destination=" +
            d,
        "HTTP query data available start kind=file, chunk=2, downloaded=3, cancel=false, paused=false, url=" + u,
        "HTTP query data available done kind=file, chunk=2, available=0, elapsedMs=N, url=" + u,
        "HTTP download file complete bytes=3, chunks=1, destination=" + d,
        "END HTTP DownloadFile " + u + " elapsedMs=N",
    };
    std::vector<std::string> messages;
    for (const std::string& message : logged.Messages()) {
        messages.push_back(WithoutTimes(message));
    }
    EXPECT_EQ(messages, expected);
}

// The lines a transfer writes once its request is open, with times and error texts blanked.
std::vector<std::string> BodyLines(const LoggedClient& logged) {
    static const std::regex errorText("failed for ([a-z-]+): .*, elapsedMs");
    std::vector<std::string> lines;
    bool opened = false;
    for (const std::string& message : logged.Messages()) {
        if (opened) {
            lines.push_back(std::regex_replace(WithoutTimes(message), errorText, "failed for $1: E, elapsedMs"));
        }
        opened = opened || message.rfind("END HTTP OpenRequest ", 0) == 0;
    }
    return lines;
}

TEST(HttpDebugLog, BodyLinesOfEveryReadModeAndEnding) {
    const struct {
        bool toFile;
        bool fixed;
        unsigned long readTimeoutMs;
        const wchar_t* query;
        std::vector<std::string> lines;  // {U} stands for the URL, {D} for the destination
    } cases[] = {
        {false, false, 0, L"size=3", {
             "HTTP query data available start kind=string, chunk=1, total=0, cancel=false, paused=false, url={U}",
             "HTTP query data available done kind=string, chunk=1, available=3, elapsedMs=N, url={U}",
             "HTTP read data start kind=string, requested=3, url={U}",
             "HTTP download string chunk=1, available=3, read=3, readElapsedMs=N, total=3, url={U}",
             "HTTP query data available start kind=string, chunk=2, total=3, cancel=false, paused=false, url={U}",
             "HTTP query data available done kind=string, chunk=2, available=0, elapsedMs=N, url={U}",
             "HTTP download string complete bytes=3, chunks=1, url={U}",
             "END HTTP DownloadString {U} elapsedMs=N"}},
        {true, true, 0, L"size=10&mode=short&cut=4", {
             "HTTP download file content-length=10, url={U}",
             "HTTP download file fixed-read mode enabled, url={U}",
             "HTTP read data start kind=file-fixed, chunk=1, requested=131072, downloaded=0, cancel=false, "
             "paused=false, url={U}",
             "HTTP download file fixed chunk=1, read=4, written=4, readElapsedMs=N, downloaded=4, total=10, "
             "destination={D}",
             "HTTP read data start kind=file-fixed, chunk=2, requested=131072, downloaded=4, cancel=false, "
             "paused=false, url={U}",
             "HTTP read data eof kind=file-fixed, chunk=2, elapsedMs=N, downloaded=4, total=10, url={U}",
             "HTTP download file incomplete bytes=4, total=10, destination={D}",
             "END HTTP DownloadFile {U} elapsedMs=N"}},
        {false, true, 0, L"size=10&mode=short&cut=0", {
             "HTTP download string fixed-read mode enabled, content-length=10, url={U}",
             "HTTP read data start kind=string-fixed, chunk=1, requested=16384, total=0, cancel=false, "
             "paused=false, url={U}",
             "HTTP read data eof kind=string-fixed, chunk=1, elapsedMs=N, total=0, url={U}",
             "HTTP download string incomplete bytes=0, total=10, url={U}",
             "END HTTP DownloadString {U} elapsedMs=N"}},
        {false, false, 500, L"size=10&mode=stall&cut=0&release=never&maxwait=3", {
             "HTTP query data available start kind=string, chunk=1, total=0, cancel=false, paused=false, url={U}",
             "HTTP WinHttpQueryDataAvailable failed for string: E, elapsedMs=N, url={U}",
             "END HTTP DownloadString {U} elapsedMs=N"}},
        {false, false, 0, L"size=10&clen=67108865", {
             "HTTP body too large bytes=67108865, limit=67108864, url={U}",
             "END HTTP DownloadString {U} elapsedMs=N"}},
    };
    for (const auto& c : cases) {
        LoggedClient logged;
        const std::wstring url = ServerUrl(PlainRoot(), L"body", NewTestId(), c.query);
        const std::wstring destination = logged.folder / L"body.download";
        const HttpClient::RequestOptions options = TestOptions(c.fixed, c.readTimeoutMs);
        ErrorOf([&] {
            if (c.toFile) {
                logged.client.DownloadFile(
                    url, destination, kNotSet, kNotSet, [](long long, long long, long long) {}, options);
            } else {
                logged.client.DownloadString(url, kNotSet, kNotSet, options);
            }
        });
        std::vector<std::string> expected;
        for (std::string line : c.lines) {
            line = std::regex_replace(line, std::regex("\\{U\\}"), Narrow(url));
            expected.push_back(std::regex_replace(line, std::regex("\\{D\\}"), Narrow(destination)));
        }
        EXPECT_EQ(BodyLines(logged), expected) << Narrow(c.query);
    }
}

TEST(HttpDebugLog, NothingIsWrittenWhileDebugLoggingIsOff) {
    LoggedClient logged;
    logged.logger.debugEnabled = false;
    const std::wstring id = NewTestId();
    logged.client.DownloadString(ServerUrl(RootA(), L"quiet", id, L"size=2"), kNotSet, kNotSet, TestOptions(true));
    logged.client.AbortActiveRequests();
    EXPECT_EQ(GetFileAttributesW(JoinPath(logged.folder.path(), L"logs").c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace updater
