// kesta's pictures: files or signals in memory analysed and drawn as one PNG.
#pragma once

#include <string>
#include <vector>

#include "Parameters.h"

// The caption's lines for the settings a run used.
std::vector<std::string> settingsLines(const kesta::Settings& settings);

// Draws one file, or a file and its result (paths holds one or two), into the
// PNG at image. Files are streamed: memory does not grow with their length.
// False with error set, in words for the user.
bool pictureOfFiles(const std::vector<std::string>& paths, const std::vector<std::string>& settings,
                    const std::string& image, std::string& error);

// A signal held in memory: interleaved 16-bit frames.
struct Signal {
    std::string name;
    const short* samples;
    long frames;
    int channels;
};

// Draws a signal and its result, both at rate, into the PNG at image.
bool pictureOfSignals(const std::string& title, const Signal& before, const Signal& after, int rate,
                      const std::vector<std::string>& settings, const std::string& image, std::string& error);
