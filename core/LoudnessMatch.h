// Loudness matching: one gain for both channels, after the paths and before
// the limiter, that makes the output as loud as the input (ITU-R BS.1770
// loudness, K-weighted; a mono input counts on both channels, as it is
// heard), so that the effect changes the image and not the level.
//
// The gain follows the ratio of the input's loudness to the output's before
// the gain, over a window of kWindowSeconds: it follows what the effect does
// to the level, not the music's dynamics (a loud chorus stays louder than a
// quiet verse, since both sides of the ratio rise together).
//
// - Measuring. The stream is cut into hops of kHopSeconds, counted from its
//   first sound (see wake). In each hop the meter K-weights one slice of kSliceSeconds
//   at a place in the hop drawn from the hop's number, so that the slices
//   do not lock onto a beat: its two halves side by side, each after
//   kWarmSeconds for the filters to settle. The input the caller gives is
//   lined up with the output (the paths' latency earlier). The gain may be
//   applied by the caller as it writes the output (take), or here (apply).
// - Gates. A hop counts only if it was measured whole while one path played
//   alone, and its input is above -70 LUFS and within 10 LU of the
//   programme's loudness (BS.1770's absolute and relative gates; the
//   programme's loudness is that of the input's hops over the absolute gate,
//   averaged over about kProgrammeSeconds): through silence and quiet
//   passages the gain holds.
// - Moving. Once kMinHops hops count, each hop end moves the path's gain
//   towards the window's ratio, by at most kSlewDbPerSecond, within
//   [kMinDb, kMaxDb]; the gain glides there in a straight line over the
//   first quarter of the next hop. So it never moves more than 0.8 dB
//   within 400 ms.
// - Headroom. Where the limiter after it still works more than 3 % of the
//   window's time (over 1 dB of reduction: a master whose peaks the effect
//   raises more than its loudness), the gain goes down by up to kHeadroomDb
//   more, and comes back once the limiter rests: the limiter stays a safety.
// - Paths. Each path keeps its own gain, starting from a preset for it (what
//   it does to typical material), so the first seconds do not come out loud,
//   and a path that comes back starts where it left off. A change of path
//   that the user made, or turning matching on or off, glides the gain to the
//   new path's (or to exactly 1) over the paths' crossfade, for a fair
//   comparison; one that the music made (automatic mono) moves the gain
//   there as slowly as tracking does. Either starts the window afresh.
//
// Everything happens at frames of the stream, so the output does not depend
// on how the stream is cut. Off, with the gain at exactly 1, the output is
// untouched. prepare allocates the slice's frames; nothing else here
// allocates or locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "SampleOps.h"

namespace kesta {

class LoudnessMatch {
  public:
    static constexpr double kHopSeconds = 0.2;
    static constexpr double kWindowSeconds = 2.0;
    static constexpr double kProgrammeSeconds = 10.0;
    static constexpr double kSliceSeconds = 0.016;
    static constexpr double kWarmSeconds = 0.004;
    static constexpr int kMinHops = 4;
    static constexpr float kMinDb = -12.0f;
    static constexpr float kMaxDb = 6.0f;
    static constexpr float kSlewDbPerSecond = 2.0f;
    static constexpr float kHeadroomDb = 1.0f;
    static constexpr int kMaxPaths = 8;
    static constexpr int kWindowHops = 10;  // kWindowSeconds / kHopSeconds

    // For a stream of rate Hz whose paths crossfade over fadeFrames frames.
    void prepare(unsigned rate, int fadeFrames);
    // Each path's starting gain in dB (path 0 to kMaxPaths - 1).
    void setPreset(int path, float decibels);
    // At the stream's frame 0, playing path with matching on or off: every
    // path's gain back to its preset, the gain at once where it belongs.
    void reset(int path, bool on);
    // From the next frame given to apply on, the output is path's, with
    // matching on or off: glides there over the crossfade when anything
    // changed, or, gradual (the music, not the user, changed the path), moves
    // there hop by hop as fast as the gain may move.
    void retarget(int path, bool on, bool gradual = false);
    // Sound comes after silence (the stream's first, or after the paths
    // rested): the hops start again from the next frame, with a new
    // window and programme, so that what follows does not depend on how
    // long the silence was. The gains are kept.
    void wake();

    // Of the next n frames (those apply will have next), the ones the meter
    // reads: from *first on, as many as the value returned.
    int wanted(int n, int* first) const;
    // Where those frames go, four samples each: the input lined up with
    // them (left and right; a mono input as both), and the output before the
    // gain. Then measure takes the count written; steady tells that the path
    // played alone through them.
    float* slice() { return frames_.data() + 4 * static_cast<size_t>(measured_); }
    void measure(int count, bool steady);
    // Frames from the next to the end of the current hop, and a hop's.
    int toHopEnd() const { return static_cast<int>(hopStart_ + hop_ - frame_); }
    int hopFrames() const { return hop_; }
    // The gain over the next n interleaved frames of out (at most
    // toHopEnd()), in place.
    void apply(float* out, int n);
    // The gains of the next n frames (at most toHopEnd()), for a caller
    // that applies them itself; the same as apply then.
    FrameGains take(int n);
    // Where toHopEnd() is 0: the hop ends, its frames measured, limited
    // the share of its time the limiter lowered the output by more than
    // 1 dB.
    void endHop(double limited);

    // The gain in dB now.
    float gainDb() const;

  private:
    // K-weighting: a high shelf, then a high-pass, on four lanes (input left
    // and right, output left and right), as y = c0 x + s1; s1 = c1 x - d1 y + s2;
    // s2 = c2 x - d2 y.
    struct Stage {
        float c0, c1, c2, d1, d2;
    };
    struct Hop {
        double in = 0.0, out = 0.0;  // K-weighted energy of the slice
        bool counts = false;
        double limited = 0.0;
    };

    float now() const;  // the gain at the next frame
    // The slice's frames through the K-weighting, into energy_: in two
    // halves side by side, each after its own warm-up, so that the two
    // recursions overlap in time.
    void filterSlice();
    void glideTo(float target, int frames);
    void startHop();

    unsigned rate_ = 48000;
    int hop_ = 9600, slice_ = 768, warm_ = 240, fade_ = 1024;
    float slewDb_ = 0.4f;  // per hop
    Stage stage_[2] = {};

    float preset_[kMaxPaths] = {};
    float gain_[kMaxPaths] = {};  // dB, each path's own
    float headroom_ = 0.0f;       // dB, 0 down to -kHeadroomDb
    float applied_ = 0.0f;        // dB: the gain, or where it glides to
    int path_ = 0;
    bool on_ = false;

    // The stream frame next applied, where the current hop's meter window
    // starts, and the frames of it measured so far.
    long long frame_ = 0, hopStart_ = 0, windowStart_ = 0;
    long long hopCount_ = 0;  // the current hop's number since reset or wake
    int measured_ = 0;
    bool steady_ = true;
    double energy_[4] = {};  // K-weighted, of the slice: input left, right, output left, right
    std::vector<float>
        frames_;  // the slice's frames (and its warm-up): input left, right, output left, right
    Hop window_[kWindowHops];
    int windowAt_ = 0;
    double programme_ = 0.0;       // the programme's input energy per slice, or 0 before any
    double programmeShare_ = 0.0;  // of a hop in it

    // The gain applied: from `from` to `to` in a straight line over `length`
    // frames, at `at` of them.
    float from_ = 1.0f, to_ = 1.0f;
    int length_ = 0, at_ = 0;
};

}  // namespace kesta
