#pragma once

namespace updater {

// Makes the calling thread's nth allocation from now on throw std::bad_alloc
// (1 is the next one); 0 lets every allocation through again. Works in the test
// executables that link allocation_failure.cpp, which replaces operator new.
void FailNthAllocation(int n);

// While on, makes every allocation of the calling thread throw std::bad_alloc.
void FailEveryAllocation(bool on);

}  // namespace updater
