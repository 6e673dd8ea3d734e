// Throughput of the stereo widener as the player drives it: vastorProcess16
// at 44100 Hz in calls of 1024 frames, with the host's open flags.
//
// Three inputs: music-like noise, digital silence, and the silence right after
// a loud burst, while the recursive filters' tails decay. frames/s is stereo
// frames per second; x_realtime divides it by 44100. The "Unguarded" case
// runs the same network without the engine's flush-to-zero guard, to show
// what the decaying tail costs when subnormal arithmetic is left on.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "BenchCounters.h"
#include "MathLib.h"
#include "Mixbuf.h"
#include "Vastor.h"
#include "VastorFilter.h"

namespace {

constexpr unsigned kRate = 44100;
constexpr unsigned kBlock = 1024;
constexpr int kTailBlocks = 64;  // about 1.5 s of audio after each burst

std::vector<short> MusicLike(int frames) {
    std::vector<short> out(2 * static_cast<size_t>(frames));
    uint32_t state = 2463534242u;
    double phase = 0;
    for (int i = 0; i < frames; ++i) {
        phase += 2.0 * 3.14159265358979 * 220.0 / kRate;
        for (int side = 0; side < 2; ++side) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const double noise = static_cast<double>(state >> 8) / 16777216.0 - 0.5;
            out[2 * i + side] = static_cast<short>(8000.0 * std::sin(phase * (side + 1)) + 12000.0 * noise);
        }
    }
    return out;
}

const short (*Frames(const std::vector<short>& b))[2] {
    return reinterpret_cast<const short(*)[2]>(b.data());
}
short (*Frames(std::vector<short>& b))[2] {
    return reinterpret_cast<short(*)[2]>(b.data());
}

