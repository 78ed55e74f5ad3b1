#pragma once

#include <deque>
#include <mutex>
#include <string>

namespace updater {

// The blocks received in the last three seconds by every download worker of
// one phase; their sum over the age of the oldest gives the phase's rate.
class DownloadSpeedMeter {
public:
    struct Sample {
        long long timeNs;
        long long bytes;
    };

    // Records a block received at nowNs; a block of 0 bytes or fewer is not recorded.
    void AddBlock(long long nowNs, long long bytes);

    // Bytes per second over the window at nowNs; 0 while the window is empty
    // or its oldest block is no more than 50 ms old.
    double BytesPerSecond(long long nowNs);

private:
    std::mutex mutex;
    std::deque<Sample> samples;
    long long windowBytes = 0;
};

// The steady clock in nanoseconds.
long long SteadyNowNs();

// "800 B/s", "1.50 KB/s", "20.0 KB/s", "5.00 MB/s": the number and its unit.
std::wstring FormatSpeed(double bytesPerSecond);

// The bytes of an entry of the given size that a partly received archive
// stands for: the received share of the archive's Content-Length scaled to the
// size, or the raw bytes without a Content-Length; always within 0..max(size, 0).
long long EntryProgressBytes(long long downloaded, long long contentLength, long long size);

// downloaded * 100 / total, or 100 when nothing is to be downloaded.
double DownloadPercent(long long downloaded, long long total);

}  // namespace updater
