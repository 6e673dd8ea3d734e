// A plain scalar model of the sample conversion rules, worked in double
// precision with floor/trunc instead of shifts and integer casts, against
// which the library's block conversions are checked. Samples are carried as
// doubles holding the stored value: 0..255 for 8-bit, -32768..32767 for
// 16-bit, the float itself for float.
#pragma once

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "Wavedata.h"

namespace model {

enum Kind { k8, k16, kFloat };

inline Kind kindOf(int type) {
    return Buffer::bits_[type] == 8 ? k8 : Buffer::bits_[type] == 16 ? k16 : kFloat;
}

inline double clampTo(double v, double lo, double hi) {
    return v < lo ? lo : v > hi ? hi : v;
}

inline double convert(double v, Kind from, Kind to) {
    if (from == to) return v;
    if (from == k8) return to == k16 ? (v - 128) * 256 : (v - 128) / 128;
    if (from == k16) return to == kFloat ? v / 32768 : clampTo(std::floor((v + 32896) / 256), 0, 255);
    const double t = std::trunc(v * 32768 + 0.5);
    if (to == k16) return clampTo(t, -32768, 32767);
    return clampTo(std::floor((t + 32896) / 256), 0, 255);
}

// Mean of two samples of one kind: floor for integers, float rounding for floats.
inline double mean(double l, double r, Kind k) {
    if (k == kFloat) return static_cast<float>((l + r) * 0.5);
    return std::floor((l + r) / 2);
}

inline double read(const void* data, Kind k, size_t i) {
    if (k == k8) return static_cast<const unsigned char*>(data)[i];
    if (k == k16) return static_cast<const short*>(data)[i];
    return static_cast<const float*>(data)[i];
}

inline void write(void* data, Kind k, size_t i, double v) {
    if (k == k8)
        static_cast<unsigned char*>(data)[i] = static_cast<unsigned char>(v);
    else if (k == k16)
        static_cast<short*>(data)[i] = static_cast<short>(v);
    else
        static_cast<float*>(data)[i] = static_cast<float>(v);
}

// Values that exercise every rule's boundaries, followed by random ones.
inline std::vector<double> testValues(Kind k, size_t count, unsigned seed) {
    std::vector<double> v;
    std::mt19937 rng(seed);
    if (k == k8) {
        for (int b = 0; b < 256; ++b) v.push_back(b);
        std::uniform_int_distribution<int> any(0, 255);
        while (v.size() < count) v.push_back(any(rng));
    } else if (k == k16) {
        for (double e : {-32768.0, -32767.0, -129.0, -128.0, -1.0, 0.0, 1.0, 127.0, 128.0, 32639.0, 32640.0,
                         32766.0, 32767.0})
            v.push_back(e);
        std::uniform_int_distribution<int> any(-32768, 32767);
        while (v.size() < count) v.push_back(any(rng));
    } else {
        for (double e : {0.0, -0.0, 1.0, -1.0, -1.0000152587890625, 2.0, -2.0, 0.00001, -0.00002, -0.0001,
                         0.5, -0.5, 0.999969482421875, -0.999969482421875, 1e-30, -1e-30, 1e6, -1e6})
            v.push_back(static_cast<float>(e));
        std::uniform_real_distribution<float> any(-2.5f, 2.5f);
        while (v.size() < count) v.push_back(any(rng));
    }
    v.resize(count);
    return v;
}

// A block of `frames` frames of `type`, its samples taken from testValues with
// each channel, and each seed, starting at a different offset.
struct Block {
    Block(int type, Samples frames, unsigned seed) : type(type), frames(frames) {
        const int channels = Buffer::channels_[type];
        const std::vector<double> values = testValues(kindOf(type), frames * channels + 7, seed);
        bytes.assign(static_cast<size_t>(frames) * Buffer::sizes_[type] + kGuard, 0x5A);
        for (Samples i = 0; i < frames; ++i)
            for (int c = 0; c < channels; ++c)
                model::write(bytes.data(), kindOf(type), i * channels + c,
                             values[(i + c * 7 + seed) % values.size()]);
    }
    // Garbage in every byte, including a guard area after the last frame.
    static Block garbage(int type, Samples frames) {
        Block b;
        b.type = type;
        b.frames = frames;
        b.bytes.assign(static_cast<size_t>(frames) * Buffer::sizes_[type] + kGuard, 0x5A);
        return b;
    }

    Buffer buffer() { return Buffer(bytes.data(), type); }
    double sample(Samples frame, int channel) const {
        return model::read(bytes.data(), kindOf(type), frame * Buffer::channels_[type] + channel);
    }
    bool guardIntact() const {
        for (size_t i = bytes.size() - kGuard; i < bytes.size(); ++i)
            if (bytes[i] != 0x5A) return false;
        return true;
    }
    bool isSilent() const {
        const unsigned char silence = kindOf(type) == k8 ? 0x80 : 0;
        for (size_t i = 0; i < bytes.size() - kGuard; ++i)
            if (bytes[i] != silence) return false;
        return true;
    }

    static constexpr size_t kGuard = 32;
    int type = 0;
    Samples frames = 0;
    std::vector<unsigned char> bytes;

  private:
    Block() = default;
};

}  // namespace model
