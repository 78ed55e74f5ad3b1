#include <gtest/gtest.h>

#include "app/native_app.h"
#include "app/ui_font.h"
#include "tests/frame_capture.h"

namespace updater {
namespace {

// Runs in a Wine prefix where "Segoe UI" is not mapped to any font.
TEST(FontFallback, LabelsAreDrawnWithoutSegoeUi) {
    GdiplusSession session;
    ASSERT_FALSE(Gdiplus::FontFamily(L"Segoe UI").IsAvailable()) << "this test needs a prefix without Segoe UI";
    ASSERT_TRUE(MakeUiFontFamily()->IsAvailable());
    NativeApp app;
    FrameCapture frame(1196, 640);
    app.DrawFrame(frame.dc(), 1196, 640);
    // The white percentage "0%" and the dark Play label both have pixels.
    EXPECT_GT(frame.Count(616, 437, 684, 464, [](std::uint32_t rgb) { return rgb == 0xFFFFFFu; }), 10);
    EXPECT_GT(frame.Count(340, 330, 460, 380, [](std::uint32_t rgb) { return Red(rgb) < 0x40; }), 50);
}

}  // namespace
}  // namespace updater
