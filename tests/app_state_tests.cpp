#include <array>
#include <atomic>
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

// Each case starts from the status "Старт", the detail "Было" and 80 percent.
TEST(ProgressSetters, KeepOrReplaceEachField) {
    struct Case {
        bool progress;
        std::wstring status, detail;
        double percent;
        std::wstring expectedStatus, expectedDetail;
        double expectedPercent;
    };
    const Case cases[] = {
        {false, L"", L"Деталь", -1, L"Старт", L"Деталь", 80},
        {false, L"Статус", L"", 150, L"Статус", L"", 100},
        {false, L"Статус", L"Деталь", 0, L"Статус", L"Деталь", 0},
        {true, L"Статус", L"Деталь", 50, L"Статус", L"Деталь", 80},
        {true, L"", L"", -5, L"Старт", L"", 80},
        {true, L"", L"Деталь", 90.5, L"Старт", L"Деталь", 90.5},
        {true, L"Статус", L"Деталь", 150, L"Статус", L"Деталь", 100},
    };
    for (const Case& c : cases) {
        NativeApp app;
        app.SetUi(L"Старт", L"Было", 80);
        if (c.progress) {
            app.SetProgressUi(c.status, c.detail, c.percent);
        } else {
            app.SetUi(c.status, c.detail, c.percent);
        }
        const std::string name = (c.progress ? "SetProgressUi " : "SetUi ") + std::to_string(c.percent);
        EXPECT_EQ(app.ui.status, c.expectedStatus) << name;
        EXPECT_EQ(app.ui.detail, c.expectedDetail) << name;
        EXPECT_EQ(app.ui.percent, c.expectedPercent) << name;
    }
}

TEST(ProgressSetters, BusyShowsCancelAndCopiesPause) {
    for (const bool paused : {false, true}) {
        for (const bool busy : {false, true}) {
            NativeApp app;
            app.paused.store(paused);
            app.SetBusy(!busy);
            app.SetBusy(busy);
            EXPECT_EQ(app.ui.busy, busy);
            EXPECT_EQ(app.ui.cancelVisible, busy);
            EXPECT_EQ(app.ui.paused, paused);
        }
    }
}

