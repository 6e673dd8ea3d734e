// The mono-to-3D network: turns one mono signal into a left and a right bus
// that differ, and spatialises them through an inner widener network, which
// adds its stereo result into the engine's two output buffers.
//
// Modes (bit 3 of the open flags, M2S_MUSIC):
//   Music  left bus  = g * x[t - 22]            (the FIR's group delay)
//          right bus = g * FIR(x)[t]            (about one radian ahead of the left bus)
//          g = level * -2 dB; inner widener: single network, single-stage
//          widening filter, spread 1.0, high-pass 125 Hz.
//   Voice  left bus = right bus = level * x; inner widener: dual network,
//          single-stage widening filter, center -10 dB, input delays 0.5 ms,
//          direct delay 1 frame (4 above 32000 Hz; with M2S_ALL_RATES at the
//          high rates' rows, 8 frames at 88200/96000 Hz and 16 at 176400/192000
//          Hz, the time of 4 at 44100/48000 Hz), high-pass 200 Hz.
//   With M2S_ALL_RATES the FIR and the inner widener take the high rates'
//   tables above 48000 Hz (M2sfir.h, VastorTables.h); the left bus waits for
//   the FIR's centre tap, whatever its length.
//   Disabled (input-stage property 0): the buses fade out and x goes to both
//          outputs at unity gain.
//
// Per block of n frames (n at most maxFrames): input->Mix(x, n, 0), then
// network->Process(n). Everything is allocated at construction; processing
// allocates nothing. Properties sent to the network go on unchanged to the
// inner widener's input stage and then to the inner widener (ids of
// VastorFilter.h).
#pragma once

#include "M2s.h"
#include "Mixbuf.h"
#include "Panner.h"
#include "VastorFilter.h"

class DelayMixBuffer;
class InPlaceFilter;
class MathLibrary;

// Property ids of the input stage (the ids of the widener's input stages
// that it shares keep their numbers).
enum M2SInputProperty {
    kM2SDisabled = kVastorDisabled,          // 1 byte: non-zero bypasses the network
    kM2SLevel = 3,                           // float: bus level, linear
    kM2SRampLength = kVastorRampLength,      // int: frames over which later gain changes glide
    kM2SChainedRamps = kVastorChainedRamps,  // 1 byte: non-zero chains glides across calls (Panner)
};

// The network's input stage: mixes the mono input into the two buses (the
// left one delayed by the FIR's group delay) and, for the bypass, straight
// into both outputs. Gain changes glide over rampLength_ frames, except in
// immediate mode (after construction and Reset, until the next Mix).
// Properties: M2SInputProperty; other ids are ignored.
class MonoTo3DInput : public VastorFilterInput {
  public:
    MonoTo3DInput(MathLibrary& library, unsigned flags, MixBuffer (&outputs)[2], MixBuffer& leftBus,
                  MixBuffer& rightBus, long busDelay);
    ~MonoTo3DInput() override;
    MonoTo3DInput(const MonoTo3DInput&) = delete;
    MonoTo3DInput& operator=(const MonoTo3DInput&) = delete;

    void SetProperty(int id, const void* value, int size) override;
    bool IsQuiet() override;
    // Silences the bus history and returns to immediate mode; gains stay.
    void Reset() override;
    // n frames of a mono block (8-bit, 16-bit or float) from bus frame offset on.
    void Mix(const Buffer& in, Samples n, Samples offset) override;
    // Does nothing: the stage has one input.
    void Mix(const Buffer& left, const Buffer& right, Samples n, Samples offset) override;

    // Programs the three panners from disabled_ and level_.
    void setupPanners();

    unsigned flags_;             // the open flags
    long rampLength_;            // frames; 1024 from construction
    bool disabled_;              // bypass
    bool immediate_;             // gain changes apply at once
    StereoPanner direct_;        // input into both outputs (the bypass path)
    DelayPanner delayed_;        // input, busDelay_ frames late, into the left bus
    Panner plain_;               // input into the right bus
    DelayMixBuffer* delayLine_;  // owned; the input's last busDelay_ frames
    long busDelay_;              // frames
    float level_;                // bus level, linear; 1.0 from construction
};

class MonoTo3D : public VastorFilter {
  public:
    // Buses of maxFrames frames; filters for the table rates nearest to sampleRate.
    MonoTo3D(MathLibrary& library, MixBuffer (&outputs)[2], long sampleRate, long maxFrames, unsigned flags);
    ~MonoTo3D() override;
    MonoTo3D(const MonoTo3D&) = delete;
    MonoTo3D& operator=(const MonoTo3D&) = delete;

    // Forwards to the inner widener's input stage, then to the inner widener.
    void SetProperty(int id, const void* value, int size) override;
    bool IsQuiet() override;
    // Clears the FIR, the inner widener and the inner widener's input history.
    void Reset() override;
    // A new input stage feeding the outputs and this network's buses; owned
    // by the caller, who must not use it once the network is gone.
    MonoTo3DInput* CreateVastorFilterInput() override;
    void Process(Samples n) override;

    MathLibrary* library_;             // not owned
    unsigned flags_;                   // the open flags
    MixBuffer (*outputs_)[2];          // the engine's left and right outputs; not owned
    MixBuffer leftBus_;                // the inner widener's left input
    MixBuffer rightBus_;               // the inner widener's right input
    InPlaceFilter* fir_;               // owned; the phase-shifting FIR (Music), else null
    long firDelay_;                    // the FIR's group delay in frames; 0 without FIR
    VastorFilter* widener_;            // owned
    VastorFilterInput* widenerInput_;  // owned
};

// A new network (owned by the caller); see MonoTo3D.
MonoTo3D* CreateMonoTo3D(MathLibrary& library, MixBuffer (&outputs)[2], long sampleRate, long maxFrames,
                         unsigned flags);
