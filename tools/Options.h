// kesta's command line after the command word: positional arguments, the
// run's settings overrides and the host options, checked as they are parsed.
#pragma once

#include <string>
#include <vector>

#include "Settings.h"

struct Options {
    std::vector<std::string> args;  // positional arguments after the command
    bool save = false;
    int bits = 0;  // 0: from the input; else 8 or 16
    int block = 512;  // frames per block, 1 .. 65536
    std::string plugin;
    // Overrides of the saved settings.
    const char* mode = nullptr;  // null, "music" or "voice"
    bool hasSpread = false;
    float spread = 0;  // dB, -18 .. 0
    int subtone = -1, mono3d = -1, widen = -1;  // -1 unset, else 0 or 1

    bool overrides() const { return mode || hasSpread || subtone >= 0 || mono3d >= 0 || widen >= 0; }
    void apply(Settings& s) const;
};

// Parses argv[first..argc) into options; answers an empty string, or what is
// wrong in words for the user. "--name value" and "--name=value" both work;
// an unknown option is refused before anything after it is taken as its value.
std::string parseOptions(int argc, char** argv, int first, Options& options);
