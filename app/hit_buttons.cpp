#include "app/hit_buttons.h"

#include "app/native_app.h"

namespace updater {

std::wstring ButtonActionText(ButtonAction action) {
    static const wchar_t* const names[] = {
        L"None",     L"Play",     L"Update",       L"Cancel", L"Close",    L"Minimize", L"LangRu",
        L"LangUk",   L"LangEn",   L"ClanPatch",    L"About",  L"Donation", L"Registration", L"Forum",
        L"Telegram", L"Facebook", L"ResetGameSettings", L"SelfUpdate", L"DebugLog",
    };
    const int value = static_cast<int>(action);
    if (value < 0 || value >= static_cast<int>(sizeof names / sizeof names[0])) return L"Unknown";
    return names[value];
}

void NativeApp::AddHit(const Gdiplus::RectF& rect, ButtonAction action, bool circular) {
    hitButtons.push_back(HitButton{rect, action, circular});
}

ButtonAction NativeApp::HitTest(float x, float y) {
    for (const HitButton& button : hitButtons) {
        const Gdiplus::RectF& r = button.rect;
        bool hit;
        if (button.circular) {
            const float dx = x - (r.X + r.Width * 0.5f);
            const float dy = y - (r.Y + r.Height * 0.5f);
            const float radius = r.Width * 0.5f;
            hit = dx * dx + dy * dy <= radius * radius;
        } else {
            hit = r.X <= x && x <= r.X + r.Width && r.Y <= y && y <= r.Y + r.Height;
        }
        if (hit) return button.action;
    }
    return ButtonAction::None;
}

}  // namespace updater
