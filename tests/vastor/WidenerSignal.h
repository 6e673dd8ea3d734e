// Test signals and engine drivers shared by the widener tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "MusicSignal.h"
#include "Vastor.h"

namespace widener_test {

// Interleaved 16-bit stereo, frame i at [2i] (left) and [2i + 1] (right).
using Block16 = std::vector<short>;

inline const short (*Frames(const Block16& b))[2] {
    return reinterpret_cast<const short(*)[2]>(b.data());
}
inline short (*Frames(Block16& b))[2] {
    return reinterpret_cast<short(*)[2]>(b.data());
}

// Music-like 16-bit material: a few partials with slow vibrato plus noise,
// peaking below amplitude * 32768. Deterministic for a given seed.
inline std::vector<short> Music(int n, uint32_t seed, double amplitude = 0.25) {
    const std::vector<double> shape = test_support::MusicShape(n, seed, 44100.0);
    std::vector<short> out(shape.size());
    for (size_t i = 0; i < shape.size(); ++i)
        out[i] = static_cast<short>(std::lround(amplitude * 32767.0 * shape[i]));
    return out;
}

inline Block16 Interleave(const std::vector<short>& left, const std::vector<short>& right) {
    Block16 b(2 * left.size());
    for (size_t i = 0; i < left.size(); ++i) {
        b[2 * i] = left[i];
        b[2 * i + 1] = right[i];
    }
    return b;
}

// Runs in through the engine in calls of the given sizes (cycled) and answers the output.
inline Block16 Process16(Vastor* h, const Block16& in, std::vector<int> calls = {1 << 30}) {
    Block16 out(in.size(), 0x5555);
    const int frames = static_cast<int>(in.size() / 2);
    size_t next = 0;
    for (int done = 0; done < frames;) {
        int k = calls[next++ % calls.size()];
        if (k > frames - done) k = frames - done;
        vastorProcess16(h, Frames(in) + done, Frames(out) + done, static_cast<unsigned>(k));
        done += k;
    }
    return out;
}

inline double FromDb(double db) {
    return std::pow(10.0, db / 20.0);
}

// Names parameterised tests after their open flags.
inline std::string FlagsName(const ::testing::TestParamInfo<unsigned>& info) {
    char name[16];
    std::snprintf(name, sizeof name, "Flags%08X", info.param);
    return name;
}

}  // namespace widener_test
