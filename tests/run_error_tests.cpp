#include <atomic>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "app/native_app.h"
#include "foundation/text.h"

namespace updater {
namespace {

// The error box after the window's WM_DESTROY has posted the quit message:
// it stays, visible with the message, until it is closed; the exit code is 1.
TEST(RunError, TheBoxStaysUntilClosedThoughTheQuitMessageWasPosted) {
    const wchar_t text[] = L"Could not start the start-up check";
    std::atomic<int> closedShowingText{-1};  // -1 until the box is closed
    std::thread closer([&] {
        HWND box = nullptr;
        for (int i = 0; i < 200 && box == nullptr; ++i, Sleep(50)) box = FindWindowW(L"#32770", L"TavrineUpdater");
        Sleep(500);
        closedShowingText = IsWindowVisible(box) && FindWindowExW(box, nullptr, L"Static", text) != nullptr;
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    });
    PostQuitMessage(0);
    EXPECT_EQ(ShowRunError(std::runtime_error(Utf8FromWide(text))), 1);
    EXPECT_EQ(closedShowingText, 1) << "0: not shown with the message; -1: gone before anyone closed it";
    closer.join();
    MSG left;
    while (PeekMessageW(&left, nullptr, 0, 0, PM_REMOVE)) {
    }
}

}  // namespace
}  // namespace updater
