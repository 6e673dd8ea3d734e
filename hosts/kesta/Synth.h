// The demo's test signals, made here so that the demo needs no input files.
#pragma once

#include <vector>

// A mono voice-like signal: a gliding glottal pulse train through three
// formant resonators, spoken in syllables. 16-bit samples.
std::vector<short> voiceLike(int rate, double seconds);
// A stereo music-like signal: a centred bass, chords panned apart and
// hi-hat noise on the right. Interleaved 16-bit frames.
std::vector<short> musicLike(int rate, double seconds);
