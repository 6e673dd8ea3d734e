// What small blocks cost: the processor on a 44100 Hz stream called with
// blocks of 1, 16, 64, 256 and 1024 frames, stereo (widened) and mono (the
// mono-to-3D engine in Music mode), interleaved as the renderer calls it and
// planar as the plug-ins call it.
//
// BM_Blocks runs one processor at the block size (arguments: channels, block
// frames) and reports its per-frame time and x_realtime. BM_BlocksVersus1024
// runs a second processor beside it on the same material in 1024-frame calls,
// call by call, and reports "ratio": the small blocks' time per frame over
// the large ones', which holds on a busy machine.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "BenchCounters.h"
#include "Processor.h"

namespace {

constexpr unsigned kRate = 44100;
constexpr int kLarge = 1024;
constexpr int kFrames = 64 * kLarge;  // material, cycled

// One processor and its material, called a block at a time.
struct Stream {
    Stream(int channels, int block, bool planar) : channels(channels), block(block), planar(planar) {
        p.prepare(kRate, channels, block);
        for (int c = 0; c < channels; ++c) in[c] = ToneAndNoise(kFrames, c, kRate);
        interleaved.resize(static_cast<size_t>(kFrames) * channels);
        for (int i = 0; i < kFrames; ++i)
            for (int c = 0; c < channels; ++c)
                interleaved[static_cast<size_t>(i) * channels + c] = in[c][static_cast<size_t>(i)];
        for (std::vector<float>& o : out) o.resize(static_cast<size_t>(kLarge));
        interleavedOut.resize(2 * static_cast<size_t>(kLarge));
    }

    // frames frames (a multiple of block, at most kLarge) from the material.
    void run(int frames) {
        for (int done = 0; done < frames; done += block) {
            const size_t at = static_cast<size_t>(position);
            if (planar) {
                const float* i[2] = {in[0].data() + at, in[channels - 1].data() + at};
                float* o[2] = {out[0].data() + done, out[1].data() + done};
                p.processPlanar(i, o, block);
            } else {
                p.process(interleaved.data() + at * channels, interleavedOut.data() + 2 * done, block);
            }
            position = (position + block) % kFrames;
        }
        benchmark::DoNotOptimize(out[0].data());
        benchmark::DoNotOptimize(interleavedOut.data());
    }

    kesta::Processor p;
    int channels, block;
    bool planar;
    int position = 0;
    std::vector<float> in[2], interleaved, out[2], interleavedOut;
};

// Arguments: channels, block frames, planar (0 or 1).
void BM_Blocks(benchmark::State& state) {
    const int block = static_cast<int>(state.range(1));
    Stream s(static_cast<int>(state.range(0)), block, state.range(2) != 0);
    const int frames = kLarge / block * block;
    for (auto _ : state) s.run(frames);
    SetCounters(state, frames);
    SetNsPerFrame(state, frames);
}

// Arguments: channels, block frames, planar (0 or 1).
void BM_BlocksVersus1024(benchmark::State& state) {
    const int channels = static_cast<int>(state.range(0)), block = static_cast<int>(state.range(1));
    const bool planar = state.range(2) != 0;
    Stream small(channels, block, planar), large(channels, kLarge, planar);
    PairedTimes times;
    for (auto _ : state) times.run([&] { small.run(kLarge); }, [&] { large.run(kLarge); }, kLarge);
    times.report(state, "block", "block1024");
}

void BlockArgs(benchmark::internal::Benchmark* b) {
    for (int planar : {0, 1})
        for (int channels : {2, 1})
            for (int block : {1, 16, 64, 256, 1024}) b->Args({channels, block, planar});
}

BENCHMARK(BM_Blocks)->Apply(BlockArgs);
BENCHMARK(BM_BlocksVersus1024)->Apply(BlockArgs);

}  // namespace
