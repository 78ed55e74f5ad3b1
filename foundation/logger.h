#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>

namespace updater {

// Appends lines to logs\updater.log and, while debug logging is on, to
// logs\updater-debug.log below `directory`. Nothing stays open between lines;
// a failure to log is dropped.
struct Logger {
    std::wstring directory;
    std::atomic<bool> debugEnabled{false};
    std::mutex mutex;

    void Write(const std::wstring& level, const std::wstring& message, bool toMainLog);
    void Log(const std::wstring& message);
    void Debug(const std::wstring& message);
};

// Writes "BEGIN name" when made and "END name elapsedMs=N" when left, also by
// an exception. A null logger makes it silent.
class DebugScope {
public:
    DebugScope(Logger* logger, std::wstring name);
    DebugScope(Logger& logger, std::wstring name);
    ~DebugScope();

    DebugScope(const DebugScope&) = delete;
    DebugScope& operator=(const DebugScope&) = delete;

private:
    Logger* logger;
    std::wstring name;
    std::chrono::steady_clock::time_point start;
};

// Whole milliseconds, truncated, since start.
long long ElapsedMsSince(const std::chrono::steady_clock::time_point& start);

}  // namespace updater
