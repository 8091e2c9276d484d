#include "scanner/failing_allocator.h"

#include <cstdlib>
#include <new>

namespace {

// -1: not armed. Per thread, so gtest and other threads are never refused.
thread_local long allowedAllocations = -1;
thread_local bool refused = false;

void* Allocate(std::size_t size) {
    if (allowedAllocations == 0) {
        refused = true;
        throw std::bad_alloc();
    }
    if (allowedAllocations > 0) --allowedAllocations;
    void* memory = std::malloc(size ? size : 1);
    if (!memory) throw std::bad_alloc();
    return memory;
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete[](void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
void operator delete[](void* memory, std::size_t) noexcept { std::free(memory); }

namespace korvane::test {

AllocationFailure::AllocationFailure(long allowed) {
    refused = false;
    allowedAllocations = allowed;
}

AllocationFailure::~AllocationFailure() { allowedAllocations = -1; }

bool AllocationFailure::Refused() const { return refused; }

}  // namespace korvane::test
