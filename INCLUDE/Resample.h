// Planning of block-wise sample-rate conversion (the conversions themselves
// are members of MathLibrary).
//
// A position (phase) is unsigned 16.16 fixed point: phase >> 16 is a frame of
// the current input block, phase & 0xFFFF the fraction in 1/65536 frame, so an
// input block holds at most 65536 frames. The step, the input distance between
// two output frames, has the same format (0x10000 = same rate), and the signed
// 16.16 stepDelta is added to it after every output frame. Output frame j is
// taken at
//     phase_j = phase + j * step + stepDelta * j * (j - 1) / 2   (mod 2^32).
// Only the low 32 bits of the arguments count; results lie in 0 .. 2^32 - 1.
#pragma once

#include "Wavedata.h"

// phase_n: the position after n output frames, exact modulo 2^32.
unsigned long CalculateLastIndex(Samples n, unsigned long phase, unsigned long step, long stepDelta);

// On entry *inCount is the number of input frames available and *outCount the
// number of output frames wanted (a negative count is taken as 0). On return
// *outCount is the number of those frames that lie inside the input (the
// smallest k whose position reaches the end of the input, or all of them) and
// *inCount the input frames they use up. With the position already past the
// input, *outCount becomes 0 and *inCount stays.
//
// Exact for steps that stay positive over the requested frames and positions
// that stay below 2^32. Other steps give no meaningful counts (at most the
// request, possibly both 0), but the call always returns.
void PredictResampling(Samples* inCount, Samples* outCount, unsigned long phase, unsigned long step,
                       long stepDelta);
