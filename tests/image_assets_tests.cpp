#include <random>

#include <gtest/gtest.h>

#include "app/native_app.h"
#include "foundation/files.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "tests/frame_capture.h"
#include "tests/test_support.h"

namespace updater {
namespace {

// The application object with its folder and the current folder in two empty
// temp folders, so that no image folder around the test run is found.
class ImageAssets : public ::testing::Test {
protected:
    static void SetUpTestSuite() { session = std::make_unique<GdiplusSession>(); }
    static void TearDownTestSuite() { session.reset(); }

    void SetUp() override {
        GetCurrentDirectoryW(MAX_PATH, startFolder);
        SetCurrentDirectoryW(currentFolder.path().c_str());
        app.instance = GetModuleHandleW(nullptr);
        app.appDir = appFolder.path();
        app.logger.directory = logFolder.path();
        app.logger.debugEnabled.store(true);
    }
    void TearDown() override { SetCurrentDirectoryW(startFolder); }

    // Makes root\img\group and writes the files into it.
    static void ImageFolder(const TempFolder& root, const std::wstring& group,
                            std::initializer_list<std::pair<std::wstring, std::string>> files) {
        CreateDirectoryW((root / L"img").c_str(), nullptr);
        CreateDirectoryW((root / (L"img\\" + group)).c_str(), nullptr);
        for (const auto& [name, bytes] : files) WriteTestFile(root / (L"img\\" + group + L"\\" + name), bytes);
    }
    // The embedded logo's bytes: a small image that decodes.
    std::string DecodableImage() const {
        HRSRC found = FindResourceW(app.instance, MAKEINTRESOURCEW(100), RT_RCDATA);
        return std::string(static_cast<const char*>(LockResource(LoadResource(app.instance, found))),
                           SizeofResource(app.instance, found));
    }
    std::string DebugLog() const { return ReadBinaryFile(JoinPath(logFolder.path(), L"logs\\updater-debug.log")); }
    static size_t Count(const std::string& text, const std::string& part) {
        size_t count = 0;
        for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
        return count;
    }
    static std::vector<ImageAsset> Files(std::initializer_list<std::wstring> paths) {
        std::vector<ImageAsset> assets;
        for (const std::wstring& path : paths) assets.push_back(ImageAsset{path, path, 0, false});
        return assets;
    }

