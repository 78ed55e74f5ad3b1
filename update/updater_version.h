#pragma once

namespace updater {

// The updater's own version: compared by the self-update, logged at start-up
// and shown in the window.
inline constexpr wchar_t kUpdaterVersion[] = L"3.0.32";

}  // namespace updater
