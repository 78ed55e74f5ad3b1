#include "http/http_client.h"

#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/text.h"
#include "tests/http_test_support.h"
#include "tests/test_support.h"

namespace updater {
namespace {

using namespace std::chrono_literals;

const std::atomic<bool> kNotSet{false};

// The four ways a body is read: into a file or into memory, in fixed-size
// reads or as much as is available.
enum class Transfer { FileFixed, FileChunked, StringFixed, StringChunked };

const Transfer kAllTransfers[] = {Transfer::FileFixed, Transfer::FileChunked, Transfer::StringFixed,
                                  Transfer::StringChunked};

const char* NameOf(Transfer transfer) {
    switch (transfer) {
    case Transfer::FileFixed:
        return "file fixed";
    case Transfer::FileChunked:
        return "file chunked";
    case Transfer::StringFixed:
        return "string fixed";
    case Transfer::StringChunked:
        return "string chunked";
    }
    return "";
}

struct Progress {
    long long calls = 0;
    long long last = 0;
    long long sum = 0;
    bool rising = true;
    bool lengthSteady = true;
    long long length = -1;
};

// Runs one transfer and returns the body it delivered (read back from the file
// for file transfers); throws what the transfer throws.
struct Runner {
    std::string Run(
        Transfer transfer, const std::wstring& url, const std::atomic<bool>& cancel, const std::atomic<bool>& pause,
        unsigned long readTimeoutMs = 30000, const std::function<void()>& onBlock = [] {}) {
        const bool fixed = transfer == Transfer::FileFixed || transfer == Transfer::StringFixed;
        HttpClient::RequestOptions options = TestOptions(fixed, readTimeoutMs);
        options.maxFileBytes = maxFileBytes;
        if (transfer == Transfer::StringFixed || transfer == Transfer::StringChunked) {
            return client.DownloadString(url, cancel, pause, options);
        }
        client.DownloadFile(
            url, destination, cancel, pause,
            [&](long long downloaded, long long contentLength, long long chunkBytes) {
                progress.rising = progress.rising && downloaded > progress.last && chunkBytes >= 1;
                progress.lengthSteady =
                    progress.lengthSteady && (progress.length < 0 || progress.length == contentLength);
                progress.length = contentLength;
                progress.last = downloaded;
                progress.sum += chunkBytes;
                ++progress.calls;
                onBlock();
            },
            options);
        return ReadBinaryFile(destination);
    }

