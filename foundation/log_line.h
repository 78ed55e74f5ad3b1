#pragma once

#include <string>
#include <type_traits>
#include <utility>

#include "foundation/text.h"

namespace updater {

// Builds one log line from a text and "key=value" fields, so that the texts
// stand out from the plumbing. A field follows the line directly when the line
// is empty or ends in a space, and after ", " otherwise:
// LogLine(L"read start ").Add(L"chunk", 2).Add(L"url", url) is
// "read start chunk=2, url=...".
class LogLine {
public:
    explicit LogLine(std::wstring text) : text(std::move(text)) {}

    LogLine& Add(const wchar_t* key, const std::wstring& value) {
        if (!text.empty() && text.back() != L' ') {
            text += L", ";
        }
        text.append(key).append(1, L'=').append(value);
        return *this;
    }
    LogLine& Add(const wchar_t* key, const wchar_t* value) { return Add(key, std::wstring(value)); }
    LogLine& Add(const wchar_t* key, bool value) { return Add(key, BoolText(value)); }
    template <typename Number, typename = std::enable_if_t<std::is_integral_v<Number>>>
    LogLine& Add(const wchar_t* key, Number value) {
        return Add(key, std::to_wstring(value));
    }

    // The field only when the condition holds.
    template <typename Value>
    LogLine& AddIf(bool condition, const wchar_t* key, const Value& value) {
        return condition ? Add(key, value) : *this;
    }

    operator const std::wstring&() const { return text; }

private:
    std::wstring text;
};

}  // namespace updater
