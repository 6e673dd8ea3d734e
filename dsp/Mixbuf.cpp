// The float mix buffer: used-count bookkeeping, shared storage, and the block
// operations that hand their per-sample work to the buffer's math library.
// Nothing here checks counts against the storage: its creator keeps within it.
#include "Mixbuf.h"

#include "Assert.h"
#include "Filter.h"
#include "MathLib.h"

MixBuffer::MixBuffer() : library_(nullptr), used_(0), clips_(0), storage_(nullptr), refCount_(nullptr) {}

MixBuffer::MixBuffer(MathLibrary& library, const Buffer& memory, Samples used)
    : Buffer(memory), library_(&library), used_(used), clips_(0), storage_(nullptr), refCount_(nullptr) {}

MixBuffer::MixBuffer(const MixBuffer& other, Samples count, Samples offset)
    : Buffer(other + offset),
      library_(other.library_),
      used_(0),
      clips_(0),
      storage_(other.storage_),
      refCount_(other.refCount_) {
    Samples used = other.used_ - offset;
    if (used > count) used = count;
    if (used < 0) used = 0;
    used_ = used;
    if (refCount_) ++*refCount_;
}

MixBuffer::~MixBuffer() {
    free();
}

MixBuffer& MixBuffer::operator=(const MixBuffer& other) {
    if (this == &other) return *this;
    free();
    data_ = other.data_;
    type_ = other.type_;
    library_ = other.library_;
    used_ = other.used_;
    clips_ = other.clips_;
    storage_ = other.storage_;
    refCount_ = other.refCount_;
    if (refCount_) ++*refCount_;
    return *this;
}

void MixBuffer::Setup(MathLibrary& library, const Buffer& memory, char* storage, int* refCount) {
    free();
    data_ = memory.data_;
    type_ = memory.type_;
    library_ = &library;
    storage_ = storage;
    refCount_ = refCount;
    if (refCount_) ++*refCount_;
}

// Gives up the reference exactly once: the pointers are dropped even while
// others keep the block, so a later free() (the destructor's) takes nothing.
void MixBuffer::free() {
    if (!refCount_) return;
    if (--*refCount_ == 0) delete[] storage_;
    storage_ = nullptr;
    refCount_ = nullptr;
}

void MixBuffer::Extend(Samples n) {
    if (used_ >= n) return;
    (*this + used_).clear(n - used_);
    used_ = n;
}

uint32_t MixBuffer::GetClips() {
    const uint32_t clips = clips_;
    clips_ = 0;
    return clips;
}

// Frames that already hold samples are added to; frames past the used part are written by a copy, so
// they need no clearing first. The copied part starts at GainAfter(gain, gainStep, overlap, chained):
// the ramp's gain that far on. A few frames at a steady gain take MixFew's shorter way.
void MixBuffer::Mix(const Buffer& src, float gain, float gainStep, Samples count, Samples offset,
                    bool chained) {
    if (MixFew(src, gain, gainStep, count, offset)) return;
    const Samples overlap = Overlap(offset, count);
    const Samples rest = count - overlap;
    if (overlap > 0) library_->AddRamped(*this + offset, src, gain, gainStep, overlap);
    if (rest > 0) {
        const float restGain = GainAfter(gain, gainStep, overlap, chained);
        library_->CopyRamped(*this + (offset + overlap), src + overlap, restGain, gainStep, rest);
    }
    SetUsed(offset + count);
}

// The filter runs with input (used_ >= n) or while its tail still rings; a
// partly filled buffer counts as a silent block for the tail. An empty buffer
// behind a quiet filter is left as it is, not even cleared.
bool MixBuffer::Prepare(Filter* filter, Samples n) {
    KESTA_ASSERT(filter != 0, "filter!=0", "bool MixBuffer::Prepare(class Filter *, Samples)");
    if (used_ >= n) {
        filter->GettingInput();
        return true;
    }
    if (used_ == 0 && filter->IsQuiet()) return false;
    Extend(n);
    filter->NoInput(n);
    return true;
}

MixBuffer& MixBuffer::operator+=(const MixBuffer& other) {
    const Samples n = used_ < other.used_ ? used_ : other.used_;
    if (n > 0) library_->Add(*this, other, n);
    const Samples rest = other.used_ - n;
    if (rest > 0) {
        (other + n).copyTo(*this + n, rest);
        used_ += rest;
    }
    return *this;
}

