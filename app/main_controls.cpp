#include <algorithm>
#include <cmath>

#include "app/native_app.h"
#include "app/ui_font.h"
#include "update/updater_version.h"

namespace updater {

namespace {

const Gdiplus::Color kTickColor(0xFF10131F);

void FillRounded(Gdiplus::Graphics& graphics, const Gdiplus::RectF& rect, float radius, Gdiplus::ARGB color) {
    Gdiplus::SolidBrush brush{Gdiplus::Color(color)};
    NativeApp::FillRoundRect(graphics, rect, radius, &brush);
}

void DrawTextAt(Gdiplus::Graphics& graphics, const std::wstring& text, const Gdiplus::Font& font, float x, float y,
                Gdiplus::ARGB color) {
    Gdiplus::SolidBrush brush{Gdiplus::Color(color)};
    graphics.DrawString(text.c_str(), -1, &font, Gdiplus::PointF(x, y), &brush);
}

// The small check box of the "reset" and "debug" options at (x, y).
void DrawSmallCheckBox(Gdiplus::Graphics& graphics, float x, float y, bool checked, bool hovered) {
    const Gdiplus::RectF box(x, y, 12, 12);
    FillRounded(graphics, box, 3, checked ? 0xD2EEBE41 : 0x460C0E18);
    NativeApp::StrokeRoundRect(graphics, box, 3, Gdiplus::Color(hovered ? 0xEBFFDC76 : 0xAAB4BED7), 1.1f);
    if (!checked) return;
    Gdiplus::Pen tick(kTickColor, 1.7f);
    tick.SetStartCap(Gdiplus::LineCapRound);
    tick.SetEndCap(Gdiplus::LineCapRound);
    graphics.DrawLine(&tick, x + 2.6f, y + 6.3f, x + 5.0f, y + 9.0f);
    graphics.DrawLine(&tick, x + 5.0f, y + 9.0f, x + 9.7f, y + 3.2f);
}

}  // namespace

float NativeApp::MeasuredWidth(Gdiplus::Graphics& graphics, const std::wstring& text, const Gdiplus::Font& font,
                               INT formatFlags) {
    Gdiplus::StringFormat format(formatFlags);
    Gdiplus::RectF box;
    graphics.MeasureString(text.c_str(), -1, &font, Gdiplus::RectF(0, 0, 0, 0), &format, &box);
    return std::ceil(box.Width);
}

void NativeApp::DrawPlayButton(Gdiplus::Graphics& graphics, const Gdiplus::RectF& play, const Gdiplus::Font& font) {
    DrawRoundButton(graphics, play, Gdiplus::Color(0xFFE6AE39), Gdiplus::Color(0xFFFFE27D), ButtonAction::Play,
                    false, false);
    const std::wstring label = T(L"StartGame");
    const float labelWidth = std::clamp(MeasuredWidth(graphics, label, font, 0) + 4, 74.0f, 140.0f);
    const float gx = play.X + (288 - (labelWidth + 56)) / 2;
    const float gy = play.Y + (72 - 30) / 2;

    Gdiplus::Pen pen(kTickColor, 2.55f);
    pen.SetStartCap(Gdiplus::LineCapRound);
    pen.SetEndCap(Gdiplus::LineCapRound);
    Gdiplus::SolidBrush brush(kTickColor);
    graphics.DrawPath(&pen, RoundedPath(Gdiplus::RectF(gx + 1.52f, gy + 8.4f, 34.96f, 16.2f), 6.6f).get());
    const float crossX = gx + 11.02f, crossY = gy + 16.8f;
    graphics.DrawLine(&pen, crossX, crossY - 3.9f, crossX, crossY + 3.9f);
    graphics.DrawLine(&pen, crossX - 3.9f, crossY, crossX + 3.9f, crossY);
    graphics.FillEllipse(&brush, gx + 25.08f, gy + 15.9f, 3.9f, 3.9f);
    graphics.FillEllipse(&brush, gx + 30.02f, gy + 12.9f, 3.9f, 3.9f);
    DrawCenteredString(graphics, label, Gdiplus::RectF(gx + 56, play.Y, labelWidth, 72), font, kTickColor);
}

void NativeApp::DrawUpdateButton(Gdiplus::Graphics& graphics, const Gdiplus::RectF& upd, const UiState& state) {
    DrawRoundButton(graphics, upd, Gdiplus::Color(0xF0393454), Gdiplus::Color(0xF0393454), ButtonAction::Update,
                    true, true);
    const float cx = upd.X + 36, cy = upd.Y + 36;
    const Gdiplus::Color iconColor(0xFFF6BE36);
    Gdiplus::SolidBrush brush(iconColor);
    if (!state.busy) {
        Gdiplus::Pen pen(iconColor, 2.2f);
        pen.SetStartCap(Gdiplus::LineCapRound);
        pen.SetEndCap(Gdiplus::LineCapRound);
        graphics.DrawArc(&pen, cx - 13, cy - 13, 26.0f, 26.0f, 45.0f, 285.0f);
        const Gdiplus::PointF head[] = {{cx - 2, cy - 16}, {cx + 7, cy - 17}, {cx + 3, cy - 8}};
        graphics.FillPolygon(&brush, head, 3, Gdiplus::FillModeAlternate);
    } else if (!state.paused) {
        FillRoundRect(graphics, Gdiplus::RectF(cx - 10, cy - 13, 7, 26), 3, &brush);
        FillRoundRect(graphics, Gdiplus::RectF(cx + 3, cy - 13, 7, 26), 3, &brush);
    } else {
        const Gdiplus::PointF resume[] = {{cx - 7, cy - 12}, {cx - 7, cy + 12}, {cx + 13, cy}};
        graphics.FillPolygon(&brush, resume, 3, Gdiplus::FillModeAlternate);
    }
}

void NativeApp::DrawProgress(Gdiplus::Graphics& graphics, float barTop, float barWidth, const UiState& state,
                             const Gdiplus::Font& font) {
    const Gdiplus::RectF track(95, barTop, barWidth, 13);
    FillRounded(graphics, track, 6.5f, 0xD2241834);
    if (state.percent > 0) {
        const float fillWidth = barWidth * static_cast<float>(std::min(state.percent, 100.0)) / 100;
        Gdiplus::LinearGradientBrush gradient(track, Gdiplus::Color(0xFFE2AC3A), Gdiplus::Color(0xFFFFDD68),
                                              Gdiplus::LinearGradientModeHorizontal);
        FillRoundRect(graphics, Gdiplus::RectF(95, barTop, fillWidth, 13), 6.5f, &gradient);
    }
    const int shown = state.percent < 0 ? 0 : state.percent > 100 ? 100 : static_cast<int>(state.percent + 0.5);
    DrawCenteredString(graphics, std::to_wstring(shown) + L"%", Gdiplus::RectF(95 + barWidth - 70, barTop - 31, 70, 28),
                       font, Gdiplus::Color(0xFFFFFFFF));
}

void NativeApp::DrawClanPatchCard(Gdiplus::Graphics& graphics, const Gdiplus::RectF& card, const Gdiplus::Font& font) {
    const bool hovered = hoveredAction == ButtonAction::ClanPatch;
    FillRounded(graphics, card, 20, hovered ? 0x7D161624 : 0x5F0C0E18);
    StrokeRoundRect(graphics, card, 20, Gdiplus::Color(hovered ? 0xE6FFDC76 : 0xBE967940), hovered ? 1.4f : 1.0f);
    AddHit(card, ButtonAction::ClanPatch, false);
    const float kx = card.X + 14, ky = card.Y + 10;
    StrokeRoundRect(graphics, Gdiplus::RectF(kx, ky, 20, 20), 6, Gdiplus::Color(hovered ? 0xF0FFDC76 : 0xDC967940),
                    1.2f);
    if (clanPatchEnabled) {
        Gdiplus::Pen tick(Gdiplus::Color(0xFFEEBE41), 2.0f);
        graphics.DrawLine(&tick, kx + 4, ky + 10, kx + 8, ky + 15);
        graphics.DrawLine(&tick, kx + 8, ky + 15, kx + 16, ky + 5);
    }
    DrawTextAt(graphics, T(L"ClanPatch"), font, card.X + 44, card.Y + 10, hovered ? 0xFFFAD05C : 0xFFEBDFFF);
}

void NativeApp::DrawBottomLine(Gdiplus::Graphics& graphics, float height, const UiState& state,
                               const Gdiplus::Font& small, const Gdiplus::Font& tiny) {
    const std::wstring version = std::wstring(L"v. ") + kUpdaterVersion;
    DrawTextAt(graphics, version, small, 18, height - 26, 0xAAB4BED7);

    const INT trailing = Gdiplus::StringFormatFlagsMeasureTrailingSpaces;
    const float dbgX = 18 + MeasuredWidth(graphics, version, small, trailing) + 14;
    const float debugWidth = MeasuredWidth(graphics, L"debug", small, trailing) + 17;
    AddHit(Gdiplus::RectF(dbgX - 4, height - 26, debugWidth + 8, 22), ButtonAction::DebugLog, false);
    const bool debugHovered = hoveredAction == ButtonAction::DebugLog;
    DrawSmallCheckBox(graphics, dbgX, height - 22, debugLog, debugHovered);
    DrawTextAt(graphics, L"debug", small, dbgX + 17, height - 26, debugHovered ? 0xE6FFDC76 : 0xA0B4BED7);

    const float selfWidth = MeasuredWidth(graphics, L"self-update", tiny, trailing) + 14;
    const Gdiplus::RectF self(dbgX + debugWidth + 14, height - 26, selfWidth, 20);
    Gdiplus::ARGB fill = 0x230C0E18, ring = 0x41B4BED7, text = 0x55B4BED7;
    if (!state.busy && !startupWork.load()) {
        AddHit(self, ButtonAction::SelfUpdate, false);
        const bool hovered = hoveredAction == ButtonAction::SelfUpdate;
        fill = hovered ? 0x7D161624 : 0x500C0E18;
        ring = hovered ? 0xE6FFDC76 : 0x91B4BED7;
        text = hovered ? 0xFFFAD05C : 0xB9B4BED7;
    }
    FillRounded(graphics, self, 6, fill);
    StrokeRoundRect(graphics, self, 6, Gdiplus::Color(ring), 1.0f);
    DrawCenteredString(graphics, L"self-update", self, tiny, Gdiplus::Color(text));
}

void NativeApp::DrawResetTooltip(Gdiplus::Graphics& graphics, const Gdiplus::RectF& option, int width, int height,
                                 const Gdiplus::Font& font) {
    const std::wstring text = L"Сбросить настройки игры";
    Gdiplus::StringFormat centred;
    centred.SetAlignment(Gdiplus::StringAlignmentCenter);
    centred.SetLineAlignment(Gdiplus::StringAlignmentCenter);
    Gdiplus::RectF box;
    graphics.MeasureString(text.c_str(), -1, &font, Gdiplus::RectF(0, 0, 0, 0), &centred, &box);
    const float tipWidth = std::ceil(box.Width) + 22;
    const float tipHeight = std::ceil(box.Height) + 14;
    float tipX = option.X + option.Width / 2 - tipWidth / 2;
    if (tipX < 8) tipX = 8;
    const float rightmost = std::max(static_cast<float>(width) - tipWidth - 8, 8.0f);
    if (tipX > rightmost) tipX = rightmost;
    float tipY = option.Y + 22 + 6;
    if (tipY + tipHeight > static_cast<float>(height) - 8) tipY = option.Y - tipHeight - 6;
    const Gdiplus::RectF tip(tipX, tipY, tipWidth, tipHeight);
    FillRounded(graphics, tip, 6, 0xEB120F1C);
    StrokeRoundRect(graphics, tip, 6, Gdiplus::Color(0xBEEEBE41), 1.0f);
    Gdiplus::SolidBrush brush(Gdiplus::Color(0xFFF5EEFF));
    graphics.DrawString(text.c_str(), -1, &font, tip, &centred, &brush);
}

void NativeApp::DrawMainControls(Gdiplus::Graphics& graphics, int width, int height, const UiState& state) {
    const std::unique_ptr<Gdiplus::FontFamily> family = MakeUiFontFamily();
    auto font = [&](float size, INT style) {
        return Gdiplus::Font(family.get(), size, style, Gdiplus::UnitPixel);
    };
    const Gdiplus::Font playFont = font(26, Gdiplus::FontStyleBold);
    const Gdiplus::Font smallFont = font(12, Gdiplus::FontStyleRegular);
    const Gdiplus::Font statusFont = font(18, Gdiplus::FontStyleBold);
    const Gdiplus::Font bodyFont = font(16, Gdiplus::FontStyleRegular);
    const Gdiplus::Font cancelFont = font(13, Gdiplus::FontStyleBold);
    const Gdiplus::Font languageFont = font(14, Gdiplus::FontStyleBold);
    const Gdiplus::Font tinyFont = font(11, Gdiplus::FontStyleRegular);
    const Gdiplus::Font tooltipFont = font(13, Gdiplus::FontStyleRegular);

    const float w = static_cast<float>(width), h = static_cast<float>(height);
    const float columnX = width > 1546 ? static_cast<float>(width / 7) : 220.0f;
    const float logoTop = 0.34f * h - 20;
    const float barWidth = std::min(w - 270, 590.0f);
    const float barTop = 0.73f * h;
    const float barRight = 95 + barWidth;

    if (logoBitmap) {
        const float logoWidth = static_cast<float>(logoBitmap->GetWidth());
        const float logoHeight = static_cast<float>(logoBitmap->GetHeight());
        graphics.DrawImage(logoBitmap.get(),
                           Gdiplus::RectF(columnX + 8, logoTop, 312, 312 * logoHeight / std::max(logoWidth, 1.0f)));
    }

    const Gdiplus::RectF play(columnX, logoTop + 120, 288, 72);
    DrawPlayButton(graphics, play, playFont);
    const Gdiplus::RectF upd(play.X + 288 + 18, play.Y, 72, 72);
    DrawUpdateButton(graphics, upd, state);

    const float resetWidth =
        MeasuredWidth(graphics, L"reset", smallFont, Gdiplus::StringFormatFlagsMeasureTrailingSpaces) + 17;
    const float rx = upd.X + (72 - resetWidth) / 2, ry = upd.Y + 72 + 8;
    const Gdiplus::RectF resetArea(rx - 4, ry, resetWidth + 8, 22);
    const bool resetHovered = !state.busy && hoveredAction == ButtonAction::ResetGameSettings;
    if (!state.busy) AddHit(resetArea, ButtonAction::ResetGameSettings, false);
    DrawSmallCheckBox(graphics, rx, ry + 4, resetGameSettings, resetHovered);
    DrawTextAt(graphics, L"reset", smallFont, rx + 17, ry, resetHovered ? 0xE6FFDC76 : 0xA0B4BED7);

    DrawCenteredString(graphics, LocalizeKnown(state.status), Gdiplus::RectF(95, barTop - 64, barWidth, 30),
                       statusFont, Gdiplus::Color(0xFFEBDFFF));
    DrawProgress(graphics, barTop, barWidth, state, statusFont);

    Gdiplus::StringFormat lineFormat(0);
    lineFormat.SetAlignment(Gdiplus::StringAlignmentNear);
    lineFormat.SetLineAlignment(Gdiplus::StringAlignmentCenter);
    lineFormat.SetTrimming(Gdiplus::StringTrimmingEllipsisCharacter);
    Gdiplus::SolidBrush lineBrush(Gdiplus::Color(0xFFEBDFFF));
    graphics.DrawString(LocalizeKnown(state.detail).c_str(), -1, &bodyFont, Gdiplus::RectF(95, barTop + 33, 240, 40),
                        &lineFormat, &lineBrush);
    if (!state.speed.empty()) {
        graphics.DrawString(LocalizeKnown(state.speed).c_str(), -1, &bodyFont,
                            Gdiplus::RectF(95, barTop + 69, 240, 28), &lineFormat, &lineBrush);
    }

    if (state.cancelVisible) {
        const Gdiplus::RectF cancel(355, barTop + 43, 104, 40);
        DrawRoundButton(graphics, cancel, Gdiplus::Color(0xFF742A3D), Gdiplus::Color(0xFF843246),
                        ButtonAction::Cancel, false, true);
        DrawCenteredString(graphics, T(L"Cancel"), cancel, cancelFont, Gdiplus::Color(0xFFFFFFFF));
    }

    DrawClanPatchCard(graphics, Gdiplus::RectF(barRight - 174, barTop + 43, 174, 40), bodyFont);

    const float langTop = std::max(h - 56, barTop + 33);
    const float x0 = 95 + (barWidth - 126) / 2;
    const struct {
        const wchar_t* label;
        ButtonAction action;
    } languages[] = {{L"RU", ButtonAction::LangRu}, {L"UK", ButtonAction::LangUk}, {L"EN", ButtonAction::LangEn}};
    float x = x0;
    for (const auto& entry : languages) {
        DrawLanguage(graphics, entry.label, Gdiplus::RectF(x, langTop, 36, 36), language == entry.label,
                     languageFont, entry.action);
        x += 45;
    }

    DrawBottomLine(graphics, h, state, smallFont, tinyFont);
    if (resetHovered) DrawResetTooltip(graphics, resetArea, width, height, tooltipFont);
}

}  // namespace updater
