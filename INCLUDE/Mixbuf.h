// The float working block of the filter networks.
//
// Only the first used_ frames hold valid samples; frames past them count as
// silence not yet written. Operations that reach past the used part zero-fill
// the gap or copy instead of adding, so an untouched buffer costs nothing.
// Storage comes from the math library (CreateBuffer) and is shared by
// reference count between a buffer and its views. The buffer has no
// capacity field: its creator must never mix, extend or save past the count
// it passed to CreateBuffer. All per-sample work is done by library_.
#pragma once

#include "Wavedata.h"

class Filter;
class MathLibrary;
class MixBuffer;

// Where a ramp's gain stands frames frames after gain. Chained, as one chain
// of float additions, the way the ramped mixing passes run it: gain + step,
// rounded, then + step again, and so on; whatever calls the frames are cut
// into, the gains are the same. Otherwise by one multiplication and one
// addition, each rounded (the player's ramps).
inline float GainAfter(float gain, float step, Samples frames, bool chained) {
    if (!chained) return gain + step * static_cast<float>(frames);
    for (Samples i = 0; i < frames; ++i) gain += step;
    return gain;
}

// A buffer scaled on the fly: this += scale_ * *buffer_.
struct ScaledMixBuffer {
    float scale_;
    const MixBuffer* buffer_;
};

class MixBuffer : public Buffer {
  public:
    MixBuffer();
    // Wraps memory it does not own.
    MixBuffer(MathLibrary& library, const Buffer& memory, Samples used);
    // A view of other's frames from offset on, sharing its storage; its used
    // count is other's beyond offset, limited to 0..count.
    MixBuffer(const MixBuffer& other, Samples count, Samples offset);
    MixBuffer(const MixBuffer&) = delete;
    ~MixBuffer();
    // Shares other's storage (one more reference); keeps used_ and clips_ of other.
    MixBuffer& operator=(const MixBuffer& other);

    // Releases the current storage reference and takes the given storage
    // (counting one reference when refCount is not null). used_ and clips_ stay.
    void Setup(MathLibrary& library, const Buffer& memory, char* storage, int* refCount);
    // Drops this buffer's reference; the last one deletes the storage block.
    void free();

    // used_ = max(used_, n); writes nothing.
    void SetUsed(Samples n) {
        if (used_ < n) used_ = n;
    }
    // Empties the buffer (used_ = 0): its frames are silence again, lazily,
    // without a write. The storage and the clip count stay.
    void MarkEmpty() { used_ = 0; }
    // Zero-fills frames used_..n-1 when fewer than n are used.
    void Extend(Samples n);
    // Before a mix of count frames at offset: the frames before offset are
    // made used (silence where nothing was written); answers how many of the
    // count frames hold samples already (the mix adds over those and copies
    // over the rest).
    Samples Overlap(Samples offset, Samples count) {
        Extend(offset);
        return used_ - offset < count ? used_ - offset : count;
    }
    // Whether filter must run on this buffer for a block of n frames: true with
    // input (GettingInput) or a ringing tail (zero-filled, NoInput(n)); false
    // for an empty buffer and a quiet filter.
    bool Prepare(Filter* filter, Samples n);
    // Answers the clipped-sample count and restarts it.
    uint32_t GetClips();

    // Adds count frames of src (mono 8-bit, 16-bit or float) from frame offset
    // on, frame k scaled by gain + k * gainStep. A gap before offset is cleared.
    // With chained, frame k's gain is GainAfter(gain, gainStep, k, true) wherever
    // the frames are split up inside, so that a ramp's gains never depend on
    // how its frames were cut into calls.
    void Mix(const Buffer& src, float gain, float gainStep, Samples count, Samples offset,
             bool chained = false);
    // Blocks of at most this many float frames at a steady gain Mix adds
    // itself, in the float library's arithmetic (MixFew).
    static constexpr Samples kFewFrames = 16;
    bool MixFew(const Buffer& source, float gain, float gainStep, Samples count, Samples offset);
    MixBuffer& operator+=(const MixBuffer& other);
    MixBuffer& operator-=(const MixBuffer& other);
    MixBuffer& operator+=(const ScaledMixBuffer& scaled);
    // Scales the used frames.
    MixBuffer& operator*=(float gain);

