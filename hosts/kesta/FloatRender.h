// kesta's own rendering path: a file through the float core (kesta::Processor)
// at the input's rate and depth, lined up with the input frame for frame.
#pragma once

#include <csignal>
#include <string>

#include "AudioFile.h"
#include "Processor.h"

struct RenderRequest {
    std::string in, out;                    // "-" for standard input and output
    std::string type;                       // output format; empty: from out's extension
    int quality = -1;                       // of a lossy output, 0 .. 10; -1: the encoder's default
    SampleDepth depth = SampleDepth::None;  // None: the input's own
    bool dither = true;                     // TPDF dither when reducing to 16 or 8 bits
    float gainDb = 0;                       // applied to the input
    bool headroomAuto = false;              // scale the result so that its peak sits at -0.1 dBFS, never up
    bool strict = false;                    // a damaged input is an error that writes nothing
    bool quiet = false;                     // no notes or progress; warnings and errors still shown
    bool progress = false;                  // a percentage on stderr for long files
    int block = 512;                        // largest block handed to the processor
    kesta::Settings settings;
    const volatile std::sig_atomic_t* stop = nullptr;  // non-zero: give up, leave nothing
};

// Renders one file; answers 0, or 1 after saying on stderr what failed. A
// run stopped by *stop leaves nothing and answers 1.
int renderFloat(const RenderRequest& request);

// The largest magnitude of a sound sample in a float file (1.0 is full
// scale): one beyond it is damage, as one that is not a number is.
constexpr float kLargestSample = 1000.0f;
// "12 samples were not a number or infinite (the first at frame 3)", with
// "or beyond +-1000" when some were.
std::string damagedSamples(long long count, long long firstFrame, bool beyond);

// "kesta: " + what on stderr, as one line.
void say(const std::string& what);
// The level of a peak in dBFS, and the --gain that would put it at -0.1 dBFS.
std::string peakAndGain(float peak);
