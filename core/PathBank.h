// The processor's paths, and the crossfades between them:
//   widener  the stereo widener on the input (stereo streams only);
//   music    the mono signal made wide and centred (MusicImage.h);
//   voice    the mono-to-3D engine in Voice mode on the mono signal;
//   dry      the input itself (a mono stream on both sides);
// each path but the dry one twice, with Subtone on and off (flat), every
// one a network of its own (EnginePath.h). Each is lined up with the
// slowest, so that crossfading between paths blends one signal (PathMixer.h).
//
// A path that is silent and not wanted is not run. When it is wanted again
// it is cleared and pre-rolled over the input kept, so that it enters the
// crossfade already playing. While the input is quiet, a path whose output
// stayed below the 24-bit floor through a whole cell of the stream rests:
// cleared, not run, giving zeros, until the input is not quiet again.
//
// open and prepare allocate; nothing else does.
#pragma once

#include <vector>

#include "EnginePath.h"
#include "Parameters.h"
#include "PathMixer.h"

namespace kesta {

class InputStage;

class PathBank {
  public:
    // Each engine path with Subtone on, then its flat twin.
    enum Path { kWidener, kWidenerFlat, kMusic, kMusicFlat, kVoice, kVoiceFlat, kDry, kCount };

    // What each path does to the loudness of typical material, in dB to
    // undo: where loudness matching starts a path from.
    static constexpr float kLoudnessDb[kCount] = {-3.5f, -3.5f, -3.0f, -3.0f, -1.5f, -1.5f, 0.0f};

    // Every path's engine for a stream of rate Hz and channels channels, its
    // changes gliding over fadeFrames. False when an engine cannot be had.
    bool open(unsigned rate, int channels, int fadeFrames);
    void close();
    // The slowest path's latency, once open.
    int latency() const { return latency_; }
    // Pieces of up to room frames (at most piece at once in a pre-roll) from
    // the input stage input, which outlives the bank.
    void prepare(const InputStage& input, int piece, int room);

    // The path the settings choose, mono telling whether the detector finds
    // a stereo stream mono.
    Path choose(const Settings& s, bool mono) const;
    // The wideners' spread (it glides).
    void setSpread(float decibels);
    // Everything cleared (no pre-roll); target alone at full level.
    void reset(Path target);
    // A new target; paths that start running are cleared and pre-rolled.
    // Answers the frames until the target plays alone.
    int retarget(Path target);
    Path target() const { return static_cast<Path>(mixer_.target()); }
    // Whether a mono-to-3D path plays alone, lined up by itself, and awake:
    // it may write the result itself (runAlone).
    bool monoAlone() const;
    // Whether a mono-to-3D path runs and is not resting through quiet input:
    // the mono signal is needed.
    bool monoWanted(bool quiet) const;

    // n frames from the input stage's scratch at from (mono: the mono
    // signal there) through the running paths, mixed into *left and *right.
    // quiet: the frames are all zero; rest: the paths may rest, judged by
    // the cell that ends after them when cellEnd. Then finish(n).
    void run(int from, int n, const float* mono, bool quiet, bool rest, bool cellEnd, const float** left,
             const float** right);
    // The target alone straight into interleaved out (when monoAlone, and
    // the paths may not rest).
    void runAlone(const float* mono, float* out, int n);
    // After run's result was taken: delay lines moved on, rests begun,
    // finished fades settled.
    void finish(int n);

  private:
    void clear(int p, bool preroll);

    int channels_ = 1;
    int piece_ = 1;
    int latency_ = 0;
    int fadeFrames_ = 1;
    const InputStage* input_ = nullptr;
    EnginePath paths_[kCount];
    PathMixer<kCount> mixer_;
    bool restNow_[kCount] = {};
    std::vector<float> pre_[3];  // a pre-roll's input: left, right, mean
};

}  // namespace kesta
