#include "PathBank.h"

#include <algorithm>

#include "InputStage.h"

namespace kesta {

namespace {

bool IsWidener(int p) {
    return p == PathBank::kWidener || p == PathBank::kWidenerFlat;
}

}  // namespace

bool PathBank::open(unsigned rate, int channels, int fadeFrames) {
    close();
    channels_ = channels;
    fadeFrames_ = fadeFrames;
    const EnginePath::Kind kinds[kCount] = {EnginePath::kWidener, EnginePath::kWidener, EnginePath::kMusic,
                                            EnginePath::kMusic,   EnginePath::kVoice,   EnginePath::kVoice,
                                            EnginePath::kDry};
    latency_ = 0;
    for (int p = 0; p < kCount; ++p) {
        if (!paths_[p].open(kinds[p], p % 2 == 0, rate, channels, fadeFrames)) {
            close();
            return false;
        }
        latency_ = std::max(latency_, paths_[p].latency());
    }
    return true;
}

void PathBank::close() {
    for (EnginePath& path : paths_) path.close();
}

void PathBank::prepare(const InputStage& input, int piece, int room) {
    input_ = &input;
    piece_ = piece;
    for (EnginePath& path : paths_) path.alignTo(latency_, room);
    mixer_.prepare(fadeFrames_, room);
    for (std::vector<float>& v : pre_) v.assign(static_cast<size_t>(std::max(room, latency_)), 0.0f);
}

PathBank::Path PathBank::choose(const Settings& s, bool mono) const {
    mono = channels_ == 1 || (s.autoMono && mono);
    const int flat = s.subtone ? 0 : 1;
    if (mono && s.monoTo3D) return static_cast<Path>((s.music ? kMusic : kVoice) + flat);
    if (channels_ == 2 && s.widen) return static_cast<Path>(kWidener + flat);
    return kDry;
}

void PathBank::setSpread(float decibels) {
    for (int p : {kWidener, kWidenerFlat}) paths_[p].setSpread(decibels);
}

// A path starts afresh: an engine from silence, pre-rolled over the input
// kept when preroll is set; the dry path from the input just played.
// Either way it fades in without a step.
void PathBank::clear(int p, bool preroll) {
    paths_[p].clear(*input_, channels_, piece_, pre_, preroll);
}

void PathBank::reset(Path target) {
    for (int p = 0; p < kCount; ++p) clear(p, false);
    mixer_.reset(target);
}

int PathBank::retarget(Path target) {
    return mixer_.retarget(target, [&](int p) { clear(p, true); });
}

bool PathBank::monoAlone() const {
    const Path p = target();
    return !IsWidener(p) && p != kDry && mixer_.alone() && !paths_[p].resting && paths_[p].delay() == 0;
}

bool PathBank::monoWanted(bool quiet) const {
    bool wanted = false;
    for (int p = kMusic; p <= kVoiceFlat; ++p) wanted |= mixer_.running(p) && !(paths_[p].resting && quiet);
    return wanted;
}

void PathBank::run(int from, int n, const float* mono, bool quiet, bool rest, bool cellEnd,
                   const float** left, const float** right) {
    std::fill(restNow_, restNow_ + kCount, false);
    if (!rest)
        for (EnginePath& path : paths_) path.cellBelow = true;
    for (int p = 0; p < kCount; ++p) {
        if (!mixer_.running(p)) continue;
        EnginePath& path = paths_[p];
        if (path.resting && quiet) {
            for (int c = 0; c < 2; ++c) std::fill(path.in(c), path.in(c) + n, 0.0f);
            continue;
        }
        path.resting = false;
        path.run(input_->scratch(0) + from, input_->scratch(channels_ - 1) + from, mono, n);
        if (!rest || p == kDry) continue;
        path.cellBelow = path.cellBelow && path.belowFloor(n);
        if (!cellEnd) continue;
        restNow_[p] = path.cellBelow;
        path.cellBelow = true;
    }
    mixer_.mix(
        n, [&](int p, int c) { return paths_[p].out(c); }, left, right);
}

void PathBank::runAlone(const float* mono, float* out, int n) {
    for (EnginePath& path : paths_) path.cellBelow = true;
    paths_[target()].runInterleaved(mono, out, n);
}

void PathBank::finish(int n) {
    for (int p = 0; p < kCount; ++p)
        if (mixer_.running(p)) paths_[p].advance(n);
    // A resting engine starts from silence when the input comes back; what
    // its delays held is below the floor too. (The piece in which it comes
    // to rest played as it came: how much of a cell it is depends on the
    // host's calls.)
    for (int p = 0; p < kCount; ++p) {
        if (!restNow_[p]) continue;
        clear(p, false);
        paths_[p].resting = true;
    }
    mixer_.settle();
}

}  // namespace kesta
