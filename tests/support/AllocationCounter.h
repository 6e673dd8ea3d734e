// Counts allocations: this header replaces the global operator new and
// delete of the test program that includes it, so include it in one source
// file of a program only. AllocationsIn(f) answers the allocations f made
// (releases are not counted; HeapCounter.h counts both).
#pragma once

#include <cstdlib>
#include <new>

namespace {

bool counting = false;
long allocations = 0;

void* Allocate(std::size_t size) {
    if (counting) ++allocations;
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}

// Allocations made by f.
template <class F>
long AllocationsIn(F f) {
    allocations = 0;
    counting = true;
    f();
    counting = false;
    return allocations;
}

}  // namespace

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    if (counting) ++allocations;
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    if (counting) ++allocations;
    return std::malloc(size ? size : 1);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
