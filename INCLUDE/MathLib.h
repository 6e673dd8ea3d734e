// The math library: the one object through which the system does arithmetic
// on blocks and creates buffers, delay lines and filters. Networks ask it for
// a biquad or a delay line and never name a float class themselves.
//
// FloatLibrary is the only implementation; one object of it exists for the
// whole process (GetFloatLibrary). It has no state, so every operation is
// reentrant on distinct buffers, and nothing here allocates except the
// factories.
#pragma once

#include "Wavedata.h"

class MixBuffer;
class DelayMixBuffer;
class FirstOrderFilter;
class IIR2p0zFilter;
class BiquadFilter;
class SingleFreqFilter;
class InPlaceFilter;
class SparseFIRFilter;
class SimpleCombFilter;
class AllPassCombFilter;
struct IIR2p0zCoeffs;
struct FIRCoeffs;
struct BiquadCoeffs2;

class MathLibrary {
  public:
    // Gives buffer a new zeroed storage block of n mono float frames; leaves
    // buffer unchanged when the block cannot be allocated.
    virtual void CreateBuffer(MixBuffer& buffer, Samples n) = 0;
    // A new, empty (size 0) delay line owned by the caller.
    virtual DelayMixBuffer* CreateDelayBuffer() = 0;
    // dst[i] = g_i * src[i], g_0 = gain, g_{i+1} = g_i + step. dst mono float;
    // src mono 8-bit, 16-bit (scaled to +-1.0) or float; otherwise nothing.
    virtual void CopyRamped(const Buffer& dst, const Buffer& src, float gain, float step, Samples n) = 0;
    // dst[i] += g_i * src[i], as CopyRamped.
    virtual void AddRamped(const Buffer& dst, const Buffer& src, float gain, float step, Samples n) = 0;
    virtual void Add(const Buffer& a, const Buffer& b, Samples n) = 0;         // a[i] += b[i]
    virtual void Sub(const Buffer& a, const Buffer& b, Samples n) = 0;         // a[i] -= b[i]
    virtual void Negate(const Buffer& dst, const Buffer& src, Samples n) = 0;  // dst[i] = -src[i]
    virtual void Multiply(const Buffer& a, float factor, Samples n) = 0;       // a[i] *= factor
    virtual float Sum(const Buffer& a, Samples n) = 0;
    virtual float SumAbs(const Buffer& a, Samples n) = 0;
    virtual float SumSquare(const Buffer& a, Samples n) = 0;
    virtual float Min(const Buffer& a, Samples n) = 0;
    virtual float Max(const Buffer& a, Samples n) = 0;
    // Sum of |a[i]| at most one 16-bit step (the float nearest 1/32767).
    virtual bool IsQuiet(const Buffer& a, Samples n) = 0;
    virtual FirstOrderFilter* CreateFirstOrderFilter(Samples sampleRate) = 0;
    virtual IIR2p0zFilter* CreateFilter(const IIR2p0zCoeffs* coeffs) = 0;
    virtual BiquadFilter* CreateBiquad() = 0;
    virtual SingleFreqFilter* CreateHighpass(Samples sampleRate) = 0;
    virtual InPlaceFilter* CreateFIRFilter(const FIRCoeffs* coeffs) = 0;
    virtual SparseFIRFilter* CreateSparseFIRFilter(Samples sampleRate) = 0;
    virtual SimpleCombFilter* CreateSimpleCombFilter(Samples sampleRate) = 0;
    virtual AllPassCombFilter* CreateAllPassCombFilter(Samples sampleRate) = 0;
    virtual void Split(const Buffer& a, const Buffer& b, const Buffer& src, Samples n);
    virtual void Split(const Buffer& a, const Buffer& b, const Buffer& c, const Buffer& d, const Buffer& src,
                       Samples n);
    // Two mono blocks interleaved into dst; the float implementation counts
    // clipped samples per channel into clips[0] and clips[1].
    virtual void Merge(const Buffer& dst, const Buffer& a, const Buffer& b, Samples n, unsigned int* clips);
    virtual void Merge(const Buffer& dst, Buffer* sources, int count, Samples n);
    // src into dst's format; the float implementation counts clipped samples.
    virtual void Save(const Buffer& dst, const Buffer& src, Samples n, Samples* clips);
    // Linear-interpolating resampler, mono float; 16.16 fixed-point phase and step.
    virtual void ResampleWithInterpolation(const Buffer& dst, const Buffer& src, Samples n,
                                           unsigned long phase, unsigned long step, long stepDelta);
    // The same from an interleaved stereo (quad) float block, channel c into
    // dst c, all destinations mono float.
    void ResampleWithInterpolation(const Buffer& dst0, const Buffer& dst1, const Buffer& src, Samples n,
                                   unsigned long phase, unsigned long step, long stepDelta);
    void ResampleWithInterpolation(const Buffer& dst0, const Buffer& dst1, const Buffer& dst2,
                                   const Buffer& dst3, const Buffer& src, Samples n, unsigned long phase,
                                   unsigned long step, long stepDelta);
    // Resampling by copying the frame at the position's integer part, any
    // sample width: mono to mono of one type, or an interleaved stereo (quad)
    // block into the mono blocks of its width, channel c into dst c.
    // Positions as in Resample.h; a mismatch of types writes nothing.
    void ResampleWithCopy(const Buffer& dst, const Buffer& src, Samples n, unsigned long phase,
                          unsigned long step, long stepDelta);
    void ResampleWithCopy(const Buffer& dst0, const Buffer& dst1, const Buffer& src, Samples n,
                          unsigned long phase, unsigned long step, long stepDelta);
    void ResampleWithCopy(const Buffer& dst0, const Buffer& dst1, const Buffer& dst2, const Buffer& dst3,
                          const Buffer& src, Samples n, unsigned long phase, unsigned long step,
                          long stepDelta);

