// A picture of one file's stereo image, or of a file and its rendered result
// side by side, drawn with cairo into a PNG without a display: goniometers,
// correlation over time, side-to-mid energy per third-octave band, and a
// caption with the settings and the summary levels.
#pragma once

#include <string>
#include <vector>

#include "StereoImage.h"

struct PictureFile {
    std::string name;          // as shown in the picture
    const StereoImage* image;  // finished
};

struct PictureContent {
    std::string title;
    std::vector<std::string> settings;  // caption lines; empty when the settings are not known
    std::vector<PictureFile> files;     // one, or the input and its result
};

// Where the panels sit, in pixels from the picture's top left corner, and how
// values map into them. Readers of the picture (tests) find things by it.
struct PictureLayout {
    struct Rect {
        double x, y, w, h;
    };
    static constexpr int kWidth = 1200, kHeight = 800;
    Rect goniometer[2];  // square; the second only for a pair
    Rect correlation, spectrum, caption;
    // A goniometer's centre to its full-scale corners (the image is scaled so
    // that nearly all of a file's frames fall inside).
    double goniometerRadius;
    static constexpr double kMinDb = -40, kMaxDb = 20;  // the side-to-mid axis

    double correlationY(double value) const;  // value -1 .. +1
    double spectrumX(double hz) const;        // 20 Hz .. 20 kHz, logarithmic
    double spectrumY(double db) const;        // clamped to kMinDb .. kMaxDb
};

PictureLayout pictureLayout(int files);

// The colour of the first (input) and second (result) file, 0 .. 1.
struct PictureColour {
    double r, g, b;
};
extern const PictureColour kPictureColours[2];

// Writes the PNG through a temporary file in the same folder, so that an
// existing picture is only ever replaced by a whole one. False with error set.
bool drawPicture(const PictureContent& content, const std::string& path, std::string& error);
