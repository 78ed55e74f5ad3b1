#include "app/image_assets.h"

#include <shlwapi.h>

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <random>

#include "app/gdi_handles.h"
#include "app/native_app.h"
#include "foundation/handles.h"
#include "foundation/paths.h"

namespace updater {

namespace {

const wchar_t* YesNo(bool value) { return value ? L"true" : L"false"; }

bool IsImageExtension(const std::wstring& path) {
    std::wstring extension = PathFindExtensionW(path.c_str());
    for (wchar_t& c : extension) c = static_cast<wchar_t>(std::towlower(c));
    return extension == L".png" || extension == L".jpg" || extension == L".jpeg" || extension == L".webp";
}

// The files of one folder with an accepted extension, unsorted.
std::vector<std::wstring> ListImageFiles(const std::wstring& directory) {
    std::vector<std::wstring> kept;
    WIN32_FIND_DATAW entry{};
    FindHandle find(FindFirstFileW(JoinPath(directory, L"*").c_str(), &entry));
    if (!find) return kept;
    do {
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        std::wstring full = JoinPath(directory, entry.cFileName);
        if (IsImageExtension(full)) kept.push_back(std::move(full));
    } while (FindNextFileW(find.get(), &entry));
    return kept;
}

// A copy of the bitmap that owns its pixels, or null when the source failed.
std::unique_ptr<Gdiplus::Bitmap> DetachedCopy(Gdiplus::Bitmap& source) {
    if (source.GetLastStatus() != Gdiplus::Ok) return nullptr;
    const Gdiplus::Rect whole(0, 0, static_cast<INT>(source.GetWidth()), static_cast<INT>(source.GetHeight()));
    std::unique_ptr<Gdiplus::Bitmap> copy(source.Clone(whole, source.GetPixelFormat()));
    if (!copy || copy->GetLastStatus() != Gdiplus::Ok) return nullptr;
    return copy;
}

}  // namespace

std::vector<ImageAsset> NativeApp::GetImageAssets(const std::wstring& group, std::initializer_list<int> ids) {
    std::vector<ImageAsset> assets;
    const std::vector<std::wstring> files = GetExternalImageFiles(group);
    if (!files.empty()) {
        logger.Debug(L"Image assets for group=" + group + L" loaded from external files count=" +
                     std::to_wstring(files.size()));
        for (const std::wstring& file : files) {
            logger.Debug(L"External image asset group=" + group + L", path=" + file);
            assets.push_back(ImageAsset{file, file, 0, false});
        }
        return assets;
    }
    logger.Debug(L"Image assets for group=" + group + L" using embedded resources count=" +
                 std::to_wstring(ids.size()));
    for (int id : ids) assets.push_back(ImageAsset{L"resource:" + std::to_wstring(id), L"", id, true});
    return assets;
}

std::vector<std::wstring> NativeApp::GetExternalImageFiles(const std::wstring& group) {
    logger.Debug(L"GetExternalImageFiles group=" + group + L" scanning roots.");
    std::vector<std::wstring> roots;
    AddRootAndParents(roots, appDir, 8);
    wchar_t current[MAX_PATH] = {};
    if (GetCurrentDirectoryW(MAX_PATH, current) != 0) AddRootAndParents(roots, current, 8);

    for (const std::wstring& root : roots) {
        const std::wstring directory = JoinPath(JoinPath(root, L"img"), group);
        const DWORD attributes = GetFileAttributesW(directory.c_str());
        const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
        const bool isDirectory = exists && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        logger.Debug(L"GetExternalImageFiles group=" + group + L", root=" + root + L", directory=" + directory +
                     L", exists=" + YesNo(exists) + L", isDirectory=" + YesNo(isDirectory));
        if (!isDirectory) continue;
        std::vector<std::wstring> kept = ListImageFiles(directory);
        logger.Debug(L"GetExternalImageFiles group=" + group + L", directory=" + directory +
                     L", supportedFiles=" + std::to_wstring(kept.size()));
        if (!kept.empty()) {
            std::sort(kept.begin(), kept.end(),
                      [](const std::wstring& a, const std::wstring& b) { return _wcsicmp(a.c_str(), b.c_str()) < 0; });
            return kept;
        }
    }
    logger.Debug(L"GetExternalImageFiles group=" + group + L" no external files found.");
    return {};
}

void NativeApp::AddRootAndParents(std::vector<std::wstring>& roots, const std::wstring& start, int levels) {
    std::wstring p = FullPath(start);
    for (int round = 0; round < levels; ++round) {
        if (p.empty()) return;
        const bool known = std::any_of(roots.begin(), roots.end(),
                                       [&](const std::wstring& root) { return _wcsicmp(root.c_str(), p.c_str()) == 0; });
        if (!known) roots.push_back(p);
        std::wstring parent = DirectoryName(p);
        if (parent.empty() || _wcsicmp(parent.c_str(), p.c_str()) == 0) return;
        p = std::move(parent);
    }
}

ImageAsset NativeApp::PickImageAsset(const std::vector<ImageAsset>& assets, const ImageAsset& previous) const {
    return PickImageAssetAt(assets, previous, GetTickCount());
}

ImageAsset NativeApp::PickImageAssetAt(const std::vector<ImageAsset>& assets, const ImageAsset& previous,
                                       std::uint32_t tick) {
    if (assets.empty()) return ImageAsset{};
    const std::uint32_t n = static_cast<std::uint32_t>(assets.size());
    std::mt19937 generator(n ^ tick);
    ImageAsset candidate = assets[generator() % n];
    if (n > 1) {
        for (int redraw = 0; redraw < 8 && _wcsicmp(candidate.key.c_str(), previous.key.c_str()) == 0; ++redraw) {
            candidate = assets[generator() % n];
        }
    }
    return candidate;
}

void NativeApp::ApplyRandomAsset(const std::vector<ImageAsset>& assets, ImageAsset& current,
                                 std::unique_ptr<Gdiplus::Bitmap>& bitmap) {
    if (assets.empty()) return;
    ImageAsset candidate = PickImageAsset(assets, current);
    for (size_t attempt = 1; attempt <= assets.size(); ++attempt) {
        logger.Debug(L"ApplyRandomAsset attempt=" + std::to_wstring(attempt) + L", candidate=" + candidate.key);
        std::unique_ptr<Gdiplus::Bitmap> loaded;
        if (!candidate.embedded) {
            logger.Debug(L"LoadBitmapAsset file=" + candidate.path);
            // The copy lets the file-backed bitmap go at once, so the file is not held open.
            Gdiplus::Bitmap fromFile(candidate.path.c_str(), FALSE);
            loaded = DetachedCopy(fromFile);
        } else {
            logger.Debug(L"LoadBitmapAsset resourceId=" + std::to_wstring(candidate.resourceId));
            loaded = LoadBitmapResource(candidate.resourceId);
        }
        if (loaded) {
            bitmap = std::move(loaded);
            current = candidate;
            logger.Debug(L"ApplyRandomAsset selected=" + current.key);
            return;
        }
        logger.Debug(L"ApplyRandomAsset failed candidate=" + candidate.key);
        candidate = PickImageAsset(assets, candidate);
    }
    logger.Debug(L"ApplyRandomAsset failed: no loadable assets.");
}

std::unique_ptr<Gdiplus::Bitmap> NativeApp::LoadBitmapResource(int id) {
    HRSRC found = FindResourceW(instance, MAKEINTRESOURCEW(id), RT_RCDATA);
    if (!found) return nullptr;
    HGLOBAL loadedResource = LoadResource(instance, found);
    const DWORD size = SizeofResource(instance, found);
    const void* data = loadedResource ? LockResource(loadedResource) : nullptr;
    if (!data || size == 0) return nullptr;

    GlobalMemory memory(GlobalAlloc(GMEM_MOVEABLE, size));
    if (!memory) return nullptr;
    void* target = GlobalLock(memory.get());
    if (!target) return nullptr;
    std::memcpy(target, data, size);
    GlobalUnlock(memory.get());

    IStream* rawStream = nullptr;
    if (FAILED(CreateStreamOnHGlobal(memory.get(), TRUE, &rawStream))) return nullptr;
    memory.release();  // the stream frees it on release
    ComReference<IStream> stream(rawStream);
    Gdiplus::Bitmap fromStream(stream.get(), FALSE);
    return DetachedCopy(fromStream);
}

}  // namespace updater
