#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "app/native_app.h"
#include "tests/frame_capture.h"

namespace updater {
namespace {

using A = ButtonAction;

class Drawing : public ::testing::Test {
protected:
    static void SetUpTestSuite() { session = std::make_unique<GdiplusSession>(); }
    static void TearDownTestSuite() { session.reset(); }

    void SetUp() override {
        app = std::make_unique<NativeApp>();
        app->instance = GetModuleHandleW(nullptr);
        app->startupWork.store(false);
        app->logoBitmap = app->LoadBitmapResource(100);
        app->backgroundBitmap = app->LoadBitmapResource(200);
        app->characterBitmap = app->LoadBitmapResource(300);
    }
    void TearDown() override { app.reset(); }

    std::unique_ptr<FrameCapture> Draw(int width, int height) {
        auto capture = std::make_unique<FrameCapture>(width, height);
        app->DrawFrame(capture->dc(), width, height);
        return capture;
    }

    void SetBusy(bool paused) {
        app->ui.busy = true;
        app->ui.paused = paused;
        app->ui.cancelVisible = true;
        app->ui.status = L"Загрузка файлов...";
        app->ui.detail = L"data/textures.pak";
        app->ui.speed = L"Скорость: 4.2 MB/s";
        app->ui.percent = 37;
    }

