#pragma once

#include <cstddef>

namespace tallyloft::test {

// While armed, every allocation through operator new of at least `bytes` throws std::bad_alloc,
// on any thread. Linked into one test executable, whose allocations all go through it.
void failAllocationsFrom(std::size_t bytes);
void stopFailingAllocations();

}  // namespace tallyloft::test
