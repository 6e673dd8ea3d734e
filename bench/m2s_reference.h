// The reference kernel of the mono-to-3D engine (see vastor_reference.h).
#pragma once

#include "M2sfir.h"
#include "vastor_reference.h"

namespace reference {

// m2sProcess16 in Music (FIR bus and delayed bus into the single network) or
// Voice (the mono signal on both sides of a dual network), spread 0 dB.
class MonoTo3D {
  public:
    MonoTo3D(long rate, bool music)
        : music_(music),
          voice_(rate, 0xc0000000u, 1.0f, Math::from_mb(-1000), static_cast<int>(rate * 0.0005 + 0.5), 200,
                 rate > 32000 ? 4 : 1),
          hp_(rate, 125),
          widen_(Dual::Make(rate, 0x80000000u, &unused_)),
          delayed_(64) {
        long delay = 0;
        FloatFIR* fir = dynamic_cast<FloatFIR*>(CreateShortM2SFilter(*GetFloatLibrary(), rate, &delay));
        taps_.assign(fir->coeffs_, fir->coeffs_ + fir->tapCount_);
        delete fir;
        firDelay_ = static_cast<int>(delay);
        history_.assign(2 * taps_.size(), 0.0f);
        position_ = static_cast<int>(taps_.size()) - 1;
    }

    void Process(const short* in, short (*out)[2], int frames) {
        for (int done = 0; done < frames; done += kChunk) {
            const int n = std::min(kChunk, frames - done);
            if (music_)
                Music(in + done, n);
            else
                Voice(in + done, n);
            Merge16(left_, right_, out + done, n);
        }
    }

  private:
    void Voice(const short* in, int n) {
        const float g = 1.0f * kScale16;
        float* left = voice_.in[0].Block();
        float* right = voice_.in[1].Block();
        for (int i = 0; i < n; ++i) left[i] = right[i] = g * in[i];
        voice_.Run(n);
        std::copy(voice_.out[0], voice_.out[0] + n, left_);
        std::copy(voice_.out[1], voice_.out[1] + n, right_);
    }

    void Music(const short* in, int n) {
        const float g = Math::from_mb(-200) * kScale16;
        const int taps = static_cast<int>(taps_.size());
        float* bus = delayed_.Block();
        for (int i = 0; i < n; ++i) bus[i] = g * in[i];
        const float* delayed = delayed_.At(firDelay_);
        for (int i = 0; i < n; ++i) {
            // The FIR bus: one dot product per sample over the history.
            history_[position_ + taps] = history_[position_] = bus[i];
            right_[i] = fDotProduct(&history_[position_], taps_.data(), taps);
            position_ = position_ == 0 ? taps - 1 : position_ - 1;
            left_[i] = delayed[i];
            diff_[i] = left_[i] - right_[i];
        }
        delayed_.Advance(n);
        hp_.Run(diff_, n);
        widen_.Run(diff_, n);
        for (int i = 0; i < n; ++i) {
            left_[i] = left_[i] - diff_[i];
            right_[i] = right_[i] + diff_[i];
        }
    }

    bool music_;
    Dual voice_;
    Hipass hp_;
    int unused_ = 0;
    Cascade widen_;
    History delayed_;
    std::vector<float> taps_, history_;
    int position_ = 0, firDelay_ = 0;
    float left_[kChunk], right_[kChunk], diff_[kChunk];
};

}  // namespace reference
