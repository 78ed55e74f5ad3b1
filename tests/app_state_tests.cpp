#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "app/native_app.h"

namespace updater {
namespace {

// Built as the engine tests build it: no window, no GDI+. Holding uiMutex
// stops ClearInteractiveBusy inside SetBusy, between its first and last step.
TEST(ClearInteractiveBusy, FreesWorkerRunningLast) {
    NativeApp app;
    app.workerRunning.store(true);
    app.startedUpdateMustFinish.store(true);
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
}

TEST(TextTable, PicksTheColumnOfTheLanguageCode) {
    struct Case {
        const wchar_t* language;
        const wchar_t* key;
        const wchar_t* expected;
    };
    const Case cases[] = {
        {L"EN", L"Paused", L"Paused"},
        {L"UK", L"Paused", L"Пауза"},
        {L"RU", L"Paused", L"Пауза"},
        {L"en", L"StartGame", L"Play"},
        {L"UA", L"About", L"Опис"},
        {L"ua", L"Ready", L"Готово до роботи"},
        {L"Uk", L"Forum", L"ФОРУМ"},
        {L"RU", L"Forum", L"ФОРУМ"},
        {L"EN", L"Forum", L"Forum"},
        {L"", L"About", L"Описание"},
        {L"DE", L"Ready", L"Готов к работе"},
        {L"ENG", L"Cancel", L"ОТМЕНА"},
        {L"EN", L"ready", L"ready"},
        {L"UK", L"NoSuchKey", L"NoSuchKey"},
        {L"EN", L"", L""},
    };
    NativeApp app;
    for (const Case& c : cases) {
        app.SetLanguage(c.language);
        EXPECT_EQ(app.language, c.language);
        EXPECT_EQ(app.T(c.key), c.expected) << "language " << testing::PrintToString(std::wstring(c.language))
                                            << ", key " << testing::PrintToString(std::wstring(c.key));
    }
}

}  // namespace
}  // namespace updater
