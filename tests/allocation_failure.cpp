#include "tests/allocation_failure.h"

#include <cstdlib>
#include <new>

namespace {

thread_local int allocationsUntilFailure = 0;
thread_local bool everyAllocationFails = false;

}  // namespace

void updater::FailNthAllocation(int n) {
    allocationsUntilFailure = n;
}

void updater::FailEveryAllocation(bool on) {
    everyAllocationFails = on;
}

void* operator new(std::size_t size) {
    if (everyAllocationFails || (allocationsUntilFailure > 0 && --allocationsUntilFailure == 0)) {
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
