#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace updater {

// A fresh folder below the Windows temp folder, deleted with everything in it
// when the object goes away.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();

    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::wstring& path() const { return folder; }
    std::wstring operator/(const std::wstring& relative) const;

private:
    std::wstring folder;
};

// Reserves all the free address space while it lives, but for one hole of
// `spare` bytes, so that no thread stack (or only one, in a hole of a few MiB)
// can be reserved and thread starts fail.
class AddressSpaceTaken {
public:
    explicit AddressSpaceTaken(size_t spare = 0);
    ~AddressSpaceTaken();

    AddressSpaceTaken(const AddressSpaceTaken&) = delete;
    AddressSpaceTaken& operator=(const AddressSpaceTaken&) = delete;

private:
    std::vector<void*> blocks;
};

// Writes the bytes to the file, creating nothing else; fails the test on error.
void WriteTestFile(const std::wstring& path, const std::string& bytes);

// Deterministic bytes of the given length.
std::string PatternBytes(size_t length, unsigned seed = 1);

// The message of the std::runtime_error the call threw, or "" when it returned.
template <typename Call>
std::string ErrorOf(Call call) {
    try {
        call();
    } catch (const std::runtime_error& error) {
        return error.what();
    }
    return "";
}

}  // namespace updater
