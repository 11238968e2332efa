#include "support/FailingAllocations.h"

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

namespace tallyloft::test {
namespace {

std::atomic<std::size_t> failFrom{std::numeric_limits<std::size_t>::max()};

}  // namespace

void failAllocationsFrom(std::size_t bytes) {
  failFrom = bytes;
}

void stopFailingAllocations() {
  failFrom = std::numeric_limits<std::size_t>::max();
}

}  // namespace tallyloft::test

// malloc and free underneath, for every plain form of new and delete, so that sanitizers see
// matching pairs whichever form a library uses.
namespace {

void* allocate(std::size_t size) {
  if (size >= tallyloft::test::failFrom.load(std::memory_order_relaxed)) throw std::bad_alloc();
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}

void* allocateOrNull(std::size_t size) noexcept {
  try {
    return allocate(size);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}

}  // namespace

void* operator new(std::size_t size) {
  return allocate(size);
}
void* operator new[](std::size_t size) {
  return allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocateOrNull(size);
}
void operator delete(void* memory) noexcept {
  std::free(memory);
}
void operator delete[](void* memory) noexcept {
  std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, std::size_t) noexcept {
  std::free(memory);
}
void operator delete(void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}
void operator delete[](void* memory, const std::nothrow_t&) noexcept {
  std::free(memory);
}