    static std::unique_ptr<GdiplusSession> session;
    wchar_t startFolder[MAX_PATH] = {};
    TempFolder appFolder, currentFolder, logFolder;
    NativeApp app;
};
std::unique_ptr<GdiplusSession> ImageAssets::session;

TEST_F(ImageAssets, WithoutImageFoldersTheEmbeddedImagesServeInOrder) {
    const auto backgrounds = app.GetImageAssets(L"br", {200, 201, 202, 203, 204, 205, 206, 207, 208, 209, 210, 211,
                                                        212, 213, 214});
    ASSERT_EQ(backgrounds.size(), 15u);
    for (size_t i = 0; i < backgrounds.size(); ++i) {
        EXPECT_EQ(backgrounds[i].key, L"resource:" + std::to_wstring(200 + i));
        EXPECT_EQ(backgrounds[i].resourceId, static_cast<int>(200 + i));
        EXPECT_TRUE(backgrounds[i].path.empty() && backgrounds[i].embedded);
    }
    EXPECT_NE(DebugLog().find("GetExternalImageFiles group=br no external files found."), std::string::npos);
}

TEST_F(ImageAssets, ExternalFilesAreFilteredByExtensionAndSortedWithoutCase) {
    ImageFolder(appFolder, L"br", {{L"b.JPG", "x"}, {L"a.png", "x"}, {L"c.txt", "x"}, {L"d.webp", "x"}});
    CreateDirectoryW((appFolder / L"img\\br\\e.png").c_str(), nullptr);
    const auto assets = app.GetImageAssets(L"br", {200, 201});
    ASSERT_EQ(assets.size(), 3u);
    const wchar_t* expected[] = {L"a.png", L"b.JPG", L"d.webp"};
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(assets[i].path, JoinPath(FullPath(appFolder / L"img\\br"), expected[i]));
        EXPECT_EQ(assets[i].key, assets[i].path);
        EXPECT_EQ(assets[i].resourceId, 0);
        EXPECT_FALSE(assets[i].embedded);
    }
}

TEST_F(ImageAssets, AnEmptyFolderBesideTheProgramGivesWayToTheCurrentFolder) {
    ImageFolder(appFolder, L"char", {});
    ImageFolder(currentFolder, L"char", {{L"hero.PNG", "x"}});
    const auto files = app.GetExternalImageFiles(L"char");
    ASSERT_EQ(files.size(), 1u);
    // The program folder's chain ends in the relative ".", which is the current folder.
    EXPECT_EQ(FullPath(files[0]), JoinPath(FullPath(currentFolder / L"img\\char"), L"hero.PNG"));
    EXPECT_NE(DebugLog().find("supportedFiles=0"), std::string::npos);
}

TEST_F(ImageAssets, RootsClimbEightLevelsAndSkipRepeats) {
    std::vector<std::wstring> roots;
    app.AddRootAndParents(roots, L"C:\\Games\\Client", 8);
    app.AddRootAndParents(roots, L"D:\\Work", 8);
    EXPECT_EQ(roots, (std::vector<std::wstring>{L"C:\\Games\\Client", L"C:\\Games", L"C:", L".", L"D:\\Work", L"D:"}));
    roots.clear();
    app.AddRootAndParents(roots, L"C:\\a\\b\\c\\d\\e\\f\\g\\h\\i", 8);
    ASSERT_EQ(roots.size(), 8u);
    EXPECT_EQ(roots.back(), L"C:\\a\\b");
}

// A candidate that does not decode gives way to another; when none decodes,
// the image shown stays.
TEST_F(ImageAssets, UnreadableFilesFallBackOrLeaveTheImageAsItWas) {
    ImageFolder(appFolder, L"br", {{L"broken.png", "not an image"}, {L"good-a.png", DecodableImage()},
                                   {L"good-b.jpg", DecodableImage()}});
    const auto assets = app.GetImageAssets(L"br", {200});
    ASSERT_EQ(assets.size(), 3u);
    // Starting from good-a, the first pick is broken or good-b, by the clock:
    // the call is made at a tick that picks broken, and made again when the
    // tick moved on in between, so that broken is tried first and falls back.
    const std::string brokenFirst = "ApplyRandomAsset attempt=1, candidate=" + Utf8FromWide(assets[0].key) + "\r\n";
    ImageAsset current;
    std::unique_ptr<Gdiplus::Bitmap> bitmap;
    for (int round = 0; round < 100 && Count(DebugLog(), brokenFirst) == 0; ++round) {
        current = assets[1];
        bitmap.reset();
        if (NativeApp::PickImageAssetAt(assets, current, GetTickCount()).key != assets[0].key) {
            Sleep(1);
            continue;
        }
        app.ApplyRandomAsset(assets, current, bitmap);
    }
    ASSERT_EQ(Count(DebugLog(), brokenFirst), 1u);
    ASSERT_NE(bitmap, nullptr);
    EXPECT_EQ(bitmap->GetWidth(), 240u);
    EXPECT_NE(current.key, assets[0].key);
    EXPECT_TRUE(DeleteFileW(current.path.c_str())) << "the copy does not hold the file open";

    const std::wstring bad = assets[0].path;
    const std::pair<std::vector<ImageAsset>, size_t> cases[] = {
        {Files({bad}), 1}, {Files({bad, appFolder / L"missing.jpg", appFolder / L"x.webp"}), 3}};
    for (const auto& [candidates, attempts] : cases) {
        current.key = L"earlier";
        Gdiplus::Bitmap* earlier = bitmap.get();
        const size_t before = Count(DebugLog(), "ApplyRandomAsset attempt=");
        app.ApplyRandomAsset(candidates, current, bitmap);
        EXPECT_EQ(bitmap.get(), earlier);
        EXPECT_EQ(current.key, L"earlier");
        EXPECT_EQ(Count(DebugLog(), "ApplyRandomAsset attempt=") - before, attempts);
        EXPECT_NE(DebugLog().find("ApplyRandomAsset failed: no loadable assets."), std::string::npos);
    }
}

// The embedded pictures decode at their sizes; a character keeps its
// transparency (the corner is clear).
TEST_F(ImageAssets, EmbeddedImagesDecodeWithTheirSizes) {
    const struct {
        int id;
        UINT width, height;
    } cases[] = {{100, 240, 36}, {200, 1920, 500}, {214, 1920, 500}, {300, 1536, 1536}, {310, 1536, 1536}};
    for (const auto& c : cases) {
        const auto bitmap = app.LoadBitmapResource(c.id);
        ASSERT_NE(bitmap, nullptr) << c.id;
        EXPECT_EQ(bitmap->GetWidth(), c.width) << c.id;
        EXPECT_EQ(bitmap->GetHeight(), c.height) << c.id;
    }
    EXPECT_EQ(app.LoadBitmapResource(199), nullptr);
    Gdiplus::Color corner;
    app.LoadBitmapResource(300)->GetPixel(0, 0, &corner);
    EXPECT_EQ(corner.GetA(), 0);
}

TEST_F(ImageAssets, APickRepeatsThePreviousOnlyWhenAllNineDrawsLandOnIt) {
    const auto two = Files({L"C:\\img\\one.png", L"C:\\img\\two.png"});
    ImageAsset previous = two[0];
    previous.key = L"C:\\IMG\\ONE.PNG";  // compared without case
    int repeats = 0;
    for (std::uint32_t tick = 0; tick < 1000; ++tick) {
        std::mt19937 draws(2u ^ tick);
        bool allOnPrevious = true;
        for (int i = 0; i < 9; ++i) allOnPrevious = allOnPrevious && draws() % 2 == 0;
        EXPECT_EQ(NativeApp::PickImageAssetAt(two, previous, tick).key == two[0].key, allOnPrevious) << tick;
        repeats += allOnPrevious;
    }
    EXPECT_LT(repeats, 10);

    const auto one = Files({L"C:\\img\\only.png"});
    for (std::uint32_t tick : {0u, 7u, 12345u}) EXPECT_EQ(NativeApp::PickImageAssetAt(one, one[0], tick).key, one[0].key);
    EXPECT_EQ(app.PickImageAsset(one, one[0]).key, one[0].key);
    EXPECT_TRUE(app.PickImageAsset({}, one[0]).key.empty());
}

}  // namespace
}  // namespace updater
