#pragma once

#include <string>

namespace updater {

// One candidate image: an embedded resource ("resource:" + id) or a file
// (its full path).
struct ImageAsset {
    std::wstring key;
    std::wstring path;
    int resourceId = 0;
    bool embedded = true;
};

}  // namespace updater
