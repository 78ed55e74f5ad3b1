#pragma once

#include <atomic>
#include <exception>
#include <functional>
#include <mutex>
#include <string>

#include "update/thread_ending.h"

namespace updater {

class NativeApp;

// How many check and download workers an update run starts on a machine with
// this many hardware threads (0: the platform cannot tell), before the limits
// by the number of entries and downloads.
struct WorkerDegrees {
    unsigned check;
    unsigned download;
};
WorkerDegrees WorkerDegreesFor(unsigned hardwareThreads);

// Starts worker(0) .. worker(count - 1) on threads of their own and joins them
// in start order. When a thread cannot be started, sets cancel so that those
// already running stop, joins them, and throws the start's error.
void RunWorkerPool(unsigned count, std::atomic<bool>& cancel, const std::function<void(unsigned id)>& worker);

// Throws "Canceled" when the error only passes on a cancellation: it says
// "Canceled", or the cancel flag was already set when it came.
void PassOnCancellation(const std::exception& error, const std::atomic<bool>& cancel);

// Inside a worker's catch: keeps the current exception unless an earlier one
// is kept, and only then sets cancel to stop the other workers, so that their
// "Canceled" never takes the place of the error that stopped them.
void CaptureFirstError(std::exception_ptr& firstError, std::mutex& errorMutex, std::atomic<bool>& cancel);

// Runs the steps of an update run so that it ends in exactly one final status:
// any exception, also one that is not a std::exception, ends the run as
// canceled ("Canceled") or failed, through ClearInteractiveBusy, after which
// `ending` is marked done, as the steps mark it when they end the run themselves.
void RunToOneEnding(NativeApp& app, ThreadEnding& ending, const std::function<void()>& steps);

// The body of the update thread.
void RunUpdateThread(NativeApp& app, bool resetSystemBeforeUpdate);

}  // namespace updater
