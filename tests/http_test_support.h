#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <stdexcept>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http/http_client.h"
#include "tests/test_support.h"

namespace updater {

// The local test server: roots A and B stand in for the two download servers
// (trusted TLS), beside a plain http root and an https root nobody trusts.
std::wstring RootA();
std::wstring RootB();
std::wstring PlainRoot();
std::wstring UntrustedRoot();

// A key no other request of this run uses; the server counts hits per path and key.
std::wstring NewTestId();

// root + path + "?id=" + id, then "&" + query when query is not empty.
std::wstring ServerUrl(const std::wstring& root, const std::wstring& path, const std::wstring& id,
                       const std::wstring& query = L"");

// The server's JSON log lines of the requests made with this id, in arrival order.
std::vector<std::string> ServerRequests(const std::wstring& id);

// Waits (at most 20 s) until the server has logged a request with this id.
bool WaitForServerRequest(const std::wstring& id);

// Lets a stalled answer go on (mode=stall or stall_head with release=name).
void ReleaseStall(const std::wstring& name);

// Releases a stall when it goes away, or earlier once the given time has
// passed, so that a client call that ought to have timed out on its own
// completes instead of hanging.
class StallReleaser {
public:
    StallReleaser(std::wstring name, std::chrono::milliseconds after);
    ~StallReleaser();

    StallReleaser(const StallReleaser&) = delete;
    StallReleaser& operator=(const StallReleaser&) = delete;

private:
    std::wstring name;
    std::mutex mutex;
    std::condition_variable wake;
    bool done = false;
    std::thread watchdog;
};

// The folder from which the server serves the update site of that name
// (see tests/update_site.py), and the client setting that picks it.
std::wstring SiteFolder(const std::wstring& name);
void UseSite(HttpClient& client, const std::wstring& name);

// One field of a request log line: a text's value, or a number's digits.
std::string RequestField(const std::string& line, const std::string& name);

// "role path?query" of each request the site of that name answered, in order.
std::vector<std::string> SiteRequests(const std::wstring& name);

// The bytes the server sends for size=N.
std::string ServerBody(size_t size);

HttpClient::RequestOptions TestOptions(bool fixedRead, unsigned long readTimeoutMs = 30000);


}  // namespace updater
