#include <gtest/gtest.h>

#include "app/native_app.h"
#include "app/ui_font.h"
#include "tests/frame_capture.h"

namespace updater {
namespace {

// Runs in a Wine prefix where "Segoe UI" is not mapped to any font.
TEST(FontFallback, LabelsAreDrawnWithoutSegoeUi) {
    GdiplusSession session;
    {
        const Gdiplus::FontFamily segoe(L"Segoe UI");
        ASSERT_FALSE(segoe.IsAvailable()) << "this test needs a prefix without Segoe UI";
        const auto family = MakeUiFontFamily();
        ASSERT_TRUE(family->IsAvailable());

        NativeApp app;
        FrameCapture frame(1196, 640);
        app.DrawFrame(frame.dc(), 1196, 640);
        // The white percentage "0%" and the dark Play label both have pixels.
        int white = 0, dark = 0;
        for (int y = 437; y < 464; ++y) {
            for (int x = 616; x < 684; ++x) white += frame.Pixel(x, y) == 0xFFFFFFu;
        }
        for (int y = 330; y < 380; ++y) {
            for (int x = 340; x < 460; ++x) dark += Red(frame.Pixel(x, y)) < 0x40;
        }
        EXPECT_GT(white, 10);
        EXPECT_GT(dark, 50);
    }
}

}  // namespace
}  // namespace updater
