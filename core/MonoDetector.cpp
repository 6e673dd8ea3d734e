#include "MonoDetector.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace kesta {

namespace {

constexpr double kPi = 3.14159265358979323846;
// The largest gain between the channels allowed for, as a ratio.
const double kMostGain = std::pow(10.0, MonoDetector::kMaxGainDb / 20.0);
// Outside mono the long window is judged every this many hops measured.
constexpr int kLongEvery = 4;

// The sum of a[i] * b[i] over [0, n), in kLanes running sums.
float Dot(const float* a, const float* b, int n) {
    float lane[kLanes] = {};
    int i = 0;
    for (; i + kLanes <= n; i += kLanes)
        for (int j = 0; j < kLanes; ++j) lane[j] += a[i + j] * b[i + j];
    for (; i < n; ++i) lane[0] += a[i] * b[i];
    float sum = 0.0f;
    for (float x : lane) sum += x;
    return sum;
}

// From base = the sum of x[j] x[j - d] over j in [0, n), the same sum over
// j in [-m, n - m): the terms that enter before the hop in, those at its end
// out (x holds history before index 0).
double Shifted(double base, const float* x, int n, int m, int d) {
    double sum = base;
    for (int j = -m; j < 0; ++j) sum += static_cast<double>(x[j]) * x[j - d];
    for (int j = n - m; j < n; ++j) sum -= static_cast<double>(x[j]) * x[j - d];
    return sum;
}

// Solves the first size equations of g x = b (g symmetric and positive
// semi-definite) by elimination into x; false when they are singular.
bool Solve(const double (&g)[3][3], const double (&b)[3], int size, double (&x)[3]) {
    // A little ridge: the right channel, its slope and its curvature are
    // nearly dependent for a narrow-band signal, where any of the near
    // solutions fits alike; the ridge picks a small one.
    double trace = 0.0;
    for (int i = 0; i < size; ++i) trace += g[i][i];
    double a[3][4];
    for (int i = 0; i < size; ++i) {
        for (int j = 0; j < size; ++j) a[i][j] = g[i][j] + (i == j ? 1e-7 * trace : 0.0);
        a[i][3] = b[i];
    }
    for (int col = 0; col < size; ++col) {
        if (!(a[col][col] > 0.0)) return false;
        for (int row = col + 1; row < size; ++row) {
            const double f = a[row][col] / a[col][col];
            for (int j = col; j < 4; ++j) a[row][j] -= f * a[col][j];
        }
    }
    for (int i = size - 1; i >= 0; --i) {
        double v = a[i][3];
        for (int j = i + 1; j < size; ++j) v -= a[i][j] * x[j];
        x[i] = v / a[i][i];
    }
    return true;
}

long HopsIn(double seconds, unsigned rate, int hop) {
    const double hops = std::ceil(seconds * rate / hop);
    return hops < 1.0 ? 1 : static_cast<long>(hops);
}

}  // namespace

void MonoDetector::Sums::clear() {
    *this = Sums{};
}

void MonoDetector::Sums::add(const Sums& s) {
    for (int m = 0; m < kShifts; ++m) {
        cross[m] += s.cross[m];
        right[m] += s.right[m];
    }
    for (int m = 0; m < kShifts - 1; ++m) next[m] += s.next[m];
    for (int m = 0; m < kShifts - 2; ++m) second[m] += s.second[m];
    left += s.left;
    frames += s.frames;
}

void MonoDetector::Sums::subtract(const Sums& s) {
    for (int m = 0; m < kShifts; ++m) {
        cross[m] -= s.cross[m];
        right[m] -= s.right[m];
    }
    for (int m = 0; m < kShifts - 1; ++m) next[m] -= s.next[m];
    for (int m = 0; m < kShifts - 2; ++m) second[m] -= s.second[m];
    left -= s.left;
    frames -= s.frames;
}

void MonoDetector::Sums::scale(double w) {
    for (int m = 0; m < kShifts; ++m) {
        cross[m] *= w;
        right[m] *= w;
    }
    for (int m = 0; m < kShifts - 1; ++m) next[m] *= w;
    for (int m = 0; m < kShifts - 2; ++m) second[m] *= w;
    left *= w;
    frames *= w;
}

