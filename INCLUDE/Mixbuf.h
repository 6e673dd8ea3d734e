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

// Measurements over the used frames. For an empty buffer Max answers the most
// negative finite float, Min the largest, Sum and SumSquare 0, MaxAbs 0.
float Max(const MixBuffer& buffer);
float Min(const MixBuffer& buffer);
float Sum(const MixBuffer& buffer);
float SumSquare(const MixBuffer& buffer);
float MaxAbs(const MixBuffer& buffer);
