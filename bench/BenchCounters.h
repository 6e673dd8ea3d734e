// The counters every engine benchmark reports: frames per second and how many
// times faster than real time at the stream's rate; and the clock the paired
// benchmarks time their two sides with.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <cstdint>

// CPU seconds of the calling thread: two codes timed call by call in one loop
// see the same machine, so their ratio holds on a busy one.
inline double ThreadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

inline void SetCounters(benchmark::State& state, int64_t framesPerIteration, double rate = 44100.0) {
    state.SetItemsProcessed(state.iterations() * framesPerIteration);
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(framesPerIteration),
                                                    benchmark::Counter::kIsIterationInvariantRate);
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(framesPerIteration) / rate,
                                                      benchmark::Counter::kIsIterationInvariantRate);
}
