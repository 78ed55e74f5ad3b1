#pragma once

#include <atomic>

namespace updater {

// Long work polls these flags at fixed checkpoints; a set cancel flag ends it
// with std::runtime_error("Canceled"), the one error by which cancellation travels.

void ThrowIfCanceled(const std::atomic<bool>& cancel);

// Waits in slices of at most 50 ms, testing the cancel flag before each slice
// and once more at the end.
void SleepWithCancel(unsigned long milliseconds, const std::atomic<bool>& cancel);

// The pause checkpoint at the top of every pass of a long loop: stops on
// cancel, and holds still in 80 ms steps while the pause flag is set.
void PauseCheckpoint(const std::atomic<bool>& cancel, const std::atomic<bool>& pause);

}  // namespace updater
