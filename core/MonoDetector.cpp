#include "MonoDetector.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "MonoKernels.h"

namespace kesta {

using mono_kernels::FinishSums;
using mono_kernels::LowPassAndSum;
using mono_kernels::Shifted;
using mono_kernels::Slide;
using mono_kernels::Solve;
using mono_kernels::SumOf;

namespace {

constexpr double kPi = 3.14159265358979323846;
// The largest gain between the channels allowed for, as a ratio.
const double kMostGain = std::pow(10.0, MonoDetector::kMaxGainDb / 20.0);
// Outside mono the long window is judged every this many hops measured.
constexpr int kLongEvery = 4;
long HopsIn(double seconds, unsigned rate, int hop) {
    const double hops = std::ceil(seconds * rate / hop);
    return hops < 1.0 ? 1 : static_cast<long>(hops);
}

}  // namespace

void MonoDetector::Sums::clear() {
    *this = Sums{};
}

void MonoDetector::Sums::add(const Sums& s) {
    for (int k = 0; k < kSize; ++k) v[k] += s.v[k];
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
    recent_.assign(static_cast<size_t>(shortHops_), nullptr);
    fresh_ = false;
    reset();
}

void MonoDetector::reset() {
    // Nothing to clear when nothing was measured since (the processor
    // resets a detector it does not use at every block).
    if (fresh_) return;
    fresh_ = true;
    filled_ = 0;
    summed_ = 0;
    std::fill(&products_[0][0], &products_[0][0] + kProducts * kLanes, 0.0f);
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
    float dot[kProducts];
    FinishSums(l, r, n, summed_, products_, dot);
    summed_ = 0;
    for (int m = 0; m < kShifts; ++m) out->cross(m) = dot[m];
    out->left() = dot[kShifts];
    Shifted<0, kShifts>(dot[kShifts + 1], r, n, &out->right(0));
    for (int m = 0; m < kShifts; ++m) out->right(m) = std::max(out->right(m), 0.0);
    Shifted<1, kShifts - 1>(dot[kShifts + 2], r, n, &out->next(0));
    Shifted<2, kShifts - 2>(dot[kShifts + 3], r, n, &out->second(0));
    out->frames() = n;
    moveHistory(n);
}

// Low-passes n frames into the hop; when the hop is measured, sums their
// products as they come.
void MonoDetector::lowPass(const float* left, const float* right, int n, int stride) {
    if (n > 0)
        LowPassAndSum(left, right, n, stride, pole_, state_, low_[0].data() + kLeftHistory,
                      low_[1].data() + kRightHistory, filled_, idle_ == 0 ? &summed_ : nullptr, products_);
    filled_ += n;
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
MonoDetector::Measure MonoDetector::Judge(const Sums& s, long loud, const Measure* limits) {
    Measure out;
    out.loudHops = loud;
    if (loud == 0 || s.frames() <= 0.0 || s.left() <= 0.0) return out;
    int m = kSpan;
    double bestRho = -2.0;
    for (int k = 1; k < kShifts - 1; ++k) {
        const double product = s.left() * s.right(k);
        const double rho = product > 0.0 ? s.cross(k) / std::sqrt(product) : 0.0;
        if (rho > bestRho) {
            bestRho = rho;
            m = k;
        }
    }
    out.lag = m - kSpan;
    // a, b, c: the right channel one sample early, on time, one late.
    const double aa = s.right(m - 1), bb = s.right(m), cc = s.right(m + 1);
    const double ab = s.next(m - 1), bc = s.next(m), ac = s.second(m - 1);
    double gram[3][3];
    gram[0][0] = bb;
    gram[1][1] = 0.25 * (aa + cc - 2.0 * ac);
    gram[2][2] = aa + 4.0 * bb + cc - 4.0 * ab - 4.0 * bc + 2.0 * ac;
    gram[0][1] = gram[1][0] = 0.5 * (ab - bc);
    gram[0][2] = gram[2][0] = ab - 2.0 * bb + bc;
    gram[1][2] = gram[2][1] = 0.5 * (aa - 2.0 * ab + 2.0 * bc - cc);
    const double with[3] = {s.cross(m), 0.5 * (s.cross(m - 1) - s.cross(m + 1)),
                            s.cross(m - 1) - 2.0 * s.cross(m) + s.cross(m + 1)};
    // The best of three fits within the bounds: the gain alone; gain and
    // slope; gain, slope and curvature.
    auto rest = [&](const double(&q)[3]) {
        double r = s.left();
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
    // The limits of a caller that only asks whether both reach them: the
    // fits below can only lower what the gain alone leaves, so when that is
    // below either limit already, so are the measures, and they are not
    // looked for further.
    const double rough = std::max(best, 0.0);
    if (limits && (std::min(0.25 * rough / s.left(), 1.0) < limits->sideToMid ||
                   0.25 * rough / s.frames() < limits->sidePower)) {
        out.sideToMid = std::min(0.25 * rough / s.left(), 1.0);
        out.sidePower = 0.25 * rough / s.frames();
        return out;
    }
    const auto fit = [&](auto solve) {
        double t[3] = {0.0, 0.0, 0.0};
        if (solve(t) && within(t) && rest(t) < best) {
            best = rest(t);
            for (int i = 0; i < 3; ++i) q[i] = t[i];
        }
    };
    fit([&](double(&t)[3]) { return Solve<2>(gram, with, t); });
    fit([&](double(&t)[3]) { return Solve<3>(gram, with, t); });
    const double side = std::max(best, 0.0);
    out.sideToMid = std::min(0.25 * side / s.left(), 1.0);
    out.sidePower = 0.25 * side / s.frames();
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
    const bool loud = n > 0 && hop.left() >= kLoudPower * n;
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
    // (A quiet hop, all zeros, goes in times 1.)
    const double w = loud ? std::sqrt(hop.left() / (kLoudPower * n)) : 1.0;

    // The long window: the oldest hop out, this one in; summed afresh once a
    // round so that rounding does not pile up.
    Slide(window_.v, ring_[static_cast<size_t>(next_)].v, hop.v, w, Sums::kSize);
    loudInWindow_ -= loud_[static_cast<size_t>(next_)];
    loud_[static_cast<size_t>(next_)] = loud ? 1 : 0;
    loudInWindow_ += loud ? 1 : 0;
    next_ = next_ + 1 == windowHops_ ? 0 : next_ + 1;
    if (next_ == 0) {
        window_.clear();
        for (const Sums& s : ring_) window_.add(s);
    }
    // The short window: its few hops summed afresh.
    loudInShort_ = 0;
    for (long k = 1; k <= shortHops_; ++k) {
        const long at = next_ - k < 0 ? next_ - k + windowHops_ : next_ - k;
        recent_[k - 1] = ring_[static_cast<size_t>(at)].v;
        loudInShort_ += loud_[static_cast<size_t>(at)];
    }
    SumOf(recent_.data(), static_cast<int>(shortHops_), short_.v, Sums::kSize);

    // (Only whether the short window reaches the limits of stereo matters.)
    Measure leave;
    leave.sidePower = kLeaveSidePower;
    leave.sideToMid = kLeaveSideToMid;
    const Measure recent = Judge(short_, loudInShort_, &leave);
    const bool stereoNow =
        recent.loudHops > 0 && recent.sidePower >= kLeaveSidePower && recent.sideToMid >= kLeaveSideToMid;
    // The long window every hop while mono (it may take the stream back),
    // else every few hops: it moves slowly.
    Measure whole;
    const bool judged = !stereoNow && (mono_ || ++sinceLong_ >= kLongEvery);
    if (judged) {
        sinceLong_ = 0;
        // (Too few loud hops: neither way can the window tell.)
        if (loudInWindow_ >= minLoudHops_)
            whole = longWindow();
        else
            whole.loudHops = loudInWindow_;
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
