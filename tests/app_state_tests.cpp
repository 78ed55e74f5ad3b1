#include <algorithm>
#include <array>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/native_app.h"
#include "foundation/files.h"
#include "foundation/text.h"
#include "tests/test_support.h"

namespace updater {
namespace {

// Every NativeApp here is built as the engine tests build it: no window, no GDI+.

// One object through a row of calls, each with the texts and percent shown
// after it and its debug line; the debug log holds exactly these lines.
TEST(ProgressSetters, KeepOrReplaceEachFieldAndLogEachCall) {
    TempFolder temp;
    NativeApp app;
    app.logger.directory = temp.path();
    app.SetUi(L"Старт", L"Было", 80);  // not logged: debug logging is off
    app.logger.debugEnabled = true;
    const struct {
        bool progress;
        const wchar_t *status, *detail;
        double percent;
        const wchar_t* shown;
        double shownPercent;
        const wchar_t* line;
    } steps[] = {
        {false, L"", L"Деталь", -1, L"Старт|Деталь", 80,
         L"SetUi status=(unchanged), detail=Деталь, percent=-1.000000"},
        {false, L"Статус", L"", 150, L"Статус|", 100, L"SetUi status=Статус, detail=, percent=150.000000"},
        {false, L"Статус", L"Деталь", 0, L"Статус|Деталь", 0,
         L"SetUi status=Статус, detail=Деталь, percent=0.000000"},
        {true, L"", L"b.dat", 12.3456789, L"Статус|b.dat", 12.3456789,
         L"SetProgressUi status=(unchanged), detail=b.dat, percent=12.345679"},
        {true, L"Скачивание", L"", 5, L"Скачивание|", 12.3456789,
         L"SetProgressUi status=Скачивание, detail=, percent=5.000000"},
        {true, L"", L"", -5, L"Скачивание|", 12.3456789,
         L"SetProgressUi status=(unchanged), detail=, percent=-5.000000"},
        {true, L"", L"c", 150, L"Скачивание|c", 100,
         L"SetProgressUi status=(unchanged), detail=c, percent=150.000000"},
    };
    std::vector<std::wstring> expected;
    for (const auto& step : steps) {
        (app.*(step.progress ? &NativeApp::SetProgressUi : &NativeApp::SetUi))(step.status, step.detail, step.percent);
        EXPECT_EQ(app.ui.status + L"|" + app.ui.detail, step.shown) << Utf8FromWide(step.line);
        EXPECT_EQ(app.ui.percent, step.shownPercent) << Utf8FromWide(step.line);
        expected.push_back(step.line);
    }
    // Busy shows Cancel and copies the pause state, either way.
    for (const bool paused : {true, false}) {
        app.paused = paused;
        for (const bool busy : {true, false}) {
            app.SetBusy(busy);
            EXPECT_EQ(app.ui.busy, busy);
            EXPECT_EQ(app.ui.cancelVisible, busy);
            EXPECT_EQ(app.ui.paused, paused);
            expected.push_back(busy ? L"SetBusy value=true" : L"SetBusy value=false");
        }
    }
    app.SetSpeed(L"Скорость: 2 MB/s");
    app.SetSpeed(L"");
    app.ClearInteractiveBusy();
    expected.insert(expected.end(), {L"SetSpeed value=Скорость: 2 MB/s", L"SetSpeed value=",
                                     L"Update thread clearing interactive busy state.", L"SetBusy value=false"});

    const std::wstring log = WideFromUtf8(ReadBinaryFile(temp / L"logs\\updater-debug.log"));
    const std::wstring marker = L"[DEBUG] ";
    std::vector<std::wstring> messages;
    for (size_t at = log.find(marker); at != std::wstring::npos; at = log.find(marker, at + 1)) {
        messages.push_back(log.substr(at + marker.size(), log.find(L"\r\n", at) - at - marker.size()));
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), L'\n'), static_cast<long>(messages.size()));
    EXPECT_EQ(messages, expected);
    EXPECT_EQ(app.ui.speed, L"");
}

