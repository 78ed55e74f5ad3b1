#include "foundation/handles.h"

#include <functional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "tests/test_support.h"

namespace updater {
namespace {

// Every close is recorded, so a double close or a leak shows as a wrong list.
std::vector<int> closed;

struct CountingTraits {
    using Type = int;
    static Type Invalid() noexcept { return -1; }
    static void Close(Type handle) noexcept { closed.push_back(handle); }
};
using CountingHandle = ScopedHandle<CountingTraits>;

TEST(ScopedHandle, ClosesEveryOwnedHandleExactlyOnce) {
    struct Case {
        const char* name;
        std::function<void()> run;
        std::vector<int> closes;
    };
    const Case cases[] = {
        {"never opened", [] { CountingHandle empty, failed(-1); }, {}},
        {"owned", [] { CountingHandle owner(1); }, {1}},
        {"moved into a new owner", [] {
             CountingHandle first(1);
             CountingHandle second(std::move(first));
             EXPECT_FALSE(first);
         }, {1}},
        {"moved over another owner", [] {
             CountingHandle first(1);
             CountingHandle second(2);
             second = std::move(first);
             EXPECT_EQ(closed, std::vector<int>{2});
         }, {2, 1}},
        {"moved onto itself", [] {
             CountingHandle owner(1);
             CountingHandle& same = owner;
             owner = std::move(same);
             EXPECT_EQ(owner.get(), 1);
         }, {1}},
        {"released", [] {
             CountingHandle owner(1);
             EXPECT_EQ(owner.release(), 1);
             EXPECT_FALSE(owner);
         }, {}},
        {"reset twice", [] {
             CountingHandle owner(1);
             owner.reset(2);
             owner.reset();
             owner.reset();
         }, {1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        closed.clear();
        c.run();
        EXPECT_EQ(closed, c.closes);
    }
}

TEST(ScopedHandle, FailedOpensOwnNothingAndOwnedFilesAreReallyClosed) {
    TempFolder temp;
    const std::wstring path = temp / L"held";
    const auto openExclusive = [&] {
        return FileHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                      nullptr));
    };
    EXPECT_FALSE(FileHandle(CreateFileW((temp / L"missing").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                        nullptr)));
    WIN32_FIND_DATAW entry{};
    EXPECT_FALSE(FindHandle(FindFirstFileW((temp / L"missing\\*").c_str(), &entry)));
    EXPECT_FALSE(KernelHandle());

    FileHandle first = openExclusive();
    ASSERT_TRUE(first);
    EXPECT_FALSE(openExclusive());
    first.reset();
    EXPECT_TRUE(openExclusive());
}

}  // namespace
}  // namespace updater
