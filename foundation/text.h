#pragma once

#include <string>
#include <vector>

namespace updater {

// Text inside the program is UTF-16; files, network bodies and log lines are UTF-8.

// Removes leading and trailing spaces, tabs, carriage returns and line feeds.
std::wstring Trim(const std::wstring& text);

// Lowers the ASCII capitals A to Z only; every other character stays as it is.
std::wstring ToLower(std::wstring text);

// Replaces every occurrence left to right; inserted text is never searched again.
std::wstring ReplaceAllText(std::wstring text, const std::wstring& from, const std::wstring& to);

// Whether the text begins with the prefix, letter case aside.
bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& prefix);

// "true" or "false", as key=value log lines write booleans.
const wchar_t* BoolText(bool value);

// The number as C's "%f" writes it: fixed notation, six decimals, "." as the point.
std::wstring SixDecimals(double value);

std::wstring JoinText(const std::vector<std::wstring>& items, const std::wstring& separator);

// Malformed input is not rejected: it converts to U+FFFD.
std::string Utf8FromWide(const std::wstring& text);

// Skips one leading UTF-8 byte-order mark.
std::wstring WideFromUtf8(const std::string& bytes);

// The system's message for an error code, then " (code N)".
std::wstring GetLastErrorText(unsigned long code);

}  // namespace updater