// Holding uiMutex stops ClearInteractiveBusy inside SetBusy, between its
// first and last step.
TEST(ClearInteractiveBusy, FreesWorkerRunningLastAndKeepsTheTexts) {
    NativeApp app;
    app.workerRunning = true;
    app.startedUpdateMustFinish = true;
    app.SetUi(L"Скачивание", L"Загрузка файлов...", 42);
    app.SetSpeed(L"Скорость: 1 MB/s");
    app.SetBusy(true);
    std::unique_lock<std::mutex> lock(app.uiMutex);
    std::thread finisher([&] { app.ClearInteractiveBusy(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (app.startedUpdateMustFinish && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
    EXPECT_FALSE(app.startedUpdateMustFinish);
    EXPECT_TRUE(app.workerRunning);
    EXPECT_TRUE(app.ui.busy);
    lock.unlock();
    finisher.join();
    EXPECT_FALSE(app.workerRunning || app.ui.busy || app.ui.cancelVisible);
    EXPECT_EQ(app.ui.status + L"|" + app.ui.detail + L"|" + app.ui.speed,
              L"Скачивание|Загрузка файлов...|Скорость: 1 MB/s");
    EXPECT_EQ(app.ui.percent, 42);
}

const wchar_t* const kTextKeys[] = {
    L"About", L"Donation", L"Registration", L"Forum", L"StartGame", L"Cancel", L"ClanPatch",
    L"Ready", L"LoadingConfig", L"CheckingFiles", L"CheckingDetail", L"Downloading", L"DownloadingDetail",
    L"ResettingGameSettings", L"CheckingLauncherUpdate", L"DownloadingLauncherUpdate", L"LauncherUpdateError",
    L"FilesActual", L"UpdateComplete", L"UpdateCompleteWithErrors", L"FailedFiles", L"FailedManifests",
    L"UpdateCanceled", L"Canceling", L"UpdateError", L"ClientMissing", L"RunUpdateFirst", L"UpdateMustFinish",
    L"StartError", L"StartErrorDetail", L"NoFilesToCheck", L"Speed", L"Paused",
};
const wchar_t* const kLanguages[] = {L"RU", L"UK", L"EN"};
using Row = std::array<std::wstring, 3>;

// The texts of every key, in the order of kLanguages.
std::vector<Row> TextRows(NativeApp& app) {
    std::vector<Row> rows;
    for (const wchar_t* key : kTextKeys) {
        Row row;
        for (int column = 0; column < 3; ++column) {
            app.SetLanguage(kLanguages[column]);
            row[column] = app.T(key);
        }
        rows.push_back(row);
    }
    return rows;
}

// Every key has a Russian text of its own. "EN" in any case reads English,
// "UK" and "UA" in any case Ukrainian, any other code Russian; keys are
// matched exactly and an unknown one reads as itself. The stored Russian texts
// of every key but the untranslated ones are drawn in the chosen language.
TEST(TextTable, EveryKeyAndItsStoredTextInTheColumnOfTheLanguageCode) {
    const std::set<std::wstring> untranslated = {L"About",     L"Donation", L"Registration", L"Forum",
                                                 L"StartGame", L"Cancel",   L"ClanPatch",    L"FailedFiles",
                                                 L"FailedManifests", L"Speed"};
    NativeApp app;
    const std::vector<Row> rows = TextRows(app);
    std::set<std::wstring> russian;
    for (size_t k = 0; k < rows.size(); ++k) {
        EXPECT_NE(rows[k][0], kTextKeys[k]);
        russian.insert(rows[k][0]);
    }
    EXPECT_EQ(russian.size(), rows.size());
    EXPECT_EQ(rows[4], (Row{L"Играть", L"Грати", L"Play"}));
    for (const auto& [code, column] : {std::pair{L"en", 2}, {L"Uk", 1}, {L"UA", 1}, {L"uA", 1}, {L"RU", 0},
                                       {L"", 0}, {L"XX", 0}, {L"E", 0}, {L"ENG", 0}}) {
        app.SetLanguage(code);
        EXPECT_EQ(app.language, code);
        for (size_t k = 0; k < rows.size(); ++k) {
            EXPECT_EQ(app.T(kTextKeys[k]), rows[k][column]) << Utf8FromWide(kTextKeys[k]);
            const bool known = untranslated.count(kTextKeys[k]) == 0;
            EXPECT_EQ(app.LocalizeKnown(rows[k][0]), known ? rows[k][column] : rows[k][0])
                << Utf8FromWide(kTextKeys[k]) << " in " << Utf8FromWide(code);
        }
        for (const wchar_t* key : {L"ready", L"NoSuchKey", L""}) EXPECT_EQ(app.T(key), key);
    }
}

// Engine threads call T while the window thread rewrites the language
// string, so T answers by the atomic column alone: with the two out of step,
// as a rewrite caught half-way leaves them, the column decides.
TEST(TextTable, LookupsFollowTheColumnNotTheLanguageString) {
    using Column = NativeApp::TextColumn;
    const struct { const wchar_t* string; Column column; const wchar_t* text; } cases[] = {
        {L"RU", Column::English, L"Play"}, {L"EN", Column::Ukrainian, L"Грати"}, {L"UK", Column::Russian, L"Играть"}};
    NativeApp app;
    for (const auto& c : cases) {
        app.language = c.string;
        app.textColumn.store(c.column);
        EXPECT_EQ(app.T(L"StartGame"), c.text) << Utf8FromWide(c.string);
    }
}

// Other stored texts are drawn as stored, but for the speed line's prefix;
// menu labels are upper-cased by the system's mapping, Cyrillic included.
TEST(StatusText, OtherTextsSpeedLineAndMenuLabels) {
    const struct {
        bool menu;
        const wchar_t *language, *text, *shown;
    } cases[] = {
        {false, L"EN", L"Скорость: 1 MB/s", L"Speed: 1 MB/s"},       {false, L"UK", L"Скорость: 5 KB/s", L"Швидкість: 5 KB/s"},
        {false, L"EN", L"Скорость: ", L"Speed: "},                    {false, L"EN", L"Скорость:3 KB/s", L"Скорость:3 KB/s"},
        {false, L"EN", L" Скорость: 3 MB/s", L" Скорость: 3 MB/s"},   {false, L"EN", L"Пауза ", L"Пауза "},
        {false, L"RU", L"Checking files", L"Checking files"},          {false, L"UK", L"", L""},
        {true, L"EN", L"Donation", L"TOP UP BALANCE"},                 {true, L"RU", L"About", L"ОПИСАНИЕ"},
        {true, L"UK", L"Registration", L"РЕЄСТРАЦІЯ"},                 {true, L"EN", L"unknown-key", L"UNKNOWN-KEY"},
        {true, L"EN", L"", L""},
    };
    NativeApp app;
    for (const auto& c : cases) {
        app.SetLanguage(c.language);
        EXPECT_EQ(c.menu ? app.MenuText(c.text) : app.LocalizeKnown(c.text), c.shown)
            << testing::PrintToString(std::wstring(c.text));
    }
}

}  // namespace
}  // namespace updater
