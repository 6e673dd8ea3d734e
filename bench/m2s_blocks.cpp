// The mono-to-3D engine's float entry point, m2sProcessFloat, in small calls
// against 1024-frame calls (SmallCalls.h), in Music and Voice, high-pass on
// and off, set up as the processor sets its engines up at 44100 Hz
// (all-rates rows, chained 1024-frame glides).

#include "M2s.h"
#include "SmallCalls.h"

namespace {

using namespace smallcalls;

struct MonoTo3DEngine {
    MonoTo3DEngine(unsigned flags, bool hipass) : in(Material(0)), out(2 * static_cast<size_t>(kLarge)) {
        m2sOpen(&handle, kRate, flags | M2S_ALL_RATES);
        m2sEnableHipass(handle, hipass ? 1 : 0);
        m2sSetRampLength(handle, 1024);
        m2sSetChainedRamps(handle, 1);
    }
    ~MonoTo3DEngine() { m2sClose(handle); }

    M2S* handle = nullptr;
    std::vector<float> in, out;
};

// Arguments: the open flags (M2S_MUSIC or 0 for Voice), high-pass, block frames, nested
// (SmallCalls.h).
void M2SFloatBlocksVersus1024(benchmark::State& state) {
    const unsigned flags = static_cast<unsigned>(state.range(0));
    const bool hipass = state.range(1) != 0;
    MonoTo3DEngine small(flags, hipass), large(flags, hipass);
    const int block = static_cast<int>(state.range(2));
    RunVersus1024(state, small, large, block, state.range(3) != 0, [](MonoTo3DEngine& e, int at, int n) {
        m2sProcessFloat(e.handle, e.in.data() + at,
                        reinterpret_cast<float(*)[2]>(e.out.data() + 2 * static_cast<size_t>(at % kLarge)),
                        static_cast<unsigned>(n));
        benchmark::DoNotOptimize(e.out.data());
    });
}

}  // namespace

BENCHMARK(M2SFloatBlocksVersus1024)
    ->ArgNames({"flags", "hipass", "block", "nested"})
    ->ArgsProduct({{M2S_MUSIC, 0}, {1, 0}, {64}, {0, 1}});
