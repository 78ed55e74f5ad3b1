#pragma once

#include <string>
#include <vector>

#include "app/native_app.h"
#include "tests/http_test_support.h"

namespace updater {

// An application object without a window whose requests go to one update
// site of the test server; its folder (logs, temporary files) is its own.
struct SiteApp {
    explicit SiteApp(std::wstring site = L"site-" + NewTestId());

    // Puts the bytes on the site as tavrine_updater/NAME, with a fault file of
    // the test server's kind when one is given; returns its URL on root A.
    std::wstring Serve(const std::wstring& name, const std::string& bytes, const std::string& fault = "") const;

    // The messages of the main log's INFO lines, and those of the debug log's
    // lines that start with the prefix, in order.
    std::vector<std::wstring> InfoLines() const;
    std::vector<std::wstring> DebugLines(const std::wstring& prefix) const;
    std::wstring DebugLog() const;

    std::wstring site;
    TempFolder folder;
    NativeApp app;
};

}  // namespace updater
