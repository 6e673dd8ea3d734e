// Tells stereo material that carries one signal on both channels (a mono
// recording stored as stereo, also through a chain that left its marks) from
// real stereo.
//
// The marks a mono transfer picks up: a small gain difference between the
// channels, a delay of a few samples (head or stylus alignment), a gentle
// treble roll-off on one side, hiss, hum and dither that differ between the
// channels. So the channels are compared after the best alignment: for each
// delay of up to kMaxLag samples either way, the correlation of the two
// channels (which no gain difference changes); the best delay's correlation
// rho gives the side-to-mid power ratio of the aligned, gain-matched pair,
// (1 - rho) / (1 + rho). Both channels are smoothed first by a [1 2 1] / 4
// low-pass (a zero at half the rate): it keeps the body of music and speech
// and of a real side signal, and weakens what only a mono transfer adds at
// the top of the band (treble roll-off, white hiss, dither).
//
// The stream is measured in hops of a fixed number of frames. A hop counts
// when it is loud enough to tell (kLoudPower); quiet hops (pauses, fades,
// the hiss between songs) are left out of every sum. The detector
//   turns to mono when the loud hops of the last kWindowSeconds, at least
//     kMinLoudSeconds of them, have a side below kEnterSideToMid of their
//     mid: a long window, so that a short quiet or centred passage of real
//     stereo does not tip it;
//   turns back to stereo when the loud hops of the last kShortSeconds (or of
//     the long window) carry a side that is both loud in itself
//     (kLeaveSidePower, above any hiss a transfer that counts as mono may
//     have) and far from negligible against their mid (kLeaveSideToMid for
//     the short window, kLeaveLongSideToMid for the long one).
// Between the two nothing changes: hysteresis, so material near either
// threshold, or silence between songs, never makes it switch back and forth.
// The thresholds come from measurements on real recordings; the reasons are
// given with each.
#pragma once

#include <vector>

#include "SampleOps.h"

namespace kesta {

class MonoDetector {
  public:
    // Delays between the channels allowed for, in whole samples either way
    // (and a fraction of a sample on top).
    static constexpr int kMaxLag = 3;
    // Gain differences between the channels allowed for, in dB.
    static constexpr double kMaxGainDb = 1.5;
    // The corner of the first-order low-pass both channels go through.
    static constexpr double kLowPassHz = 700.0;
    // The long window.
    static constexpr double kWindowSeconds = 1.35;
    // Of which at least this much must be loud hops.
    static constexpr double kMinLoudSeconds = 0.3;
    // Channels that differ by at most half a 16-bit step, and by at most
    // -60 dB of the hop's peak, in every frame of a hop are equal (when the
    // peak reaches about -78 dBFS); kEqualSeconds of equal hops make the
    // stream mono at once, whatever the window says. (The share keeps out
    // the quiet, nearly mono intros and endings of real stereo.)
    static constexpr float kEqualLimit = 1.0f / 65536.0f;
    static constexpr float kEqualShare = 1e-3f;
    static constexpr float kQuietLimit = 4.0f / 32768.0f;
    static constexpr double kEqualSeconds = 0.5;
    // While every hop measured shows clear stereo, only one hop in
    // kSparseHops is measured (the low-pass runs over a few before it to
    // settle): mono cannot come before kRecoverSeconds without stereo
    // anyway, and so real stereo costs little.
    static constexpr int kSparseHops = 64;
    // After clear stereo, mono needs this long without it.
    static constexpr double kRecoverSeconds = 4.0;
    // The short window that takes the stream back to stereo.
    static constexpr double kShortSeconds = 0.01;
    // A hop is loud enough to tell at this mean channel power (low-passed).
    static constexpr double kLoudPower = 1.0e-4;
    // Mono: side at most this much of the mid over the long window.
    static constexpr double kEnterSideToMid = 2.0e-6;
    // Stereo again: a side of at least this power (low-passed) that is at
    // least this much of the mid over the short window, or over the long one.
    static constexpr double kLeaveSidePower = 6.3e-7;
    static constexpr double kLeaveSideToMid = 3.2e-3;
    static constexpr double kLeaveLongSideToMid = 1.0e-5;

    // What the detector has measured: the aligned side-to-mid power ratio
    // and the side's power over the loud hops of a window (0 when it has
    // none), and how many loud hops that is.
    struct Measure {
        double sideToMid = 0.0;
        double sidePower = 0.0;
        long loudHops = 0;
        int lag = 0;  // the best delay: left[i] pairs with right[i - lag]
    };

    // For a stream of rate Hz measured in hops of hopFrames frames (at most
    // kMaxHop). Allocates the window; resets.
    static constexpr int kMaxHop = 1024;
    void prepare(unsigned rate, int hopFrames);
    // Back to stereo, with nothing measured.
    void reset();

