#include "foundation/cancellation.h"

#include <algorithm>
#include <stdexcept>

#include <windows.h>

namespace updater {

void ThrowIfCanceled(const std::atomic<bool>& cancel) {
    if (cancel.load()) {
        throw std::runtime_error("Canceled");
    }
}

void SleepWithCancel(unsigned long milliseconds, const std::atomic<bool>& cancel) {
    unsigned long done = 0;
    while (done < milliseconds) {
        ThrowIfCanceled(cancel);
        const unsigned long slice = std::min<unsigned long>(milliseconds - done, 50);
        done += slice;
        Sleep(slice);
    }
    ThrowIfCanceled(cancel);
}

void PauseCheckpoint(const std::atomic<bool>& cancel, const std::atomic<bool>& pause) {
    ThrowIfCanceled(cancel);
    while (pause.load()) {
        ThrowIfCanceled(cancel);
        Sleep(80);
    }
}

}  // namespace updater
