// The stereo widener engine object behind the Vastor handle.
//
// An engine owns one widener network (single or dual, as the open flags
// choose), the network's input stage, two float output buffers and a scratch
// area, all made at open. Processing cuts any block into chunks of at most
// 1024 frames, splits interleaved chunks into a left and a right mono block,
// lets the input stage and the network run, and writes the two output buffers
// back into the caller's format with saturation. Nothing is allocated while
// processing, and subnormal arithmetic is flushed to zero for the duration of
// each processing call (the caller's floating-point state is restored).
//
// Parameters arrive in decibels (linear gain from_db(d) = 10^(d/20)) or
// frames and reach the network as filter properties (VastorFilter.h).
#pragma once

#include "Mixbuf.h"
#include "Wavedata.h"

class MathLibrary;
class VastorFilter;
class VastorFilterInput;

class IVastor {
  public:
    // Makes and opens an engine for rate Hz. On success stores it in *out and
    // answers 0; otherwise stores null and answers the non-zero result of open.
    static int Create(IVastor** out, unsigned int rate, unsigned int flags);

    virtual ~IVastor() {}
    // Interleaved 16-bit, interleaved 8-bit, planar 16-bit, planar 8-bit,
    // interleaved float and planar float blocks of n frames.
    virtual void process(const short (*in)[2], short (*out)[2], Samples n) = 0;
    virtual void process(const unsigned char (*in)[2], unsigned char (*out)[2], Samples n) = 0;
    virtual void process(const short* leftIn, const short* rightIn, short* leftOut, short* rightOut,
                         Samples n) = 0;
    virtual void process(const unsigned char* leftIn, const unsigned char* rightIn, unsigned char* leftOut,
                         unsigned char* rightOut, Samples n) = 0;
    virtual void process(const float (*in)[2], float (*out)[2], Samples n) = 0;
    virtual void process(const float* leftIn, const float* rightIn, float* leftOut, float* rightOut,
                         Samples n) = 0;
    virtual void setSpread(float decibels) = 0;
    virtual void setCenter(float decibels) = 0;
    virtual void setInputScale(float leftDecibels, float rightDecibels) = 0;
    virtual void setInputDelay(int leftFrames, int rightFrames) = 0;
    virtual void setDirectDelay(int frames) = 0;
    virtual void enable(unsigned char on) = 0;
    virtual void enableHipass(unsigned char on) = 0;
    // Silences filter and delay state; parameters are kept.
    virtual void reset() = 0;
    // The delay of the unfiltered (direct) path from input to output, in frames.
    virtual int latency() const = 0;
    // Frames over which later gain and delay changes glide (0: at once).
    virtual void setRampLength(int frames) = 0;
    // Glides whose gains do not depend on how the stream is cut into calls
    // (Panner::setChainedRamps); off from open, as the player has them.
    virtual void setChainedRamps(bool on) = 0;
};

class VastorImplementation : public IVastor {
  public:
    // Frames per chunk: the capacity of the output buffers and the scratch area.
    static constexpr Samples kChunk = 1024;

    VastorImplementation();
    ~VastorImplementation() override;
    VastorImplementation(const VastorImplementation&) = delete;
    VastorImplementation& operator=(const VastorImplementation&) = delete;

    // Allocates the buffers, builds the network and its input stage, resets.
    // Answers 0, or 1 when one of them could not be made.
    int open(MathLibrary* library, unsigned int rate, unsigned int flags);

    void process(const short (*in)[2], short (*out)[2], Samples n) override;
    void process(const unsigned char (*in)[2], unsigned char (*out)[2], Samples n) override;
    void process(const short* leftIn, const short* rightIn, short* leftOut, short* rightOut,
                 Samples n) override;
    void process(const unsigned char* leftIn, const unsigned char* rightIn, unsigned char* leftOut,
                 unsigned char* rightOut, Samples n) override;
    void process(const float (*in)[2], float (*out)[2], Samples n) override;
    void process(const float* leftIn, const float* rightIn, float* leftOut, float* rightOut,
                 Samples n) override;
    void setSpread(float decibels) override;
    void setCenter(float decibels) override;
    void setInputScale(float leftDecibels, float rightDecibels) override;
    void setInputDelay(int leftFrames, int rightFrames) override;
    void setDirectDelay(int frames) override;
    void enable(unsigned char on) override;
    void enableHipass(unsigned char on) override;
    void reset() override;
    int latency() const override;
    void setRampLength(int frames) override;
    void setChainedRamps(bool on) override;

    // n interleaved stereo frames of in (type 4, 5 or 6) into out of the same type.
    void doStereo(const Buffer& in, const Buffer& out, Samples n);
    // n frames of two mono channels (type 1, 2 or 3) into two of the same type.
    void doMono(const Buffer& leftIn, const Buffer& rightIn, const Buffer& leftOut, const Buffer& rightOut,
                Samples n);

    MathLibrary* library_;        // shared, not owned
    VastorFilter* network_;       // owned
    VastorFilterInput* input_;    // owned
    MixBuffer outputBuffers_[2];  // left and right results of one chunk
    char* scratch_;               // owned; the left and right mono halves of one interleaved chunk
    unsigned int flags_;          // the open flags
};

// The delay in frames of the unfiltered path through a widener input stage
// made by a network opened with flags (VASTOR_SINGLE_NETWORK tells which
// kind): its direct delay plus the smaller of its two input delays.
int WidenerDirectLatency(const VastorFilterInput& input, unsigned int flags);
