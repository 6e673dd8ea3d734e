// The widener networks' shared interface: a network (VastorFilter) that owns
// the filters and internal buses, and its input stage (VastorFilterInput),
// which mixes a left and a right channel onto the network's buses with gains
// and delays. Both are Filters; their settings arrive as filter properties.
//
// Per block of n frames (n at most the block size the network was made with):
//   input->Mix(left, right, n, 0);   the input stage fills the buses
//   network->Process(n);             the network adds its left and right
//                                    results into the caller's output pair
// after which the caller reads and empties its output pair.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "Filter.h"
#include "Mixbuf.h"
#include "Panner.h"

class MathLibrary;
class VastorFilterInput;

// Property ids (SetProperty(id, value, size)) and the layout of their values.
// Integers are 32-bit; the receivers do not check size.
enum VastorProperty {
    kVastorDisabled = 0,         // input stage; 1 byte: non-zero passes the direct path only
    kVastorSpread = 1,           // input stage; float: widening gain, linear
    kVastorCenter = 2,           // input stage; float: same-side feed relative to cross-feed (dual only)
    kVastorInputScale = 3,       // input stage; two floats: left, right input gains, linear
    kVastorInputDelay = 4,       // input stage; two ints: left, right input delays, frames
    kVastorDirectDelay = 5,      // input stage; int: extra delay of the direct path, frames
    kVastorHipassFrequency = 6,  // network; int: high-pass corner, Hz (75 from construction)
    kVastorRampLength = 7,       // input stage; int: frames over which later changes glide
    kVastorHipassOn = 8,         // network; 1 byte: high-pass stage on
    kVastorChainedRamps = 9,     // input stage; 1 byte: non-zero chains glides across calls (Panner)
};

// Element index of a property value, read without alignment assumptions.
template <class T>
T VastorPropertyValue(const void* value, int index = 0) {
    T result;
    std::memcpy(&result, static_cast<const char*>(value) + index * sizeof(T), sizeof(T));
    return result;
}

// The widener networks' high-pass corner until property 6 changes it, in Hz.
constexpr Samples kWidenerHipassHz = 75;

// The size a delay line needs: the longest delay asked of it, and while a
// panner reading it still glides from an older, longer delay, that one too.
template <class... Readers>
Samples DelayLineSize(int longest, const Readers&... readers) {
    return std::max({longest, readers.delay()...});
}

// What a change of a setting both widener input stages share needs redone.
enum class WidenerSetup { kNone, kPanners, kDelays, kNotShared };

// The settings both widener input stages take alike: ids 0 (disabled, redone
// only when it changes), 3 (input scale), 4 (input delays), 5 (direct delay)
// and 7 (ramp length). Negative delays and ramp lengths count as 0. Any other
// id changes nothing and answers kNotShared.
WidenerSetup ApplySharedInputSetting(int id, const void* value, bool& disabled, float (&scale)[2],
                                     int (&inputDelay)[2], long& directDelay, long& rampLength);

class VastorFilter : public Filter {
  public:
    // A new input stage wired to this network's buses, owned by the caller.
    // It must not be used once the network is gone; it may be destroyed after it.
    virtual VastorFilterInput* CreateVastorFilterInput() = 0;
    // Filters what the input stage mixed onto the buses for frames 0..n-1 and
    // adds the left and right results into the output pair. Allocates nothing.
    virtual void Process(Samples n) = 0;
};

class VastorFilterInput : public Filter {
  public:
    // One-channel form; the widener input stages ignore it.
    virtual void Mix(const Buffer& in, Samples n, Samples offset) = 0;
    // Mixes n frames of two mono channels (8-bit, 16-bit or float) onto the
    // buses from bus frame offset on, then keeps them as the channels' history.
    virtual void Mix(const Buffer& left, const Buffer& right, Samples n, Samples offset) = 0;
};

// A new widener network for rate Hz whose buses hold blockSize frames and
// which adds its results into output[0] (left) and output[1] (right):
// the single network when flags has VASTOR_SINGLE_NETWORK (bit 29), else the
// dual one. Never null; the caller owns it. The other flag bits choose the
// widening filter (bit 31), the initial high-pass state (bit 30) and the
// high shelf (bit 28).
VastorFilter* CreateVastor(MathLibrary& library, MixBuffer (&output)[2], long rate, long blockSize,
                           unsigned flags);
