#pragma once

#include <string>

namespace updater {

// The roots ("https://" + host + "/", lower case) of the two download servers,
// fixed when the program is built.
const std::wstring& DefaultDownloadServerRoot();
const std::wstring& DirectDownloadServerRoot();

// url + ("&" when it already holds "?", else "?") + name + "=" + value;
// the url unchanged when value is empty. Nothing is escaped.
std::wstring AppendUrlParam(std::wstring url, const std::wstring& name, const std::wstring& value);

// The trimmed token with every character other than A-Z, a-z, 0-9, "-", "." and
// "_" replaced by "-".
std::wstring SanitizeUrlToken(std::wstring token);

// The trimmed url with a leading "http://" (any case) turned into "https://".
std::wstring ForceHttpsScheme(std::wstring url);

// url + "?" or "&" + "cacheBust=" + system time in 100 ns units + "-" + process id.
std::wstring AppendCacheBust(std::wstring url);

// The url moved from the default download server to the direct-download
// server; "" when it does not lie under the default server's root.
std::wstring DirectDownloadFallbackUrl(const std::wstring& url);

// The url moved from the direct-download server to the default download
// server; "" when it does not lie under the direct server's root.
std::wstring CdnDownloadFallbackUrl(const std::wstring& url);

// ForceHttpsScheme, then "https://" in front of a non-empty url without an
// http or https scheme.
std::wstring NormalizeExternalUrl(std::wstring url);

// base + "/" + the percent-encoded UTF-8 relative path + ".zip", with the
// parameter "v" = trimmed token and "-" + size when size > 0, percent-encoded.
std::wstring BuildFileUrl(const std::wstring& baseUrl, const std::wstring& relativePath,
                          const std::wstring& versionToken, long long size);

}  // namespace updater
