#include "update/update_plan.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "foundation/files.h"
#include "foundation/handles.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/site_app.h"

namespace updater {
namespace {

using Strings = std::vector<std::string>;
using Lines = std::vector<std::wstring>;

// Loads the site's configuration as the start-up check does, then the plan.
UpdatePlan PlanFromSite(SiteApp& site, bool clan) {
    bool fromServer = false;
    site.app.serverConfig = site.app.LoadServerConfig(site.app.cancelStartup, fromServer);
    EXPECT_TRUE(fromServer);
    site.app.clanPatchEnabled = clan;
    return site.app.BuildPlan();
}

Lines Describe(const std::vector<UpdateFileEntry>& entries) {
    Lines described;
    for (const UpdateFileEntry& entry : entries) {
        described.push_back(entry.relativePath + L" " + entry.source + L" " + std::to_wstring(entry.size));
    }
    return described;
}

// What follows the configuration's download: the site's requests ("role
// path?query") after its first, and the INFO lines after its two.
Strings ManifestRequests(const SiteApp& site) {
    const Strings requests = SiteRequests(site.site);
    return {requests.begin() + std::min<size_t>(1, requests.size()), requests.end()};
}

Lines PlanLines(const SiteApp& site) {
    const Lines lines = site.InfoLines();
    return {lines.begin() + std::min<size_t>(2, lines.size()), lines.end()};
}

TEST(UpdatePlanTest, ZippedManifestsMergeLaterSourcesWithoutRegardToLetterCase) {
    SiteApp site(L"plan-merge");
    const UpdatePlan plan = PlanFromSite(site, true);
    const std::string token = Utf8FromWide(ManifestToken(site.app.serverConfig));

    const std::wstring data = L"\x0434\x0430\x043d\x043d\x044b\x0435/\x0444\x0430\x0439\x043b.txt";
    EXPECT_EQ(Describe(plan.entries),
              (Lines{L"B.txt client 10", L"a.txt client 8", L"clan/emblem.dat patch_clan 256",
                     L"system/l2.exe patch 600", L"system/l2.ini patch 9", data + L" patch 4"}));
    EXPECT_EQ(plan.manifestFailures, 0);
    ASSERT_EQ(plan.entries.size(), 6u);
    EXPECT_EQ(plan.entries[3].downloadUrl,
              RootA() + L"tavrine/updater/patch/system/l2.exe.zip?v=" + plan.entries[3].hash + L"-600");
    EXPECT_EQ(ManifestRequests(site), (Strings{"a /tavrine/updater/client/UpdateInfo.xml.zip?v=" + token,
                                               "a /tavrine/updater/patch/UpdateInfo.xml.zip?v=" + token,
                                               "a /tavrine/updater/patch_clan/UpdateInfo.xml.zip"}));
    EXPECT_EQ(PlanLines(site), (Lines{L"Manifest loaded: client, files=5", L"Manifest loaded: patch, files=3",
                                      L"Manifest loaded: patch_clan, files=1"}));
    const std::wstring overriding = L"BuildPlan overriding duplicate relativePath=";
    EXPECT_EQ(site.DebugLines(L"BuildPlan "),
              (Lines{L"BuildPlan sources=client, patch, patch_clan, clanPatchEnabled=true",
                     L"BuildPlan loading source=client", L"BuildPlan loading source=patch",
                     overriding + L"system/l2.exe with source=patch", overriding + L"system/l2.ini with source=patch",
                     overriding + data + L" with source=patch", L"BuildPlan loading source=patch_clan",
                     L"BuildPlan complete entries=6, manifestFailures=0"}));
    EXPECT_EQ(FileSizeOf(site.folder / L"temp\\manifests\\client-UpdateInfo.xml.download"), -1);
    EXPECT_EQ(FileSizeOf(site.folder / L"temp\\manifests\\patch-UpdateInfo.xml.zip.download"), -1);

    site.app.clanPatchEnabled = false;
    EXPECT_EQ(site.app.BuildPlan().entries.size(), 5u);
    EXPECT_EQ(ManifestRequests(site).size(), 5u);
    EXPECT_EQ(site.DebugLines(L"BuildPlan sources=").back(),
              L"BuildPlan sources=client, patch, clanPatchEnabled=false");
}

TEST(UpdatePlanTest, PlainManifestsWhenNoArchiveIsConfigured) {
    SiteApp site(L"plan-plain");
    const UpdatePlan plan = PlanFromSite(site, true);
    const std::wstring token = ManifestToken(site.app.serverConfig);

    EXPECT_EQ(Describe(plan.entries), (Lines{L"a.txt client 8"}));
    EXPECT_EQ(plan.manifestFailures, 1);
    // An empty body is an answer: the remaining URLs are not tried.
    Strings requests;
    for (const std::wstring source : {L"client", L"patch", L"patch_clan"}) {
        requests.push_back(Utf8FromWide(L"a /tavrine/updater/" + source + L"/UpdateInfo.xml?v=" + token));
    }
    EXPECT_EQ(ManifestRequests(site), requests);
    EXPECT_EQ(PlanLines(site), (Lines{L"Manifest loaded: client, files=1", L"Manifest loaded: patch, files=0",
                                      L"Manifest failed: patch_clan: Empty manifest"}));
    const std::wstring path = L"tavrine/updater/client/";
    EXPECT_EQ(site.DebugLines(L"LoadManifest source=client, baseUrl="),
              Lines{L"LoadManifest source=client, baseUrl=" + RootA() + path + L", manifestToken=" + token +
                    L", archiveAttempts=0, legacyAttempts=3, archiveUrl=, archiveSha256=, archiveSize=0, primaryUrl=" +
                    RootA() + path + L"UpdateInfo.xml?v=" + token + L", fallbackUrl=" + RootB() + path +
                    L"UpdateInfo.xml?v=" + token});
}

// The names of the folder's files that match the pattern.
Lines FilesIn(const std::wstring& folder, const std::wstring& pattern) {
    Lines names;
    WIN32_FIND_DATAW found;
    const FindHandle find(FindFirstFileW(JoinPath(folder, pattern).c_str(), &found));
    for (bool more = static_cast<bool>(find); more; more = FindNextFileW(find.get(), &found) != FALSE) {
        names.push_back(found.cFileName);
    }
    return names;
}

double RequestTime(const std::string& line) {
    return std::strtod(RequestField(line, "time").c_str(), nullptr);
}

// Each URL of a manifest is tried twice on root A, 1 s and then 2 s apart,
// then on root B. Here every source's zipped manifest fails for a reason of
// its own and the plain one loads at once, or every plain manifest fails.
TEST(UpdatePlanTest, FailedAttemptsWaitThenTryTheOtherRoot) {
    const struct {
        const wchar_t* site;
        bool zipped;
        std::wstring errors[3];
        Lines entries;
    } cases[] = {
        {L"plan-retries", true,
         {L"Manifest archive size mismatch", L"Manifest archive SHA256 mismatch", L"Zip entry larger than expected"},
         {L"B.txt patch 10", L"a.txt patch_clan 8"}},
        {L"plan-endless", true,
         {L"Download larger than expected", L"Download larger than expected", L"Incomplete HTTP body"},
         {L"B.txt patch 10", L"a.txt patch_clan 8"}},
        {L"plan-down", false, {L"HTTP status 404", L"HTTP request failed", L"HTTP status 404"}, {}},
    };
    const std::wstring sources[] = {L"client", L"patch", L"patch_clan"};
    for (const auto& item : cases) {
        SiteApp site(item.site);
        const UpdatePlan plan = PlanFromSite(site, true);
        const std::wstring token = ManifestToken(site.app.serverConfig);
        EXPECT_EQ(Describe(plan.entries), item.entries);
        EXPECT_EQ(plan.manifestFailures, item.zipped ? 0 : 3);

        Strings requests;
        Lines lines;
        std::vector<size_t> firstAttempts;
        for (int s = 0; s < 3; ++s) {
            const std::wstring path = (item.zipped ? L"tavrine/updater/" : L"gone/") + sources[s] + L"/UpdateInfo.xml";
            const std::wstring url = path + (item.zipped ? L".zip?v=" : L"?v=") + token;
            firstAttempts.push_back(requests.size() + 1);
            for (const std::wstring attempt : {L"1/3", L"2/3", L"3/3"}) {
                const bool mirror = attempt == L"3/3";
                requests.push_back(Utf8FromWide((mirror ? L"b /" : L"a /") + url));
                lines.push_back((item.zipped ? L"Manifest archive load" : L"Manifest load") +
                                std::wstring(L" attempt failed: ") + sources[s] + L", attempt=" + attempt + L", url=" +
                                (mirror ? RootB() : RootA()) + url + L", error=" + item.errors[s]);
            }
            if (item.zipped) requests.push_back(Utf8FromWide(L"a /" + path + L"?v=" + token));
            lines.push_back(item.zipped ? L"Manifest loaded: " + sources[s] + L", files=1"
                                        : L"Manifest failed: " + sources[s] + L": " + item.errors[s]);
        }
        ASSERT_EQ(ManifestRequests(site), requests);
        EXPECT_EQ(PlanLines(site), lines);
        // The last failed attempt of each zipped manifest leaves nothing behind either.
        EXPECT_EQ(FilesIn(site.folder / L"temp\\manifests", L"*.download"), Lines{});
        const auto times = ServerRequests(site.site);
        for (size_t first : firstAttempts) {
            EXPECT_GE(RequestTime(times[first + 1]) - RequestTime(times[first]), 1.0);
            EXPECT_GE(RequestTime(times[first + 2]) - RequestTime(times[first + 1]), 2.0);
            if (item.zipped) {
                EXPECT_LT(RequestTime(times[first + 3]) - RequestTime(times[first + 2]), 0.9);
            }
        }
    }
}

TEST(UpdatePlanTest, CancelDuringAWaitEndsThePlanAtOnceWithoutAFailure) {
    using Clock = std::chrono::steady_clock;
    SiteApp site(L"plan-cancel");
    bool fromServer = false;
    site.app.serverConfig = site.app.LoadServerConfig(site.app.cancelStartup, fromServer);
    site.app.clanPatchEnabled = true;
    std::string error;
    Clock::time_point ended;
    std::thread worker([&] {
        error = ErrorOf([&] { site.app.BuildPlan(); });
        ended = Clock::now();
    });
    while (SiteRequests(site.site).size() < 2) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const Clock::time_point canceled = Clock::now();
    site.app.cancelUpdate = true;
    worker.join();

    EXPECT_EQ(error, "Canceled");
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(ended - canceled).count(), 150);
    const std::wstring path = L"gone/client/UpdateInfo.xml?v=" + ManifestToken(site.app.serverConfig);
    EXPECT_EQ(ManifestRequests(site), Strings{Utf8FromWide(L"a /" + path)});
    EXPECT_EQ(PlanLines(site), Lines{L"Manifest load attempt failed: client, attempt=1/3, url=" + RootA() + path +
                                     L", error=HTTP status 404"});
}

}  // namespace
}  // namespace updater
