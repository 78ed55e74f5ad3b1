#include <algorithm>
#include <cmath>

#include "app/gdi_handles.h"
#include "app/native_app.h"
#include "app/ui_font.h"

namespace updater {

namespace {

const Gdiplus::Color kClearColor(0xFF050714);

// The four quality settings of every frame and of the layer cache, then the clear.
void PrepareGraphics(Gdiplus::Graphics& graphics) {
    graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    graphics.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    graphics.SetCompositingQuality(Gdiplus::CompositingQualityHighQuality);
    graphics.SetTextRenderingHint(Gdiplus::TextRenderingHintClearTypeGridFit);
    graphics.Clear(kClearColor);
}

// The three scale factors of a frame of the given client size.
struct FrameScale {
    float k, s, t;
    FrameScale(float w, float h) : k(std::min(w / 1196, h / 640)), s(k / 1.25f), t(h / 640) {}
};

// A glyph outline on a 24-unit grid: 'L' a line to (x, y), 'B' a cubic Bezier
// through two control points to the last pair.
struct GlyphStep {
    char kind;
    float p[6];
};

const GlyphStep kTelegramGlyph[] = {
    {'L', {18.7f, 19.1f}},
    {'B', {18.5f, 20.2f, 17.3f, 20.7f, 16.4f, 20.1f}},
    {'L', {11.6f, 16.5f}},
    {'L', {9.3f, 18.7f}},
    {'B', {9.0f, 19.0f, 8.4f, 18.8f, 8.3f, 18.3f}},
    {'L', {7.4f, 14.3f}},
    {'L', {3.0f, 12.9f}},
    {'B', {1.9f, 12.6f, 1.9f, 11.1f, 3.0f, 10.7f}},
    {'L', {20.5f, 3.9f}},
    {'B', {21.3f, 3.6f, 22.1f, 3.2f, 21.9f, 4.1f}},
};

const GlyphStep kFacebookGlyph[] = {
    {'L', {12.7f, 8.1f}},  {'L', {12.7f, 6.5f}},
    {'B', {12.7f, 5.9f, 13.1f, 5.7f, 13.7f, 5.7f}},
    {'L', {15.2f, 5.7f}},  {'L', {15.2f, 3.1f}},
    {'B', {14.9f, 3.1f, 13.8f, 3.0f, 12.6f, 3.0f}},
    {'B', {10.2f, 3.0f, 8.7f, 4.4f, 8.7f, 6.9f}},
    {'L', {8.7f, 8.1f}},   {'L', {6.4f, 8.1f}},   {'L', {6.4f, 11.0f}}, {'L', {8.7f, 11.0f}},
    {'L', {8.7f, 21.0f}},  {'L', {12.7f, 21.0f}}, {'L', {12.7f, 11.0f}}, {'L', {14.8f, 11.0f}},
    {'L', {15.1f, 8.1f}},
};

template <size_t Count>
void FillGlyph(Gdiplus::Graphics& graphics, Gdiplus::PointF start, const GlyphStep (&steps)[Count], float ox,
               float oy, float g) {
    auto map = [&](float u, float v) { return Gdiplus::PointF(ox + g * u / 24, oy + g * v / 24); };
    Gdiplus::GraphicsPath path(Gdiplus::FillModeAlternate);
    Gdiplus::PointF current = map(start.X, start.Y);
    for (const GlyphStep& step : steps) {
        if (step.kind == 'L') {
            const Gdiplus::PointF end = map(step.p[0], step.p[1]);
            path.AddLine(current, end);
            current = end;
        } else {
            const Gdiplus::PointF end = map(step.p[4], step.p[5]);
            path.AddBezier(current, map(step.p[0], step.p[1]), map(step.p[2], step.p[3]), end);
            current = end;
        }
    }
    path.CloseFigure();
    Gdiplus::SolidBrush brush(Gdiplus::Color(0xFFEEBE41));
    graphics.FillPath(&brush, &path);
}

}  // namespace

void NativeApp::Paint() {
    PaintScope paint(hwnd);
    RECT client{};
    GetClientRect(hwnd, &client);
    const int w = client.right - client.left;
    const int h = client.bottom - client.top;
    if (w <= 0 || h <= 0 || !EnsureBackBuffer(paint.get(), w, h)) return;
    DrawFrame(backBufferDc, w, h);
    BitBlt(paint.get(), 0, 0, w, h, backBufferDc, 0, 0, SRCCOPY);
}

bool NativeApp::EnsureBackBuffer(HDC windowDc, int width, int height) {
    if (backBufferDc && backBufferBitmap && width == backBufferWidth && height == backBufferHeight) return true;
    ReleaseBackBuffer();
    MemoryDc dc(CreateCompatibleDC(windowDc));
    GdiObject bitmap(CreateCompatibleBitmap(windowDc, width, height));
    if (!dc || !bitmap) return false;
    backBufferOldBitmap = SelectObject(dc.get(), bitmap.get());
    backBufferDc = dc.release();
    backBufferBitmap = static_cast<HBITMAP>(bitmap.release());
    backBufferWidth = width;
    backBufferHeight = height;
    return true;
}

void NativeApp::ReleaseBackBuffer() {
    if (backBufferDc && backBufferOldBitmap) SelectObject(backBufferDc, backBufferOldBitmap);
    GdiObject bitmap(backBufferBitmap);
    MemoryDc dc(backBufferDc);
    backBufferDc = nullptr;
    backBufferBitmap = nullptr;
    backBufferOldBitmap = nullptr;
    backBufferWidth = 0;
    backBufferHeight = 0;
}

void NativeApp::DrawFrame(HDC dc, int width, int height) {
    Gdiplus::Graphics graphics(dc);
    PrepareGraphics(graphics);
    hitButtons.clear();
    UiState state;
    {
        std::lock_guard<std::mutex> lock(uiMutex);
        state = ui;
    }

    if (!layerCacheBitmap || layerCacheWidth != width || layerCacheHeight != height) {
        auto layer = std::make_unique<Gdiplus::Bitmap>(width, height, PixelFormat32bppPARGB);
        bool built = false;
        if (layer->GetLastStatus() == Gdiplus::Ok) {
            Gdiplus::Graphics layerGraphics(layer.get());
            if (layerGraphics.GetLastStatus() == Gdiplus::Ok) {
                PrepareGraphics(layerGraphics);
                DrawImageLayer(layerGraphics, width, height);
                built = true;
            }
        }
        if (built) {
            layerCacheBitmap = std::move(layer);
            layerCacheWidth = width;
            layerCacheHeight = height;
        } else {
            DrawImageLayer(graphics, width, height);
        }
    }
    if (layerCacheBitmap && layerCacheWidth == width && layerCacheHeight == height) {
        const float w = static_cast<float>(width), h = static_cast<float>(height);
        graphics.DrawImage(layerCacheBitmap.get(), Gdiplus::RectF(0, 0, w, h), 0, 0, w, h, Gdiplus::UnitPixel);
    }

    DrawTopBar(graphics, width, height);
    DrawSocialCircles(graphics, width, height);
    DrawMainControls(graphics, width, height, state);
}

void NativeApp::DrawImageLayer(Gdiplus::Graphics& graphics, int width, int height) {
    const float w = static_cast<float>(width), h = static_cast<float>(height);
    if (backgroundBitmap) {
        const float bw = static_cast<float>(backgroundBitmap->GetWidth());
        const float bh = static_cast<float>(backgroundBitmap->GetHeight());
        const float dw = bh < 1 ? bw * h : bw * h / bh;
        DrawBitmapWithOpacity(graphics, backgroundBitmap.get(), Gdiplus::RectF((w - dw) * 0.5f, 0, dw, h), 0.9f);
    }

    Gdiplus::LinearGradientBrush overlay(Gdiplus::RectF(0, 0, w, h), Gdiplus::Color(0x2F090817),
                                         Gdiplus::Color(0xB8090817), Gdiplus::LinearGradientModeVertical);
    overlay.SetWrapMode(Gdiplus::WrapModeTile);
    const Gdiplus::Color stops[] = {Gdiplus::Color(0x2F090817), Gdiplus::Color(0x70090817),
                                    Gdiplus::Color(0xB8090817)};
    const Gdiplus::REAL positions[] = {0.0f, 0.58f, 1.0f};
    overlay.SetInterpolationColors(stops, positions, 3);
    graphics.FillRectangle(&overlay, Gdiplus::RectF(0, 0, w, h));

    if (characterBitmap) {
        const float k = FrameScale(w, h).k;
        const float cw = static_cast<float>(characterBitmap->GetWidth());
        const float ch = static_cast<float>(characterBitmap->GetHeight());
        const float dw = 700 * k;
        const float dh = cw < 1 ? ch * dw : ch * dw / cw;
        DrawBitmapWithOpacity(graphics, characterBitmap.get(), Gdiplus::RectF(w - dw + 35 * k, h - dh + 106 * k, dw, dh),
                              1.0f);
    }
}

void NativeApp::DrawBitmapWithOpacity(Gdiplus::Graphics& graphics, Gdiplus::Bitmap* bitmap,
                                      const Gdiplus::RectF& destination, float opacity) {
    if (!bitmap || opacity <= 0) return;
    const float sw = static_cast<float>(bitmap->GetWidth()), sh = static_cast<float>(bitmap->GetHeight());
    if (opacity >= 0.999f) {
        graphics.DrawImage(bitmap, destination, 0, 0, sw, sh, Gdiplus::UnitPixel);
        return;
    }
    Gdiplus::ColorMatrix matrix = {{{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0}, {0, 0, 0, opacity, 0},
                                    {0, 0, 0, 0, 1}}};
    Gdiplus::ImageAttributes attributes;
    attributes.SetColorMatrix(&matrix, Gdiplus::ColorMatrixFlagsDefault, Gdiplus::ColorAdjustTypeBitmap);
    graphics.DrawImage(bitmap, destination, 0, 0, sw, sh, Gdiplus::UnitPixel, &attributes);
}

void NativeApp::DrawTopBar(Gdiplus::Graphics& graphics, int width, int height) {
    const FrameScale scale(static_cast<float>(width), static_cast<float>(height));
    const float s = scale.s;
    const std::unique_ptr<Gdiplus::FontFamily> family = MakeUiFontFamily();
    const Gdiplus::Font linkFont(family.get(), 18 * s, Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
    Gdiplus::SolidBrush linkBrush(Gdiplus::Color(0xFFE6DCF6));
    const std::wstring labels[] = {MenuText(L"About"), MenuText(L"Donation"), MenuText(L"Registration"),
                                   MenuText(L"Forum")};

    float x = 50 * s;
    auto drawTopBarLink = [&](const std::wstring& label, ButtonAction action) {
        Gdiplus::StringFormat measureFormat(Gdiplus::StringFormatFlagsMeasureTrailingSpaces);
        Gdiplus::RectF measured;
        graphics.MeasureString(label.c_str(), -1, &linkFont, Gdiplus::RectF(0, 0, 0, 0), &measureFormat, &measured);
        const float linkWidth = std::ceil(measured.Width) + 8 * s;
        const Gdiplus::RectF rect(x, 55 * s, linkWidth, 34 * s);
        Gdiplus::StringFormat format;
        format.SetAlignment(Gdiplus::StringAlignmentNear);
        format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
        if (hoveredAction == action) {
            Gdiplus::SolidBrush hoverBrush(Gdiplus::Color(0xFFFAD05C));
            graphics.DrawString(label.c_str(), -1, &linkFont, rect, &format, &hoverBrush);
            Gdiplus::Pen underline(Gdiplus::Color(0xD2FAD05C), 2.0f);
            underline.SetStartCap(Gdiplus::LineCapRound);
            underline.SetEndCap(Gdiplus::LineCapRound);
            const float y = rect.Y + rect.Height - 2;
            graphics.DrawLine(&underline, rect.X, y, rect.X + linkWidth - 8, y);
        } else {
            graphics.DrawString(label.c_str(), -1, &linkFont, rect, &format, &linkBrush);
        }
        AddHit(rect, action, false);
        x += linkWidth + 31.5f * s;
    };
    drawTopBarLink(labels[0], ButtonAction::About);
    drawTopBarLink(labels[1], ButtonAction::Donation);
    drawTopBarLink(labels[2], ButtonAction::Registration);
    drawTopBarLink(labels[3], ButtonAction::Forum);

    const float closeX = static_cast<float>(width) - 60 * s - 30;
    const float minX = closeX - 54 * s;
    const Gdiplus::Color white(0xFFFFFFFF);
    DrawRoundButton(graphics, Gdiplus::RectF(minX, 42 * s, 46 * s, 46 * s), Gdiplus::Color(0xFF655C91),
                    Gdiplus::Color(0xFF655C91), ButtonAction::Minimize, false, false);
    {
        const Gdiplus::Font glyphFont(family.get(), 28 * s, Gdiplus::FontStyleBold, Gdiplus::UnitPixel);
        DrawCenteredString(graphics, L"\u2212", Gdiplus::RectF(minX, 42 * s, 46 * s, 42 * s), glyphFont, white);
    }
    DrawRoundButton(graphics, Gdiplus::RectF(closeX, 42 * s, 46 * s, 46 * s), Gdiplus::Color(0xFFFF3260),
                    Gdiplus::Color(0xFFFF3260), ButtonAction::Close, false, false);
    {
        const Gdiplus::Font glyphFont(family.get(), 34 * s, Gdiplus::FontStyleRegular, Gdiplus::UnitPixel);
        DrawCenteredString(graphics, L"\u00D7", Gdiplus::RectF(closeX, 42 * s, 46 * s, 42 * s), glyphFont, white);
    }
}

void NativeApp::DrawSocialCircles(Gdiplus::Graphics& graphics, int width, int height) {
    const FrameScale scale(static_cast<float>(width), static_cast<float>(height));
    const float s = scale.s, t = scale.t;
    const float g = 16 * t, inset = 7 * t;
    const Gdiplus::Color circle(0xEB25203B);
    DrawRoundButton(graphics, Gdiplus::RectF(50 * s, 150 * t, 30 * t, 30 * t), circle, circle,
                    ButtonAction::Telegram, true, false);
    FillGlyph(graphics, Gdiplus::PointF(21.9f, 4.1f), kTelegramGlyph, 50 * s + inset - 1.2f * t, 150 * t + inset, g);
    DrawRoundButton(graphics, Gdiplus::RectF(50 * s, 192 * t, 30 * t, 30 * t), circle, circle,
                    ButtonAction::Facebook, true, false);
    FillGlyph(graphics, Gdiplus::PointF(15.1f, 8.1f), kFacebookGlyph, 50 * s + inset + 0.6f * t,
              192 * t + inset + 0.3f * t, g);
}

}  // namespace updater
