// Tells stereo material that carries one signal on both channels (a mono
// recording stored as stereo, also through a chain that left its marks) from
// real stereo.
//
// The marks a mono transfer picks up: a gain difference between the channels,
// a delay of a few samples (head or stylus alignment), a gentle treble
// roll-off on one side, hiss and dither that differ between the channels.
// Both channels go through a two-stage low-pass (kLowPassHz): the body of
// music and speech, and of a real side signal, stays; what only a transfer
// adds at the top of the band (hiss, dither, roll-off) mostly goes. The left
// channel is then fitted with the right at the best whole delay (within
// kMaxLag samples), scaled within kMaxGainDb, plus its slope (a fraction of a
// sample more delay) and its curvature (a gentle roll-off or lift); what the
// fit leaves is the side (see Judge). It is summed in hops of a fixed number
// of frames; a hop counts when it is loud (kLoudPower), in proportion to the
// square root of its power (hiss, the same in every hop, matters least where
// the music is loud); quiet hops (pauses, fades, the hiss between songs) are
// left out.
//
// The detector turns to mono
//   - when the loud hops of the last kWindowSeconds (at least kMinLoudSeconds
//     of them) leave a side below kEnterSideToMid of the mid, and no clear
//     stereo came for kRecoverSeconds (only the window at the start of a
//     stream): a stream that has played real stereo needs long proof;
//   - or after kEqualSeconds of hops whose channels are equal, whatever came
//     before;
// and back to stereo when the loud hops of the last kShortSeconds, or of the
// long window, carry a side loud in itself (kLeaveSidePower, above any hiss
// of a transfer that must count as mono) and far from negligible against the
// mid. Between the two nothing changes, so material near a threshold, or
// silence between songs, never makes it switch back and forth.
//
// The thresholds were chosen on a corpus made from real recordings (speech,
// mono and stereo game music from Debian packages; see the AutoMonoCorpus
// test, which prints the table): mono transfers with a gain difference of up
// to 1 dB, white noise up to -60 dBFS, 16-bit dither, a delay of up to 3
// samples, a first-order roll-off at 8 kHz, alone and together, and real
// stereo with its side lowered by up to 15 dB. The two meet in the window's
// side-to-mid ratio: the noisiest transfers of quiet music reach about
// -58 dB, the first 1.8 s of a stereo jingle (nearly mono itself) lowered by
// 15 dB about -56 dB; kEnterSideToMid sits between (about 1 dB from each).
// Noisier transfers, or narrower mixes, fall on the side of stereo.
#pragma once

#include <vector>

#include "SampleOps.h"

