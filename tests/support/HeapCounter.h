// Counts heap allocations and releases: this header replaces the global
// operator new and delete of the test program that includes it (include it in
// one source file of a program only). gAllocations counts every new and every
// delete while gCounting is set. AddressSanitizer brings its own allocator, so
// under it nothing is replaced and KESTA_COUNT_ALLOCATIONS is 0: the tests
// that use it skip themselves then.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
#define KESTA_COUNT_ALLOCATIONS 0
#else
#define KESTA_COUNT_ALLOCATIONS 1
#endif

namespace {
std::atomic<bool> gCounting{false};
std::atomic<long> gAllocations{0};
}  // namespace

#if KESTA_COUNT_ALLOCATIONS
// The replacement pairs malloc with free on purpose.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
    if (gCounting) ++gAllocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    if (gCounting && p) ++gAllocations;
    std::free(p);
}
void operator delete[](void* p) noexcept {
    operator delete(p);
}
void operator delete(void* p, std::size_t) noexcept {
    operator delete(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    operator delete(p);
}
#endif
