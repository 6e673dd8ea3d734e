// Drives filters over a whole signal cut into blocks, the way networks feed
// them, so that one result can be compared across different cuts.
#pragma once

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "Filter.h"
#include "MathLib.h"
#include "Mixbuf.h"

namespace runner {

inline MathLibrary& Library() {
    return *GetFloatLibrary();
}

inline std::vector<float> Noise(size_t n, unsigned seed, float amplitude = 1.0f) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> value(-amplitude, amplitude);
    std::vector<float> x(n);
    for (float& v : x) v = value(random);
    return x;
}

inline std::vector<float> Impulse(size_t n) {
    std::vector<float> x(n, 0.0f);
    x[0] = 1.0f;
    return x;
}

// Whole, sample by sample, and uneven blocks (around 256 and 1024, and the
// kernel and loop lengths of the tests).
const std::vector<std::vector<Samples>> kSplits = {
    {1 << 20}, {1}, {7, 300, 1, 45, 256, 1025, 37, 3, 512, 44, 2, 36, 38}};

// Calls run(offset, n) for consecutive blocks of the given sizes (cycled).
template <class Run>
void ForBlocks(size_t length, const std::vector<Samples>& sizes, Run run) {
    size_t done = 0;
    for (size_t block = 0; done < length; ++block) {
        const Samples n = static_cast<Samples>(std::min<size_t>(sizes[block % sizes.size()], length - done));
        run(done, n);
        done += n;
    }
}

inline std::vector<float> RunInPlace(InPlaceFilter& filter, const std::vector<float>& x,
                                     const std::vector<Samples>& sizes) {
    std::vector<float> y(x);
    ForBlocks(y.size(), sizes, [&](size_t at, Samples n) {
        MixBuffer buffer(Library(), Buffer(y.data() + at, kMonoFloat), n);
        filter.Process(buffer);
    });
    return y;
}

// What the filter adds, each block's output starting empty.
inline std::vector<float> RunInOut(InOutFilter& filter, const std::vector<float>& x,
                                   const std::vector<Samples>& sizes) {
    std::vector<float> in(x), out(x.size(), 0.0f);
    ForBlocks(x.size(), sizes, [&](size_t at, Samples n) {
        MixBuffer input(Library(), Buffer(in.data() + at, kMonoFloat), n);
        MixBuffer output(Library(), Buffer(out.data() + at, kMonoFloat), 0);
        filter.Process(output, input);
    });
    return out;
}

inline bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

}  // namespace runner
