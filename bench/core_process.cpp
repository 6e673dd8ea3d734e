// What the float core costs over the engine it wraps: the processor on a
// 44100 Hz stereo stream against vastorProcessFloat alone (same material,
// calls of 1024 frames), with automatic mono off and on. Real stereo
// material, so automatic mono only measures and the widener plays alone.
// A mono stream through the processor is shown beside them.
//
// frames/s counts stereo frames per second; x_realtime divides it by 44100.
// ProcessorVersusEngine runs both side by side, block by block, and reports
// the processor's time over the engine's ("ratio"), which holds on a busy
// machine where the separate figures drift. LimiterCost does the same for
// the processor with its limiter on and off: "ratio" - 1 is the limiter's
// share over the processor without it. (Each call's input is read
// beforehand, so that neither side pays for fetching it.)

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "BenchCounters.h"
#include "Limiter.h"
#include "Processor.h"
#include "Vastor.h"

namespace {

constexpr unsigned kRate = 44100;
constexpr int kBlock = 1024;
constexpr int kBlocks = 64;

// Interleaved float stereo (or mono): a tone per side and independent noise.
std::vector<float> MusicLike(int frames, int channels) {
    std::vector<float> out(static_cast<size_t>(frames) * channels);
    uint32_t state = 2463534242u;
    double phase = 0;
    for (int i = 0; i < frames; ++i) {
        phase += 2.0 * 3.14159265358979 * 220.0 / kRate;
        for (int side = 0; side < channels; ++side) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const double noise = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
            out[static_cast<size_t>(i) * channels + side] =
                static_cast<float>(0.25 * std::sin(phase * (side + 1)) + 0.35 * noise);
        }
    }
    return out;
}

// Two processors with settings a and b on the same material (channels,
// scaled by gain, the side of stereo by side), timed call by call in
// 1024-frame calls; reported as "<first>" and "<second>", with "ratio" first's
// time over second's. Each call's input is read before either runs:
// otherwise the first brings it into the cache for both, which on material
// larger than the cache (a recording) it pays alone.
void RunPaired(benchmark::State& state, const kesta::Settings& a, const kesta::Settings& b, int channels,
               const char* first, const char* second, float gain = 1.0f, float side = 1.0f,
               std::vector<float> in = {}) {
    kesta::Processor one, two;
    one.setSettings(a);
    two.setSettings(b);
    one.prepare(kRate, channels, kBlock);
    two.prepare(kRate, channels, kBlock);
    if (in.empty()) in = MusicLike(kBlock * kBlocks, channels);
    for (float& x : in) x *= gain;
    for (size_t i = 0; channels == 2 && i < in.size(); i += 2) {
        const float m = 0.5f * (in[i] + in[i + 1]), d = 0.5f * (in[i] - in[i + 1]);
        in[i] = m + side * d;
        in[i + 1] = m - side * d;
    }
    std::vector<float> out(2 * static_cast<size_t>(kBlock)), outTwo(out.size());
    PairedTimes times;
    size_t at = 0;
    const size_t call = static_cast<size_t>(channels) * kBlock;
    for (auto _ : state) {
        float sum = 0.0f;
        for (size_t i = 0; i < call; i += 16) sum += in[at + i];  // a sample per cache line
        benchmark::DoNotOptimize(sum);
        times.run([&] { one.process(in.data() + at, out.data(), kBlock); },
                  [&] { two.process(in.data() + at, outTwo.data(), kBlock); }, kBlock);
        at = (at + call) % in.size();
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(outTwo.data());
    }
    times.report(state, first, second);
}

