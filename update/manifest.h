#pragma once

#include <string>
#include <vector>

namespace updater {

struct Logger;

// One client file of the update plan, as one FileModel element of a source's
// manifest describes it.
struct UpdateFileEntry {
    // Below the client folder, pieces separated by "/"; never empty once parsed.
    std::wstring relativePath;
    long long size = 0;
    // Expected CRC-32 as hexadecimal text, letter case as the manifest has it.
    std::wstring hash;
    bool quickUpdate = true;
    // true: the CRC-32 is compared with hash; false: only the size is.
    bool checkHash = true;
    // "client", "patch" or "patch_clan".
    std::wstring source;
    // The file's zip archive on the server.
    std::wstring downloadUrl;
};

// The entries of every FileModel element of the manifest text, in document
// order. Elements without a usable name or with an unsafe path are skipped with
// a debug line; nothing in the content makes it fail.
std::vector<UpdateFileEntry> ParseManifestEntries(const std::wstring& source, const std::wstring& baseUrl,
                                                  const std::wstring& xml, Logger& logger);

}  // namespace updater
