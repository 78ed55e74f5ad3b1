#pragma once

namespace updater {

// A boolean as key=value log lines write it.
inline const wchar_t* BoolText(bool value) {
    return value ? L"true" : L"false";
}

}  // namespace updater
