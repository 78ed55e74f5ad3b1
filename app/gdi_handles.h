#pragma once

#include <utility>

#include "app/gdiplus_headers.h"
#include "foundation/handles.h"

#include <objbase.h>

namespace updater {

// Bitmaps, brushes, pens and fonts of GDI.
struct GdiObjectTraits {
    using Type = HGDIOBJ;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type handle) noexcept { DeleteObject(handle); }
};
using GdiObject = ScopedHandle<GdiObjectTraits>;

// Device contexts made with CreateCompatibleDC are deleted, not released.
struct MemoryDcTraits {
    using Type = HDC;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type handle) noexcept { DeleteDC(handle); }
};
using MemoryDc = ScopedHandle<MemoryDcTraits>;

// Movable memory from GlobalAlloc, until a stream takes it over.
struct GlobalMemoryTraits {
    using Type = HGLOBAL;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type handle) noexcept { GlobalFree(handle); }
};
using GlobalMemory = ScopedHandle<GlobalMemoryTraits>;

// One reference to a COM object, released once.
template <typename Interface>
struct ComReferenceTraits {
    using Type = Interface*;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type handle) noexcept { handle->Release(); }
};
template <typename Interface>
using ComReference = ScopedHandle<ComReferenceTraits<Interface>>;

// The window's device context from GetDC, given back with ReleaseDC.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : window(window), dc(GetDC(window)) {}
    ~WindowDc() {
        if (dc) ReleaseDC(window, dc);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC get() const noexcept { return dc; }

private:
    HWND window;
    HDC dc;
};

// BeginPaint and its EndPaint: a paint left early, also by an exception, still
// ends, so the window is not sent paint messages without end.
class PaintScope {
public:
    explicit PaintScope(HWND window) noexcept : window(window), dc(BeginPaint(window, &paint)) {}
    ~PaintScope() { EndPaint(window, &paint); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;

    HDC get() const noexcept { return dc; }

private:
    HWND window;
    PAINTSTRUCT paint{};
    HDC dc;
};

// An object selected into a device context for a scope; the one it replaced
// is selected back when the scope ends.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) noexcept : dc(dc), previous(SelectObject(dc, object)) {}
    ~SelectedObject() {
        if (previous) SelectObject(dc, previous);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc;
    HGDIOBJ previous;
};

// The calling thread's single-threaded COM apartment: ShellExecuteW may hand
// its work to handlers that are COM objects. Uninitialised once, and only when
// the initialisation succeeded (S_FALSE, for an apartment already there, too).
class ComApartment {
public:
    ComApartment() noexcept
        : initialized(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ~ComApartment() {
        if (initialized) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    bool initialized;
};

}  // namespace updater
