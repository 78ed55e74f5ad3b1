#include "update/manifest.h"

#include "foundation/logger.h"
#include "foundation/paths.h"
#include "foundation/text.h"
#include "foundation/xml_json_readers.h"
#include "http/url_builders.h"
#include "update/server_config.h"

namespace updater {

namespace {

// An empty flag takes its default; any other text is true only when it reads "true".
bool FlagValue(const std::wstring& text, bool whenEmpty) {
    return text.empty() ? whenEmpty : ToLower(text) == L"true";
}

}  // namespace

std::vector<UpdateFileEntry> ParseManifestEntries(const std::wstring& source, const std::wstring& baseUrl,
                                                  const std::wstring& xml, Logger& logger) {
    std::vector<UpdateFileEntry> entries;
    for (const std::wstring& element : XmlBlocks(xml, L"FileModel")) {
        const std::wstring name = XmlTagValue(element, L"Name");
        if (name.empty()) {
            logger.Debug(L"LoadManifest source=" + source + L" skipped entry: empty Name.");
            continue;
        }
        UpdateFileEntry entry;
        entry.relativePath = NormalizeRelativePath(XmlTagValue(element, L"Path"), name);
        if (entry.relativePath.empty()) {
            logger.Debug(L"LoadManifest source=" + source + L" skipped entry: unsafe or empty path, name=" + name);
            continue;
        }
        entry.size = DecimalPrefixValue(XmlTagValue(element, L"Size"));
        entry.hash = XmlTagValue(element, L"Hash");
        entry.quickUpdate = FlagValue(XmlTagValue(element, L"QuickUpdate"), true);
        entry.checkHash = FlagValue(XmlTagValue(element, L"CheckHash"), !entry.hash.empty());
        entry.source = source;
        entry.downloadUrl = BuildFileUrl(baseUrl, entry.relativePath, entry.hash, entry.size);
        logger.Debug(L"Manifest entry source=" + source + L", relativePath=" + entry.relativePath +
                     L", size=" + std::to_wstring(entry.size) + L", hash=" + entry.hash + L", quickUpdate=" +
                     BoolText(entry.quickUpdate) + L", checkHash=" + BoolText(entry.checkHash) +
                     L", downloadUrl=" + entry.downloadUrl);
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace updater