namespace kesta {

class MonoDetector {
  public:
    // Delays between the channels allowed for, in whole samples either way
    // (and a fraction of a sample on top).
    static constexpr int kMaxLag = 3;
    // Gain differences between the channels allowed for, in dB (1 dB in the
    // corpus, with room; a source panned further off centre is stereo).
    static constexpr double kMaxGainDb = 1.5;
    // The corner of each of the low-pass's two first-order stages: lower
    // keeps more hiss and roll-off out (700 Hz gave the widest gap between
    // the noisiest transfers and the narrowest mixes; 1 and 1.5 kHz less).
    static constexpr double kLowPassHz = 700.0;
    // The long window: as long as the switch within 1.5 s of the start of a
    // mono recording allows, so that a nearly mono passage of real stereo
    // must last longer than that to count.
    static constexpr double kWindowSeconds = 1.35;
    // Of which at least this much must be loud hops (speech is loud in
    // about half its hops).
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
    // After clear stereo, mono needs this long without it: longer than the
    // nearly mono endings of real tracks (one of the corpus ends on 1.5 s
    // of a chord whose side is 52 dB under its mid).
    static constexpr double kRecoverSeconds = 4.0;
    // The short window that takes the stream back to stereo: a few hops,
    // so that with the crossfade the widener plays within 50 ms.
    static constexpr double kShortSeconds = 0.01;
    // A hop is loud enough to tell at this mean channel power, low-passed
    // (-40 dBFS): 20 dB above hiss of -60 dBFS.
    static constexpr double kLoudPower = 1.0e-4;
    // Mono: side at most -57 dB of the mid over the long window (see above).
    static constexpr double kEnterSideToMid = 2.0e-6;
    // Stereo again: a side of at least -62 dBFS, low-passed (hiss of
    // -60 dBFS on one channel leaves about -80 dBFS there, of -50 dBFS about
    // -70 dBFS), that is at least -25 dB of the mid over the short window,
    // or -50 dB over the long one (no window of a transfer in the corpus
    // came within 13 dB of both limits; real stereo passes them within
    // 25 ms).
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
    // kMaxHop). Allocates the window; resets. Without sparse, every hop is
    // measured also during clear stereo (for measurements).
    static constexpr int kMaxHop = 1024;
    void prepare(unsigned rate, int hopFrames, bool sparse = true);
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
        lowPass(left, right, n, stride);
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
    // samples late), side by side in v:
    //   cross(m)  l[i] r[m][i]            (kShifts of them)
    //   right(m)  r[m][i]^2               (kShifts)
    //   next(m)   r[m][i] r[m + 1][i]     (kShifts - 1)
    //   second(m) r[m][i] r[m + 2][i]     (kShifts - 2)
    //   left()    l[i]^2
    //   frames()
    struct Sums {
        static constexpr int kCross = 0;
        static constexpr int kRight = kCross + kShifts;
        static constexpr int kNext = kRight + kShifts;
        static constexpr int kSecond = kNext + kShifts - 1;
        static constexpr int kLeft = kSecond + kShifts - 2;
        static constexpr int kFrames = kLeft + 1;
        static constexpr int kSize = kFrames + 1;
        double v[kSize];
        double& cross(int m) { return v[kCross + m]; }
        double& right(int m) { return v[kRight + m]; }
        double& next(int m) { return v[kNext + m]; }
        double& second(int m) { return v[kSecond + m]; }
        double& left() { return v[kLeft]; }
        double& frames() { return v[kFrames]; }
        double cross(int m) const { return v[kCross + m]; }
        double right(int m) const { return v[kRight + m]; }
        double next(int m) const { return v[kNext + m]; }
        double second(int m) const { return v[kSecond + m]; }
        double left() const { return v[kLeft]; }
        double frames() const { return v[kFrames]; }
        void clear();
        void add(const Sums& s);
    };
    // The products summed over a hop, each in kLanes running sums (see
    // AddGroup in the source): l r[m] for each m, l l, r r, r r[1], r r[2].
    static constexpr int kProducts = kShifts + 4;

    // The measures of a window of loud hops; with limits, exact only where
    // they reach both of limits' sideToMid and sidePower (else below).
    static Measure Judge(const Sums& s, long loud, const Measure* limits = nullptr);
    void lowPass(const float* left, const float* right, int n, int stride);
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
    int sinceLong_ = 0;                // hops measured since the long window was judged
    int idle_ = 0;                     // hops before the next measured (the last warmHops_ warm the low-pass)
    long equalRun_ = 0;                // equal hops since the last that was not (quiet ones aside)
    float difference_ = 0.0f;          // largest |left - right| of the hop so far
    float peak_ = 0.0f;                // largest |left| or |right| of the hop so far
    float pole_ = 1.0f;                // the low-pass's coefficient
    float state_[4] = {};              // the low-pass's two stages, per channel
    std::vector<float> low_[2];        // the history (kLeftHistory, kRightHistory), then the hop, low-passed
    std::vector<Sums> ring_;           // the last windowHops_ hops (zero when quiet)
    std::vector<unsigned char> loud_;  // whether each of them was loud
    std::vector<const double*> recent_;  // the short window's hops' sums, newest first
    long next_ = 0;                      // the ring's oldest hop, overwritten next
    long seen_ = 0;                      // hops since the reset or the last stereo, up to recoverHops_
    Sums window_{}, short_{};
    long loudInWindow_ = 0, loudInShort_ = 0;
    bool mono_ = false;
    int lag_ = 0;
    bool fresh_ = false;   // nothing measured since the last reset
    bool sparse_ = false;  // measuring one hop in kSparseHops
    int sparseHops_ = kSparseHops;

    // The running sums of the current hop's products, and how many of its
    // frames they hold (a multiple of kLanes until the hop ends).
    float products_[kProducts][kLanes] = {};
    int summed_ = 0;
};

}  // namespace kesta