void MonoDetector::prepare(unsigned rate, int hopFrames, bool sparse) {
    sparseHops_ = sparse ? kSparseHops : 1;
    hop_ = std::min(std::max(hopFrames, 1), kMaxHop);
    windowHops_ = HopsIn(kWindowSeconds, rate, hop_);
    shortHops_ = std::min(HopsIn(kShortSeconds, rate, hop_), windowHops_);
    minLoudHops_ = HopsIn(kMinLoudSeconds, rate, hop_);
    equalHops_ = HopsIn(kEqualSeconds, rate, hop_);
    // Ten time constants of the low-pass's stages.
    warmHops_ = static_cast<int>(
        std::min(HopsIn(10.0 / (2.0 * kPi * kLowPassHz), rate, hop_), long{kSparseHops - 1}));
    recoverHops_ = std::max(HopsIn(kRecoverSeconds, rate, hop_), windowHops_);
    pole_ = static_cast<float>(1.0 - std::exp(-2.0 * kPi * kLowPassHz / (rate > 0 ? rate : 1)));
    low_[0].assign(static_cast<size_t>(kLeftHistory + hop_), 0.0f);
    low_[1].assign(static_cast<size_t>(kRightHistory + hop_), 0.0f);
    ring_.assign(static_cast<size_t>(windowHops_), Sums{});
    loud_.assign(static_cast<size_t>(windowHops_), 0);
    fresh_ = false;
    reset();
}

void MonoDetector::reset() {
    // Nothing to clear when nothing was measured since (the processor
    // resets a detector it does not use at every block).
    if (fresh_) return;
    fresh_ = true;
    filled_ = 0;
    std::fill(state_, state_ + 4, 0.0f);
    for (std::vector<float>& s : low_) std::fill(s.begin(), s.end(), 0.0f);
    std::fill(ring_.begin(), ring_.end(), Sums{});
    std::fill(loud_.begin(), loud_.end(), 0);
    next_ = 0;
    seen_ = 0;
    needed_ = windowHops_;
    equalRun_ = 0;
    idle_ = 0;
    sinceLong_ = 0;
    sparse_ = false;
    difference_ = peak_ = 0.0f;
    window_.clear();
    short_.clear();
    loudInWindow_ = loudInShort_ = 0;
    mono_ = false;
    lag_ = 0;
}

// The sums of the hop just measured (filled_ frames), and the history moved
// on for the next one.
void MonoDetector::sumHop(Sums* out) {
    const int n = filled_;
    const float* l = low_[0].data() + kLeftHistory - kSpan;
    const float* r = low_[1].data() + kRightHistory;
    for (int m = 0; m < kShifts; ++m) out->cross[m] = Dot(l, r - m, n);
    out->left = Dot(l, l, n);
    const double energy = Dot(r, r, n), next = Dot(r, r - 1, n), second = Dot(r, r - 2, n);
    for (int m = 0; m < kShifts; ++m) out->right[m] = std::max(Shifted(energy, r, n, m, 0), 0.0);
    for (int m = 0; m < kShifts - 1; ++m) out->next[m] = Shifted(next, r, n, m, 1);
    for (int m = 0; m < kShifts - 2; ++m) out->second[m] = Shifted(second, r, n, m, 2);
    out->frames = n;
    moveHistory(n);
}

// History for the next hop, after a hop of n frames (a hop shorter than the
// history keeps the older samples it did not replace).
void MonoDetector::moveHistory(int n) {
    const int keep[2] = {kLeftHistory, kRightHistory};
    for (int c = 0; c < 2; ++c)
        std::copy(low_[c].begin() + n, low_[c].begin() + n + keep[c], low_[c].begin());
    filled_ = 0;
}

