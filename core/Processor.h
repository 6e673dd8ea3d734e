// The float processor that every host of today shares: one object per audio
// stream, over the mono-to-3D engine and the stereo widener.
//
// A host prepares it once for its stream (rate, 1 or 2 channels, largest
// block), then hands it blocks of float samples (1.0 full scale) of any size
// from 1 frame up. The engines run on whole blocks of the limiter behind
// the calls, so a frame at a time costs a few times what large blocks cost
// per frame, not hundreds. Output is always interleaved stereo: a mono
// stream becomes stereo through the mono-to-3D engine, a stereo stream is
// widened, and a stereo stream that carries a mono recording (its channels
// the same, or nearly: see MonoDetector.h) goes through the mono-to-3D
// engine too when automatic mono is on. With the limiter on (the default)
// the output does not go above -1 dBFS, true peak (setCeiling sets another
// ceiling); off, output is not clipped. Loudness matching (on by default)
// keeps the output as loud as the input (LoudnessMatch.h).
//
// Threads: prepare, reset, process and latency belong to the audio thread
// (or to a host that does not run audio meanwhile). Every setter may be called
// from any thread at any moment; it takes no lock and allocates nothing, and
// the change is picked up at the start of the next block. process never
// allocates, locks, throws or logs.
//
// The output lags the input by latency() frames, the same for every setting
// of a prepared stream (the limiter's look-ahead included, on or off), so a
// host reports it once after prepare.
//
// Every change of path (mode, an enable, Subtone, automatic mono) crossfades;
// spread glides. After a while of input that is exactly zero the output is
// exactly zero and the engines rest. A sample that is not a number or
// infinite is replaced by zero and counted; nothing else is muted.
#pragma once

#include <memory>

#include "Parameters.h"

namespace kesta {

class Processor {
  public:
    // Spread limits in dB; setters clamp to them, and a value that is not a
    // number counts as 0 dB.
    static constexpr float kMinSpreadDb = InfoOf(Parameter::kSpread).minimum;
    static constexpr float kMaxSpreadDb = InfoOf(Parameter::kSpread).maximum;

    Processor();
    ~Processor();
    Processor(const Processor&) = delete;
    Processor& operator=(const Processor&) = delete;

    // Makes everything the stream needs: both engines in both modes, at rate
    // Hz, for interleaved input of channels (1 or 2) channels, with scratch
    // for blocks of maxBlock frames (larger blocks are run in pieces). May
    // allocate; may be called again for another stream. Answers false, and
    // leaves the processor unprepared, when rate is 0, channels is not 1 or 2,
    // maxBlock is below 1, or memory cannot be had.
    bool prepare(unsigned rate, int channels, int maxBlock);
    bool prepared() const;
    unsigned rate() const;
    int channels() const;

    // frames frames of interleaved input (channels() samples each) into
    // frames interleaved stereo frames at out. For a stereo stream out may be
    // in (in place); otherwise the two must not overlap. Does nothing before
    // prepare or for frames <= 0.
    void process(const float* in, float* out, int frames);
    // The same on separate channel arrays: in[0..channels()-1] and out[0..1],
    // each of frames samples. out[c] may be in[c]; no other overlap.
    void processPlanar(const float* const* in, float* const* out, int frames);

    // The limiter's ceiling in dBFS (true peak; -1 until set, at most 0).
    // For the audio thread, or before prepare: lossy encoders want more room
    // (kesta render gives them -2).
    void setCeiling(float dBFS);

    // Silences every filter and delay line; settings are kept and apply at
    // once (no glide or fade from before the reset).
    void reset();

    // The delay from input to output in frames for the prepared stream.
    int latency() const;

    // Input samples that were not finite and were replaced by zero since
    // prepare, and the stream frame (0 is the first after prepare) of the
    // first of them, or -1. For the audio thread, or once it has stopped.
    long long replacedSamples() const;
    long long firstReplacedFrame() const;
    // Frames of output since prepare or reset that the limiter lowered by
    // more than 1 dB (counted a limiter block at a time). For the audio
    // thread, or once it has stopped.
    long long limitedFrames() const;

    // Settings, from any thread: a parameter of the table (the spread
    // clamped to its range, a spread that is not a number as 0 dB; the
    // others as Settings::set reads a value), or all of them at once
    // (values indexed by Parameter, each as set reads it).
    void set(Parameter p, float value);
    void setValues(const float* values);
    void setSettings(const Settings& settings);
    Settings settings() const;
    // The same by name: setSpread(decibels), setMusic(bool), and so on
    // through the table (see KESTA_PARAMETERS).
#define KESTA_PARAMETER_SETTER(Name, field, Setter, type, ...) \
    void set##Setter(type value) {                             \
        set(Parameter::k##Name, static_cast<float>(value));    \
    }
    KESTA_PARAMETERS(KESTA_PARAMETER_SETTER)
#undef KESTA_PARAMETER_SETTER

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kesta
