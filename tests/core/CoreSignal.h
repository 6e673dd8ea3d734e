// Signals and drivers shared by the float core's tests.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "MusicSignal.h"
#include "Processor.h"

namespace core_test {

constexpr double kPi = 3.14159265358979323846;

// Music-like float material for one channel: a few partials with slow
// vibrato plus noise, below amplitude in magnitude. Deterministic per seed.
inline std::vector<float> Music(int n, uint32_t seed, double amplitude = 0.25, double rate = 44100.0) {
    const std::vector<double> shape = test_support::MusicShape(n, seed, rate);
    std::vector<float> out(shape.size());
    for (size_t i = 0; i < shape.size(); ++i) out[i] = static_cast<float>(amplitude * shape[i]);
    return out;
}

inline std::vector<float> Sine(int n, double hz, double amplitude, double rate = 44100.0) {
    std::vector<float> out(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i)
        out[static_cast<size_t>(i)] = static_cast<float>(amplitude * std::sin(2.0 * kPi * hz * i / rate));
    return out;
}

// Interleaves channels of equal length.
inline std::vector<float> Interleave(const std::vector<std::vector<float>>& channels) {
    const size_t c = channels.size(), n = channels[0].size();
    std::vector<float> out(c * n);
    for (size_t i = 0; i < n; ++i)
        for (size_t k = 0; k < c; ++k) out[i * c + k] = channels[k][i];
    return out;
}

// Channel c (0 or 1) of interleaved stereo.
inline std::vector<float> Channel(const std::vector<float>& stereo, int c) {
    std::vector<float> out(stereo.size() / 2);
    for (size_t i = 0; i < out.size(); ++i) out[i] = stereo[2 * i + static_cast<size_t>(c)];
    return out;
}

// Something done to the processor before the block starting at frame `at`.
struct Event {
    int at;
    std::function<void(kesta::Processor&)> apply;
};

// Streams interleaved input through p in calls whose sizes next() gives (a size
// is cut short at the next event and at the end), applying each event at its
// frame. Answers the interleaved stereo output.
inline std::vector<float> Stream(kesta::Processor& p, const std::vector<float>& in,
                                 const std::function<int()>& next, const std::vector<Event>& events = {}) {
    const int ch = p.channels();
    const int frames = static_cast<int>(in.size()) / ch;
    std::vector<float> out(2 * static_cast<size_t>(frames), 12345.0f);
    size_t e = 0;
    for (int done = 0; done < frames;) {
        while (e < events.size() && events[e].at <= done) events[e++].apply(p);
        int k = std::max(1, next());
        k = std::min(k, frames - done);
        if (e < events.size()) k = std::min(k, events[e].at - done);
        p.process(in.data() + static_cast<size_t>(done) * ch, out.data() + 2 * static_cast<size_t>(done), k);
        done += k;
    }
    return out;
}

inline std::function<int()> Fixed(int k) {
    return [k] { return k; };
}

// Block sizes from 1 to limit, deterministic per seed.
inline std::function<int()> RandomSizes(uint32_t seed, int limit) {
    auto state = std::make_shared<uint32_t>(seed);
    return [state, limit] {
        *state = *state * 1664525u + 1013904223u;
        return 1 + static_cast<int>((*state >> 8) % static_cast<uint32_t>(limit));
    };
}

// The largest |x[i] - x[i-1]| from frame `from` on, of one channel of interleaved stereo.
inline float LargestStep(const std::vector<float>& stereo, int c, size_t from = 1) {
    float step = 0.0f;
    for (size_t i = std::max<size_t>(from, 1); i < stereo.size() / 2; ++i)
        step = std::max(step, std::fabs(stereo[2 * i + c] - stereo[2 * (i - 1) + c]));
    return step;
}

inline double Energy(const std::vector<float>& x, size_t from = 0, size_t to = SIZE_MAX) {
    double e = 0;
    for (size_t i = from; i < std::min(to, x.size()); ++i) e += static_cast<double>(x[i]) * x[i];
    return e;
}

// A prepared processor with the given settings.
inline void Prepare(kesta::Processor& p, unsigned rate, int channels, const kesta::Settings& s,
                    int maxBlock = 4096) {
    p.setSettings(s);
    ASSERT_TRUE(p.prepare(rate, channels, maxBlock));
}

}  // namespace core_test
