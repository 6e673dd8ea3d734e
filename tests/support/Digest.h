// A 64-bit FNV-1a digest, for tests that hold an output to the bits it had
// when it was recorded.
#pragma once

#include <cstddef>
#include <cstdint>

namespace test_support {

// The digest to start from.
constexpr uint64_t kFnv1aStart = 14695981039346656037ull;

// hash carried on over bytes bytes of data.
inline uint64_t Fnv1a(uint64_t hash, const void* data, size_t bytes) {
    const unsigned char* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < bytes; ++i) hash = (hash ^ p[i]) * 1099511628211ull;
    return hash;
}

}  // namespace test_support
