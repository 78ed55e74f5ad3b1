#pragma once

#include <vector>

#include "update/manifest.h"

namespace updater {

// What an update run works from: every file the loaded sources deliver, and
// what the check workers found must be downloaded.
struct UpdatePlan {
    // Merged over all sources, ordered by relativePath (plain code-unit order).
    std::vector<UpdateFileEntry> entries;
    std::vector<UpdateFileEntry> downloads;
    // Sum of max(size, 0) over downloads.
    long long bytesToDownload = 0;
    // Sources whose manifest could not be had.
    int manifestFailures = 0;
};

}  // namespace updater
