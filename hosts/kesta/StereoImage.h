// Streaming measurements of a stereo image, for the pictures kesta draws:
// goniometer points, correlation over time, side-to-mid energy per
// third-octave band and the summary levels. Memory stays bounded however
// long the stream: the points are a uniform sample of the frames, and the
// correlation windows double in length when there would be too many.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Analysis.h"

class StereoImage {
  public:
    struct Limits {
        size_t points = 1 << 17;  // goniometer points kept
        size_t windows = 4096;    // correlation windows kept (even)
    };
    // A goniometer point in full-scale units: mid = (L + R) / 2 up,
    // side = (R - L) / 2 across. Full-scale L and R fill |mid| + |side| <= 1.
    struct Point {
        float side, mid;
    };

    explicit StereoImage(int rate) : StereoImage(rate, Limits()) {}
    StereoImage(int rate, Limits limits);

    // Adds interleaved 16-bit frames of 1 or 2 channels; a mono frame
    // counts as L = R. Allocates nothing.
    void add(const short* frames, long count, int channels);
    // Sets the count of clipped samples, for a stream whose own depth tells
    // them better than its 16-bit frames do (see countClipped).
    void setClipped(long clipped) { clipped_ = clipped; }
    // Ends the stream: the last partial correlation window is kept, and a
    // stream too short for a whole spectrum frame is analysed as it is.
    void finish();

    int rate() const { return rate_; }
    int channels() const { return channels_; }
    long frames() const { return frames_; }
    // Peak, RMS, correlation and clipped samples, as measure() answers for
    // the same frames held in memory.
    Levels levels() const;

    const std::vector<Point>& points() const { return points_; }

    // The length of a correlation window in seconds (about 0.1, doubled for
    // long streams) and one value per window, -1 .. +1; NaN for a window
    // whose level is under -80 dBFS. The last window may be shorter.
    double windowSeconds() const { return static_cast<double>(window_) / rate_; }
    std::vector<double> correlation() const;

    // Centres of the third-octave bands, 20 Hz to 20 kHz (1000 * 2^(k/3) Hz).
    static std::vector<double> bandCentres();
    // Side energy over mid energy in dB per band: -inf where the side is
    // silent, +inf where only the side sounds, NaN where the band holds
    // nothing (100 dB under the whole spectrum) or lies above half the rate.
    std::vector<double> sideToMidDb() const;

  private:
    struct Window {
        double ll = 0, rr = 0, lr = 0;
        long frames = 0;
    };
    void addFrame(double l, double r);
    void spectrumFrame();

    int rate_;
    int channels_ = 0;
    Limits limits_;
    long frames_ = 0;

    // Levels.
    int peak_ = 0;
    double sumSquares_ = 0, ll_ = 0, rr_ = 0, lr_ = 0;
    long clipped_ = 0;

    // Goniometer: a reservoir sample of the frames.
    std::vector<Point> points_;
    uint64_t random_ = 0x9e3779b97f4a7c15ull;

    // Correlation.
    long window_;  // frames per window
    Window current_;
    std::vector<Window> windows_;

    // Spectrum: Hann-windowed frames of fftSize_, half overlapped; mid and
    // side go through one complex transform as its real and imaginary parts.
    size_t fftSize_;
    std::vector<float> mid_, side_;  // the last fftSize_ frames, a ring
    size_t ringPos_ = 0;
    size_t sinceFrame_ = 0;  // frames since the last spectrum frame
    long spectrumFrames_ = 0;
    std::vector<double> hann_;
    std::vector<std::complex<double>> twiddle_, work_;
    std::vector<size_t> reversed_;
    std::vector<double> midPower_, sidePower_;  // per bin, summed over frames
};