// The debug log holds exactly the setters' lines, in call order, and nothing
// from calls made while debug logging was off.
TEST(ProgressSetters, WriteTheirDebugLines) {
    TempFolder temp;
    NativeApp app;
    app.logger.directory = temp.path();
    app.SetUi(L"Тихо", L"", 5);
    app.logger.debugEnabled.store(true);
    app.SetUi(L"Проверка файлов", L"a.dat", 100);
    app.SetUi(L"", L"", -1);
    app.SetProgressUi(L"", L"b.dat", 150);
    app.SetProgressUi(L"Скачивание", L"", 12.3456789);
    app.SetBusy(true);
    app.SetSpeed(L"Скорость: 2 MB/s");
    app.SetSpeed(L"");
    app.ClearInteractiveBusy();
    const std::vector<std::wstring> expected = {
        L"SetUi status=Проверка файлов, detail=a.dat, percent=100.000000",
        L"SetUi status=(unchanged), detail=, percent=-1.000000",
        L"SetProgressUi status=(unchanged), detail=b.dat, percent=150.000000",
        L"SetProgressUi status=Скачивание, detail=, percent=12.345679",
        L"SetBusy value=true",
        L"SetSpeed value=Скорость: 2 MB/s",
        L"SetSpeed value=",
        L"Update thread clearing interactive busy state.",
        L"SetBusy value=false",
    };
    const std::wstring log = WideFromUtf8(ReadBinaryFile(temp / L"logs\\updater-debug.log"));
    const std::wstring marker = L"[DEBUG] ";
    std::vector<std::wstring> messages;
    size_t start = 0;
    for (size_t end; (end = log.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
        const size_t at = log.find(marker, start);
        ASSERT_LT(at, end);
        messages.push_back(log.substr(at + marker.size(), end - at - marker.size()));
    }
    EXPECT_EQ(start, log.size()) << "unterminated last line";
    EXPECT_EQ(messages, expected);
    EXPECT_EQ(app.ui.speed, L"");
}

// Holding uiMutex stops ClearInteractiveBusy inside SetBusy, between its
// first and last step.
TEST(ClearInteractiveBusy, FreesWorkerRunningLastAndKeepsTheTexts) {
    NativeApp app;
    app.workerRunning.store(true);
    app.startedUpdateMustFinish.store(true);
    app.SetUi(L"Скачивание", L"Загрузка файлов...", 42);
    app.SetSpeed(L"Скорость: 1 MB/s");
    app.SetBusy(true);
    std::unique_lock<std::mutex> lock(app.uiMutex);
    std::thread finisher([&] { app.ClearInteractiveBusy(); });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (app.startedUpdateMustFinish.load() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    EXPECT_FALSE(app.startedUpdateMustFinish.load());
    EXPECT_TRUE(app.workerRunning.load());
    EXPECT_TRUE(app.ui.busy);
    lock.unlock();
    finisher.join();
    EXPECT_FALSE(app.workerRunning.load());
    EXPECT_FALSE(app.ui.busy);
    EXPECT_FALSE(app.ui.cancelVisible);
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

TEST(TextTable, PicksTheColumnOfTheLanguageCode) {
    struct Case {
        const wchar_t *language, *key, *expected;
    };
    const Case cases[] = {
        {L"EN", L"Paused", L"Paused"}, {L"UK", L"Paused", L"Пауза"}, {L"RU", L"Paused", L"Пауза"},
        {L"en", L"StartGame", L"Play"}, {L"Uk", L"Forum", L"ФОРУМ"}, {L"EN", L"Forum", L"Forum"},
        {L"ENG", L"Cancel", L"ОТМЕНА"}, {L"EN", L"ready", L"ready"}, {L"UK", L"NoSuchKey", L"NoSuchKey"},
        {L"EN", L"", L""},
    };
    NativeApp app;
    for (const Case& c : cases) {
        app.SetLanguage(c.language);
        EXPECT_EQ(app.language, c.language);
        EXPECT_EQ(app.T(c.key), c.expected) << testing::PrintToString(std::wstring(c.language) + L" " + c.key);
    }
}

// Every key has a Russian text of its own, "UA" in any case reads as "UK", and
// codes outside the three read as "RU".
TEST(TextTable, EveryKeyHasItsRowInEachLanguage) {
    NativeApp app;
    const std::vector<Row> rows = TextRows(app);
    std::set<std::wstring> russian;
    for (size_t k = 0; k < rows.size(); ++k) {
        EXPECT_NE(rows[k][0], kTextKeys[k]);
        russian.insert(rows[k][0]);
        for (const auto& [language, column] : {std::pair{L"UA", 1}, {L"uA", 1}, {L"", 0}, {L"XX", 0}, {L"E", 0}}) {
            app.SetLanguage(language);
            EXPECT_EQ(app.T(kTextKeys[k]), rows[k][column]);
        }
    }
    EXPECT_EQ(russian.size(), rows.size());
}

// One thread switches languages as fast as it can while eight threads look up
// every key: each text must be one of the three texts of its row.
TEST(TextTable, LookupsStayWholeWhileTheLanguageChanges) {
    NativeApp app;
    const std::vector<Row> rows = TextRows(app);
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::thread switcher([&] {
        for (unsigned i = 0; !stop.load(); ++i) app.SetLanguage(kLanguages[i % 3]);
    });
    std::vector<std::thread> readers;
    for (int reader = 0; reader < 8; ++reader) {
        readers.emplace_back([&] {
            for (int round = 0; round < 2000; ++round) {
                for (size_t k = 0; k < rows.size(); ++k) {
                    const std::wstring text = app.T(kTextKeys[k]);
                    if (text != rows[k][0] && text != rows[k][1] && text != rows[k][2]) ++wrong;
                }
            }
        });
    }
    for (std::thread& reader : readers) reader.join();
    stop.store(true);
    switcher.join();
    EXPECT_EQ(wrong.load(), 0);
}

// The 23 known texts are the Russian texts of every key but these ten.
TEST(StatusText, KnownRussianTextsFollowTheLanguage) {
    const std::set<std::wstring> untranslated = {L"About",     L"Donation",    L"Registration",    L"Forum",
                                                 L"StartGame", L"Cancel",      L"ClanPatch",       L"FailedFiles",
                                                 L"FailedManifests", L"Speed"};
    NativeApp app;
    const std::vector<Row> rows = TextRows(app);
    for (size_t k = 0; k < rows.size(); ++k) {
        const bool known = untranslated.count(kTextKeys[k]) == 0;
        for (int column = 0; column < 3; ++column) {
            app.SetLanguage(kLanguages[column]);
            EXPECT_EQ(app.LocalizeKnown(rows[k][0]), known ? rows[k][column] : rows[k][0])
                << testing::PrintToString(rows[k][0]) << " in " << testing::PrintToString(kLanguages[column]);
        }
    }
}

// Other stored texts are drawn as stored; menu labels are upper-cased by the
// system's mapping, Cyrillic included.
TEST(StatusText, OtherTextsSpeedLineAndMenuLabels) {
    struct Case {
        bool menu;
        const wchar_t *language, *text, *shown;
    };
    const Case cases[] = {
        {false, L"EN", L"Скорость: 1.25 MB/s", L"Speed: 1.25 MB/s"},
        {false, L"UK", L"Скорость: 512 KB/s", L"Швидкість: 512 KB/s"},
        {false, L"RU", L"Скорость: 3 MB/s", L"Скорость: 3 MB/s"},
        {false, L"EN", L"Скорость: ", L"Speed: "},
        {false, L"EN", L"Скорость:3 MB/s", L"Скорость:3 MB/s"},
        {false, L"EN", L" Скорость: 3 MB/s", L" Скорость: 3 MB/s"},
        {false, L"EN", L"Пауза ", L"Пауза "},
        {false, L"EN", L"Дождитесь завершения текущего обновления.", L"Дождитесь завершения текущего обновления."},
        {false, L"RU", L"Checking files", L"Checking files"},
        {false, L"UK", L"", L""},
        {true, L"EN", L"Forum", L"FORUM"},
        {true, L"UK", L"Forum", L"ФОРУМ"},
        {true, L"RU", L"About", L"ОПИСАНИЕ"},
        {true, L"EN", L"Donation", L"TOP UP BALANCE"},
        {true, L"RU", L"Donation", L"ПОПОЛНИТЬ БАЛАНС"},
        {true, L"UK", L"Registration", L"РЕЄСТРАЦІЯ"},
        {true, L"EN", L"unknown-key", L"UNKNOWN-KEY"},
        {true, L"EN", L"", L""},
    };
    NativeApp app;
    for (const Case& c : cases) {
        app.SetLanguage(c.language);
        EXPECT_EQ(c.menu ? app.MenuText(c.text) : app.LocalizeKnown(c.text), c.shown)
            << testing::PrintToString(std::wstring(c.text));
    }
}

}  // namespace
}  // namespace updater
