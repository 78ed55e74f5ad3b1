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

    std::unique_ptr<FrameCapture> Draw(int width, int height) {
        auto capture = std::make_unique<FrameCapture>(width, height);
        app->DrawFrame(capture->dc(), width, height);
        return capture;
    }

    void SetBusy(bool paused) {
        app->ui = UiState{L"Загрузка файлов...", L"data/textures.pak", L"Скорость: 4.2 MB/s", 37, true, paused, true};
    }

    static std::unique_ptr<GdiplusSession> session;
    std::unique_ptr<NativeApp> app;
};
std::unique_ptr<GdiplusSession> Drawing::session;

// The click areas whose geometry the layout fixes, at one client size; the
// links' row, the reset box and the bottom row by their lines.
struct Layout {
    int width, height;
    float s;
    std::map<A, Gdiplus::RectF> fixed;
    float linkY, linkHeight, resetY, bottomY;
};

const Layout kScale100{1196, 640, 0.8f,
                       {{A::Minimize, {1074.8f, 33.6f, 36.8f, 36.8f}}, {A::Close, {1118, 33.6f, 36.8f, 36.8f}},
                        {A::Telegram, {40, 150, 30, 30}}, {A::Facebook, {40, 192, 30, 30}},
                        {A::Play, {220, 317.6f, 288, 72}}, {A::Update, {526, 317.6f, 72, 72}},
                        {A::Cancel, {355, 510.2f, 104, 40}}, {A::ClanPatch, {511, 510.2f, 174, 40}},
                        {A::LangRu, {327, 584, 36, 36}}, {A::LangUk, {372, 584, 36, 36}},
                        {A::LangEn, {417, 584, 36, 36}}},
                       44, 27.2f, 397.6f, 614};

const Layout kScale125{1495, 800, 1.0f,
                       {{A::Minimize, {1351, 42, 46, 46}}, {A::Close, {1405, 42, 46, 46}},
                        {A::Telegram, {50, 187.5f, 37.5f, 37.5f}}, {A::Facebook, {50, 240, 37.5f, 37.5f}},
                        {A::Play, {220, 372, 288, 72}}, {A::Update, {526, 372, 72, 72}},
                        {A::Cancel, {355, 627, 104, 40}}, {A::ClanPatch, {511, 627, 174, 40}},
                        {A::LangRu, {327, 744, 36, 36}}, {A::LangUk, {372, 744, 36, 36}},
                        {A::LangEn, {417, 744, 36, 36}}},
                       55, 34, 452, 774};

// An area's action and whether it is circular (a language's round flag comes
// before its row item).
struct Expected {
    A action;
    bool circular = false;
};
using Areas = std::vector<Expected>;

Areas TopBarThen(const Areas& tail) {
    Areas areas = {{A::About}, {A::Donation},       {A::Registration},     {A::Forum}, {A::Minimize},
                   {A::Close}, {A::Telegram, true}, {A::Facebook, true}, {A::Play},  {A::Update, true}};
    areas.insert(areas.end(), tail.begin(), tail.end());
    return areas;
}

void ExpectNear(float actual, float expected, const std::string& where) { EXPECT_NEAR(actual, expected, 0.01) << where; }