    // Extend each buffer to n frames, then merge without clip counting.
    void Merge(const Buffer& dst, MixBuffer* buffers, int count, Samples n);
    void Merge(const Buffer& dst, MixBuffer** buffers, int count, Samples n);
    // a.Merge(dst, b, n): with clip counting.
    void Merge(const Buffer& dst, MixBuffer& a, MixBuffer& b, Samples n);

    // A new biquad cascade from a pole/zero record, or null.
    BiquadFilter* CreateFilter(const BiquadCoeffs2* coeffs);
    // The same from the record of table (count entries) for sampleRate: an
    // exact rate wins, else the nearest (earlier on a tie) unless exactOnly.
    BiquadFilter* CreateFilter(const BiquadCoeffs2* table, int count, Samples sampleRate, bool exactOnly);
};

class FloatLibrary : public MathLibrary {
  public:
    void CreateBuffer(MixBuffer& buffer, Samples n) override;
    DelayMixBuffer* CreateDelayBuffer() override;
    void CopyRamped(const Buffer& dst, const Buffer& src, float gain, float step, Samples n) override;
    void AddRamped(const Buffer& dst, const Buffer& src, float gain, float step, Samples n) override;
    void Add(const Buffer& a, const Buffer& b, Samples n) override;
    void Sub(const Buffer& a, const Buffer& b, Samples n) override;
    void Negate(const Buffer& dst, const Buffer& src, Samples n) override;
    void Multiply(const Buffer& a, float factor, Samples n) override;
    float Sum(const Buffer& a, Samples n) override;
    float SumAbs(const Buffer& a, Samples n) override;
    float SumSquare(const Buffer& a, Samples n) override;
    float Min(const Buffer& a, Samples n) override;
    float Max(const Buffer& a, Samples n) override;
    bool IsQuiet(const Buffer& a, Samples n) override;
    FirstOrderFilter* CreateFirstOrderFilter(Samples sampleRate) override;
    IIR2p0zFilter* CreateFilter(const IIR2p0zCoeffs* coeffs) override;
    BiquadFilter* CreateBiquad() override;
    SingleFreqFilter* CreateHighpass(Samples sampleRate) override;
    InPlaceFilter* CreateFIRFilter(const FIRCoeffs* coeffs) override;
    SparseFIRFilter* CreateSparseFIRFilter(Samples sampleRate) override;
    SimpleCombFilter* CreateSimpleCombFilter(Samples sampleRate) override;
    AllPassCombFilter* CreateAllPassCombFilter(Samples sampleRate) override;
    void Merge(const Buffer& dst, const Buffer& a, const Buffer& b, Samples n, unsigned int* clips) override;
    void Save(const Buffer& dst, const Buffer& src, Samples n, Samples* clips) override;

    using MathLibrary::CreateFilter;
    using MathLibrary::Merge;
};

// The single library object.
MathLibrary* GetFloatLibrary();

// The quiet test of IsQuiet on a plain array.
bool IsQuiet(const float* samples, Samples n);
// Float-to-float ramped copy and add on plain arrays (AddRamped without its
// unity-gain shortcut).
void ffCopyRamped(float* dst, const float* src, float gain, float step, Samples n);
void ffAddRamped(float* dst, const float* src, float gain, float step, Samples n);
// count steady mixes (HeldJob, Mixbuf.h) in order, in one call.
struct HeldJob;
void ffRunHeld(const HeldJob* jobs, int count);
