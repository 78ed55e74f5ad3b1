#include "foundation/logger.h"

#include <iomanip>
#include <sstream>

#include <windows.h>

#include "foundation/files.h"
#include "foundation/paths.h"
#include "foundation/text.h"

namespace updater {

namespace {

std::wstring FormatLine(const std::wstring& level, const std::wstring& message) {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    std::wostringstream line;
    line << L"[" << std::setfill(L'0') << std::setw(4) << now.wYear << L"-" << std::setw(2) << now.wMonth << L"-"
         << std::setw(2) << now.wDay << L" " << std::setw(2) << now.wHour << L":" << std::setw(2) << now.wMinute
         << L":" << std::setw(2) << now.wSecond << L"." << std::setw(3) << now.wMilliseconds << L"][pid:"
         << GetCurrentProcessId() << L"][tid:" << GetCurrentThreadId() << L"][" << level << L"] " << message
         << L"\r\n";
    return line.str();
}

}  // namespace

void Logger::Write(const std::wstring& level, const std::wstring& message, bool toMainLog) {
    std::lock_guard<std::mutex> lock(mutex);
    try {
        const std::wstring folder = JoinPath(directory, L"logs");
        CreateDirectoryRecursive(folder);
        const std::string bytes = Utf8FromWide(FormatLine(level, message));
        if (toMainLog) {
            WriteBinaryFile(JoinPath(folder, L"updater.log"), bytes, true);
        }
        if (debugEnabled.load()) {
            WriteBinaryFile(JoinPath(folder, L"updater-debug.log"), bytes, true);
        }
    } catch (...) {
        // Logging never fails its caller; the next line starts afresh.
    }
}

void Logger::Log(const std::wstring& message) {
    Write(L"INFO", message, true);
}

void Logger::Debug(const std::wstring& message) {
    if (!debugEnabled.load()) {
        return;
    }
    Write(L"DEBUG", message, false);
}

DebugScope::DebugScope(Logger* logger, std::wstring name)
    : logger(logger), name(std::move(name)), start(std::chrono::steady_clock::now()) {
    if (this->logger != nullptr) {
        this->logger->Debug(L"BEGIN " + this->name);
    }
}

DebugScope::DebugScope(Logger& logger, std::wstring name) : DebugScope(&logger, std::move(name)) {}

DebugScope::~DebugScope() {
    if (logger == nullptr) {
        return;
    }
    try {
        logger->Debug(L"END " + name + L" elapsedMs=" + std::to_wstring(ElapsedMsSince(start)));
    } catch (...) {
        // A destructor never lets an exception out.
    }
}

long long ElapsedMsSince(const std::chrono::steady_clock::time_point& start) {
    const auto elapsed = std::chrono::steady_clock::now() - start;
    return std::chrono::duration_cast<std::chrono::nanoseconds>(elapsed).count() / 1000000;
}

}  // namespace updater