    TempFolder folder;
    std::wstring destination = folder / L"deep\\er\\body.zip.download";
    HttpClient client;
    Progress progress;
    long long maxFileBytes = 0;
};

TEST(HttpTransfer, BodiesArriveByteExactInEveryReadMode) {
    const std::wstring id = NewTestId();
    for (const size_t size : {size_t{0}, size_t{1}, size_t{131072}, size_t{131073}, size_t{3 * 131072 + 5}}) {
        for (const Transfer transfer : kAllTransfers) {
            Runner runner;
            const std::wstring url = ServerUrl(RootA(), L"body.bin", id, L"size=" + std::to_wstring(size));
            EXPECT_EQ(runner.Run(transfer, url, kNotSet, kNotSet), ServerBody(size)) << NameOf(transfer) << " " << size;
            if (transfer == Transfer::FileFixed || transfer == Transfer::FileChunked) {
                EXPECT_EQ(runner.progress.sum, static_cast<long long>(size)) << NameOf(transfer) << " " << size;
                EXPECT_EQ(runner.progress.last, static_cast<long long>(size));
                EXPECT_TRUE(runner.progress.rising);
                EXPECT_TRUE(runner.progress.lengthSteady);
                EXPECT_EQ(runner.progress.calls == 0, size == 0);
                if (size > 0) {
                    EXPECT_EQ(runner.progress.length, static_cast<long long>(size));
                }
                EXPECT_EQ(FileSizeOf(runner.destination), static_cast<long long>(size));
            }
        }
    }
}

TEST(HttpTransfer, ChunkedAndUnannouncedBodiesAreReadToTheirEnd) {
    const std::wstring id = NewTestId();
    for (const std::wstring mode : {L"chunked", L"noclen"}) {
        for (const Transfer transfer : kAllTransfers) {
            Runner runner;
            const std::wstring url = ServerUrl(RootB(), L"chunked.bin", id, L"size=200003&chunk=7000&mode=" + mode);
            EXPECT_EQ(runner.Run(transfer, url, kNotSet, kNotSet), ServerBody(200003))
                << NameOf(transfer) << " " << Utf8FromWide(mode);
            if (transfer == Transfer::FileFixed || transfer == Transfer::FileChunked) {
                EXPECT_EQ(runner.progress.length, 0);
                EXPECT_EQ(runner.progress.sum, 200003);
            }
        }
    }
}

TEST(HttpTransfer, BodyShorterThanItsContentLengthFails) {
    const std::wstring id = NewTestId();
    for (const std::wstring query : {L"size=300000&cut=140000", L"size=300000&cut=131072", L"size=10&cut=0"}) {
        for (const Transfer transfer : kAllTransfers) {
            Runner runner;
            EXPECT_EQ(ErrorOf([&] {
                          runner.Run(transfer, ServerUrl(RootA(), L"cut", id, L"mode=short&" + query), kNotSet,
                                     kNotSet);
                      }),
                      "Incomplete HTTP body")
                << NameOf(transfer) << " " << Utf8FromWide(query);
        }
    }
}

TEST(HttpTransfer, ConnectionResetMidBodyFails) {
    const std::wstring id = NewTestId();
    for (const Transfer transfer : kAllTransfers) {
        Runner runner;
        // Where the reset surfaces depends on how much of the body was read by then.
        EXPECT_NE(ErrorOf([&] {
                      runner.Run(transfer, ServerUrl(RootA(), L"reset", id, L"size=300000&mode=drop_mid&cut=140000"),
                                 kNotSet, kNotSet);
                  }),
                  "")
            << NameOf(transfer);
    }
}

TEST(HttpTransfer, ConnectionDroppedBeforeTheHeadFailsTheRequest) {
    const std::wstring id = NewTestId();
    for (const Transfer transfer : kAllTransfers) {
        Runner runner;
        EXPECT_EQ(ErrorOf([&] {
                      runner.Run(transfer, ServerUrl(RootA(), L"drop", id, L"mode=drop_head"), kNotSet, kNotSet);
                  }),
                  "HTTP request failed")
            << NameOf(transfer);
    }
}

TEST(HttpTransfer, PauseHoldsTheTransferAndResumeCompletesIt) {
    const size_t size = 3 * 131072 + 5;
    for (const Transfer transfer : {Transfer::FileFixed, Transfer::FileChunked}) {
        const std::wstring id = NewTestId();
        Runner runner;
        std::atomic<bool> pause{true};
        std::atomic<long long> blocks{0};
        std::string body;
        std::thread worker([&] {
            body = runner.Run(transfer,
                              ServerUrl(RootA(), L"paused", id,
                                        L"size=" + std::to_wstring(size) + L"&mode=trickle&step=32768&delay=20"),
                              kNotSet, pause, 30000, [&] {
                                  ++blocks;
                                  if (blocks == 2) {
                                      pause = true;
                                  }
                              });
        });
        EXPECT_TRUE(WaitForServerRequest(id));
        std::this_thread::sleep_for(400ms);
        EXPECT_EQ(blocks.load(), 0) << NameOf(transfer);
        pause = false;
        for (int i = 0; i < 400 && blocks < 2; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        std::this_thread::sleep_for(400ms);
        EXPECT_EQ(blocks.load(), 2) << NameOf(transfer);
        pause = false;
        worker.join();
        EXPECT_EQ(body, ServerBody(size)) << NameOf(transfer);
        EXPECT_TRUE(runner.progress.rising);
    }
}

TEST(HttpTransfer, CancelWhilePausedEndsWithCanceled) {
    const std::wstring id = NewTestId();
    for (const Transfer transfer : kAllTransfers) {
        Runner runner;
        std::atomic<bool> cancel{false};
        std::atomic<bool> pause{true};
        std::string error;
        std::thread worker([&] {
            error = ErrorOf(
                [&] { runner.Run(transfer, ServerUrl(RootA(), L"paused-cancel", id, L"size=1000"), cancel, pause); });
        });
        std::this_thread::sleep_for(200ms);
        cancel = true;
        worker.join();
        EXPECT_EQ(error, "Canceled") << NameOf(transfer);
    }
}

TEST(HttpTransfer, CancelMidStreamEndsWithCanceled) {
    const std::wstring id = NewTestId();
    for (const Transfer transfer : {Transfer::FileFixed, Transfer::FileChunked}) {
        Runner runner;
        std::atomic<bool> cancel{false};
        const std::string error = ErrorOf([&] {
            runner.Run(transfer, ServerUrl(RootA(), L"cancel", id, L"size=4000000&mode=trickle&step=8192&delay=20"),
                       cancel, kNotSet, 30000, [&] { cancel = true; });
        });
        EXPECT_EQ(error, "Canceled") << NameOf(transfer);
        EXPECT_EQ(runner.progress.calls, 1) << NameOf(transfer);
    }
}

TEST(HttpTransfer, StringBodiesAbove64MiBAreRefused) {
    const std::wstring id = NewTestId();
    const struct {
        const wchar_t* query;
        const char* error;
    } cases[] = {
        // Announced: refused before any read, once the status is known good.
        {L"size=10&clen=67108865", "HTTP body too large"},
        {L"size=10&clen=99999999999999999999", "HTTP body too large"},
        {L"size=10&clen=67108865&status=404", "HTTP status 404"},
        {L"size=10&clen=67108864", "Incomplete HTTP body"},
        // Unannounced and without end: refused once the ceiling is passed.
        {L"size=1048576&mode=endless&step=1048576&delay=0", "HTTP body too large"},
    };
    for (const auto& c : cases) {
        for (const Transfer transfer : {Transfer::StringFixed, Transfer::StringChunked}) {
            Runner runner;
            EXPECT_EQ(ErrorOf([&] { runner.Run(transfer, ServerUrl(RootA(), L"huge", id, c.query), kNotSet, kNotSet); }),
                      c.error)
                << NameOf(transfer) << " " << Utf8FromWide(c.query);
        }
    }
}

TEST(HttpTransfer, FileBodiesAboveTheirLimitAreRefused) {
    const std::wstring id = NewTestId();
    const char* const tooLarge = "Download larger than expected";
    const struct {
        const wchar_t* query;
        long long limit;
        const char* error;
        long long written;  // -1: whatever came before the refused block
    } cases[] = {
        // Announced: refused before any read.
        {L"size=10&clen=1000001", 1000000, tooLarge, 0},
        // Unannounced: refused before the block that would pass the limit is written.
        {L"size=65536&mode=endless&step=65536&delay=0", 1000000, tooLarge, -1},
        {L"size=1000001&mode=noclen", 1000000, tooLarge, -1},
        {L"size=1000000&mode=noclen", 1000000, "", 1000000},
        {L"size=1000000", 1000000, "", 1000000},
        // No limit.
        {L"size=10&clen=1000001", 0, "Incomplete HTTP body", 10},
        {L"size=1000001&mode=noclen", 0, "", 1000001},
    };
    for (const auto& c : cases) {
        for (const Transfer transfer : {Transfer::FileFixed, Transfer::FileChunked}) {
            Runner runner;
            runner.maxFileBytes = c.limit;
            const std::string what = std::string(NameOf(transfer)) + " " + Utf8FromWide(c.query);
            EXPECT_EQ(ErrorOf([&] {
                          runner.Run(transfer, ServerUrl(RootA(), L"limit", id, c.query), kNotSet, kNotSet);
                      }),
                      c.error)
                << what;
            const long long written = FileSizeOf(runner.destination);
            EXPECT_EQ(written, runner.progress.sum) << what;
            if (c.written >= 0) {
                EXPECT_EQ(written, c.written) << what;
            } else {
                EXPECT_LE(written, c.limit) << what;
            }
        }
    }
}

// Aborts every open request from another thread once the transfer is under way.
std::string AbortMidStream(Transfer transfer, bool setCancelFirst) {
    Runner runner;
    const std::wstring id = NewTestId();
    std::atomic<bool> cancel{false};
    std::string error;
    std::thread worker([&] {
        error = ErrorOf([&] {
            runner.Run(transfer, ServerUrl(RootA(), L"abort", id, L"size=4000000&mode=trickle&step=4096&delay=20"),
                       cancel, kNotSet);
        });
    });
    EXPECT_TRUE(WaitForServerRequest(id));
    std::this_thread::sleep_for(300ms);
    if (setCancelFirst) {
        cancel = true;
    }
    runner.client.AbortActiveRequests();
    worker.join();
    return error;
}

TEST(HttpTransfer, AbortWithTheCancelFlagSetEndsWithCanceled) {
    for (const Transfer transfer : kAllTransfers) {
        EXPECT_EQ(AbortMidStream(transfer, true), "Canceled") << NameOf(transfer);
    }
}

TEST(HttpTransfer, AbortWithTheCancelFlagClearReportsTheWinHttpFailure) {
    EXPECT_EQ(AbortMidStream(Transfer::FileFixed, false), "WinHttpReadData failed");
    EXPECT_EQ(AbortMidStream(Transfer::StringFixed, false), "WinHttpReadData failed");
    for (const Transfer transfer : {Transfer::FileChunked, Transfer::StringChunked}) {
        const std::string error = AbortMidStream(transfer, false);
        EXPECT_TRUE(error == "WinHttpQueryDataAvailable failed" || error == "WinHttpReadData failed")
            << NameOf(transfer) << ": " << error;
    }
}

// Two transfers wait paused with their requests open; an abort with the cancel
// flag clear frees both request handles. The request opened next gets the freed
// values back (the first for its connection, the second for itself), so the
// resumed transfers must fail on their own handles, never read its body.
TEST(HttpTransfer, AbortedRequestHandleIsNeverHandedBackToWinHttp) {
    for (const bool fixed : {true, false}) {
        TempFolder folder;
        HttpClient client;
        std::atomic<bool> pause{true};
        std::vector<std::string> errors(2);
        std::vector<std::thread> threads;
        for (int i = 0; i < 2; ++i) {
            const std::wstring id = NewTestId();
            threads.emplace_back([&, i, id] {
                errors[i] = ErrorOf([&] {
                    client.DownloadFile(
                        ServerUrl(RootA(), L"reused", id, L"size=0"), folder / (std::to_wstring(i) + L".download"),
                        kNotSet, pause, [](long long, long long, long long) {}, TestOptions(fixed));
                });
            });
            EXPECT_TRUE(WaitForServerRequest(id));
            // Until the pause checkpoint holds the request.
            std::this_thread::sleep_for(500ms);
        }
        client.AbortActiveRequests();
        HttpClient::RequestContext other =
            client.OpenRequest(ServerUrl(RootA(), L"other", NewTestId(), L"size=5000"), kNotSet, TestOptions(fixed));
        pause = false;
        for (std::thread& thread : threads) {
            thread.join();
        }
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(errors[i], fixed ? "WinHttpReadData failed" : "WinHttpQueryDataAvailable failed") << i;
            EXPECT_EQ(FileSizeOf(folder / (std::to_wstring(i) + L".download")), 0) << i;
        }
    }
}

TEST(HttpTransfer, ParallelTransfersShareTheClientAndOneAbortEndsThemAll) {
    TempFolder folder;
    HttpClient client;
    const int workers = 4;
    std::atomic<bool> cancel{false};
    std::vector<std::string> errors(workers);
    std::vector<std::wstring> ids;
    std::vector<std::thread> threads;
    for (int i = 0; i < workers; ++i) {
        ids.push_back(NewTestId());
    }
    for (int i = 0; i < workers; ++i) {
        threads.emplace_back([&, i] {
            errors[i] = ErrorOf([&] {
                const std::wstring url = ServerUrl(i % 2 == 0 ? RootA() : RootB(), L"parallel", ids[i],
                                                   L"size=4000000&mode=trickle&step=4096&delay=20");
                HttpClient::RequestOptions options = TestOptions(i < 2);
                if (i % 2 == 0) {
                    client.DownloadFile(
                        url, folder / (std::to_wstring(i) + L".download"), cancel, kNotSet,
                        [](long long, long long, long long) {}, options);
                } else {
                    client.DownloadString(url, cancel, kNotSet, options);
                }
            });
        });
    }
    for (const std::wstring& id : ids) {
        EXPECT_TRUE(WaitForServerRequest(id));
    }
    std::this_thread::sleep_for(300ms);
    cancel = true;
    client.AbortActiveRequests();
    for (std::thread& thread : threads) {
        thread.join();
    }
    for (int i = 0; i < workers; ++i) {
        EXPECT_EQ(errors[i], "Canceled") << i;
    }

    // The client stays usable, and a second abort finds nothing left to close.
    const std::atomic<bool> fresh{false};
    const std::wstring id = NewTestId();
    EXPECT_EQ(client.DownloadString(ServerUrl(RootA(), L"after", id, L"size=1000"), fresh, kNotSet, TestOptions(true)),
              ServerBody(1000));
    client.AbortActiveRequests();
    std::lock_guard<std::mutex> lock(client.requestsMutex);
    EXPECT_TRUE(client.activeRequests.empty());
}

TEST(HttpTransfer, SilentServerMidBodyEndsAtTheReadTimeout) {
    const std::wstring id = NewTestId();
    for (const Transfer transfer : {Transfer::FileFixed, Transfer::StringChunked}) {
        Runner runner;
        const std::wstring release = id + (transfer == Transfer::FileFixed ? L"-file" : L"-string");
        StallReleaser releaser(release, 30s);
        EXPECT_EQ(ErrorOf([&] {
                      runner.Run(transfer,
                                 ServerUrl(RootA(), L"stall", id, L"size=50000&mode=stall&cut=1000&release=" + release),
                                 kNotSet, kNotSet, 1500);
                  }),
                  transfer == Transfer::FileFixed ? "WinHttpReadData failed" : "WinHttpQueryDataAvailable failed")
            << NameOf(transfer);
    }
}

TEST(HttpTransfer, LockedDestinationFailsBeforeAnyRequest) {
    Runner runner;
    const std::wstring id = NewTestId();
    WriteBinaryFile(runner.destination, "old", false);
    FileHandle held(CreateFileW(runner.destination.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    EXPECT_EQ(ErrorOf([&] {
                  runner.Run(Transfer::FileFixed, ServerUrl(RootA(), L"locked", id, L"size=10"), kNotSet, kNotSet);
              }),
              "Could not create download file");
    held.reset();
    EXPECT_EQ(ReadBinaryFile(runner.destination), "old");
    EXPECT_TRUE(ServerRequests(id).empty());
}

TEST(HttpTransfer, FailedRequestLeavesTheDestinationTruncated) {
    Runner runner;
    const std::wstring id = NewTestId();
    WriteBinaryFile(runner.destination, "previous content", false);
    EXPECT_EQ(ErrorOf([&] {
                  runner.Run(Transfer::FileFixed, ServerUrl(RootA(), L"missing", id, L"status=404&size=20"), kNotSet,
                             kNotSet);
              }),
              "HTTP status 404");
    EXPECT_EQ(FileSizeOf(runner.destination), 0);
    EXPECT_EQ(runner.progress.calls, 0);
}

}  // namespace
}  // namespace updater
