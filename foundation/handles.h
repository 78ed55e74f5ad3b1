#pragma once

#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

namespace updater {

// Owns one handle and closes it exactly once. Traits name the handle type, the
// value a failed open returns and the call that closes it. A new kind of handle
// is one more traits struct with `Type`, `Invalid()` and `Close(Type)`, plus a
// `using XHandle = ScopedHandle<XTraits>;` beside it.
template <typename Traits>
class ScopedHandle {
public:
    using Type = typename Traits::Type;

    ScopedHandle() noexcept = default;
    explicit ScopedHandle(Type owned) noexcept : handle(owned) {}
    ScopedHandle(ScopedHandle&& other) noexcept : handle(other.release()) {}
    ScopedHandle& operator=(ScopedHandle&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ~ScopedHandle() { reset(); }

    Type get() const noexcept { return handle; }
    explicit operator bool() const noexcept { return handle != Traits::Invalid(); }

    // Gives the handle up without closing it.
    Type release() noexcept {
        const Type taken = handle;
        handle = Traits::Invalid();
        return taken;
    }

    // Closes the held handle, if any, and holds the given one.
    void reset(Type replacement = Traits::Invalid()) noexcept {
        const Type old = handle;
        handle = replacement;
        if (old != Traits::Invalid()) {
            Traits::Close(old);
        }
    }

private:
    Type handle = Traits::Invalid();
};

// CreateFileW and its kin report failure as INVALID_HANDLE_VALUE.
struct FileHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type handle) noexcept { CloseHandle(handle); }
};
using FileHandle = ScopedHandle<FileHandleTraits>;

// Processes, threads, events and mutexes report failure as null.
struct KernelHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type handle) noexcept { CloseHandle(handle); }
};
using KernelHandle = ScopedHandle<KernelHandleTraits>;

// A folder listing must be ended with FindClose, never CloseHandle.
struct FindHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type handle) noexcept { FindClose(handle); }
};
using FindHandle = ScopedHandle<FindHandleTraits>;

// WinHTTP sessions, connections and requests.
struct InternetHandleTraits {
    using Type = HINTERNET;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type handle) noexcept { WinHttpCloseHandle(handle); }
};
using InternetHandle = ScopedHandle<InternetHandleTraits>;

// CryptoAPI providers are released, not closed.
struct CryptProviderTraits {
    using Type = HCRYPTPROV;
    static Type Invalid() noexcept { return 0; }
    static void Close(Type handle) noexcept { CryptReleaseContext(handle, 0); }
};
using CryptProviderHandle = ScopedHandle<CryptProviderTraits>;

// A hash object must be destroyed before its provider is released.
struct CryptHashTraits {
    using Type = HCRYPTHASH;
    static Type Invalid() noexcept { return 0; }
    static void Close(Type handle) noexcept { CryptDestroyHash(handle); }
};
using CryptHashHandle = ScopedHandle<CryptHashTraits>;

}  // namespace updater
