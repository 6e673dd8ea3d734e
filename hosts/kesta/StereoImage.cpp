#include "StereoImage.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

const double kPi = 3.14159265358979323846;

double toDb(double linear) {
    return linear > 0 ? 20.0 * std::log10(linear) : -150.0;
}

// The smallest power of two of at least n.
size_t powerOfTwo(size_t n) {
    size_t p = 1;
    while (p < n) p <<= 1;
    return p;
}

}  // namespace

StereoImage::StereoImage(int rate, Limits limits)
    : rate_(std::max(1, rate)),
      limits_(limits),
      window_(std::max(1L, std::lround(rate_ * 0.1))),
      // Bins of at most 2.5 Hz, so that the lowest bands hold some.
      fftSize_(std::max<size_t>(1024, powerOfTwo(static_cast<size_t>(rate_ / 2.5)))) {
    limits_.points = std::max<size_t>(1, limits_.points);
    limits_.windows = std::max<size_t>(2, limits_.windows & ~size_t(1));
    points_.reserve(limits_.points);
    windows_.reserve(limits_.windows + 1);
    mid_.assign(fftSize_, 0.0f);
    side_.assign(fftSize_, 0.0f);
    hann_.resize(fftSize_);
    for (size_t i = 0; i < fftSize_; ++i)
        hann_[i] = 0.5 - 0.5 * std::cos(2 * kPi * static_cast<double>(i) / static_cast<double>(fftSize_));
    twiddle_.resize(fftSize_ / 2);
    for (size_t i = 0; i < twiddle_.size(); ++i)
        twiddle_[i] = std::polar(1.0, -2 * kPi * static_cast<double>(i) / static_cast<double>(fftSize_));
    reversed_.resize(fftSize_);
    int bits = 0;
    while ((size_t(1) << bits) < fftSize_) ++bits;
    for (size_t i = 0; i < fftSize_; ++i) {
        size_t r = 0;
        for (int b = 0; b < bits; ++b) r |= ((i >> b) & 1) << (bits - 1 - b);
        reversed_[i] = r;
    }
    work_.resize(fftSize_);
    midPower_.assign(fftSize_ / 2 + 1, 0.0);
    sidePower_.assign(fftSize_ / 2 + 1, 0.0);
}

void StereoImage::add(const short* s, long count, int channels) {
    if (channels_ == 0) channels_ = channels;
    for (long f = 0; f < count; ++f) {
        const int l = s[f * channels], r = channels > 1 ? s[f * channels + 1] : l;
        const int used = channels > 1 ? 2 : 1;
        for (int c = 0; c < used; ++c) {
            const int v = c == 0 ? l : r;
            peak_ = std::max(peak_, std::abs(v));
            sumSquares_ += static_cast<double>(v) * v;
            if (v == 32767 || v == -32768) ++clipped_;
        }
        addFrame(l / 32768.0, r / 32768.0);
    }
}

