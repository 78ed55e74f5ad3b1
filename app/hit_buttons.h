#pragma once

#include <string>

#include "app/gdiplus_headers.h"

namespace updater {

// What a click area does; the values are written to the logs.
enum class ButtonAction : int {
    None = 0,
    Play = 1,
    Update = 2,
    Cancel = 3,
    Close = 4,
    Minimize = 5,
    LangRu = 6,
    LangUk = 7,
    LangEn = 8,
    ClanPatch = 9,
    About = 10,
    Donation = 11,
    Registration = 12,
    Forum = 13,
    Telegram = 14,
    Facebook = 15,
    ResetGameSettings = 16,
    SelfUpdate = 17,
    DebugLog = 18,
};

// One click area of the last painted frame, in client pixels. A circular area
// is the circle of diameter rect.Width centred in rect.
struct HitButton {
    Gdiplus::RectF rect;
    ButtonAction action = ButtonAction::None;
    bool circular = false;
};

// The action's name for log lines; "Unknown" outside the list.
std::wstring ButtonActionText(ButtonAction action);

}  // namespace updater
