// What small blocks cost through kesta_ladspa.so, loaded as a host loads it:
// run() with blocks of 1, 16, 64, 256 and 1024 frames at 44100 Hz, on stereo
// material (widened) and on mono material on both inputs (the mono-to-3D
// engine, through automatic mono), every control at its default.
//
// BM_LadspaBlocks reports the per-frame time and x_realtime of one instance;
// BM_LadspaBlocksVersus1024 runs a second instance in 1024-frame calls beside
// it, call by call, and reports "ratio", the small blocks' time per frame over
// the large ones'. With KESTA_LADSPA_BASELINE naming another build of the
// plug-in, BM_LadspaVersusBaseline runs the two side by side at each block
// size ("ratio": this plug-in's time over the baseline's).

#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <ladspa.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "BenchCounters.h"

namespace {

constexpr unsigned long kRate = 44100;
constexpr int kLarge = 1024;
constexpr int kFrames = 64 * kLarge;

const LADSPA_Descriptor* Load(const char* path) {
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (!library) return nullptr;
    auto entry = reinterpret_cast<LADSPA_Descriptor_Function>(dlsym(library, "ladspa_descriptor"));
    return entry ? entry(0) : nullptr;
}

float Default(const LADSPA_PortRangeHint& h) {
    const LADSPA_PortRangeHintDescriptor d = h.HintDescriptor;
    if (LADSPA_IS_HINT_DEFAULT_1(d)) return 1.0f;
    if (LADSPA_IS_HINT_DEFAULT_MAXIMUM(d)) return h.UpperBound;
    if (LADSPA_IS_HINT_DEFAULT_MINIMUM(d)) return h.LowerBound;
    if (LADSPA_IS_HINT_DEFAULT_MIDDLE(d)) return 0.5f * (h.LowerBound + h.UpperBound);
    return 0.0f;
}

// One plug-in instance over its material, run a block at a time.
struct Plugin {
    Plugin(const LADSPA_Descriptor* d, bool mono, int block) : d(d), block(block) {
        left = ToneAndNoise(kFrames, 0, kRate);
        right = mono ? left : ToneAndNoise(kFrames, 1, kRate);
        outL.resize(static_cast<size_t>(kLarge));
        outR.resize(static_cast<size_t>(kLarge));
        h = d->instantiate(d, kRate);
        controls.resize(d->PortCount);
        int audio = 0;
        for (unsigned long p = 0; p < d->PortCount; ++p) {
            const LADSPA_PortDescriptor pd = d->PortDescriptors[p];
            if (LADSPA_IS_PORT_CONTROL(pd)) {
                controls[p] = LADSPA_IS_PORT_INPUT(pd) ? Default(d->PortRangeHints[p]) : 0.0f;
                d->connect_port(h, p, &controls[p]);
            } else {
                audioPorts[audio++] = p;
            }
        }
        if (d->activate) d->activate(h);
    }
    ~Plugin() { d->cleanup(h); }

    void run(int frames) {
        for (int done = 0; done < frames; done += block) {
            const size_t at = static_cast<size_t>(position);
            d->connect_port(h, audioPorts[0], left.data() + at);
            d->connect_port(h, audioPorts[1], right.data() + at);
            d->connect_port(h, audioPorts[2], outL.data() + done);
            d->connect_port(h, audioPorts[3], outR.data() + done);
            d->run(h, static_cast<unsigned long>(block));
            position = (position + block) % kFrames;
        }
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
    }

    const LADSPA_Descriptor* d;
    LADSPA_Handle h;
    int block;
    int position = 0;
    unsigned long audioPorts[4] = {};
    std::vector<float> controls, left, right, outL, outR;
};

const LADSPA_Descriptor* Ours() {
    static const LADSPA_Descriptor* d = Load(KESTA_LADSPA_PATH);
    return d;
}

const LADSPA_Descriptor* Baseline() {
    static const LADSPA_Descriptor* d =
        std::getenv("KESTA_LADSPA_BASELINE") ? Load(std::getenv("KESTA_LADSPA_BASELINE")) : nullptr;
    return d;
}

// Arguments: mono (0 or 1), block frames.
void BM_LadspaBlocks(benchmark::State& state) {
    if (!Ours()) return state.SkipWithError("cannot load " KESTA_LADSPA_PATH);
    const int block = static_cast<int>(state.range(1));
    Plugin plugin(Ours(), state.range(0) != 0, block);
    for (auto _ : state) plugin.run(kLarge);
    SetCounters(state, kLarge);
    SetNsPerFrame(state, kLarge);
}

void BM_LadspaBlocksVersus1024(benchmark::State& state) {
    if (!Ours()) return state.SkipWithError("cannot load " KESTA_LADSPA_PATH);
    const bool mono = state.range(0) != 0;
    Plugin small(Ours(), mono, static_cast<int>(state.range(1))), large(Ours(), mono, kLarge);
    PairedTimes times;
    for (auto _ : state) times.run([&] { small.run(kLarge); }, [&] { large.run(kLarge); }, kLarge);
    times.report(state, "block", "block1024");
}

void BM_LadspaVersusBaseline(benchmark::State& state) {
    if (!Ours() || !Baseline()) return state.SkipWithError("set KESTA_LADSPA_BASELINE to compare");
    const bool mono = state.range(0) != 0;
    const int block = static_cast<int>(state.range(1));
    Plugin ours(Ours(), mono, block), baseline(Baseline(), mono, block);
    PairedTimes times;
    for (auto _ : state) times.run([&] { ours.run(kLarge); }, [&] { baseline.run(kLarge); }, kLarge);
    times.report(state, "ours", "baseline");
}

void BlockArgs(benchmark::internal::Benchmark* b) {
    for (int mono : {0, 1})
        for (int block : {1, 16, 64, 256, 1024}) b->Args({mono, block});
}

BENCHMARK(BM_LadspaBlocks)->Apply(BlockArgs);
BENCHMARK(BM_LadspaBlocksVersus1024)->Apply(BlockArgs);
BENCHMARK(BM_LadspaVersusBaseline)->Apply(BlockArgs);

}  // namespace
