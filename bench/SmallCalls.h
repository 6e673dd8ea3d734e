// What an engine's small calls cost beside its large ones: two engines set up
// alike run the same material side by side, call by call, one in calls of a
// small block (the processor's 64-frame limiter blocks), the other in calls
// of 1024 frames, each timed on the thread's CPU clock (PairedTimes).
// "ratio" is the small calls' time per frame over the large calls'; it holds
// on a busy machine. "block1024_ns_per_frame" tells that the large calls do
// not pay for it. With "nested" the calls run inside a DenormalGuard, as the
// processor makes them (the engines' own guard then leaves the floating-point
// control register alone); without, each call sets and restores it, as a host
// calling an engine directly has it.
#pragma once

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "BenchCounters.h"
#include "DenormalGuard.h"

namespace smallcalls {

constexpr unsigned kRate = 44100;
constexpr int kLarge = 1024;
constexpr int kFrames = 64 * kLarge;  // material, cycled

// Planar float material of one channel: a tone and noise.
inline std::vector<float> Material(int side) {
    return ToneAndNoise(kFrames, side, kRate);
}

// Times call(small, at, block) in calls of block frames against
// call(large, at, kLarge), kLarge frames a side each iteration; at is the
// frame of the material the call starts at.
template <class Engine, class Call>
void RunVersus1024(benchmark::State& state, Engine& small, Engine& large, int block, bool nested, Call call) {
    DenormalGuard* const guard = nested ? new DenormalGuard : nullptr;
    PairedTimes times;
    int at = 0;
    for (auto _ : state) {
        times.run(
            [&] {
                for (int done = 0; done < kLarge; done += block) call(small, at + done, block);
            },
            [&] { call(large, at, kLarge); }, kLarge);
        at = (at + kLarge) % kFrames;
    }
    times.report(state, "block", "block1024");
    delete guard;
}

}  // namespace smallcalls
