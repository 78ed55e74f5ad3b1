#include <atomic>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "app/native_app.h"
#include "foundation/text.h"

namespace updater {
namespace {

// The error box after the window's WM_DESTROY has posted the quit message:
// it stays on screen until it is closed, and the exit code is 1.
TEST(RunError, TheBoxStaysUntilClosedThoughTheQuitMessageWasPosted) {
    const wchar_t message[] = L"Could not start the start-up check";
    std::atomic<bool> closed{false};
    std::atomic<bool> sawVisibleBox{false};
    std::thread closer([&] {
        HWND box = nullptr;
        for (int i = 0; i < 200 && box == nullptr; ++i) {
            Sleep(50);
            box = FindWindowW(L"#32770", L"TavrineUpdater");
        }
        if (box == nullptr) return;
        Sleep(500);
        sawVisibleBox = IsWindowVisible(box) && FindWindowExW(box, nullptr, L"Static", message) != nullptr;
        closed = true;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    PostQuitMessage(0);
    const int exitCode = ShowRunError(std::runtime_error(Utf8FromWide(message)));
    const bool closedBeforeReturn = closed;
    closer.join();
    MSG left;
    while (PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE)) {
    }
    EXPECT_EQ(exitCode, 1);
    EXPECT_TRUE(closedBeforeReturn) << "the box was gone before anyone closed it";
    EXPECT_TRUE(sawVisibleBox) << "visible, with the exception's message";
}

}  // namespace
}  // namespace updater