    static std::unique_ptr<GdiplusSession> session;
    std::unique_ptr<NativeApp> app;
};
std::unique_ptr<GdiplusSession> Drawing::session;

// The click areas whose geometry the layout fixes, at one client size.
struct Layout {
    int width, height;
    float s;
    std::map<A, Gdiplus::RectF> fixed;
    float linkY, linkHeight, resetY, bottomY;
};

const Layout kScale100{1196, 640, 0.8f,
                       {{A::Minimize, {1074.8f, 33.6f, 36.8f, 36.8f}},
                        {A::Close, {1118, 33.6f, 36.8f, 36.8f}},
                        {A::Telegram, {40, 150, 30, 30}},
                        {A::Facebook, {40, 192, 30, 30}},
                        {A::Play, {220, 317.6f, 288, 72}},
                        {A::Update, {526, 317.6f, 72, 72}},
                        {A::Cancel, {355, 510.2f, 104, 40}},
                        {A::ClanPatch, {511, 510.2f, 174, 40}},
                        {A::LangRu, {327, 584, 36, 36}},
                        {A::LangUk, {372, 584, 36, 36}},
                        {A::LangEn, {417, 584, 36, 36}}},
                       44, 27.2f, 397.6f, 614};

const Layout kScale125{1495, 800, 1.0f,
                       {{A::Minimize, {1351, 42, 46, 46}},
                        {A::Close, {1405, 42, 46, 46}},
                        {A::Telegram, {50, 187.5f, 37.5f, 37.5f}},
                        {A::Facebook, {50, 240, 37.5f, 37.5f}},
                        {A::Play, {220, 372, 288, 72}},
                        {A::Update, {526, 372, 72, 72}},
                        {A::Cancel, {355, 627, 104, 40}},
                        {A::ClanPatch, {511, 627, 174, 40}},
                        {A::LangRu, {327, 744, 36, 36}},
                        {A::LangUk, {372, 744, 36, 36}},
                        {A::LangEn, {417, 744, 36, 36}}},
                       55, 34, 452, 774};

struct Expected {
    A action;
    bool circular;
};

std::vector<Expected> TopBar() {
    return {{A::About, false},    {A::Donation, false}, {A::Registration, false}, {A::Forum, false},
            {A::Minimize, false}, {A::Close, false},    {A::Telegram, true},      {A::Facebook, true},
            {A::Play, false},     {A::Update, true}};
}

std::vector<Expected> Then(std::vector<Expected> head, const std::vector<Expected>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

void ExpectRect(const Gdiplus::RectF& actual, const Gdiplus::RectF& expected, const std::string& where) {
    EXPECT_NEAR(actual.X, expected.X, 0.01) << where;
    EXPECT_NEAR(actual.Y, expected.Y, 0.01) << where;
    EXPECT_NEAR(actual.Width, expected.Width, 0.01) << where;
    EXPECT_NEAR(actual.Height, expected.Height, 0.01) << where;
}

// Compares the registered areas with the layout: order, kind, and the geometry
// of every area; measured widths are checked by how they chain.
void ExpectAreas(const std::vector<HitButton>& areas, const std::vector<Expected>& expected, const Layout& layout,
                 const std::string& name) {
    ASSERT_EQ(areas.size(), expected.size()) << name;
    for (size_t i = 0; i < areas.size(); ++i) {
        const std::string where = name + " area " + std::to_string(i);
        const HitButton& area = areas[i];
        ASSERT_EQ(area.action, expected[i].action) << where;
        EXPECT_EQ(area.circular, expected[i].circular) << where;
        const auto fixed = layout.fixed.find(area.action);
        if (fixed != layout.fixed.end()) {
            ExpectRect(area.rect, fixed->second, where);
        } else if (i < 4) {
            EXPECT_NEAR(area.rect.Y, layout.linkY, 0.01) << where;
            EXPECT_NEAR(area.rect.Height, layout.linkHeight, 0.01) << where;
            const float textWidth = area.rect.Width - 8 * layout.s;
            EXPECT_NEAR(textWidth, std::round(textWidth), 0.01) << where;
            const float x = i == 0 ? 50 * layout.s : areas[i - 1].rect.X + areas[i - 1].rect.Width + 31.5f * layout.s;
            EXPECT_NEAR(area.rect.X, x, 0.01) << where;
        } else if (area.action == A::ResetGameSettings) {
            EXPECT_NEAR(area.rect.Y, layout.resetY, 0.01) << where;
            EXPECT_NEAR(area.rect.Height, 22, 0.01) << where;
            EXPECT_NEAR(area.rect.X + area.rect.Width / 2, 562, 0.01) << where;
        } else if (area.action == A::DebugLog) {
            EXPECT_NEAR(area.rect.Y, layout.bottomY, 0.01) << where;
            EXPECT_NEAR(area.rect.Height, 22, 0.01) << where;
            EXPECT_GT(area.rect.X, 40) << where;
        } else {
            ASSERT_EQ(area.action, A::SelfUpdate) << where;
            EXPECT_NEAR(area.rect.Y, layout.bottomY, 0.01) << where;
            EXPECT_NEAR(area.rect.Height, 20, 0.01) << where;
            EXPECT_NEAR(area.rect.X, areas[i - 1].rect.X + areas[i - 1].rect.Width + 10, 0.01) << where;
        }
    }
}

TEST_F(Drawing, EachStateRegistersTheAreasOfTheLayout) {
    const std::vector<Expected> idleTail = {{A::ResetGameSettings, false}, {A::ClanPatch, false}, {A::LangRu, true},
                                            {A::LangRu, false},           {A::LangUk, false},    {A::LangEn, false},
                                            {A::DebugLog, false},         {A::SelfUpdate, false}};
    const std::vector<Expected> busyTail = {{A::Cancel, false}, {A::ClanPatch, false}, {A::LangRu, true},
                                            {A::LangRu, false}, {A::LangUk, false},    {A::LangEn, false},
                                            {A::DebugLog, false}};
    struct Case {
        const char* name;
        const Layout& layout;
        std::function<void(NativeApp&)> setup;
        std::vector<Expected> areas;
    };
    const Case cases[] = {
        {"idle", kScale100, [](NativeApp&) {}, Then(TopBar(), idleTail)},
        {"idle at 1.25", kScale125, [](NativeApp&) {}, Then(TopBar(), idleTail)},
        {"busy with cancel", kScale100, [this](NativeApp&) { SetBusy(false); }, Then(TopBar(), busyTail)},
        {"paused", kScale100, [this](NativeApp&) { SetBusy(true); }, Then(TopBar(), busyTail)},
        {"busy at 1.25", kScale125, [this](NativeApp&) { SetBusy(false); }, Then(TopBar(), busyTail)},
        {"clan patch on", kScale100, [](NativeApp& a) { a.clanPatchEnabled = true; }, Then(TopBar(), idleTail)},
        {"start-up check running", kScale100, [](NativeApp& a) { a.startupWork.store(true); },
         Then(TopBar(), {{A::ResetGameSettings, false}, {A::ClanPatch, false}, {A::LangRu, true}, {A::LangRu, false},
                         {A::LangUk, false}, {A::LangEn, false}, {A::DebugLog, false}})},
        {"UK", kScale100, [](NativeApp& a) { a.SetLanguage(L"UK"); },
         Then(TopBar(), {{A::ResetGameSettings, false}, {A::ClanPatch, false}, {A::LangRu, false}, {A::LangUk, true},
                         {A::LangUk, false}, {A::LangEn, false}, {A::DebugLog, false}, {A::SelfUpdate, false}})},
        {"EN with RU hovered", kScale100,
         [](NativeApp& a) {
             a.SetLanguage(L"EN");
             a.hoveredAction = A::LangRu;
         },
         Then(TopBar(), {{A::ResetGameSettings, false}, {A::ClanPatch, false}, {A::LangRu, true}, {A::LangRu, false},
                         {A::LangUk, false}, {A::LangEn, true}, {A::LangEn, false}, {A::DebugLog, false},
                         {A::SelfUpdate, false}})},
    };
    for (const Case& c : cases) {
        SetUp();
        c.setup(*app);
        Draw(c.layout.width, c.layout.height);
        ExpectAreas(app->hitButtons, c.areas, c.layout, c.name);
    }
}

TEST_F(Drawing, HitTestTakesTheFirstAreaThatHoldsThePoint) {
    app->AddHit(Gdiplus::RectF(10, 10, 20, 40), A::Update, true);
    app->AddHit(Gdiplus::RectF(0, 0, 100, 100), A::Play, false);
    app->AddHit(Gdiplus::RectF(50, 50, 100, 100), A::Close, false);
    const struct {
        float x, y;
        A expected;
    } cases[] = {
        {20, 30, A::Update},    // the circle's centre lies in the middle of its rectangle
        {20, 20.5f, A::Update}, // on the circle, radius half the width
        {11, 11, A::Play},      // the square's corner lies outside the circle
        {100, 100, A::Play},    // right and bottom edges belong to the area
        {60, 60, A::Play},      // overlap: the earlier area wins
        {150, 150, A::Close},   {150.5f, 150, A::None}, {-1, 5, A::None},
    };
    for (const auto& c : cases) EXPECT_EQ(app->HitTest(c.x, c.y), c.expected) << c.x << "," << c.y;
    app->hitButtons.clear();
    EXPECT_EQ(app->HitTest(20, 30), A::None);
}

bool IsGold(std::uint32_t rgb) { return Red(rgb) > 0xD0 && Green(rgb) > 0x90 && Blue(rgb) < 0x80; }

// The bar's gradient runs over the whole track, so a colour belongs to a position.
std::uint32_t TrackGradientAt(float x) {
    const float t = (x - 95) / 590;
    auto channel = [t](int from, int to) { return static_cast<std::uint32_t>(from + (to - from) * t + 0.5f); };
    return channel(0xE2, 0xFF) << 16 | channel(0xAC, 0xDD) << 8 | channel(0x3A, 0x68);
}

void ExpectNearColor(std::uint32_t actual, std::uint32_t expected, int tolerance, const std::string& where) {
    EXPECT_NEAR(Red(actual), Red(expected), tolerance) << where;
    EXPECT_NEAR(Green(actual), Green(expected), tolerance) << where;
    EXPECT_NEAR(Blue(actual), Blue(expected), tolerance) << where;
}

TEST_F(Drawing, ProgressFillFollowsThePercent) {
    const struct {
        double percent;
        int filledUpTo;  // last x that must be gold, or 0
        int emptyFrom;   // first x that must show the track
    } cases[] = {{0, 0, 100}, {37, 300, 320}, {100, 675, 0}};
    for (const auto& c : cases) {
        app->ui.percent = c.percent;
        const auto frame = Draw(1196, 640);
        const std::string where = "percent " + std::to_string(c.percent);
        if (c.filledUpTo > 0) {
            for (int x : {110, c.filledUpTo}) {
                ExpectNearColor(frame->Pixel(x, 473), TrackGradientAt(static_cast<float>(x)), 6,
                                where + " x " + std::to_string(x));
            }
        }
        if (c.emptyFrom > 0) {
            for (int x : {c.emptyFrom, 675}) EXPECT_LT(Red(frame->Pixel(x, 473)), 0x50) << where << " x " << x;
        }
    }
}

TEST_F(Drawing, HoveredButtonWearsTheVeil) {
    const auto plain = Draw(1196, 640)->Pixel(232, 354);
    app->hoveredAction = A::Play;
    const auto hovered = Draw(1196, 640)->Pixel(232, 354);
    EXPECT_TRUE(IsGold(plain));
    const double veil = 0x2A / 255.0;
    auto lifted = [veil](std::uint8_t c) { return static_cast<int>(c * (1 - veil) + 255 * veil + 0.5); };
    EXPECT_NEAR(Red(hovered), lifted(Red(plain)), 3);
    EXPECT_NEAR(Green(hovered), lifted(Green(plain)), 3);
    EXPECT_NEAR(Blue(hovered), lifted(Blue(plain)), 3);
}

TEST_F(Drawing, LogoSitsAboveThePlayButton) {
    // The logo's emblem is a gold diamond; its left point lies 10 of 240 pixels in.
    const struct {
        int width, height;
        float left, top;
    } cases[] = {{1196, 640, 228, 197.6f}, {1794, 960, 264, 306.4f}};
    for (const auto& c : cases) {
        const auto frame = Draw(c.width, c.height);
        const int y = static_cast<int>(c.top + 18 * 1.3f);
        EXPECT_TRUE(IsGold(frame->Pixel(static_cast<int>(c.left + 12 * 1.3f), y))) << c.width;
        EXPECT_FALSE(IsGold(frame->Pixel(static_cast<int>(c.left - 4), y))) << c.width;
    }
}

// Plain-coloured stand-ins make the image layer's geometry readable: a
// background red on its left half and blue on its right, an all-green figure.
TEST_F(Drawing, ImagesArePlacedByTheWindowSize) {
    app->backgroundBitmap = std::make_unique<Gdiplus::Bitmap>(1920, 500, PixelFormat32bppARGB);
    {
        Gdiplus::Graphics graphics(app->backgroundBitmap.get());
        Gdiplus::SolidBrush red(Gdiplus::Color(0xFFFF0000)), blue(Gdiplus::Color(0xFF0000FF));
        graphics.FillRectangle(&red, 0, 0, 960, 500);
        graphics.FillRectangle(&blue, 960, 0, 960, 500);
    }
    app->characterBitmap = std::make_unique<Gdiplus::Bitmap>(1536, 1536, PixelFormat32bppARGB);
    {
        Gdiplus::Graphics graphics(app->characterBitmap.get());
        graphics.Clear(Gdiplus::Color(0xFF00FF00));
    }
    const struct {
        int width, height;
        int backgroundSplit;  // the background's middle: -630.8 + 1228.8, -946.2 + 1843.2
        int characterLeft, characterTop;
    } cases[] = {{1196, 640, 598, 531, 46}, {1794, 960, 897, 797, 69}};
    for (const auto& c : cases) {
        const auto frame = Draw(c.width, c.height);
        const std::string where = std::to_string(c.width);
        const std::uint32_t leftOfSplit = frame->Pixel(c.backgroundSplit - 3, 20);
        const std::uint32_t rightOfSplit = frame->Pixel(c.backgroundSplit + 3, 20);
        EXPECT_GT(Red(leftOfSplit), 150) << where;
        EXPECT_LT(Blue(leftOfSplit), 60) << where;
        EXPECT_GT(Blue(rightOfSplit), 150) << where;
        EXPECT_LT(Red(rightOfSplit), 60) << where;
        const int y = c.characterTop + 40;
        EXPECT_EQ(frame->Pixel(c.characterLeft + 3, y), 0x00FF00u) << where;
        EXPECT_NE(Green(frame->Pixel(c.characterLeft - 3, y)), 0xFF) << where;
        EXPECT_NE(Green(frame->Pixel(c.width - 250, c.characterTop - 3)), 0xFF) << where;
    }
}

// Pictures for a person to look at, kept in the build folder; the checks above
// hold the pixels that the layout fixes.
TEST_F(Drawing, GoldenFramesAreSaved) {
    const char* folder = std::getenv("FRAME_ARTEFACTS_DIR");
    ASSERT_NE(folder, nullptr);
    const std::wstring directory(folder, folder + std::strlen(folder));
    CreateDirectoryW(directory.c_str(), nullptr);
    for (const wchar_t* language : {L"RU", L"UK", L"EN"}) {
        for (bool busy : {false, true}) {
            SetUp();
            app->SetLanguage(language);
            if (busy) SetBusy(false);
            const auto frame = Draw(1196, 640);
            const std::wstring file = directory + L"\\frame-" + (busy ? L"busy-" : L"idle-") + language + L".png";
            EXPECT_TRUE(frame->SavePng(file));
            // Labels are drawn: the white percentage text lies inside its rectangle.
            int white = 0;
            for (int y = 437; y < 464; ++y) {
                for (int x = 616; x < 684; ++x) white += frame->Pixel(x, y) == 0xFFFFFFu;
            }
            EXPECT_GT(white, 10);
        }
    }
}

}  // namespace
}  // namespace updater