    // Adds n frames of the two channels (sample i of each at i * stride) to
    // the current hop, through the low-pass; n is at most what the hop still
    // lacks (more is ignored).
    void measure(const float* left, const float* right, int n, int stride = 1) {
        n = n < hop_ - filled_ ? n : hop_ - filled_;
        fresh_ = false;
        if (idle_ > warmHops_) {
            filled_ += n;
            return;
        }
        float* l = low_[0].data() + kLeftHistory + filled_;
        float* r = low_[1].data() + kRightHistory + filled_;
        const float a = 1.0f - pole_, b = pole_;
        float l1 = state_[0], r1 = state_[1], l2 = state_[2], r2 = state_[3];
        for (int i = 0; i < n; ++i) {
            l1 = a * l1 + b * left[static_cast<size_t>(i) * static_cast<size_t>(stride)];
            r1 = a * r1 + b * right[static_cast<size_t>(i) * static_cast<size_t>(stride)];
            l2 = a * l2 + b * l1;
            r2 = a * r2 + b * r1;
            l[i] = l2;
            r[i] = r2;
        }
        state_[0] = l1;
        state_[1] = r1;
        state_[2] = l2;
        state_[3] = r2;
        filled_ += n;
        if (idle_ > 0) return;
        // Whether the channels are equal: looked at until they are known
        // not to be.
        constexpr int kRun = 8;
        for (int i = 0; i < n && difference_ <= kEqualLimit; i += kRun)
            DifferenceAndPeak(left + i * stride, right + i * stride, n - i < kRun ? n - i : kRun, stride,
                              &difference_, &peak_);
    }

    // Classes the hop just measured, updates the state, starts the next hop,
    // and answers whether the stream counts as mono now.
    bool endHop();
    bool mono() const { return mono_; }
    // The delay between the channels found when the stream last turned
    // mono: left[i] goes with right[i - lag()].
    int lag() const { return lag_; }

    // The long and the short window as they stand after the last hop.
    Measure longWindow() const { return Judge(window_, loudInWindow_); }
    Measure shortWindow() const { return Judge(short_, loudInShort_); }

  private:
    // The left channel is read kSpan samples late and paired with the
    // right at delays 0 to 2 kSpan: left[i] with right[i - lag] for lags
    // -kSpan to kSpan. The outer lags serve the fraction of a sample around
    // the inner ones.
    static constexpr int kSpan = kMaxLag + 1;
    static constexpr int kShifts = 2 * kSpan + 1;
    static constexpr int kLeftHistory = kSpan;
    static constexpr int kRightHistory = 2 * kSpan + 2;

    // Sums of one hop, or of a window's loud hops, over the frames i of the
    // hop (l is the left channel kSpan samples late, r[m] the right m
    // samples late):
    struct Sums {
        double cross[kShifts];       // l[i] r[m][i]
        double right[kShifts];       // r[m][i]^2
        double next[kShifts - 1];    // r[m][i] r[m + 1][i]
        double second[kShifts - 2];  // r[m][i] r[m + 2][i]
        double left;                 // l[i]^2
        double frames;
        void clear();
        void add(const Sums& s);
        void subtract(const Sums& s);
        void scale(double w);
    };

    static Measure Judge(const Sums& s, long loud);
    void sumHop(Sums* out);
    void moveHistory(int n);

    int hop_ = 128;
    int filled_ = 0;                   // frames of the current hop measured
    long windowHops_ = 1;              // hops in the long window
    long shortHops_ = 1;               // hops in the short window
    long minLoudHops_ = 1;             // loud hops the long window needs
    long recoverHops_ = 1;             // hops without stereo after stereo before mono
    long needed_ = 1;                  // hops without stereo the next switch to mono needs
    long equalHops_ = 1;               // equal hops that make the stream mono
    int warmHops_ = 1;                 // hops the low-pass needs to settle
    int idle_ = 0;                     // hops before the next measured (the last warmHops_ warm the low-pass)
    long equalRun_ = 0;                // equal hops since the last that was not (quiet ones aside)
    float difference_ = 0.0f;          // largest |left - right| of the hop so far
    float peak_ = 0.0f;                // largest |left| or |right| of the hop so far
    float pole_ = 1.0f;                // the low-pass's coefficient
    float state_[4] = {};              // the low-pass's two stages, per channel
    std::vector<float> low_[2];        // the history (kLeftHistory, kRightHistory), then the hop, low-passed
    std::vector<Sums> ring_;           // the last windowHops_ hops (zero when quiet)
    std::vector<unsigned char> loud_;  // whether each of them was loud
    long next_ = 0;                    // the ring's oldest hop, overwritten next
    long seen_ = 0;                    // hops since the reset or the last stereo, up to recoverHops_
    Sums window_{}, short_{};
    long loudInWindow_ = 0, loudInShort_ = 0;
    bool mono_ = false;
    int lag_ = 0;
    bool fresh_ = false;   // nothing measured since the last reset
    bool sparse_ = false;  // measuring one hop in kSparseHops
};

}  // namespace kesta