// Compares the registered areas with the layout: order, kind, and the geometry
// of every area; measured widths are checked by how they chain.
void ExpectAreas(const std::vector<HitButton>& areas, const Areas& expected, const Layout& layout,
                 const std::string& name) {
    ASSERT_EQ(areas.size(), expected.size()) << name;
    for (size_t i = 0; i < areas.size(); ++i) {
        const std::string where = name + " area " + std::to_string(i);
        const Gdiplus::RectF& rect = areas[i].rect;
        const Gdiplus::RectF* previous = i > 0 ? &areas[i - 1].rect : nullptr;
        ASSERT_EQ(areas[i].action, expected[i].action) << where;
        EXPECT_EQ(areas[i].circular, expected[i].circular) << where;
        const auto fixed = layout.fixed.find(areas[i].action);
        if (fixed != layout.fixed.end()) {
            const Gdiplus::RectF& want = fixed->second;
            for (auto [got, wanted] : {std::pair{rect.X, want.X}, {rect.Y, want.Y}, {rect.Width, want.Width},
                                       {rect.Height, want.Height}}) {
                ExpectNear(got, wanted, where);
            }
        } else if (i < 4) {
            ExpectNear(rect.Y, layout.linkY, where);
            ExpectNear(rect.Height, layout.linkHeight, where);
            const float textWidth = rect.Width - 8 * layout.s;
            ExpectNear(textWidth, std::round(textWidth), where);
            ExpectNear(rect.X, i == 0 ? 50 * layout.s : previous->X + previous->Width + 31.5f * layout.s, where);
        } else if (areas[i].action == A::ResetGameSettings) {
            ExpectNear(rect.Y, layout.resetY, where);
            ExpectNear(rect.Height, 22, where);
            ExpectNear(rect.X + rect.Width / 2, 562, where);
        } else if (areas[i].action == A::DebugLog) {
            ExpectNear(rect.Y, layout.bottomY, where);
            ExpectNear(rect.Height, 22, where);
            EXPECT_GT(rect.X, 40) << where;
        } else {
            ASSERT_EQ(areas[i].action, A::SelfUpdate) << where;
            ExpectNear(rect.Y, layout.bottomY, where);
            ExpectNear(rect.Height, 20, where);
            ExpectNear(rect.X, previous->X + previous->Width + 10, where);
        }
    }
}