// The left channel is fitted with the right at the best whole delay m: the
// right scaled by g (within kMaxGainDb), plus h times its slope (a delay of a
// fraction of a sample) and k times its curvature (a gentle treble roll-off
// or lift), each of those two at most g: left ~ g x0 + h x1 + k x2 with
//   x0 = right[m], x1 = (right[m - 1] - right[m + 1]) / 2,
//   x2 = right[m - 1] - 2 right[m] + right[m + 1].
// What the fit leaves is the side: for left = mid + side and
// right = mid - side it leaves four times the side's energy.
MonoDetector::Measure MonoDetector::Judge(const Sums& s, long loud) {
    Measure out;
    out.loudHops = loud;
    if (loud == 0 || s.frames <= 0.0 || s.left <= 0.0) return out;
    int m = kSpan;
    double bestRho = -2.0;
    for (int k = 1; k < kShifts - 1; ++k) {
        const double product = s.left * s.right[k];
        const double rho = product > 0.0 ? s.cross[k] / std::sqrt(product) : 0.0;
        if (rho > bestRho) {
            bestRho = rho;
            m = k;
        }
    }
    out.lag = m - kSpan;
    // a, b, c: the right channel one sample early, on time, one late.
    const double aa = s.right[m - 1], bb = s.right[m], cc = s.right[m + 1];
    const double ab = s.next[m - 1], bc = s.next[m], ac = s.second[m - 1];
    double gram[3][3];
    gram[0][0] = bb;
    gram[1][1] = 0.25 * (aa + cc - 2.0 * ac);
    gram[2][2] = aa + 4.0 * bb + cc - 4.0 * ab - 4.0 * bc + 2.0 * ac;
    gram[0][1] = gram[1][0] = 0.5 * (ab - bc);
    gram[0][2] = gram[2][0] = ab - 2.0 * bb + bc;
    gram[1][2] = gram[2][1] = 0.5 * (aa - 2.0 * ab + 2.0 * bc - cc);
    const double with[3] = {s.cross[m], 0.5 * (s.cross[m - 1] - s.cross[m + 1]),
                            s.cross[m - 1] - 2.0 * s.cross[m] + s.cross[m + 1]};
    // The best of three fits within the bounds: the gain alone; gain and
    // slope; gain, slope and curvature.
    auto rest = [&](const double(&q)[3]) {
        double r = s.left;
        for (int i = 0; i < 3; ++i) {
            r -= 2.0 * q[i] * with[i];
            for (int j = 0; j < 3; ++j) r += q[i] * gram[i][j] * q[j];
        }
        return r;
    };
    auto within = [&](const double(&q)[3]) {
        return q[0] <= kMostGain && q[0] >= 1.0 / kMostGain && std::fabs(q[1]) <= q[0] &&
               std::fabs(q[2]) <= q[0];
    };
    double q[3] = {bb > 0.0 ? std::min(std::max(with[0] / bb, 1.0 / kMostGain), kMostGain) : 1.0, 0.0, 0.0};
    double best = rest(q);
    for (int size = 2; size <= 3; ++size) {
        double t[3] = {0.0, 0.0, 0.0};
        if (Solve(gram, with, size, t) && within(t) && rest(t) < best) {
            best = rest(t);
            for (int i = 0; i < 3; ++i) q[i] = t[i];
        }
    }
    const double side = std::max(best, 0.0);
    out.sideToMid = std::min(0.25 * side / s.left, 1.0);
    out.sidePower = 0.25 * side / s.frames;
    return out;
}

