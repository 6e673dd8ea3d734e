// Throughput of the mono-to-3D engine at 44100 Hz, in frames per second, in
// Music and Voice mode: on music-like input, on silence, and on the decaying
// tail that follows music (where the filters' states sink towards subnormal
// numbers). "x_realtime" is the throughput divided by 44100.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "M2s.h"

namespace {

constexpr unsigned kRate = 44100;
constexpr unsigned kCall = 1024;        // frames per call, a typical host block
constexpr unsigned kTail = 16 * kCall;  // frames of silence measured after each burst

std::vector<short> MusicLike(unsigned n) {
    std::vector<short> out(n);
    uint32_t state = 1u;
    double phase[3] = {0, 0, 0};
    for (unsigned i = 0; i < n; ++i) {
        double x = 0;
        for (int p = 0; p < 3; ++p) {
            phase[p] += 2.0 * 3.141592653589793 * 110.0 * (2 * p + 1) / kRate;
            x += std::sin(phase[p]) / (p + 1);
        }
        state = state * 1664525u + 1013904223u;
        x = 0.5 * x + 0.2 * ((state >> 8) / 16777216.0 - 0.5);
        out[i] = static_cast<short>(8000.0 * x);
    }
    return out;
}

struct Engine {
    explicit Engine(unsigned flags) : output(2 * kTail) { m2sOpen(&handle, kRate, flags); }
    ~Engine() { m2sClose(handle); }
    void Process(const short* in, unsigned n) {
        m2sProcess16(handle, in, reinterpret_cast<short(*)[2]>(output.data()), n);
    }
    M2S* handle = nullptr;
    std::vector<short> output;
};

void Report(benchmark::State& state, int64_t frames) {
    state.SetItemsProcessed(frames);
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(frames) / kRate, benchmark::Counter::kIsRate);
}

void M2SMusic(benchmark::State& state) {
    Engine engine(static_cast<unsigned>(state.range(0)));
    const std::vector<short> music = MusicLike(64 * kCall);
    unsigned pos = 0;
    for (auto _ : state) {
        engine.Process(music.data() + pos, kCall);
        pos = (pos + kCall) % static_cast<unsigned>(music.size());
        benchmark::ClobberMemory();
    }
    Report(state, state.iterations() * kCall);
}

void M2SSilence(benchmark::State& state) {
    Engine engine(static_cast<unsigned>(state.range(0)));
    const std::vector<short> silence(kCall, 0);
    for (auto _ : state) {
        engine.Process(silence.data(), kCall);
        benchmark::ClobberMemory();
    }
    Report(state, state.iterations() * kCall);
}

// Each iteration: a burst of music (not timed), then the silence after it.
void M2STail(benchmark::State& state) {
    Engine engine(static_cast<unsigned>(state.range(0)));
    const std::vector<short> music = MusicLike(4 * kCall);
    const std::vector<short> silence(kTail, 0);
    for (auto _ : state) {
        state.PauseTiming();
        engine.Process(music.data(), static_cast<unsigned>(music.size()));
        state.ResumeTiming();
        for (unsigned pos = 0; pos < kTail; pos += kCall) engine.Process(silence.data() + pos, kCall);
        benchmark::ClobberMemory();
    }
    Report(state, state.iterations() * kTail);
}

}  // namespace

// Argument: the open flags, M2S_MUSIC or 0 (Voice).
BENCHMARK(M2SMusic)->ArgName("flags")->Arg(M2S_MUSIC)->Arg(0);
BENCHMARK(M2SSilence)->ArgName("flags")->Arg(M2S_MUSIC)->Arg(0);
BENCHMARK(M2STail)->ArgName("flags")->Arg(M2S_MUSIC)->Arg(0);

// The engine against its reference kernel (the same computation in the plain
// order of the algorithm, bench/m2s_reference.h), call by call in the same
// run, each timed on the thread's CPU clock so that other processes' load
// falls on both alike. "ratio" is the engine's time over the reference's;
// "same_bits" is 1 when both gave the same output for the whole input.
#include "BenchCounters.h"
#include "m2s_reference.h"

namespace {

void M2SVersusReference(benchmark::State& state) {
    const unsigned flags = static_cast<unsigned>(state.range(0));
    Engine engine(flags);
    reference::MonoTo3D ref(kRate, (flags & M2S_MUSIC) != 0);
    const std::vector<short> music = MusicLike(64 * kCall);
    std::vector<short> outRef(2 * kCall);
    bool same = true;
    PairedTimes times;
    unsigned pos = 0;
    for (auto _ : state) {
        times.run(
            [&] { engine.Process(music.data() + pos, kCall); },
            [&] { ref.Process(music.data() + pos, reinterpret_cast<short(*)[2]>(outRef.data()), kCall); },
            kCall);
        same = same && std::equal(outRef.begin(), outRef.end(), engine.output.begin());
        pos = (pos + kCall) % static_cast<unsigned>(music.size());
        benchmark::ClobberMemory();
    }
    times.report(state, "engine", "reference");
    state.counters["same_bits"] = same ? 1 : 0;
}

}  // namespace

BENCHMARK(M2SVersusReference)->ArgName("flags")->Arg(M2S_MUSIC)->Arg(0);