TEST_F(Drawing, EachStateRegistersTheAreasOfTheLayout) {
    // No self-update link while the start-up check runs.
    const Areas startup = TopBarThen({{A::ResetGameSettings}, {A::ClanPatch}, {A::LangRu, true}, {A::LangRu},
                                      {A::LangUk}, {A::LangEn}, {A::DebugLog}});
    Areas idleAreas = startup;
    idleAreas.push_back({A::SelfUpdate});
    const Areas busyAreas = TopBarThen({{A::Cancel}, {A::ClanPatch}, {A::LangRu, true}, {A::LangRu}, {A::LangUk},
                                        {A::LangEn}, {A::DebugLog}});
    struct Case {
        const char* name;
        const Layout& layout;
        std::function<void()> setup;
        Areas areas;
    };
    const Case cases[] = {
        {"idle", kScale100, [] {}, idleAreas},
        {"idle at 1.25", kScale125, [] {}, idleAreas},
        {"busy with cancel", kScale100, [this] { SetBusy(false); }, busyAreas},
        {"paused", kScale100, [this] { SetBusy(true); }, busyAreas},
        {"busy at 1.25", kScale125, [this] { SetBusy(false); }, busyAreas},
        {"start-up check running", kScale100, [this] { app->startupWork.store(true); }, startup},
        {"UK", kScale100, [this] { app->SetLanguage(L"UK"); },
         TopBarThen({{A::ResetGameSettings}, {A::ClanPatch}, {A::LangRu}, {A::LangUk, true}, {A::LangUk}, {A::LangEn},
                     {A::DebugLog}, {A::SelfUpdate}})},
        {"EN with RU hovered", kScale100,
         [this] {
             app->SetLanguage(L"EN");
             app->hoveredAction = A::LangRu;
         },
         TopBarThen({{A::ResetGameSettings}, {A::ClanPatch}, {A::LangRu, true}, {A::LangRu}, {A::LangUk},
                     {A::LangEn, true}, {A::LangEn}, {A::DebugLog}, {A::SelfUpdate}})},
    };
    for (const Case& c : cases) {
        SetUp();
        c.setup();
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

void ExpectNearColor(std::uint32_t actual, std::uint32_t expected, int tolerance, const std::string& where) {
    for (auto channel : {Red, Green, Blue}) EXPECT_NEAR(channel(actual), channel(expected), tolerance) << where;
}

// The bar's gradient runs over the whole track, so a colour belongs to a position.
TEST_F(Drawing, ProgressFillFollowsThePercent) {
    const auto gradientAt = [](int x) {
        const float t = (x - 95) / 590.0f;
        auto channel = [t](int from, int to) { return static_cast<std::uint32_t>(from + (to - from) * t + 0.5f); };
        return channel(0xE2, 0xFF) << 16 | channel(0xAC, 0xDD) << 8 | channel(0x3A, 0x68);
    };
    const struct {
        double percent;
        int filledUpTo;  // last x that must be gold, or 0
        int emptyFrom;   // first x that must show the track, or 0
    } cases[] = {{0, 0, 100}, {37, 300, 320}, {100, 675, 0}};
    for (const auto& c : cases) {
        app->ui.percent = c.percent;
        const auto frame = Draw(1196, 640);
        const std::string where = "percent " + std::to_string(c.percent);
        if (c.filledUpTo > 0) {
            for (int x : {110, c.filledUpTo}) ExpectNearColor(frame->Pixel(x, 473), gradientAt(x), 6, where);
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
    for (auto channel : {Red, Green, Blue}) EXPECT_NEAR(channel(hovered), lifted(channel(plain)), 3);
}

// Plain-coloured stand-ins make the image layer's geometry readable: a
// background red on its left half and blue on its right, an all-green figure.
// The embedded logo's gold diamond has its left point 10 of 240 pixels in.
TEST_F(Drawing, ImagesAndLogoArePlacedByTheWindowSize) {
    app->backgroundBitmap = std::make_unique<Gdiplus::Bitmap>(1920, 500, PixelFormat32bppARGB);
    {
        Gdiplus::Graphics graphics(app->backgroundBitmap.get());
        Gdiplus::SolidBrush red(Gdiplus::Color(0xFFFF0000)), blue(Gdiplus::Color(0xFF0000FF));
        graphics.FillRectangle(&red, 0, 0, 960, 500);
        graphics.FillRectangle(&blue, 960, 0, 960, 500);
    }
    app->characterBitmap = std::make_unique<Gdiplus::Bitmap>(1536, 1536, PixelFormat32bppARGB);
    Gdiplus::Graphics(app->characterBitmap.get()).Clear(Gdiplus::Color(0xFF00FF00));
    const struct {
        int width, height;
        int backgroundSplit;  // the background's middle: -630.8 + 1228.8, -946.2 + 1843.2
        int characterLeft, characterTop;
        float logoLeft, logoTop;
    } cases[] = {{1196, 640, 598, 531, 46, 228, 197.6f}, {1794, 960, 897, 797, 69, 264, 306.4f}};
    for (const auto& c : cases) {
        const auto frame = Draw(c.width, c.height);
        SCOPED_TRACE(c.width);
        const std::uint32_t leftOfSplit = frame->Pixel(c.backgroundSplit - 3, 20);
        const std::uint32_t rightOfSplit = frame->Pixel(c.backgroundSplit + 3, 20);
        EXPECT_TRUE(Red(leftOfSplit) > 150 && Blue(leftOfSplit) < 60);
        EXPECT_TRUE(Blue(rightOfSplit) > 150 && Red(rightOfSplit) < 60);
        const int y = c.characterTop + 40;
        EXPECT_EQ(frame->Pixel(c.characterLeft + 3, y), 0x00FF00u);
        EXPECT_NE(Green(frame->Pixel(c.characterLeft - 3, y)), 0xFF);
        EXPECT_NE(Green(frame->Pixel(c.width - 250, c.characterTop - 3)), 0xFF);
        const int logoY = static_cast<int>(c.logoTop + 18 * 1.3f);
        EXPECT_TRUE(IsGold(frame->Pixel(static_cast<int>(c.logoLeft + 12 * 1.3f), logoY)));
        EXPECT_FALSE(IsGold(frame->Pixel(static_cast<int>(c.logoLeft - 4), logoY)));
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
            EXPECT_GT(frame->Count(616, 437, 684, 464, [](std::uint32_t rgb) { return rgb == 0xFFFFFFu; }), 10);
        }
    }
}

}  // namespace
}  // namespace updater
