#pragma once

#include <initializer_list>
#include <string>
#include <vector>

namespace updater {

// Small readers for the flat XML of the server configuration and manifests and
// for the one-line settings JSON. They search text; they build no tree and never fail.
//
// XML tag names match in any ASCII letter case. An element starts with "<" and the
// name followed by ">", a blank, a tab, CR or LF (attributes are skipped unread),
// and ends at the first following "</name>". No nesting, comments or CDATA handling.

// Every element of that name in document order, each cut from "<" through its closing tag.
std::vector<std::wstring> XmlBlocks(const std::wstring& xml, const std::wstring& tag);

// The trimmed content of the first element of that name with the five predefined
// entities decoded in one left-to-right pass; empty when there is no such element.
std::wstring XmlTagValue(const std::wstring& xml, const std::wstring& tag);

// The first non-empty XmlTagValue over the names in order; empty when none.
std::wstring FirstXmlTagValue(const std::wstring& xml, std::initializer_list<const wchar_t*> tags);

// Escapes backslash, double quote, CR, LF and tab for use inside a JSON string; no quotes added.
std::wstring JsonEscape(const std::wstring& text);

// The decoded string after "key" and the next colon (keys match case-sensitively);
// empty when the key, the colon or an opening quote is missing.
std::wstring JsonStringValue(const std::wstring& json, const std::wstring& key);

// True when the 8 characters after the key's colon hold "true" in any case, false
// when they hold "false"; otherwise, or when the key or colon is missing, the fallback.
bool JsonBoolValue(const std::wstring& json, const std::wstring& key, bool fallback);

}  // namespace updater
