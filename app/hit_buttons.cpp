#include "app/hit_buttons.h"

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

}  // namespace updater
