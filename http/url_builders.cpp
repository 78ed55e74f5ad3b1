#include "http/url_builders.h"

#include <utility>

#include <windows.h>

#include "foundation/paths.h"
#include "foundation/text.h"

namespace updater {

namespace {

bool IsTokenCharacter(wchar_t c) {
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-' || c == L'.' ||
           c == L'_';
}

bool IsUnreservedByte(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

// Percent-encodes the UTF-8 form of the text, byte by byte, with uppercase
// hexadecimal digits; the unreserved bytes (and "/" when asked) stay as they are.
std::wstring PercentEncode(const std::wstring& text, bool keepSlash) {
    static const char digits[] = "0123456789ABCDEF";
    std::wstring encoded;
    for (const char raw : Utf8FromWide(text)) {
        const auto byte = static_cast<unsigned char>(raw);
        if (IsUnreservedByte(byte) || (keepSlash && byte == '/')) {
            encoded += static_cast<wchar_t>(byte);
        } else {
            encoded += L'%';
            encoded += static_cast<wchar_t>(digits[byte >> 4]);
            encoded += static_cast<wchar_t>(digits[byte & 0x0F]);
        }
    }
    return encoded;
}

std::wstring MoveToRoot(const std::wstring& url, const std::wstring& from, const std::wstring& to) {
    if (!StartsWithIgnoringCase(url, from)) {
        return {};
    }
    return to + url.substr(from.size());
}

}  // namespace

const std::wstring& DefaultDownloadServerRoot() {
    static const std::wstring root = L"" UPDATER_DEFAULT_SERVER_ROOT;
    return root;
}

const std::wstring& DirectDownloadServerRoot() {
    static const std::wstring root = L"" UPDATER_DIRECT_SERVER_ROOT;
    return root;
}

std::wstring AppendUrlParam(std::wstring url, const std::wstring& name, const std::wstring& value) {
    if (value.empty()) {
        return url;
    }
    url += url.find(L'?') == std::wstring::npos ? L"?" : L"&";
    url += name + L"=" + value;
    return url;
}

std::wstring SanitizeUrlToken(std::wstring token) {
    token = Trim(token);
    for (wchar_t& c : token) {
        if (!IsTokenCharacter(c)) {
            c = L'-';
        }
    }
    return token;
}

std::wstring ForceHttpsScheme(std::wstring url) {
    url = Trim(url);
    if (StartsWithIgnoringCase(url, L"http://")) {
        return L"https://" + url.substr(7);
    }
    return url;
}

std::wstring AppendCacheBust(std::wstring url) {
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    url += url.find(L'?') == std::wstring::npos ? L"?" : L"&";
    url += L"cacheBust=" + std::to_wstring(ticks) + L"-" + std::to_wstring(GetCurrentProcessId());
    return url;
}

std::wstring DirectDownloadFallbackUrl(const std::wstring& url) {
    return MoveToRoot(url, DefaultDownloadServerRoot(), DirectDownloadServerRoot());
}

std::wstring CdnDownloadFallbackUrl(const std::wstring& url) {
    return MoveToRoot(url, DirectDownloadServerRoot(), DefaultDownloadServerRoot());
}

std::wstring NormalizeExternalUrl(std::wstring url) {
    url = ForceHttpsScheme(std::move(url));
    if (url.empty() || StartsWithIgnoringCase(url, L"http://") || StartsWithIgnoringCase(url, L"https://")) {
        return url;
    }
    return L"https://" + url;
}

std::wstring BuildFileUrl(const std::wstring& baseUrl, const std::wstring& relativePath,
                          const std::wstring& versionToken, long long size) {
    const std::wstring url =
        EnsureTrailingSlash(baseUrl) + PercentEncode(ReplaceAllText(relativePath, L"\\", L"/"), true) + L".zip";
    std::wstring version = Trim(versionToken);
    if (size > 0) {
        version += L"-" + std::to_wstring(size);
    }
    // The hash text comes from the manifest: encoded, a "#", "&" or blank in it
    // cannot cut the URL short or add parameters.
    return AppendUrlParam(url, L"v", PercentEncode(version, false));
}

}  // namespace updater
