// Panner throughput in frames per second, at the engines' 1024-frame blocks.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "FltDelay.h"
#include "MathLib.h"
#include "Mixbuf.h"
#include "Panner.h"

namespace {

constexpr Samples kBlock = 1024;

struct Bench {
    Bench()
        : input(kBlock),
          output(kBlock, 0.0f),
          bus(*GetFloatLibrary(), Buffer(output.data(), kMonoFloat), kBlock) {
        for (Samples i = 0; i < kBlock; ++i) input[i] = static_cast<float>((i * 37) % 201 - 100) / 100.0f;
    }
    Buffer in() const { return Buffer(input.data(), kMonoFloat); }
    std::vector<float> input;
    std::vector<float> output;
    MixBuffer bus;  // fully used: the panner adds into it
};

void PannerSteadyGain(benchmark::State& state) {
    Bench b;
    Panner panner;
    panner.setMixBuffer(b.bus);
    panner.pan(0.5f, 0);
    for (auto _ : state) {
        panner.mix(b.in(), kBlock);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(PannerSteadyGain);

void PannerRampingGain(benchmark::State& state) {
    Bench b;
    Panner panner;
    panner.setMixBuffer(b.bus);
    float target = 0.25f;
    for (auto _ : state) {
        target = -target;
        panner.pan(target, 2 * kBlock);  // every block lies inside a ramp
        panner.mix(b.in(), kBlock);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(PannerRampingGain);

void DelayPannerSteadyDelay(benchmark::State& state) {
    Bench b;
    std::unique_ptr<DelayMixBuffer> line(GetFloatLibrary()->CreateDelayBuffer());
    line->SetSize(2 * kBlock);
    line->Advance(700);  // the delayed part crosses the ring's wrap point
    DelayPanner panner;
    panner.setMixBuffer(b.bus);
    panner.setDelayBuffer(line.get());
    panner.pan(0.5f, 0);
    panner.setDelay(1000, 0);
    for (auto _ : state) {
        panner.mix(b.in(), kBlock);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kBlock);
}
BENCHMARK(DelayPannerSteadyDelay);

}  // namespace