    // Writes this buffer (left) and other (right) interleaved into dst with
    // saturation, adding the clipped samples to each buffer's clips_.
    void Merge(const Buffer& dst, MixBuffer& other, Samples n);
    // Writes n frames into dst with saturation, adding the clipped samples to clips_.
    void Save(const Buffer& dst, Samples n);

    MathLibrary* library_;  // performs every vector operation; not owned
    Samples used_;          // leading frames holding valid samples
    uint32_t clips_;        // samples clipped by Merge or Save since GetClips
    char* storage_;         // allocated block behind data_, or null when wrapping
    int* refCount_;         // shared reference count of storage_, or null
};

// One deferred steady mix of float frames: dst[i] = gain * src[i] (added to
// dst[i] when add) for i < n, n > 0: the arithmetic of MixBuffer::Mix at a
// steady gain other than 0 (whose later frames' gain + 0.0f is gain itself).
// dst and src do not overlap.
struct HeldJob {
    float* dst;
    const float* src;
    float gain;
    Samples n;
    bool add;
};

// Steady mixes collected for one pass over their samples: what an input stage
// adds into its buses at steady gains in one call, instead of a chain of calls
// per panner and per run of its delay line. Add does a mix's bookkeeping (the
// used count, a cleared gap) at once and defers its samples; Flush performs
// every deferred mix in order, with exactly the bits the calls of Mix would
// give. The owner flushes before anything reads the buses or overwrites a
// source (the destructor flushes too). No allocation.
class HeldMixPlan {
  public:
    static constexpr int kCapacity = 32;

    HeldMixPlan();
    ~HeldMixPlan() { Flush(); }
    HeldMixPlan(const HeldMixPlan&) = delete;
    HeldMixPlan& operator=(const HeldMixPlan&) = delete;

    // Defers buffer.Mix(src, gain, 0.0f, count, offset): answers false, having
    // done nothing, unless src and buffer are mono float in the float library
    // and gain is not 0 (a subnormal one counts as 0 where they are flushed).
    bool Add(MixBuffer& buffer, const Buffer& src, float gain, Samples count, Samples offset) {
        return src.type_ == kMonoFloat && AddFloats(buffer, src.floats(), gain, count, offset);
    }
    // Add of a float source.
    bool AddFloats(MixBuffer& buffer, const float* src, float gain, Samples count, Samples offset);
    void Flush();

  private:
    void push(float* dst, const float* src, float gain, Samples n, bool add) {
        if (count_ == kCapacity) Flush();
        jobs_[count_++] = HeldJob{dst, src, gain, n, add};
    }

    const MathLibrary* library_;  // the float library
    HeldJob jobs_[kCapacity];
    int count_;
};

// The bookkeeping of Mix at a steady gain, with its two library calls (the
// added overlap, the copied rest) deferred as jobs; MixFew's few frames take
// the same arithmetic. A gain of 0 (whose sign the copied rest may drop) is
// left to Mix.
inline bool HeldMixPlan::AddFloats(MixBuffer& buffer, const float* src, float gain, Samples count,
                                   Samples offset) {
    if (gain == 0.0f || buffer.type_ != kMonoFloat || buffer.library_ != library_) return false;
    const Samples overlap = buffer.Overlap(offset, count);
    const Samples rest = count - overlap;
    float* const dst = buffer.floats() + offset;
    if (overlap > 0) push(dst, src, gain, overlap, true);
    // The rest starts at GainAfter(gain, 0, overlap, chained), which is gain
    // itself for a gain other than 0, in either kind of ramp.
    if (rest > 0) push(dst + overlap, src + overlap, gain, rest, false);
    buffer.SetUsed(offset + count);
    return true;
}

// Measurements over the used frames. For an empty buffer Max answers the most
// negative finite float, Min the largest, Sum and SumSquare 0, MaxAbs 0.
float Max(const MixBuffer& buffer);
float Min(const MixBuffer& buffer);
float Sum(const MixBuffer& buffer);
float SumSquare(const MixBuffer& buffer);
float MaxAbs(const MixBuffer& buffer);
