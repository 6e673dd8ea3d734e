// The widener's float entry points in small calls against 1024-frame calls
// (SmallCalls.h): vastorMonoFloat (planar) and vastorProcessFloat
// (interleaved), high-pass on and off, set up as the processor sets its
// wideners up at 44100 Hz (all-rates rows, chained 1024-frame glides, both
// inputs delayed to line up with the mono-to-3D paths).

#include "SmallCalls.h"
#include "Vastor.h"

namespace {

using namespace smallcalls;

// The input delay the processor gives its wideners at 44100 Hz.
constexpr int kAlignDelay = 20;

struct Widener {
    explicit Widener(bool hipass) {
        vastorOpen(&handle, kRate, (hipass ? VASTOR_HIPASS_ON : 0u) | VASTOR_ALL_RATES);
        vastorSetRampLength(handle, 1024);
        vastorSetChainedRamps(handle, 1);
        vastorSetInputDelay(handle, kAlignDelay, kAlignDelay);
        for (int side = 0; side < 2; ++side) {
            in[side] = Material(side);
            out[side].resize(static_cast<size_t>(kLarge));
        }
        interleaved.resize(2 * static_cast<size_t>(kFrames));
        for (size_t i = 0; i < static_cast<size_t>(kFrames); ++i) {
            interleaved[2 * i] = in[0][i];
            interleaved[2 * i + 1] = in[1][i];
        }
        interleavedOut.resize(2 * static_cast<size_t>(kLarge));
    }
    ~Widener() { vastorClose(handle); }

    Vastor* handle = nullptr;
    std::vector<float> in[2], out[2], interleaved, interleavedOut;
};

// Arguments: interleaved (0: vastorMonoFloat, 1: vastorProcessFloat), high-pass, block frames,
// nested (SmallCalls.h).
void BM_FloatBlocksVersus1024(benchmark::State& state) {
    const bool interleaved = state.range(0) != 0, hipass = state.range(1) != 0;
    Widener small(hipass), large(hipass);
    const int block = static_cast<int>(state.range(2));
    RunVersus1024(state, small, large, block, state.range(3) != 0, [&](Widener& w, int at, int n) {
        const size_t from = static_cast<size_t>(at), to = static_cast<size_t>(at % kLarge);
        if (interleaved) {
            vastorProcessFloat(w.handle, reinterpret_cast<const float(*)[2]>(w.interleaved.data() + 2 * from),
                               reinterpret_cast<float(*)[2]>(w.interleavedOut.data() + 2 * to),
                               static_cast<unsigned>(n));
        } else {
            vastorMonoFloat(w.handle, w.in[0].data() + from, w.in[1].data() + from, w.out[0].data() + to,
                            w.out[1].data() + to, static_cast<unsigned>(n));
        }
        benchmark::DoNotOptimize(w.out[0].data());
        benchmark::DoNotOptimize(w.interleavedOut.data());
    });
}

}  // namespace

BENCHMARK(BM_FloatBlocksVersus1024)
    ->ArgNames({"interleaved", "hipass", "block", "nested"})
    ->ArgsProduct({{0, 1}, {1, 0}, {64}, {0, 1}});
