#pragma once

#include <atomic>
#include <climits>
#include <vector>

#include "update/manifest.h"

namespace updater {

// What an update run works from: every file the loaded sources deliver, and
// what the check workers found must be downloaded.
struct UpdatePlan {
    // Merged over all sources, ordered by relativePath (plain code-unit order).
    std::vector<UpdateFileEntry> entries;
    std::vector<UpdateFileEntry> downloads;
    // Sum of max(size, 0) over downloads, capped at LLONG_MAX.
    long long bytesToDownload = 0;
    // Sources whose manifest could not be had.
    int manifestFailures = 0;
};

// Manifest sizes reach LLONG_MAX, so sums of sizes and weights stop there
// instead of overflowing. Both amounts are at least 0.
inline long long SaturatingAdd(long long total, long long amount) {
    return amount > LLONG_MAX - total ? LLONG_MAX : total + amount;
}

// The same on a counter that several workers add to; returns the new total.
inline long long SaturatingAdd(std::atomic<long long>& total, long long amount) {
    long long seen = total.load();
    while (!total.compare_exchange_weak(seen, SaturatingAdd(seen, amount))) {
    }
    return SaturatingAdd(seen, amount);
}

}  // namespace updater
