#include "app/message_guard.h"

#include "foundation/text.h"

namespace updater {

void LogWindowMessageFailure(Logger& logger, UINT message, const char* error) noexcept {
    try {
        const std::wstring text = error != nullptr ? WideFromUtf8(error) : L"Unknown error";
        logger.Log(L"Window message failed: message=" + std::to_wstring(message) + L", error=" + text);
    } catch (...) {
        // Out of memory even for the line: the message still gets its default result.
    }
}

}  // namespace updater
