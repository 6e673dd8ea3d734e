// The processor's settings as hosts write them: one value per row of the
// parameter table, in one array indexed by Parameter, starting from the
// table's defaults. Any thread may write, without a lock the audio thread
// could wait on; the audio thread reads all of them as one consistent whole
// once per block, never half of a write.
//
// A version counts the writes: odd while one is under way, even between
// them. A reader that sees a write under way, or the version move while it
// reads, keeps what it had and looks again at the next block. Writers take
// turns on a flag of their own, which the audio thread never touches.
#pragma once

#include <atomic>
#include <cmath>

#include "Parameters.h"

namespace kesta {

class ParameterStore {
  public:
    ParameterStore() {
        for (int p = 0; p < kParameterCount; ++p) values_[p].store(kParameters[p].fallback);
    }

    // A value as Settings::set reads it: not a finite number counts as the
    // default (a spread that is not a number as 0 dB); the spread is clamped
    // to its range, the others are 0 or 1.
    static float Normalized(Parameter p, float value) {
        const ParameterInfo& info = InfoOf(p);
        if (p == Parameter::kSpread)
            return std::isnan(value) ? 0.0f : std::fmin(std::fmax(value, info.minimum), info.maximum);
        Settings s;
        s.set(p, value);
        return s.get(p);
    }

    void set(Parameter p, float value) {
        write([&] { values_[static_cast<int>(p)].store(Normalized(p, value), std::memory_order_relaxed); });
    }

    // Every parameter in one write: values indexed by Parameter, each as
    // set() reads it.
    void set(const float* values) {
        write([&] {
            for (int p = 0; p < kParameterCount; ++p)
                values_[p].store(Normalized(static_cast<Parameter>(p), values[p]), std::memory_order_relaxed);
        });
    }
    void set(const Settings& s) {
        float values[kParameterCount];
        for (int p = 0; p < kParameterCount; ++p) values[p] = s.get(static_cast<Parameter>(p));
        set(values);
    }

    // For the audio thread: when something was written since the version
    // *seen, the settings as a whole into *out, *seen moved on, and true;
    // false (nothing touched) when nothing was, or a write is under way.
    bool read(unsigned* seen, Settings* out) const {
        const unsigned before = version_.load(std::memory_order_acquire);
        if (before == *seen || (before & 1u) != 0) return false;
        Settings s;
        for (int p = 0; p < kParameterCount; ++p)
            s.set(static_cast<Parameter>(p), values_[p].load(std::memory_order_relaxed));
        std::atomic_thread_fence(std::memory_order_acquire);
        if (version_.load(std::memory_order_relaxed) != before) return false;
        *seen = before;
        *out = s;
        return true;
    }

    // For any thread: the settings as a whole, and the version they are of.
    Settings snapshot(unsigned* version = nullptr) const {
        unsigned seen = version_.load(std::memory_order_acquire) + 1u;
        Settings s;
        while (!read(&seen, &s)) seen = version_.load(std::memory_order_acquire) + 1u;
        if (version) *version = seen;
        return s;
    }

  private:
    template <class Write>
    void write(const Write& change) {
        while (writing_.exchange(true, std::memory_order_acquire)) {
        }
        const unsigned v = version_.load(std::memory_order_relaxed);
        version_.store(v + 1u, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
        change();
        version_.store(v + 2u, std::memory_order_release);
        writing_.store(false, std::memory_order_release);
    }

    std::atomic<float> values_[kParameterCount];
    std::atomic<unsigned> version_{0};
    std::atomic<bool> writing_{false};
};

}  // namespace kesta
