#include "update/update_plan.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/files.h"
#include "foundation/text.h"
#include "tests/http_test_support.h"
#include "tests/site_app.h"

namespace updater {
namespace {

using Clock = std::chrono::steady_clock;

// Loads the site's configuration as the start-up check does, then the plan.
UpdatePlan PlanFromSite(SiteApp& site, bool clan) {
    bool fromServer = false;
    site.app.serverConfig = site.app.LoadServerConfig(fromServer);
    EXPECT_TRUE(fromServer);
    site.app.clanPatchEnabled = clan;
    return site.app.BuildPlan();
}

std::vector<std::wstring> Describe(const std::vector<UpdateFileEntry>& entries) {
    std::vector<std::wstring> described;
    for (const UpdateFileEntry& entry : entries) {
        described.push_back(entry.relativePath + L" " + entry.source + L" " + std::to_wstring(entry.size));
    }
    return described;
}

// What follows the configuration's download: the site's requests ("role
// path?query") after its first, and the INFO lines after its two.
template <typename Item>
std::vector<Item> After(const std::vector<Item>& items, size_t count) {
    return {items.begin() + std::min(count, items.size()), items.end()};
}

std::vector<std::string> ManifestRequests(const std::wstring& site) {
    return After(SiteRequests(site), 1);
}

std::vector<std::wstring> PlanLines(const SiteApp& site) {
    return After(site.InfoLines(), 2);
}

TEST(UpdatePlanTest, ZippedManifestsMergeLaterSourcesWithoutRegardToLetterCase) {
    SiteApp site(L"plan-merge");
    const UpdatePlan plan = PlanFromSite(site, true);
    const std::string token = Utf8FromWide(ManifestToken(site.app.serverConfig));

    EXPECT_EQ(Describe(plan.entries),
              (std::vector<std::wstring>{L"B.txt client 10", L"a.txt client 8", L"clan/emblem.dat patch_clan 256",
                                         L"system/l2.exe patch 600", L"system/l2.ini patch 9",
                                         L"\x0434\x0430\x043d\x043d\x044b\x0435/\x0444\x0430\x0439\x043b.txt patch 4"}));
    EXPECT_EQ(plan.manifestFailures, 0);
    EXPECT_TRUE(plan.downloads.empty());
    EXPECT_EQ(plan.bytesToDownload, 0);
    ASSERT_EQ(plan.entries.size(), 6u);
    EXPECT_EQ(plan.entries[3].downloadUrl, RootA() + L"tavrine/updater/patch/system/l2.exe.zip?v=" +
                                               plan.entries[3].hash + L"-600");
    EXPECT_EQ(ManifestRequests(L"plan-merge"),
              (std::vector<std::string>{"a /tavrine/updater/client/UpdateInfo.xml.zip?v=" + token,
                                        "a /tavrine/updater/patch/UpdateInfo.xml.zip?v=" + token,
                                        "a /tavrine/updater/patch_clan/UpdateInfo.xml.zip"}));
    EXPECT_EQ(PlanLines(site), (std::vector<std::wstring>{L"Manifest loaded: client, files=5",
                                                          L"Manifest loaded: patch, files=3",
                                                          L"Manifest loaded: patch_clan, files=1"}));
    const std::wstring debug = site.DebugLog();
    EXPECT_NE(debug.find(L"] BuildPlan sources=client, patch, patch_clan, clanPatchEnabled=true\r\n"),
              std::wstring::npos);
    EXPECT_NE(debug.find(L"] BuildPlan overriding duplicate relativePath=system/l2.exe with source=patch\r\n"),
              std::wstring::npos);
    EXPECT_NE(debug.find(L"] BuildPlan complete entries=6, manifestFailures=0\r\n"), std::wstring::npos);
    EXPECT_EQ(FileSizeOf(site.folder / L"temp\\manifests\\client-UpdateInfo.xml.download"), -1);
    EXPECT_EQ(FileSizeOf(site.folder / L"temp\\manifests\\patch-UpdateInfo.xml.zip.download"), -1);
}

TEST(UpdatePlanTest, WithoutTheClanPatchTwoSourcesLoad) {
    SiteApp site(L"plan-noclan");
    const UpdatePlan plan = PlanFromSite(site, false);
    EXPECT_EQ(plan.entries.size(), 5u);
    EXPECT_EQ(ManifestRequests(L"plan-noclan").size(), 2u);
    EXPECT_NE(site.DebugLog().find(L"] BuildPlan sources=client, patch, clanPatchEnabled=false\r\n"),
              std::wstring::npos);
}

TEST(UpdatePlanTest, PlainManifestsWhenNoArchiveIsConfigured) {
    SiteApp site(L"plan-plain");
    const UpdatePlan plan = PlanFromSite(site, true);
    const std::string token = Utf8FromWide(ManifestToken(site.app.serverConfig));

    EXPECT_EQ(Describe(plan.entries), (std::vector<std::wstring>{L"a.txt client 8"}));
    EXPECT_EQ(plan.manifestFailures, 1);
    // An empty body is an answer: the remaining URLs are not tried.
    EXPECT_EQ(ManifestRequests(L"plan-plain"),
              (std::vector<std::string>{"a /tavrine/updater/client/UpdateInfo.xml?v=" + token,
                                        "a /tavrine/updater/patch/UpdateInfo.xml?v=" + token,
                                        "a /tavrine/updater/patch_clan/UpdateInfo.xml?v=" + token}));
    EXPECT_EQ(PlanLines(site), (std::vector<std::wstring>{L"Manifest loaded: client, files=1",
                                                          L"Manifest loaded: patch, files=0",
                                                          L"Manifest failed: patch_clan: Empty manifest"}));
    const std::wstring primary = RootA() + L"tavrine/updater/client/UpdateInfo.xml?v=" + WideFromUtf8(token);
    EXPECT_NE(site.DebugLog().find(L"] LoadManifest source=client, baseUrl=" + RootA() +
                                   L"tavrine/updater/client/, manifestToken=" + WideFromUtf8(token) +
                                   L", archiveAttempts=0, legacyAttempts=3, archiveUrl=, archiveSha256=, "
                                   L"archiveSize=0, primaryUrl=" +
                                   primary + L", fallbackUrl=" + RootB() +
                                   primary.substr(RootA().size()) + L"\r\n"),
              std::wstring::npos);
}

double RequestTime(const std::string& line) {
    return std::strtod(RequestField(line, "time").c_str(), nullptr);
}

TEST(UpdatePlanTest, ArchiveMismatchesRetryWithWaitsThenTheOtherRootThenThePlainManifest) {
    SiteApp site(L"plan-retries");
    const UpdatePlan plan = PlanFromSite(site, true);
    const std::wstring token = ManifestToken(site.app.serverConfig);

    EXPECT_EQ(Describe(plan.entries), (std::vector<std::wstring>{L"B.txt patch 10", L"a.txt patch_clan 8"}));
    EXPECT_EQ(plan.manifestFailures, 0);
    std::vector<std::string> expectedRequests;
    std::vector<std::wstring> expectedLines;
    for (const auto& [source, error] :
         {std::pair<std::wstring, std::wstring>{L"client", L"Manifest archive size mismatch"},
          {L"patch", L"Manifest archive SHA256 mismatch"},
          {L"patch_clan", L"Zip entry larger than expected"}}) {
        const std::wstring path = L"tavrine/updater/" + source + L"/UpdateInfo.xml";
        for (const std::wstring role : {L"a", L"a", L"b"}) {
            expectedRequests.push_back(Utf8FromWide(role + L" /" + path + L".zip?v=" + token));
        }
        expectedRequests.push_back(Utf8FromWide(L"a /" + path + L"?v=" + token));
        for (const std::wstring attempt : {L"1/3", L"2/3", L"3/3"}) {
            expectedLines.push_back(L"Manifest archive load attempt failed: " + source + L", attempt=" + attempt +
                                    L", url=" + (attempt == L"3/3" ? RootB() : RootA()) + path + L".zip?v=" +
                                    token + L", error=" + error);
        }
        expectedLines.push_back(L"Manifest loaded: " + source + L", files=1");
    }
    const std::vector<std::string> requests = ManifestRequests(L"plan-retries");
    EXPECT_EQ(SiteRequests(L"plan-retries").size(), requests.size() + 1);
    ASSERT_EQ(requests, expectedRequests);
    EXPECT_EQ(PlanLines(site), expectedLines);

    // 1 s after the first failure, 2 s after the second, no wait before the plain manifest.
    const auto lines = ServerRequests(L"plan-retries");
    for (size_t first : {1u, 5u, 9u}) {
        EXPECT_GE(RequestTime(lines[first + 1]) - RequestTime(lines[first]), 1.0);
        EXPECT_GE(RequestTime(lines[first + 2]) - RequestTime(lines[first + 1]), 2.0);
        EXPECT_LT(RequestTime(lines[first + 3]) - RequestTime(lines[first + 2]), 0.9);
    }
}

TEST(UpdatePlanTest, EverySourceFailingLeavesAnEmptyPlan) {
    SiteApp site(L"plan-down");
    const UpdatePlan plan = PlanFromSite(site, true);
    EXPECT_TRUE(plan.entries.empty());
    EXPECT_EQ(plan.manifestFailures, 3);

    const std::wstring token = ManifestToken(site.app.serverConfig);
    std::vector<std::string> expectedRequests;
    std::vector<std::wstring> expectedLines;
    for (const std::wstring source : {L"client", L"patch", L"patch_clan"}) {
        const std::wstring path = L"gone/" + source + L"/UpdateInfo.xml?v=" + token;
        const std::wstring error = source == L"patch" ? L"HTTP request failed" : L"HTTP status 404";
        for (const std::wstring attempt : {L"1/3", L"2/3", L"3/3"}) {
            const std::wstring root = attempt == L"3/3" ? RootB() : RootA();
            expectedRequests.push_back(Utf8FromWide((attempt == L"3/3" ? L"b /" : L"a /") + path));
            expectedLines.push_back(L"Manifest load attempt failed: " + source + L", attempt=" + attempt +
                                    L", url=" + root + path + L", error=" + error);
        }
        expectedLines.push_back(L"Manifest failed: " + source + L": " + error);
    }
    EXPECT_EQ(ManifestRequests(L"plan-down"), expectedRequests);
    EXPECT_EQ(PlanLines(site), expectedLines);
    EXPECT_NE(site.DebugLog().find(L"] BuildPlan complete entries=0, manifestFailures=3\r\n"), std::wstring::npos);
}

TEST(UpdatePlanTest, CancelDuringAWaitEndsThePlanAtOnceWithoutAFailure) {
    SiteApp site(L"plan-cancel");
    bool fromServer = false;
    site.app.serverConfig = site.app.LoadServerConfig(fromServer);
    site.app.clanPatchEnabled = true;
    std::string error;
    Clock::time_point ended;
    std::thread worker([&] {
        error = ErrorOf([&] { site.app.BuildPlan(); });
        ended = Clock::now();
    });
    while (SiteRequests(L"plan-cancel").size() < 2) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Clock::time_point canceled = Clock::now();
    site.app.cancelUpdate = true;
    worker.join();

    EXPECT_EQ(error, "Canceled");
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(ended - canceled).count(), 150);
    const std::wstring path = L"gone/client/UpdateInfo.xml?v=" + ManifestToken(site.app.serverConfig);
    EXPECT_EQ(ManifestRequests(L"plan-cancel"), (std::vector<std::string>{Utf8FromWide(L"a /" + path)}));
    EXPECT_EQ(PlanLines(site), (std::vector<std::wstring>{L"Manifest load attempt failed: client, attempt=1/3, url=" +
                                                          RootA() + path + L", error=HTTP status 404"}));
}

}  // namespace
}  // namespace updater
