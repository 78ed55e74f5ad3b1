#pragma once

#include <exception>
#include <string>

#include <windows.h>

#include "foundation/logger.h"

namespace updater {

// Logs "Window message failed: message=N, error=TEXT"; never throws.
void LogWindowMessageFailure(Logger& logger, UINT message, const char* error) noexcept;

// Runs one message's handler. An exception must not leave a window procedure:
// it cannot unwind through the system's dispatch frames and would end the
// process, so it is logged here and the message gets its default result.
template <typename Handler>
LRESULT GuardedMessage(Logger& logger, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                       Handler&& handler) noexcept {
    try {
        return handler();
    } catch (const std::exception& error) {
        LogWindowMessageFailure(logger, message, error.what());
    } catch (...) {
        LogWindowMessageFailure(logger, message, nullptr);
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace updater
