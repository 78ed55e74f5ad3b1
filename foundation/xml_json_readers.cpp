#include "foundation/xml_json_readers.h"

#include "foundation/text.h"

namespace updater {

namespace {

// One element found by the tag search, as positions in the document.
struct XmlElement {
    size_t start = 0;         // the "<" of the opening tag
    size_t contentBegin = 0;  // right after the opening tag's ">"
    size_t contentEnd = 0;    // the "<" of the closing tag
    size_t end = 0;           // right after the closing tag's ">"
};

bool EndsTagName(wchar_t c) {
    return c == L'>' || c == L' ' || c == L'\t' || c == L'\n' || c == L'\r';
}

// Searches the lower-cased document for the next accepted element of the lower-cased tag.
// False when there is no further candidate, or the accepted one lacks its ">" or closing tag.
bool FindXmlElement(const std::wstring& lowerXml, const std::wstring& lowerTag, size_t from,
                    XmlElement& element) {
    const std::wstring open = L"<" + lowerTag;
    const std::wstring close = L"</" + lowerTag + L">";
    size_t position = from;
    for (;;) {
        const size_t start = lowerXml.find(open, position);
        if (start == std::wstring::npos) {
            return false;
        }
        const size_t afterName = start + open.size();
        if (afterName < lowerXml.size() && !EndsTagName(lowerXml[afterName])) {
            position = afterName;
            continue;
        }
        const size_t openEnd = lowerXml.find(L'>', afterName);
        if (openEnd == std::wstring::npos) {
            return false;
        }
        const size_t closeStart = lowerXml.find(close, openEnd + 1);
        if (closeStart == std::wstring::npos) {
            return false;
        }
        element.start = start;
        element.contentBegin = openEnd + 1;
        element.contentEnd = closeStart;
        element.end = closeStart + close.size();
        return true;
    }
}

// The five predefined entities, built into a new string in one pass: a value
// full of references stays linear, and a decoded "&" never starts another one.
std::wstring DecodeXmlEntities(const std::wstring& text) {
    static const struct {
        const wchar_t* reference;
        size_t length;
        wchar_t character;
    } kEntities[] = {{L"&lt;", 4, L'<'}, {L"&gt;", 4, L'>'}, {L"&quot;", 6, L'"'}, {L"&apos;", 6, L'\''},
                     {L"&amp;", 5, L'&'}};
    std::wstring result;
    result.reserve(text.size());
    size_t position = 0;
    while (position < text.size()) {
        const size_t ampersand = text.find(L'&', position);
        if (ampersand == std::wstring::npos) {
            result.append(text, position, std::wstring::npos);
            break;
        }
        result.append(text, position, ampersand - position);
        result += L'&';
        position = ampersand + 1;
        for (const auto& entity : kEntities) {
            if (text.compare(ampersand, entity.length, entity.reference) == 0) {
                result.back() = entity.character;
                position = ampersand + entity.length;
                break;
            }
        }
    }
    return result;
}

// The position right after the needle "key" and the first colon after it, or npos.
size_t JsonValueStart(const std::wstring& json, const std::wstring& key) {
    const std::wstring needle = L"\"" + key + L"\"";
    const size_t keyPosition = json.find(needle);
    if (keyPosition == std::wstring::npos) {
        return std::wstring::npos;
    }
    const size_t colon = json.find(L':', keyPosition + needle.size());
    return colon == std::wstring::npos ? std::wstring::npos : colon + 1;
}

}  // namespace

std::vector<std::wstring> XmlBlocks(const std::wstring& xml, const std::wstring& tag) {
    const std::wstring lowerXml = ToLower(xml);
    const std::wstring lowerTag = ToLower(tag);
    std::vector<std::wstring> blocks;
    XmlElement element;
    size_t position = 0;
    while (FindXmlElement(lowerXml, lowerTag, position, element)) {
        blocks.push_back(xml.substr(element.start, element.end - element.start));
        position = element.end;
    }
    return blocks;
}

std::wstring XmlTagValue(const std::wstring& xml, const std::wstring& tag) {
    XmlElement element;
    if (!FindXmlElement(ToLower(xml), ToLower(tag), 0, element)) {
        return {};
    }
    return DecodeXmlEntities(Trim(xml.substr(element.contentBegin, element.contentEnd - element.contentBegin)));
}

std::wstring FirstXmlTagValue(const std::wstring& xml, std::initializer_list<const wchar_t*> tags) {
    for (const wchar_t* tag : tags) {
        std::wstring value = XmlTagValue(xml, tag);
        if (!value.empty()) {
            return value;
        }
    }
    return {};
}

std::wstring JsonEscape(const std::wstring& text) {
    std::wstring result;
    result.reserve(text.size());
    for (const wchar_t c : text) {
        switch (c) {
        case L'\\':
            result += L"\\\\";
            break;
        case L'"':
            result += L"\\\"";
            break;
        case L'\r':
            result += L"\\r";
            break;
        case L'\n':
            result += L"\\n";
            break;
        case L'\t':
            result += L"\\t";
            break;
        default:
            result += c;
            break;
        }
    }
    return result;
}

std::wstring JsonStringValue(const std::wstring& json, const std::wstring& key) {
    const size_t afterColon = JsonValueStart(json, key);
    if (afterColon == std::wstring::npos) {
        return {};
    }
    const size_t quote = json.find(L'"', afterColon);
    if (quote == std::wstring::npos) {
        return {};
    }
    std::wstring value;
    for (size_t i = quote + 1; i < json.size(); ++i) {
        const wchar_t c = json[i];
        if (c == L'"') {
            break;
        }
        if (c != L'\\' || i + 1 == json.size()) {
            value += c;
            continue;
        }
        const wchar_t escaped = json[++i];
        switch (escaped) {
        case L'n':
            value += L'\n';
            break;
        case L'r':
            value += L'\r';
            break;
        case L't':
            value += L'\t';
            break;
        default:
            value += escaped;
            break;
        }
    }
    return value;
}

bool JsonBoolValue(const std::wstring& json, const std::wstring& key, bool fallback) {
    const size_t afterColon = JsonValueStart(json, key);
    if (afterColon == std::wstring::npos) {
        return fallback;
    }
    const std::wstring window = ToLower(json.substr(afterColon, 8));
    if (window.find(L"true") != std::wstring::npos) {
        return true;
    }
    if (window.find(L"false") != std::wstring::npos) {
        return false;
    }
    return fallback;
}

}  // namespace updater
