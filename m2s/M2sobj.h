// The mono-to-3D engine object behind the M2S handle.
//
// An engine owns the mono-to-3D network, its input stage and two float
// output buffers of 1024 frames, all made at open. Processing cuts any block
// into chunks of at most 1024 frames, lets the input stage and the network
// run on each, and writes the two output buffers into the caller's
// interleaved stereo block with saturation. Nothing is allocated while
// processing, and subnormal arithmetic is flushed to zero for the duration of
// each processing call (the caller's floating-point state is restored).
//
// Settings in decibels become linear gains, from_db(d) = 10^(d/20), and reach
// the network as filter properties (VastorFilter.h).
#pragma once

#include "M2s.h"
#include "Mixbuf.h"
#include "Wavedata.h"

class MathLibrary;
class MonoTo3D;
class MonoTo3DInput;

class M2SInterface {
  public:
    // Makes and opens an engine for sampleRate Hz in the mode of flags. Stores
    // it in *out and answers 0, or stores null and answers open's failure.
    static int create(M2S** out, unsigned sampleRate, unsigned flags);

    virtual ~M2SInterface() {}
    // count mono samples into count stereo frames; in and out must not overlap.
    virtual void process(const short* in, short (*out)[2], unsigned count) = 0;
    virtual void process(const unsigned char* in, unsigned char (*out)[2], unsigned count) = 0;
    virtual void setSpread(float decibels) = 0;
    virtual void setCenter(float decibels) = 0;
    virtual void enable(unsigned char on) = 0;
    virtual void enableHipass(unsigned char on) = 0;
    // Silences filter and delay state; settings are kept.
    virtual void reset() = 0;
    // count float mono samples into count float stereo frames, not clipped.
    virtual void process(const float* in, float (*out)[2], unsigned count) = 0;
    // The delay of the 3D path from input to output, in frames.
    virtual int latency() const = 0;
    // Frames over which later spread and center changes glide (0: at once).
    virtual void setRampLength(int frames) = 0;
    // Glides whose gains do not depend on how the stream is cut into calls
    // (Panner::setChainedRamps); off from open, as the player has them.
    virtual void setChainedRamps(bool on) = 0;
};

class M2SImplementation : public M2SInterface {
  public:
    // Frames per chunk: the capacity of the output buffers and of the network's buses.
    static constexpr Samples kChunk = 1024;

    M2SImplementation();
    ~M2SImplementation() override;
    M2SImplementation(const M2SImplementation&) = delete;
    M2SImplementation& operator=(const M2SImplementation&) = delete;

    // Allocates the buffers and builds the network and its input stage.
    // Answers 0, or 1 when one of them could not be made.
    int open(MathLibrary* library, unsigned sampleRate, unsigned flags);

    void process(const short* in, short (*out)[2], unsigned count) override;
    void process(const unsigned char* in, unsigned char (*out)[2], unsigned count) override;
    void setSpread(float decibels) override;
    void setCenter(float decibels) override;
    void enable(unsigned char on) override;
    void enableHipass(unsigned char on) override;
    void reset() override;
    void process(const float* in, float (*out)[2], unsigned count) override;
    int latency() const override;
    void setRampLength(int frames) override;
    void setChainedRamps(bool on) override;

    // count frames from in (mono 8-bit, 16-bit or float) into out (stereo of
    // the same sample type), chunk by chunk: the loop behind every process form.
    void run(const Buffer& in, const Buffer& out, unsigned count);

    MixBuffer outputBuffers_[2];  // left and right results of one chunk
    MonoTo3D* network_;           // owned
    MonoTo3DInput* input_;        // owned
};