MixBuffer& MixBuffer::operator-=(const MixBuffer& other) {
    const Samples n = used_ < other.used_ ? used_ : other.used_;
    if (n > 0) library_->Sub(*this, other, n);
    const Samples rest = other.used_ - n;
    if (rest > 0) {
        library_->Negate(*this + n, other + n, rest);
        used_ += rest;
    }
    return *this;
}

MixBuffer& MixBuffer::operator+=(const ScaledMixBuffer& scaled) {
    const MixBuffer& other = *scaled.buffer_;
    const Samples n = used_ < other.used_ ? used_ : other.used_;
    if (n > 0) library_->AddRamped(*this, other, scaled.scale_, 0.0f, n);
    const Samples rest = other.used_ - n;
    if (rest > 0) {
        library_->CopyRamped(*this + n, other + n, scaled.scale_, 0.0f, rest);
        used_ += rest;
    }
    return *this;
}

MixBuffer& MixBuffer::operator*=(float gain) {
    library_->Multiply(*this, gain, used_);
    return *this;
}

void MixBuffer::Merge(const Buffer& dst, MixBuffer& other, Samples n) {
    Extend(n);
    other.Extend(n);
    unsigned int clips[2] = {0, 0};
    library_->Merge(dst, *this, other, n, clips);
    clips_ += clips[0];
    other.clips_ += clips[1];
}

void MixBuffer::Save(const Buffer& dst, Samples n) {
    Extend(n);
    Samples clips = 0;
    library_->Save(dst, *this, n, &clips);
    clips_ += static_cast<uint32_t>(clips);
}

float Max(const MixBuffer& buffer) {
    return buffer.library_->Max(buffer, buffer.used_);
}

float Min(const MixBuffer& buffer) {
    return buffer.library_->Min(buffer, buffer.used_);
}

float Sum(const MixBuffer& buffer) {
    return buffer.library_->Sum(buffer, buffer.used_);
}

float SumSquare(const MixBuffer& buffer) {
    return buffer.library_->SumSquare(buffer, buffer.used_);
}

// |Max| wins a tie with |Min|.
float MaxAbs(const MixBuffer& buffer) {
    if (buffer.used_ <= 0) return 0.0f;
    const float high = Max(buffer), low = Min(buffer);
    const float highAbs = high < 0.0f ? -high : high;
    const float lowAbs = low < 0.0f ? -low : low;
    return lowAbs > highAbs ? lowAbs : highAbs;
}

// Mix of at most kFewFrames float frames at a steady gain, without the
// float library's calls and in its arithmetic (AddRamped over the overlap,
// then CopyRamped from the gain after it): each run's first frame takes its
// gain as it is, the others that gain plus the step of 0. For the few frames
// of a small host block, where the calls would cost more than the work.
// Answers false, having done nothing, for anything else.
bool MixBuffer::MixFew(const Buffer& source, float gain, float gainStep, Samples count, Samples offset) {
    if (count > kFewFrames || gainStep != 0.0f || source.type_ != kMonoFloat || type_ != kMonoFloat ||
        library_ != GetFloatLibrary())
        return false;
    const Samples overlap = Overlap(offset, count);
    const Samples rest = count - overlap;
    float* const dst = floats() + offset;
    const float* const src = source.floats();
    if (overlap > 0) {
        const float held = gain + 0.0f;
        dst[0] = dst[0] + gain * src[0];
        for (Samples i = 1; i < overlap; ++i) dst[i] = dst[i] + held * src[i];
    }
    if (rest > 0) {
        // GainAfter(gain, 0, overlap, chained): adding steps of 0 changes
        // nothing after the first, which turns -0 into +0.
        const float restGain = overlap > 0 ? gain + 0.0f : gain;
        const float restHeld = restGain + 0.0f;
        float* const to = dst + overlap;
        const float* const from = src + overlap;
        to[0] = restGain * from[0];
        for (Samples i = 1; i < rest; ++i) to[i] = restHeld * from[i];
    }
    SetUsed(offset + count);
    return true;
}

HeldMixPlan::HeldMixPlan() : library_(GetFloatLibrary()), count_(0) {}

void HeldMixPlan::Flush() {
    if (count_ == 0) return;
    ffRunHeld(jobs_, count_);
    count_ = 0;
}
