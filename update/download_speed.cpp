#include "update/download_speed.h"

#include <algorithm>
#include <chrono>
#include <cwchar>

namespace updater {

namespace {

constexpr long long kWindowNs = 3000000000LL;
constexpr double kMinimumAgeSeconds = 0.05;
constexpr double kPerKibi = 0.0009765625;

}  // namespace

void DownloadSpeedMeter::AddBlock(long long nowNs, long long bytes) {
    if (bytes <= 0) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    samples.push_back({nowNs, bytes});
    windowBytes += bytes;
    while (nowNs - samples.front().timeNs > kWindowNs) {
        windowBytes -= samples.front().bytes;
        samples.pop_front();
    }
}

double DownloadSpeedMeter::BytesPerSecond(long long nowNs) {
    std::lock_guard<std::mutex> lock(mutex);
    while (!samples.empty() && nowNs - samples.front().timeNs > kWindowNs) {
        windowBytes -= samples.front().bytes;
        samples.pop_front();
    }
    if (samples.empty()) {
        return 0;
    }
    const double seconds = static_cast<double>(nowNs - samples.front().timeNs) / 1e9;
    if (seconds <= kMinimumAgeSeconds) {
        return 0;
    }
    return static_cast<double>(windowBytes) / seconds;
}

long long SteadyNowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::wstring FormatSpeed(double bytesPerSecond) {
    if (bytesPerSecond < 1024) {
        return std::to_wstring(static_cast<long long>(bytesPerSecond)) + L" B/s";
    }
    static const wchar_t* const units[] = {L"KB/s", L"MB/s", L"GB/s"};
    double value = bytesPerSecond * kPerKibi;
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < sizeof units / sizeof units[0]) {
        value *= kPerKibi;
        ++unit;
    }
    wchar_t number[64];
    std::swprintf(number, sizeof number / sizeof number[0], L"%.*f", value < 10 ? 2 : 1, value);
    return std::wstring(number) + L" " + units[unit];
}

long long EntryProgressBytes(long long downloaded, long long contentLength, long long size) {
    if (size <= 0) {
        return 0;
    }
    if (contentLength > 0) {
        // The ratio is clamped before scaling, so no value outside 0..size is ever converted.
        const double ratio = std::clamp(static_cast<double>(downloaded) / static_cast<double>(contentLength), 0.0, 1.0);
        return std::min(static_cast<long long>(ratio * static_cast<double>(size)), size);
    }
    return std::clamp(downloaded, 0LL, size);
}

double DownloadPercent(long long downloaded, long long total) {
    if (total <= 0) {
        return 100.0;
    }
    return static_cast<double>(downloaded) * 100.0 / static_cast<double>(total);
}

}  // namespace updater
