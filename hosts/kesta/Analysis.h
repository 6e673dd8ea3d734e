// Level and width measurements of interleaved 16-bit audio.
#pragma once

#include <cstddef>

struct Levels {
    double peakDb = -150;    // dBFS of the largest sample
    double rmsDb = -150;     // dBFS of the root mean square over all samples
    double correlation = 1;  // of left and right: 1 is mono, lower is wider
    long clipped = 0;        // samples at full scale (-32768 or 32767)
};

Levels measure(const short* samples, size_t frames, int channels);
