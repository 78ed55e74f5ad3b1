#include "tests/test_support.h"

#include <atomic>
#include <stdexcept>

#include <windows.h>

#include "foundation/files.h"
#include "foundation/paths.h"

namespace updater {

TempFolder::TempFolder() {
    static std::atomic<unsigned> counter{0};
    wchar_t base[MAX_PATH + 1] = {};
    GetTempPathW(MAX_PATH, base);
    folder = JoinPath(base, L"updater-test-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                std::to_wstring(GetTickCount()) + L"-" + std::to_wstring(++counter));
    if (!CreateDirectoryW(folder.c_str(), nullptr)) {
        throw std::runtime_error("Could not create a temp folder");
    }
}

TempFolder::~TempFolder() {
    std::wstring error;
    DeleteDirectoryRecursive(folder, error);
}

std::wstring TempFolder::operator/(const std::wstring& relative) const {
    return JoinPath(folder, relative);
}

AddressSpaceTaken::AddressSpaceTaken(size_t spare) {
    blocks.reserve(65536);
    void* hole = spare > 0 ? VirtualAlloc(nullptr, spare, MEM_RESERVE, PAGE_NOACCESS) : nullptr;
    for (SIZE_T size = 1u << 30; size >= 64 * 1024;) {
        void* block = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS);
        if (block) {
            blocks.push_back(block);
        } else {
            size /= 2;
        }
    }
    if (hole) {
        VirtualFree(hole, 0, MEM_RELEASE);
    }
}

AddressSpaceTaken::~AddressSpaceTaken() {
    for (void* block : blocks) {
        VirtualFree(block, 0, MEM_RELEASE);
    }
}

void WriteTestFile(const std::wstring& path, const std::string& bytes) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        throw std::runtime_error("Could not create a test file");
    }
    DWORD written = 0;
    const BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != bytes.size()) {
        throw std::runtime_error("Could not write a test file");
    }
}

std::string PatternBytes(size_t length, unsigned seed) {
    std::string bytes(length, '\0');
    unsigned state = seed * 2654435761u + 1;
    for (size_t i = 0; i < length; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = static_cast<char>(state >> 16);
    }
    return bytes;
}

}  // namespace updater
