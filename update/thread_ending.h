#pragma once

namespace updater {

class NativeApp;

// Ends a thread's hold on the flags it runs under exactly once, whichever way
// the thread leaves. The thread's own ending clears them with its log lines
// and then calls MarkDone; when the thread leaves before that, because one of its
// handlers failed (for want of memory, say), the destructor runs the given
// ending instead, which allocates nothing and so cannot fail the same way.
class ThreadEnding {
public:
    ThreadEnding(NativeApp& app, void (*endWithoutAllocating)(NativeApp& app)) noexcept
        : app(app), endWithoutAllocating(endWithoutAllocating) {}
    ~ThreadEnding() {
        if (!done) {
            endWithoutAllocating(app);
        }
    }
    ThreadEnding(const ThreadEnding&) = delete;
    ThreadEnding& operator=(const ThreadEnding&) = delete;

    void MarkDone() noexcept { done = true; }
    bool IsDone() const noexcept { return done; }

private:
    NativeApp& app;
    void (*endWithoutAllocating)(NativeApp& app);
    bool done = false;
};

// SetBusy's store, without its debug line: the busy state, the Cancel button
// and the pause shown, under uiMutex, then a repaint; it allocates nothing.
// It lives beside SetBusy, in update/ui_state.cpp.
void StoreBusyState(NativeApp& app, bool busy);

// The endings of the three threads as their own endings order them, without
// log lines or new texts:
// the start-up check: "Готов к работе" with an empty detail (stored only into
// room the status already has), then startupWork;
// the manual self-update: startedUpdateMustFinish, manualSelfUpdateRunning,
// the busy state, workerRunning last;
// the update run: startedUpdateMustFinish, the busy state, workerRunning last.
// The busy state is cleared with StoreBusyState.
void EndStartupCheckWithoutAllocating(NativeApp& app);
void EndManualSelfUpdateWithoutAllocating(NativeApp& app);
void EndUpdateRunWithoutAllocating(NativeApp& app);

}  // namespace updater
