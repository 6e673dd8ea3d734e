// Dense FIR throughput in frames per second: the 45-tap filter of the
// mono-to-3D network at the engines' 1024-frame blocks, as built (taps outer,
// one double accumulator per output) and in the per-sample dot-product form
// it replaces. Each iteration refills the block, since the filter works in place.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "Fltfir.h"
#include "MathLib.h"
#include "Mixbuf.h"

namespace {

constexpr Samples kBlock = 1024;
constexpr int kTaps = 45;

std::vector<float> Coefficients() {
    std::vector<float> h(kTaps);
    for (int k = 0; k < kTaps; ++k) h[k] = static_cast<float>((k * 29) % 17 - 8) / 64.0f;
    return h;
}

std::vector<float> Signal() {
    std::vector<float> x(kBlock);
    for (Samples i = 0; i < kBlock; ++i) x[i] = static_cast<float>((i * 37) % 201 - 100) / 100.0f;
    return x;
}

void FloatFirBlock(benchmark::State& state) {
    const std::vector<float> h = Coefficients(), x = Signal();
    std::vector<float> block(kBlock);
    FloatFIR filter;
    filter.init(h.data(), kTaps);
    for (auto _ : state) {
        std::copy(x.begin(), x.end(), block.begin());
        MixBuffer buffer(*GetFloatLibrary(), Buffer(block.data(), kMonoFloat), kBlock);
        filter.Process(buffer);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(FloatFirBlock);

// Each sample written twice into the history, then one dot product over it.
void FloatFirPerSampleDotProduct(benchmark::State& state) {
    const std::vector<float> h = Coefficients(), x = Signal();
    std::vector<float> block(kBlock), history(2 * kTaps, 0.0f);
    int position = kTaps - 1;
    for (auto _ : state) {
        std::copy(x.begin(), x.end(), block.begin());
        for (Samples i = 0; i < kBlock; ++i) {
            history[position + kTaps] = block[i];
            history[position] = block[i];
            block[i] = fDotProduct(&history[position], h.data(), kTaps);
            position = position == 0 ? kTaps - 1 : position - 1;
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(FloatFirPerSampleDotProduct);

}  // namespace
