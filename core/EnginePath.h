// One of the processor's paths: an engine (the stereo widener, Music mode's
// image, or the mono-to-3D engine in Voice mode; each with Subtone or flat)
// or none (the dry path), and the delay lines that line its output up with
// the slowest path's, so that crossfading between paths blends one signal.
//
// A path runs on a piece of input, or rests (cleared, not run, giving
// zeros) while the input is silent; when it is wanted again it is cleared
// and pre-rolled over the input kept, faded in, so that it enters a
// crossfade already playing.
//
// open and alignTo allocate; nothing else does.
#pragma once

#include <vector>

#include "FrameDelay.h"
#include "M2s.h"
#include "MusicImage.h"
#include "Vastor.h"

namespace kesta {

class InputStage;

class EnginePath {
  public:
    enum Kind { kWidener, kMusic, kVoice, kDry };

    EnginePath() = default;
    EnginePath(const EnginePath&) = delete;
    EnginePath& operator=(const EnginePath&) = delete;
    ~EnginePath() { close(); }

    // The engine of kind for a stream of rate Hz, its changes gliding over
    // fadeFrames; a widener only for a stereo stream (for a mono one the
    // path stays empty). False when the engine cannot be had.
    bool open(Kind kind, bool subtone, unsigned rate, int channels, int fadeFrames);
    void close();
    // The engine's own latency, in frames.
    int latency() const;
    // Lines the output up at latency frames (the slowest path's), for pieces
    // of up to room frames: the widener delays its own input, the others get
    // delay lines.
    void alignTo(int latency, int room);
    // The frames of delay line the path needs (0: lined up by itself).
    int delay() const { return align_[0].delay(); }

    // The widener's spread (it glides to a new one; at once after a
    // clear).
    void setSpread(float decibels);

    // n frames of input (left l, right r, their mean mono) into the delay
    // lines' in(c).
    void run(const float* l, const float* r, const float* mono, int n);
    // n frames of a mono-to-3D path straight into interleaved stereo, for a
    // path that plays alone and needs no delay line.
    void runInterleaved(const float* mono, float* out, int n);
    // Starts afresh: the engine from silence, pre-rolled over the input kept
    // (scratch: three pieces of at least room frames) when preroll is set;
    // the dry path from the input just played.
    void clear(const InputStage& input, int channels, int piece, std::vector<float> (&scratch)[3],
               bool preroll);
    // Whether the n frames the path just made are all below the 24-bit
    // floor.
    bool belowFloor(int n) const;

    // The delay lines: the next piece goes in at in(c), comes out lined up at
    // out(c); advance(n) after a piece.
    float* in(int c) { return align_[c].in(); }
    const float* out(int c) const { return align_[c].out(); }
    void advance(int n) {
        for (FrameDelay& d : align_) d.advance(n);
    }
    bool empty() const { return kind_ == kWidener && !widener_; }

    // Resting: cleared, not run, zeros out while the input is quiet.
    bool resting = false;
    // The output has been below the floor since the current rest cell began.
    bool cellBelow = true;

  private:
    void preroll(const InputStage& input, int channels, int piece, std::vector<float> (&scratch)[3]);

    Kind kind_ = kDry;
    Vastor* widener_ = nullptr;
    M2S* m2s_ = nullptr;
    MusicImage image_;
    float spread_ = 0.0f;
    FrameDelay align_[2];
    std::vector<float> interleaved_;  // the mono-to-3D engine's output
};

}  // namespace kesta
