// Placeholders for library members whose classes are not written yet, so that
// the library links while they are. Each is removed when its real definition
// lands; the file goes away when it is empty.
#include "MathLib.h"

FirstOrderFilter* FloatLibrary::CreateFirstOrderFilter(Samples) { return nullptr; }
IIR2p0zFilter* FloatLibrary::CreateFilter(const IIR2p0zCoeffs*) { return nullptr; }
BiquadFilter* FloatLibrary::CreateBiquad() { return nullptr; }
SingleFreqFilter* FloatLibrary::CreateHighpass(Samples) { return nullptr; }
InPlaceFilter* FloatLibrary::CreateFIRFilter(const FIRCoeffs*) { return nullptr; }
SparseFIRFilter* FloatLibrary::CreateSparseFIRFilter(Samples) { return nullptr; }
SimpleCombFilter* FloatLibrary::CreateSimpleCombFilter(Samples) { return nullptr; }
AllPassCombFilter* FloatLibrary::CreateAllPassCombFilter(Samples) { return nullptr; }
DelayMixBuffer* FloatLibrary::CreateDelayBuffer() { return nullptr; }
BiquadFilter* MathLibrary::CreateFilter(const BiquadCoeffs2*) { return nullptr; }
BiquadFilter* MathLibrary::CreateFilter(const BiquadCoeffs2*, int, Samples, bool) { return nullptr; }
void MathLibrary::ResampleWithInterpolation(const Buffer&, const Buffer&, Samples, unsigned long, unsigned long,
                                            long) {}

#include <cstring>
// Same-type copies only, until the format conversions land.
void Buffer::copyTo(const Buffer& dst, Samples n) const {
    if (n <= 0) return;
    if (dst.type_ == type_)
        std::memcpy(dst.data_, data_, static_cast<size_t>(n) << shifts_[type_]);
    else
        dst.clear(n);
}