void BM_VastorProcessFloat(benchmark::State& state) {
    Vastor* h = nullptr;
    vastorOpen(&h, kRate, VASTOR_HIPASS_ON | VASTOR_ALL_RATES);
    const std::vector<float> in = MusicLike(kBlock * kBlocks, 2);
    std::vector<float> out(in.size());
    for (auto _ : state) {
        for (int b = 0; b < kBlocks; ++b) {
            const size_t at = static_cast<size_t>(b) * kBlock * 2;
            vastorProcessFloat(h, reinterpret_cast<const float(*)[2]>(in.data() + at),
                               reinterpret_cast<float(*)[2]>(out.data() + at), kBlock);
        }
        benchmark::DoNotOptimize(out.data());
    }
    SetCounters(state, static_cast<int64_t>(kBlock) * kBlocks);
    vastorClose(h);
}
BENCHMARK(BM_VastorProcessFloat);

void RunProcessor(benchmark::State& state, int channels, bool autoMono) {
    kesta::Processor p;
    kesta::Settings s;
    s.autoMono = autoMono;
    p.setSettings(s);
    p.prepare(kRate, channels, kBlock);
    const std::vector<float> in = MusicLike(kBlock * kBlocks, channels);
    std::vector<float> out(2 * static_cast<size_t>(kBlock) * kBlocks);
    for (auto _ : state) {
        for (int b = 0; b < kBlocks; ++b)
            p.process(in.data() + static_cast<size_t>(b) * kBlock * channels,
                      out.data() + static_cast<size_t>(b) * kBlock * 2, kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    SetCounters(state, static_cast<int64_t>(kBlock) * kBlocks);
}

void BM_ProcessorStereo(benchmark::State& state) {
    RunProcessor(state, 2, false);
}
BENCHMARK(BM_ProcessorStereo);

void BM_ProcessorStereoAutoMono(benchmark::State& state) {
    RunProcessor(state, 2, true);
}
BENCHMARK(BM_ProcessorStereoAutoMono);

void BM_ProcessorMono(benchmark::State& state) {
    RunProcessor(state, 1, true);
}
BENCHMARK(BM_ProcessorMono);

// Argument: automatic mono off (0) or on (1).
void BM_ProcessorVersusEngine(benchmark::State& state) {
    Vastor* h = nullptr;
    vastorOpen(&h, kRate, VASTOR_HIPASS_ON | VASTOR_ALL_RATES);
    kesta::Processor p;
    kesta::Settings s;
    s.autoMono = state.range(0) != 0;
    p.setSettings(s);
    p.prepare(kRate, 2, kBlock);
    const std::vector<float> in = MusicLike(kBlock * kBlocks, 2);
    std::vector<float> out(2 * static_cast<size_t>(kBlock)), outEngine(out.size());
    PairedTimes times;
    size_t at = 0;
    for (auto _ : state) {
        times.run([&] { p.process(in.data() + at, out.data(), kBlock); },
                  [&] {
                      vastorProcessFloat(h, reinterpret_cast<const float(*)[2]>(in.data() + at),
                                         reinterpret_cast<float(*)[2]>(outEngine.data()), kBlock);
                  },
                  kBlock);
        at = (at + 2 * kBlock) % in.size();
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(outEngine.data());
    }
    times.report(state, "processor", "engine");
    vastorClose(h);
}
BENCHMARK(BM_ProcessorVersusEngine)->Arg(0)->Arg(1);

// Argument: the input's gain in dB. At 0 the output stays under the
// ceiling (the limiter only watches); at +12 it is over it most of the time
// (the limiter works on every frame).
void BM_LimiterCost(benchmark::State& state) {
    kesta::Settings on, off;
    off.limiter = false;
    RunPaired(state, on, off, 2, "limiter_on", "limiter_off",
              std::pow(10.0f, static_cast<float>(state.range(0)) / 20.0f));
}
BENCHMARK(BM_LimiterCost)->Arg(-12)->Arg(-6)->Arg(0)->Arg(12);

// The same on a real recording (a Debian package's music, 44.1 kHz stereo,
// 30 s from its first minute, normalised to 0 dBFS), pushed over the
// ceiling by the argument in dB.
void BM_LimiterCostMusic(benchmark::State& state) {
    static const std::vector<float> music = [] {
        std::vector<float> x;
        SF_INFO info{};
        SNDFILE* f = sf_open("/usr/share/games/etr/music/spunkyrace-ks.ogg", SFM_READ, &info);
        if (!f) return x;
        if (info.channels == 2 && info.samplerate == static_cast<int>(kRate) &&
            sf_seek(f, 60 * kRate, SEEK_SET) >= 0) {
            x.resize(30 * kRate * 2);
            x.resize(2 * static_cast<size_t>(sf_readf_float(f, x.data(), 30 * kRate)) / kBlock * kBlock);
        }
        sf_close(f);
        float peak = 0.0f;
        for (float v : x) peak = std::max(peak, std::fabs(v));
        for (float& v : x) v = peak > 0.0f ? v / peak : v;
        return x;
    }();
    if (music.empty()) {
        state.SkipWithError("the recording (package extremetuxracer-data) cannot be read");
        return;
    }
    kesta::Settings on, off;
    off.limiter = false;
    RunPaired(state, on, off, 2, "limiter_on", "limiter_off",
              std::pow(10.0f, static_cast<float>(state.range(0)) / 20.0f), 1.0f, music);
}
BENCHMARK(BM_LimiterCostMusic)->Arg(0)->Arg(12);

// The limiter alone on the processor's output (the same material through a
// processor with it off), to set beside BM_ProcessorStereo. Argument: the
// input's gain in dB, as for LimiterCost.
void BM_LimiterAlone(benchmark::State& state) {
    kesta::Processor off;
    kesta::Settings s;
    s.limiter = false;
    off.setSettings(s);
    off.prepare(kRate, 2, kBlock);
    std::vector<float> in = MusicLike(kBlock * kBlocks, 2);
    const float gain = std::pow(10.0f, static_cast<float>(state.range(0)) / 20.0f);
    for (float& x : in) x *= gain;
    std::vector<float> made(in.size()), out(2 * static_cast<size_t>(kBlock));
    off.process(in.data(), made.data(), kBlock * kBlocks);
    kesta::Limiter limiter;
    limiter.prepare(kRate, kBlock);
    for (auto _ : state) {
        for (int b = 0; b < kBlocks; ++b) {
            // (The copy stands for the processor's writing of the block.)
            std::copy_n(made.data() + static_cast<size_t>(b) * kBlock * 2, 2 * kBlock, out.data());
            limiter.process(out.data(), out.data() + 1, 2, kBlock, true);
            benchmark::DoNotOptimize(out.data());
        }
    }
    SetCounters(state, static_cast<int64_t>(kBlock) * kBlocks);
}
BENCHMARK(BM_LimiterAlone)->Arg(-12)->Arg(0)->Arg(12);

// What automatic mono costs on stereo: the processor with it on against the
// processor with it off, call by call; "ratio" - 1 is the mono detector's
// share of the processor's time. Argument: the side lowered by that many dB
// (30: a mix so narrow that every hop is measured).
void BM_AutoMonoCost(benchmark::State& state) {
    kesta::Settings on, off;
    on.autoMono = true;
    off.autoMono = false;
    RunPaired(state, on, off, 2, "auto_mono", "without", 1.0f,
              std::pow(10.0f, -static_cast<float>(state.range(0)) / 20.0f));
}
BENCHMARK(BM_AutoMonoCost)->Arg(0)->Arg(30);

// What loudness matching costs: the processor with it on against the
// processor with it off, call by call; "ratio" - 1 is the matching's share
// of the processor's time. Argument: the stream's channels (2: the widener;
// 1: Music mode).
void BM_MatchCost(benchmark::State& state) {
    // (The limiter off in both: matching lowers the level, which would
    // spare the limiter work and hide the matching's own cost.)
    kesta::Settings on, off;
    on.limiter = off.limiter = false;
    off.match = false;
    RunPaired(state, on, off, static_cast<int>(state.range(0)), "match_on", "match_off");
}
BENCHMARK(BM_MatchCost)->Arg(2)->Arg(1)->MinTime(2.0);

}  // namespace
