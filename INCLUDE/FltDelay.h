// Delay lines as the networks and panners hold them: the abstract DelayMixBuffer
// and its float implementation, which FloatLibrary::CreateDelayBuffer creates.
//
// Use per block: every reader first takes what it needs of the past (GetDelay,
// CopyTo), then the owner pushes the block (Update). Reads of n frames start at
// least n frames back, so they never include the block being pushed. The owner
// deletes the line through the virtual destructor.
#pragma once

#include "DelayBuffer.h"
#include "Wavedata.h"

class MixBuffer;

class DelayMixBuffer {
  public:
    virtual ~DelayMixBuffer() = 0;
    // Resizes the line to size frames, keeping the newest history that fits
    // at its age; added frames are silence. Allocates; answers true.
    virtual bool SetSize(Samples size) = 0;
    virtual Samples GetSize() = 0;
    // out = the frame pushed delay frames ago (mono float), got = the frames,
    // at most n, that follow it contiguously; less than n where the ring
    // wraps, and then the rest is asked for with delay - got, n - got.
    virtual void GetDelay(Samples delay, Samples n, Buffer& out, Samples& got) = 0;
    // The n frames starting delay frames ago, converted into dst's format type.
    virtual void CopyTo(const Buffer& dst, Samples delay, Samples n) = 0;
    // Pushes n frames of src (any format type); only the newest size frames stay.
    virtual void Update(const Buffer& src, Samples n) = 0;
    // Moves the write position on by n frames without writing.
    virtual void Advance(Samples n) = 0;
    // Whether every frame held is next to zero (an empty line is quiet).
    virtual bool IsQuiet() = 0;
    // Silence in every frame.
    virtual void Reset() = 0;

    // Pushes a block of n frames held in a mix buffer. Frames past its used
    // count are silence: they are cleared (and the used count raised to n)
    // before the push, unless they alone would fill the whole line, which is
    // then reset instead and src left untouched. Frames of src past n are
    // never pushed.
    void Update(MixBuffer& src, Samples n);
};

class FloatDelayMixBuffer : public DelayMixBuffer {
  public:
    bool SetSize(Samples size) override { return delayLine_.SetSize(size); }
    Samples GetSize() override { return delayLine_.GetSize(); }
    void GetDelay(Samples delay, Samples n, Buffer& out, Samples& got) override;
    void CopyTo(const Buffer& dst, Samples delay, Samples n) override { delayLine_.CopyTo(dst, delay, n); }
    void Update(const Buffer& src, Samples n) override { delayLine_.Update(src, n); }
    void Advance(Samples n) override { delayLine_.Advance(n); }
    bool IsQuiet() override;
    void Reset() override { delayLine_.Reset(); }
    using DelayMixBuffer::Update;

    DelayBuffer<float> delayLine_;
};
