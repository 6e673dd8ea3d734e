// The counters every engine benchmark reports: frames per second and how many
// times faster than real time at the stream's rate; and the timing of the
// paired benchmarks, which run two codes side by side.
#pragma once

#include <benchmark/benchmark.h>
#include <time.h>

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

// Two codes timed call by call in one loop, each on the calling thread's CPU
// clock: both see the same machine, so their ratio holds on a busy one.
class PairedTimes {
  public:
    // Runs first, then second, over frames frames, and adds up their times.
    template <class First, class Second>
    void run(First first, Second second, int64_t frames) {
        const double t0 = Seconds();
        first();
        const double t1 = Seconds();
        second();
        const double t2 = Seconds();
        first_ += t1 - t0;
        second_ += t2 - t1;
        frames_ += static_cast<double>(frames);
    }

    // Counters "<first>_ns_per_frame", "<second>_ns_per_frame",
    // "<first>_x_realtime" (at rate Hz) and "ratio", first's time over second's.
    void report(benchmark::State& state, const std::string& first, const std::string& second,
                double rate = 44100.0) const {
        state.counters[first + "_ns_per_frame"] = 1e9 * first_ / frames_;
        state.counters[second + "_ns_per_frame"] = 1e9 * second_ / frames_;
        state.counters[first + "_x_realtime"] = frames_ / rate / first_;
        state.counters["ratio"] = first_ / second_;
    }

  private:
    static double Seconds() {
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
    }

    double first_ = 0, second_ = 0, frames_ = 0;
};

inline void SetCounters(benchmark::State& state, int64_t framesPerIteration, double rate = 44100.0) {
    state.SetItemsProcessed(state.iterations() * framesPerIteration);
    state.counters["frames/s"] = benchmark::Counter(static_cast<double>(framesPerIteration),
                                                    benchmark::Counter::kIsIterationInvariantRate);
    state.counters["x_realtime"] = benchmark::Counter(static_cast<double>(framesPerIteration) / rate,
                                                      benchmark::Counter::kIsIterationInvariantRate);
}

// Counter "ns_per_frame": the time per frame, framesPerIteration frames an iteration.
inline void SetNsPerFrame(benchmark::State& state, int64_t framesPerIteration) {
    state.counters["ns_per_frame"] =
        benchmark::Counter(1e-9 * static_cast<double>(framesPerIteration),
                           benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

// Planar float material for one channel of a block benchmark: a tone
// (220 Hz times side + 1) under white noise, different on each side.
inline std::vector<float> ToneAndNoise(int frames, int side, double rate) {
    std::vector<float> out(static_cast<size_t>(frames));
    uint32_t state = 2463534242u + 977u * static_cast<uint32_t>(side);
    double phase = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        phase += 2.0 * 3.14159265358979 * 220.0 * (side + 1) / rate;
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const double noise = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
        out[i] = static_cast<float>(0.25 * std::sin(phase) + 0.35 * noise);
    }
    return out;
}