void StereoImage::addFrame(double l, double r) {
    const double mid = (l + r) / 2, side = (r - l) / 2;
    ++frames_;
    ll_ += l * l;
    rr_ += r * r;
    lr_ += l * r;

    // Reservoir sampling: every frame seen so far is kept with the same chance.
    const Point p{static_cast<float>(side), static_cast<float>(mid)};
    if (points_.size() < limits_.points) {
        points_.push_back(p);
    } else {
        uint64_t z = (random_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        z ^= z >> 31;
        const uint64_t j = z % static_cast<uint64_t>(frames_);
        if (j < points_.size()) points_[j] = p;
    }

    current_.ll += l * l;
    current_.rr += r * r;
    current_.lr += l * r;
    if (++current_.frames == window_) {
        windows_.push_back(current_);
        current_ = Window();
        if (windows_.size() > limits_.windows) {
            // Too many: pairs become one window of twice the length.
            for (size_t i = 0; i < windows_.size() / 2; ++i) {
                Window w = windows_[2 * i];
                w.ll += windows_[2 * i + 1].ll;
                w.rr += windows_[2 * i + 1].rr;
                w.lr += windows_[2 * i + 1].lr;
                w.frames += windows_[2 * i + 1].frames;
                windows_[i] = w;
            }
            const bool odd = windows_.size() % 2;
            if (odd) current_ = windows_.back();
            windows_.resize(windows_.size() / 2);
            window_ *= 2;
        }
    }

    mid_[ringPos_] = static_cast<float>(mid);
    side_[ringPos_] = static_cast<float>(side);
    ringPos_ = (ringPos_ + 1) % fftSize_;
    ++sinceFrame_;
    if (frames_ >= static_cast<long>(fftSize_) && sinceFrame_ >= fftSize_ / 2) spectrumFrame();
}

void StereoImage::spectrumFrame() {
    sinceFrame_ = 0;
    ++spectrumFrames_;
    const size_t n = fftSize_;
    // The ring's oldest frame sits at ringPos_.
    for (size_t i = 0; i < n; ++i) {
        const size_t k = (ringPos_ + i) % n;
        work_[reversed_[i]] = std::complex<double>(mid_[k] * hann_[i], side_[k] * hann_[i]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        const size_t step = n / len;
        for (size_t start = 0; start < n; start += len)
            for (size_t j = 0; j < len / 2; ++j) {
                const std::complex<double> t = twiddle_[j * step] * work_[start + j + len / 2];
                work_[start + j + len / 2] = work_[start + j] - t;
                work_[start + j] += t;
            }
    }
    // Z = M + iS with M and S real: M_k = (Z_k + conj Z_-k) / 2, S_k = (Z_k - conj Z_-k) / 2i.
    for (size_t k = 0; k <= n / 2; ++k) {
        const std::complex<double> z = work_[k], zc = std::conj(work_[(n - k) % n]);
        midPower_[k] += std::norm((z + zc) * 0.5);
        sidePower_[k] += std::norm((z - zc) * 0.5);
    }
}

void StereoImage::finish() {
    if (current_.frames > 0) {
        windows_.push_back(current_);
        current_ = Window();
    }
    // A stream shorter than one spectrum frame: what there is, padded with silence.
    if (spectrumFrames_ == 0 && frames_ > 0) spectrumFrame();
}

Levels StereoImage::levels() const {
    Levels levels;
    const int used = channels_ > 1 ? 2 : 1;
    const double samples = static_cast<double>(frames_) * used;
    if (frames_ == 0) return levels;
    levels.peakDb = toDb(peak_ / 32768.0);
    levels.rmsDb = toDb(std::sqrt(sumSquares_ / samples) / 32768.0);
    levels.clipped = clipped_;
    if (used == 2) levels.correlation = (ll_ > 0 && rr_ > 0) ? lr_ / std::sqrt(ll_ * rr_) : 1.0;
    return levels;
}

std::vector<double> StereoImage::correlation() const {
    const double silence = std::pow(10.0, -80.0 / 10.0);  // mean square of -80 dBFS
    std::vector<double> values;
    values.reserve(windows_.size());
    for (const Window& w : windows_) {
        if (w.ll + w.rr < 2 * silence * static_cast<double>(w.frames))
            values.push_back(std::numeric_limits<double>::quiet_NaN());
        else if (w.ll <= 0 || w.rr <= 0)
            values.push_back(0.0);  // one side only
        else
            values.push_back(std::max(-1.0, std::min(1.0, w.lr / std::sqrt(w.ll * w.rr))));
    }
    return values;
}

std::vector<double> StereoImage::bandCentres() {
    std::vector<double> centres;
    for (int k = -17; k <= 13; ++k) centres.push_back(1000.0 * std::pow(2.0, k / 3.0));
    return centres;
}

std::vector<double> StereoImage::sideToMidDb() const {
    const double nyquist = rate_ / 2.0, bin = static_cast<double>(rate_) / static_cast<double>(fftSize_);
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    // A band more than 100 dB under the whole spectrum holds nothing to compare.
    double total = 0;
    for (size_t k = 0; k < midPower_.size(); ++k) total += midPower_[k] + sidePower_[k];
    const double quiet = std::max(1e-10 * total, std::numeric_limits<double>::min());
    std::vector<double> ratios;
    for (double centre : bandCentres()) {
        if (centre >= nyquist || spectrumFrames_ == 0) {
            ratios.push_back(nan);
            continue;
        }
        const double lo = centre * std::pow(2.0, -1.0 / 6),
                     hi = std::min(nyquist, centre * std::pow(2.0, 1.0 / 6));
        // Each bin k covers (k - 1/2 .. k + 1/2) * bin; a band takes its share of the bins it overlaps.
        double mid = 0, side = 0;
        const size_t first = static_cast<size_t>(std::max(0.0, std::floor(lo / bin - 0.5)));
        const size_t last = std::min(fftSize_ / 2, static_cast<size_t>(std::ceil(hi / bin + 0.5)));
        for (size_t k = first; k <= last; ++k) {
            const double share = std::min(hi, (static_cast<double>(k) + 0.5) * bin) -
                                 std::max(lo, (static_cast<double>(k) - 0.5) * bin);
            if (share <= 0) continue;
            mid += midPower_[k] * share / bin;
            side += sidePower_[k] * share / bin;
        }
        if (mid + side <= quiet)
            ratios.push_back(nan);
        else if (side <= 1e-12 * mid)
            ratios.push_back(-inf);
        else if (mid <= 1e-12 * side)
            ratios.push_back(inf);
        else
            ratios.push_back(10.0 * std::log10(side / mid));
    }
    return ratios;
}