bool MonoDetector::endHop() {
    fresh_ = false;
    const int n = filled_;
    if (seen_ < recoverHops_) ++seen_;
    if (idle_ > 0) {
        // Not measured (clear stereo before): nothing but the count, and the
        // low-pass's history from the hops that warm it.
        if (idle_ <= warmHops_)
            moveHistory(n);
        else
            filled_ = 0;
        equalRun_ = 0;
        difference_ = peak_ = 0.0f;
        --idle_;
        return mono_;
    }
    Sums hop;
    hop.clear();
    sumHop(&hop);
    const bool loud = n > 0 && hop.left >= kLoudPower * n;
    if (!loud) hop.clear();
    if (sparse_) {
        // One hop in kSparseHops, judged alone: while it shows clear
        // stereo, or is a quiet hop (a pause tells nothing) whose channels
        // are not equal, the next is as far; else every hop is measured
        // again, the windows from empty.
        const bool equal =
            difference_ <= kEqualLimit && difference_ <= kEqualShare * peak_ && peak_ >= kQuietLimit;
        const Measure alone = Judge(hop, loud ? 1 : 0);
        const bool clear = loud && alone.sidePower >= kLeaveSidePower && alone.sideToMid >= kLeaveSideToMid;
        if (clear || (!loud && !equal)) {
            if (clear) seen_ = 0;
            idle_ = sparseHops_ - 1;
            difference_ = peak_ = 0.0f;
            return mono_;
        }
        sparse_ = false;
        std::fill(ring_.begin(), ring_.end(), Sums{});
        std::fill(loud_.begin(), loud_.end(), 0);
        window_.clear();
        loudInWindow_ = 0;
    }

    // Equal channels (quiet hops neither count nor break the run).
    if (difference_ > kEqualLimit || difference_ > kEqualShare * peak_)
        equalRun_ = 0;
    else if (peak_ >= kQuietLimit && equalRun_ < equalHops_)
        ++equalRun_;
    difference_ = 0.0f;
    peak_ = 0.0f;
    // A hop counts in proportion to its power: hiss, the same in every hop,
    // matters least where the music is loud.
    if (loud) hop.scale(std::sqrt(hop.left / (kLoudPower * n)));

    // The long window: the oldest hop out, this one in; summed afresh once a
    // round so that rounding does not pile up.
    Sums& slot = ring_[static_cast<size_t>(next_)];
    window_.subtract(slot);
    loudInWindow_ -= loud_[static_cast<size_t>(next_)];
    slot = hop;
    loud_[static_cast<size_t>(next_)] = loud ? 1 : 0;
    window_.add(hop);
    loudInWindow_ += loud ? 1 : 0;
    next_ = next_ + 1 == windowHops_ ? 0 : next_ + 1;
    if (next_ == 0) {
        window_.clear();
        for (const Sums& s : ring_) window_.add(s);
    }
    // The short window: its few hops summed afresh.
    short_.clear();
    loudInShort_ = 0;
    for (long k = 1; k <= shortHops_; ++k) {
        const long at = (next_ - k + windowHops_) % windowHops_;
        short_.add(ring_[static_cast<size_t>(at)]);
        loudInShort_ += loud_[static_cast<size_t>(at)];
    }

    const Measure recent = shortWindow();
    const bool stereoNow =
        recent.loudHops > 0 && recent.sidePower >= kLeaveSidePower && recent.sideToMid >= kLeaveSideToMid;
    // The long window every hop while mono (it may take the stream back),
    // else every few hops: it moves slowly.
    Measure whole;
    const bool judged = !stereoNow && (mono_ || ++sinceLong_ >= kLongEvery);
    if (judged) {
        sinceLong_ = 0;
        whole = longWindow();
    }
    const bool stereoLong = judged && whole.loudHops >= minLoudHops_ && whole.sidePower >= kLeaveSidePower &&
                            whole.sideToMid >= kLeaveLongSideToMid;
    if (stereoNow) {
        // Clear stereo: mono again only after kRecoverSeconds without it;
        // meanwhile hops are measured sparsely.
        mono_ = false;
        seen_ = 0;
        needed_ = recoverHops_;
        idle_ = sparseHops_ - 1;
        sparse_ = sparseHops_ > 1;
    } else if (equalRun_ >= equalHops_) {
        // Equal channels: mono, whatever came before.
        if (!mono_) lag_ = 0;
        mono_ = true;
    } else if (stereoLong) {
        mono_ = false;
        seen_ = 0;
        needed_ = recoverHops_;
    } else if (judged && !mono_ && seen_ >= needed_ && whole.loudHops >= minLoudHops_ &&
               whole.sideToMid <= kEnterSideToMid) {
        mono_ = true;
        lag_ = whole.lag;
    }
    return mono_;
}

}  // namespace kesta
