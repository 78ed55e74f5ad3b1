#include "foundation/cancellation.h"

#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace updater {
namespace {

using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}


TEST(ThrowIfCanceled, ThrowsExactlyCanceledOnlyWhenSet) {
    std::atomic<bool> cancel{false};
    EXPECT_EQ(ErrorOf([&] { ThrowIfCanceled(cancel); }), "");
    cancel = true;
    EXPECT_EQ(ErrorOf([&] { ThrowIfCanceled(cancel); }), "Canceled");
}

TEST(SleepWithCancel, ZeroWaitOnlyTestsTheFlag) {
    std::atomic<bool> cancel{false};
    const auto start = Clock::now();
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(ErrorOf([&] { SleepWithCancel(0, cancel); }), "");
    }
    EXPECT_LT(MsSince(start), 500);
    cancel = true;
    EXPECT_EQ(ErrorOf([&] { SleepWithCancel(0, cancel); }), "Canceled");
}

TEST(SleepWithCancel, WaitsTheWholeTimeWhenNotCanceled) {
    std::atomic<bool> cancel{false};
    const auto start = Clock::now();
    SleepWithCancel(120, cancel);
    EXPECT_GE(MsSince(start), 110);
}

TEST(SleepWithCancel, CancelMidWaitEndsItEarlyWithCanceled) {
    std::atomic<bool> cancel{false};
    std::thread setter([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        cancel = true;
    });
    const auto start = Clock::now();
    const std::string error = ErrorOf([&] { SleepWithCancel(3000, cancel); });
    const long long elapsed = MsSince(start);
    setter.join();
    EXPECT_EQ(error, "Canceled");
    EXPECT_LT(elapsed, 2000);
}

TEST(SleepWithCancel, NeverReturnsNormallyAfterTheFlagWasSet) {
    // The flag is set at some point during a short wait; whenever that lands,
    // a normal return must come before the flag was set.
    for (int round = 0; round < 10; ++round) {
        std::atomic<bool> cancel{false};
        Clock::time_point setAt;
        std::thread setter([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(5 * round));
            setAt = Clock::now();
            cancel = true;
        });
        const std::string error = ErrorOf([&] { SleepWithCancel(40, cancel); });
        const auto returnedAt = Clock::now();
        setter.join();
        if (error.empty()) {
            EXPECT_LT(returnedAt, setAt) << round;
        } else {
            EXPECT_EQ(error, "Canceled") << round;
        }
    }
}

TEST(PauseCheckpoint, HoldsStillWhilePausedAndGoesOnWhenResumed) {
    std::atomic<bool> cancel{false};
    std::atomic<bool> pause{true};
    std::atomic<int> passes{0};
    std::atomic<bool> stop{false};
    std::string error;
    std::thread worker([&] {
        error = ErrorOf([&] {
            while (!stop) {
                PauseCheckpoint(cancel, pause);
                ++passes;
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        });
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(passes.load(), 0);

    pause = false;
    const auto resumed = Clock::now();
    while (passes.load() == 0 && MsSince(resumed) < 5000) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GT(passes.load(), 0);

    pause = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const int heldAt = passes.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(passes.load(), heldAt);

    const auto canceled = Clock::now();
    cancel = true;
    worker.join();
    EXPECT_EQ(error, "Canceled");
    EXPECT_LT(MsSince(canceled), 2000);
    EXPECT_EQ(passes.load(), heldAt);
}

TEST(PauseCheckpoint, ClearFlagsPassWithoutSleeping) {
    std::atomic<bool> cancel{false};
    std::atomic<bool> pause{false};
    const auto start = Clock::now();
    for (int i = 0; i < 1000; ++i) {
        PauseCheckpoint(cancel, pause);
    }
    EXPECT_LT(MsSince(start), 5000);
    cancel = true;
    EXPECT_EQ(ErrorOf([&] { PauseCheckpoint(cancel, pause); }), "Canceled");
}

}  // namespace
}  // namespace updater
