#pragma once

#include <string>
#include <vector>

#include "app/native_app.h"
#include "tests/test_support.h"

namespace updater {

// An application object without a window whose requests go to one update
// site of the test server; its folder (logs, temporary files) is its own.
struct SiteApp {
    explicit SiteApp(const std::wstring& site);

    // The messages of the main log's INFO lines, in order.
    std::vector<std::wstring> InfoLines() const;
    std::wstring DebugLog() const;

    TempFolder folder;
    NativeApp app;
};

}  // namespace updater
