// kesta's command line after the command word: positional arguments, the
// run's settings overrides and the host options, checked as they are parsed.
#pragma once

#include <string>
#include <vector>

#include "PlayerSettings.h"

struct Options {
    std::vector<std::string> args;  // positional arguments after the command
    bool save = false;
    int bits = 0;            // 0: from the input; else 8, 16, 24 or 32
    bool floatBits = false;  // --bits float
    int block = 512;         // frames per block, 1 .. 65536
    std::string plugin;
    // Rendering.
    bool player = false;  // through the player plug-in, as a player plays
    bool noDither = false;
    bool hasGain = false;
    float gainDb = 0;  // -60 .. 60
    bool headroomAuto = false;
    bool strict = false;  // a damaged input is an error
    std::string type;     // output format for "-" and folders; empty: from the name
    int quality = -1;     // --quality of a lossy output, 0 .. 10; -1: the encoder's default
    std::string outDir;   // -o: render every input into this folder
    int jobs = 0;         // -j: files at once; 0: one per core
    std::string picture;  // --picture: a PNG of the input and the result
    bool quiet = false;
    bool help = false;
    std::vector<std::string> given;  // the options named, as "--name" (short ones too: "-o")
    // The settings given, one option per parameter of the table ("--" and its
    // option name): those the player's file holds override the saved ones
    // (render and demo), the others the defaults (render's float path only).
    kesta::Settings settings;
    bool hasSetting[kesta::kParameterCount] = {};

    bool has(kesta::Parameter p) const { return hasSetting[static_cast<int>(p)]; }
    // Whether a setting that the player's file holds is given.
    bool overrides() const;
    // Sets the settings given in s.
    void apply(kesta::Settings& s) const;
};

// What command does not take among the options given, in words for the user;
// empty when it takes them all.
std::string checkOptionsFor(const std::string& command, const Options& options);

// The help lines of the settings options: those the player's file holds
// (inPlayerFile) or the others.
std::string settingsHelp(bool inPlayerFile);

// Parses argv[first..argc) into options; answers an empty string, or what is
// wrong in words for the user. "--name value" and "--name=value" both work;
// an unknown option is refused before anything after it is taken as its value.
std::string parseOptions(int argc, char** argv, int first, Options& options);
