#include "app/native_app.h"

namespace updater {

std::unique_ptr<Gdiplus::GraphicsPath> NativeApp::RoundedPath(const Gdiplus::RectF& rect, float radius) {
    auto path = std::make_unique<Gdiplus::GraphicsPath>(Gdiplus::FillModeAlternate);
    const float d = radius + radius;
    path->AddArc(rect.X, rect.Y, d, d, 180.0f, 90.0f);
    path->AddArc(rect.X + rect.Width - d, rect.Y, d, d, 270.0f, 90.0f);
    path->AddArc(rect.X + rect.Width - d, rect.Y + rect.Height - d, d, d, 0.0f, 90.0f);
    path->AddArc(rect.X, rect.Y + rect.Height - d, d, d, 90.0f, 90.0f);
    path->CloseFigure();
    return path;
}

void NativeApp::FillRoundRect(Gdiplus::Graphics& graphics, const Gdiplus::RectF& rect, float radius,
                              Gdiplus::Brush* brush) {
    graphics.FillPath(brush, RoundedPath(rect, radius).get());
}

void NativeApp::StrokeRoundRect(Gdiplus::Graphics& graphics, const Gdiplus::RectF& rect, float radius,
                                Gdiplus::Color color, float width) {
    Gdiplus::Pen pen(color, width);
    graphics.DrawPath(&pen, RoundedPath(rect, radius).get());
}

void NativeApp::DrawCenteredString(Gdiplus::Graphics& graphics, const std::wstring& text,
                                   const Gdiplus::RectF& rect, const Gdiplus::Font& font, Gdiplus::Color color) {
    Gdiplus::SolidBrush brush(color);
    Gdiplus::StringFormat format(0, LANG_NEUTRAL);
    format.SetAlignment(Gdiplus::StringAlignmentCenter);
    format.SetLineAlignment(Gdiplus::StringAlignmentCenter);
    format.SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
    graphics.DrawString(text.c_str(), -1, &font, rect, &format, &brush);
}

void NativeApp::DrawRoundButton(Gdiplus::Graphics& graphics, const Gdiplus::RectF& rect, Gdiplus::Color first,
                                Gdiplus::Color second, ButtonAction action, bool circular, bool outline) {
    Gdiplus::LinearGradientBrush gradient(rect, first, second, Gdiplus::LinearGradientModeHorizontal);
    gradient.SetWrapMode(Gdiplus::WrapModeTile);
    const float radius = circular ? rect.Width / 2 : rect.Height / 2;
    const std::unique_ptr<Gdiplus::GraphicsPath> path = RoundedPath(rect, radius);
    graphics.FillPath(&gradient, path.get());
    if (outline) {
        Gdiplus::Pen ring(Gdiplus::Color(0xB9DFB44F), 1.0f);
        graphics.DrawPath(&ring, path.get());
    }
    if (hoveredAction == action) {
        Gdiplus::SolidBrush veil(Gdiplus::Color(0x2AFFFFFF));
        graphics.FillPath(&veil, path.get());
        Gdiplus::Pen ring(Gdiplus::Color(0xE1FFDC76), 1.4f);
        graphics.DrawPath(&ring, path.get());
    }
    AddHit(rect, action, circular);
}

void NativeApp::DrawLanguage(Gdiplus::Graphics& graphics, const std::wstring& label, const Gdiplus::RectF& rect,
                             bool selected, const Gdiplus::Font& font, ButtonAction action) {
    Gdiplus::ARGB labelColor = 0xFFEBDFFF;
    if (selected) {
        DrawRoundButton(graphics, rect, Gdiplus::Color(0xFFF1C752), Gdiplus::Color(0xFFF1C752), action, true, false);
        labelColor = 0xFF0A0C12;
    } else if (hoveredAction == action) {
        DrawRoundButton(graphics, rect, Gdiplus::Color(0x6925203B), Gdiplus::Color(0x6925203B), action, true, false);
        labelColor = 0xFFFAD05C;
    }
    DrawCenteredString(graphics, label, rect, font, Gdiplus::Color(labelColor));
    AddHit(rect, action, false);
}

}  // namespace updater
