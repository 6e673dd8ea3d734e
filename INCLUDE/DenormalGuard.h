// Keeps subnormal floats out of an engine's processing call.
//
// A recursive filter whose input has just stopped decays through subnormal
// numbers (and may settle in a limit cycle among them), which costs tens of
// times the normal price per operation on x86. A DenormalGuard, placed on the
// stack of a processing call, sets flush-to-zero and denormals-are-zero in
// the SSE control register for the rest of the call and gives the caller's
// register back, unchanged, when it goes out of scope: the host's own
// floating-point state is never touched. On targets without SSE it does
// nothing. Constant time, no allocation.
#pragma once

#if defined(__SSE__) || defined(_M_X64)
#include <xmmintrin.h>
#define KESTA_HAVE_MXCSR 1
#endif

class DenormalGuard {
  public:
#if defined(KESTA_HAVE_MXCSR)
    // MXCSR bit 15 (flush results to zero) and bit 6 (read subnormal inputs as zero).
    static constexpr unsigned int kFlushToZero = 0x8000u;
    static constexpr unsigned int kDenormalsAreZero = 0x0040u;

    // A guard inside another on the same thread (an engine's call inside the
    // processor's) finds the register set already and leaves it to the outer
    // one: reading or writing the register stalls the processor, which costs
    // more than a small block's work.
    DenormalGuard() : outer_(depth_++ == 0), saved_(0) {
        if (!outer_) return;
        saved_ = _mm_getcsr();
        const unsigned int wanted = saved_ | kFlushToZero | kDenormalsAreZero;
        if (wanted != saved_) _mm_setcsr(wanted);
    }
    // Also clears the exception flags the call raised, as the caller had them
    // (an unchanged register is not written again).
    ~DenormalGuard() {
        --depth_;
        if (outer_ && _mm_getcsr() != saved_) _mm_setcsr(saved_);
    }

  private:
    static inline thread_local int depth_ = 0;  // guards alive on this thread
    bool outer_;
    unsigned int saved_;
#else
    DenormalGuard() {}
#endif

  public:
    DenormalGuard(const DenormalGuard&) = delete;
    DenormalGuard& operator=(const DenormalGuard&) = delete;
};
