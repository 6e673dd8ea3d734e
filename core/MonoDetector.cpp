#include "MonoDetector.h"

#include <cmath>

namespace kesta {

void MonoDetector::prepare(unsigned rate, int hopFrames) {
    const double hops = std::ceil(kEnterSeconds * rate / (hopFrames > 0 ? hopFrames : 1));
    enterHops_ = hops < 1.0 ? 1 : static_cast<long>(hops);
    reset();
}

void MonoDetector::reset() {
    equalRun_ = 0;
    mono_ = false;
    difference_ = 0.0f;
    peak_ = 0.0f;
}

bool MonoDetector::endHop() {
    if (difference_ > kDifferentLimit) {
        equalRun_ = 0;
        mono_ = false;
    } else if (difference_ <= kEqualLimit && peak_ >= kQuietLimit) {
        if (equalRun_ < enterHops_) ++equalRun_;
        if (equalRun_ >= enterHops_) mono_ = true;
    }
    difference_ = 0.0f;
    peak_ = 0.0f;
    return mono_;
}

}  // namespace kesta