void BM_Process16Music(benchmark::State& state) {
    Vastor* h = nullptr;
    vastorOpen(&h, kRate, VASTOR_HIPASS_ON);
    const std::vector<short> in = MusicLike(64 * kBlock);
    std::vector<short> out(2 * kBlock);
    size_t at = 0;
    for (auto _ : state) {
        vastorProcess16(h, Frames(in) + at, Frames(out), kBlock);
        at = (at + kBlock) % (64 * kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    SetCounters(state, kBlock);
    vastorClose(h);
}

void BM_Process16Silence(benchmark::State& state) {
    Vastor* h = nullptr;
    vastorOpen(&h, kRate, VASTOR_HIPASS_ON);
    const std::vector<short> in(2 * kBlock, 0);
    std::vector<short> out(2 * kBlock);
    for (auto _ : state) {
        vastorProcess16(h, Frames(in), Frames(out), kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    SetCounters(state, kBlock);
    vastorClose(h);
}

// Each iteration: a loud burst (not timed), then kTailBlocks blocks of silence.
void BM_Process16TailAfterBurst(benchmark::State& state) {
    Vastor* h = nullptr;
    vastorOpen(&h, kRate, VASTOR_HIPASS_ON);
    std::vector<short> burst = MusicLike(kBlock);
    for (short& s : burst) s = static_cast<short>(s * 2);
    const std::vector<short> silence(2 * kBlock, 0);
    std::vector<short> out(2 * kBlock);
    for (auto _ : state) {
        state.PauseTiming();
        vastorReset(h);
        vastorProcess16(h, Frames(burst), Frames(out), kBlock);
        state.ResumeTiming();
        for (int b = 0; b < kTailBlocks; ++b) vastorProcess16(h, Frames(silence), Frames(out), kBlock);
        benchmark::DoNotOptimize(out.data());
    }
    SetCounters(state, static_cast<int64_t>(kTailBlocks) * kBlock);
    vastorClose(h);
}

// The engine's chunk loop over the same network, without the guard.
class UnguardedWidener {
  public:
    UnguardedWidener() : library_(GetFloatLibrary()), left_(kBlock), right_(kBlock) {
        library_->CreateBuffer(output_[0], kBlock);
        library_->CreateBuffer(output_[1], kBlock);
        network_ = CreateVastor(*library_, output_, kRate, kBlock, VASTOR_HIPASS_ON);
        input_ = network_->CreateVastorFilterInput();
    }
    ~UnguardedWidener() {
        delete network_;
        delete input_;
    }
    void Reset() {
        network_->Reset();
        input_->Reset();
    }
    void Process(const std::vector<short>& in, std::vector<short>& out) {
        const Buffer left(left_.data(), kMono16), right(right_.data(), kMono16);
        library_->Split(left, right, Buffer(in.data(), kStereo16), kBlock);
        input_->Mix(left, right, kBlock, 0);
        network_->Process(kBlock);
        output_[0].Merge(Buffer(out.data(), kStereo16), output_[1], kBlock);
        output_[0].used_ = 0;
        output_[1].used_ = 0;
    }

  private:
    MathLibrary* library_;
    std::vector<short> left_, right_;
    MixBuffer output_[2];
    VastorFilter* network_;
    VastorFilterInput* input_;
};

void BM_UnguardedTailAfterBurst(benchmark::State& state) {
    UnguardedWidener widener;
    std::vector<short> burst = MusicLike(kBlock);
    for (short& s : burst) s = static_cast<short>(s * 2);
    const std::vector<short> silence(2 * kBlock, 0);
    std::vector<short> out(2 * kBlock);
    for (auto _ : state) {
        state.PauseTiming();
        widener.Reset();
        widener.Process(burst, out);
        state.ResumeTiming();
        for (int b = 0; b < kTailBlocks; ++b) widener.Process(silence, out);
        benchmark::DoNotOptimize(out.data());
    }
    SetCounters(state, static_cast<int64_t>(kTailBlocks) * kBlock);
}

void BM_UnguardedMusic(benchmark::State& state) {
    UnguardedWidener widener;
    const std::vector<short> music = MusicLike(kBlock);
    std::vector<short> out(2 * kBlock);
    for (auto _ : state) {
        widener.Process(music, out);
        benchmark::DoNotOptimize(out.data());
    }
    SetCounters(state, kBlock);
}

}  // namespace

BENCHMARK(BM_Process16Music);
BENCHMARK(BM_Process16Silence);
BENCHMARK(BM_Process16TailAfterBurst);
BENCHMARK(BM_UnguardedMusic);
BENCHMARK(BM_UnguardedTailAfterBurst);

// The engine against its reference kernel (the same computation in the plain
// order of the algorithm, bench/vastor_reference.h), call by call in the same
// run, each timed on the thread's CPU clock so that other processes' load
// falls on both alike. "ratio" is the engine's time over the reference's;
// "same_bits" is 1 when both gave the same output for the whole input.
#include "vastor_reference.h"

namespace {

void BM_Process16VersusReference(benchmark::State& state) {
    constexpr int kBlocks = 64;
    const std::vector<short> in = MusicLike(kBlocks * kBlock);
    std::vector<short> out(2 * kBlock), outRef(2 * kBlock);
    Vastor* h = nullptr;
    vastorOpen(&h, kRate, VASTOR_HIPASS_ON);
    reference::Widener ref(kRate);
    bool same = true;
    PairedTimes times;
    size_t at = 0;
    for (auto _ : state) {
        times.run([&] { vastorProcess16(h, Frames(in) + at, Frames(out), kBlock); },
                  [&] { ref.Process(Frames(in) + at, Frames(outRef), kBlock); }, kBlock);
        same = same && out == outRef;
        at = (at + kBlock) % (kBlocks * kBlock);
        benchmark::DoNotOptimize(out.data());
        benchmark::DoNotOptimize(outRef.data());
    }
    times.report(state, "engine", "reference");
    state.counters["same_bits"] = same ? 1 : 0;
    vastorClose(h);
}

}  // namespace

BENCHMARK(BM_Process16VersusReference);
