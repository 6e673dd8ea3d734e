// The counters every engine benchmark reports: frames per second and how many
// times faster than real time at the stream's rate.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

inline void SetCounters(benchmark::State& state, int64_t framesPerIteration, double rate = 44100.0) {
    state.SetItemsProcessed(state.iterations() * framesPerIteration);
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(framesPerIteration),
                                                    benchmark::Counter::kIsIterationInvariantRate);
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(framesPerIteration) / rate,
                                                      benchmark::Counter::kIsIterationInvariantRate);
}
