// Throughput of the recursive filters at the engines' 1024-frame chunks, in
// frames per second. Each iteration filters a fresh copy of the same noise, so
// the state never decays into denormals.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "Filter.h"
#include "FilterDesign.h"
#include "Flt2p0z.h"
#include "MathLib.h"
#include "Mixbuf.h"

namespace {

const Samples kFrames = 1024;

void ProcessChunks(benchmark::State& state, InPlaceFilter& filter) {
    std::vector<float> noise(kFrames), work(kFrames);
    std::mt19937 rng(1);
    std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
    for (float& v : noise) v = dist(rng);
    MixBuffer buffer(*GetFloatLibrary(), Buffer(work.data(), kMonoFloat), kFrames);
    for (auto _ : state) {
        std::memcpy(work.data(), noise.data(), sizeof(float) * kFrames);
        filter.Process(buffer);
        benchmark::DoNotOptimize(work.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}

// The 44100 Hz row of the multi-stage widening filter: four pole pairs.
const IIRRoot kPoles[4] = {{3000.0f, 0.868f}, {4343.17f, 0.913f}, {1000.0f, 0.928f}, {5285.6f, 0.962f}};

void BM_AllPoleFourSections(benchmark::State& state) {
    const IIR2p0zCoeffs coeffs = {44100, -0.00056811573f, 4, kPoles};
    std::unique_ptr<IIR2p0zFilter> filter(GetFloatLibrary()->CreateFilter(&coeffs));
    ProcessChunks(state, *filter);
}
BENCHMARK(BM_AllPoleFourSections);

void BM_BiquadFourSections(benchmark::State& state) {
    BiquadRoots roots[4];
    for (int k = 0; k < 4; ++k) roots[k] = {kPoles[k], {24.0f + 100.0f * k, 0.84f}};
    const BiquadCoeffs2 coeffs = {44100, -0.44f, 4, roots};
    std::unique_ptr<BiquadFilter> filter(GetFloatLibrary()->CreateFilter(&coeffs));
    ProcessChunks(state, *filter);
}
BENCHMARK(BM_BiquadFourSections);

void BM_Hipass(benchmark::State& state) {
    std::unique_ptr<SingleFreqFilter> filter(GetFloatLibrary()->CreateHighpass(44100));
    filter->SetFrequency(75);
    ProcessChunks(state, *filter);
}
BENCHMARK(BM_Hipass);

}  // namespace
