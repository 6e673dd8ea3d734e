// Throughput of the math library's inner loops in frames per second, at the
// engines' 1024-frame blocks: the ramped add and copy behind every mix, and
// the clip-counting store of a stereo pair into the host's 16-bit block.
#include <benchmark/benchmark.h>

#include <vector>

#include "MathLib.h"

namespace {

constexpr Samples kBlock = 1024;

void reportFrames(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations() * kBlock);
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * kBlock, benchmark::Counter::kIsRate);
}

std::vector<float> signal(float level) {
    std::vector<float> v(kBlock);
    for (Samples i = 0; i < kBlock; ++i) v[i] = level * static_cast<float>((i * 37) % 201 - 100) / 100.0f;
    return v;
}

void AddRampedFloatRampingGain(benchmark::State& state) {
    const std::vector<float> src = signal(0.5f);
    std::vector<float> dst(kBlock, 0.0f);
    MathLibrary& lib = *GetFloatLibrary();
    for (auto _ : state) {
        lib.AddRamped(Buffer(dst.data(), kMonoFloat), Buffer(src.data(), kMonoFloat), 0.25f, 1e-4f, kBlock);
        benchmark::ClobberMemory();
    }
    reportFrames(state);
}
BENCHMARK(AddRampedFloatRampingGain);

void CopyRampedSixteenBit(benchmark::State& state) {
    std::vector<short> src(kBlock);
    for (Samples i = 0; i < kBlock; ++i) src[i] = static_cast<short>((i * 977) % 65536 - 32768);
    std::vector<float> dst(kBlock);
    MathLibrary& lib = *GetFloatLibrary();
    for (auto _ : state) {
        lib.CopyRamped(Buffer(dst.data(), kMonoFloat), Buffer(src.data(), kMono16), 0.8f, 0.0f, kBlock);
        benchmark::ClobberMemory();
    }
    reportFrames(state);
}
BENCHMARK(CopyRampedSixteenBit);

void CopyRampedSixteenBitRampingGain(benchmark::State& state) {
    std::vector<short> src(kBlock);
    for (Samples i = 0; i < kBlock; ++i) src[i] = static_cast<short>((i * 977) % 65536 - 32768);
    std::vector<float> dst(kBlock);
    MathLibrary& lib = *GetFloatLibrary();
    for (auto _ : state) {
        lib.CopyRamped(Buffer(dst.data(), kMonoFloat), Buffer(src.data(), kMono16), 0.8f, -1e-4f, kBlock);
        benchmark::ClobberMemory();
    }
    reportFrames(state);
}
BENCHMARK(CopyRampedSixteenBitRampingGain);

// level 0.9 stays within full scale; 1.2 clips about one sample in six, so the
// clip counters and the saturation are exercised too.
void MergeStereoSixteenBit(benchmark::State& state) {
    const float level = static_cast<float>(state.range(0)) / 100.0f;
    const std::vector<float> left = signal(level), right = signal(-level);
    std::vector<Stereo<short>> dst(kBlock);
    unsigned int clips[2] = {0, 0};
    MathLibrary& lib = *GetFloatLibrary();
    for (auto _ : state) {
        lib.Merge(Buffer(dst.data(), kStereo16), Buffer(left.data(), kMonoFloat),
                  Buffer(right.data(), kMonoFloat), kBlock, clips);
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(clips);
    reportFrames(state);
}
BENCHMARK(MergeStereoSixteenBit)->ArgName("levelPercent")->Arg(90)->Arg(120);

}  // namespace
