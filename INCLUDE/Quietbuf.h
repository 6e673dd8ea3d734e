// Tail tracking for the concrete float filters: how many samples of silent
// input a filter must still be fed after its last real input before its
// output counts as died away.
#pragma once

#include <algorithm>

#include "Wavedata.h"

class QuietFilterStatus {
  public:
    // A new status is quiet.
    explicit QuietFilterStatus(Samples needed) : needed_(needed), silentCount_(needed) {}

    void Reset() { silentCount_ = needed_; }
    bool IsQuiet() const { return silentCount_ >= needed_; }
    void GettingInput() { silentCount_ = 0; }
    // Once quiet the count stops, so it cannot overflow in a long silence; a
    // single oversized n saturates the count instead of wrapping it.
    void NoInput(Samples n) {
        if (IsQuiet()) return;
        const int64_t count = std::max<int64_t>(int64_t{silentCount_} + n, INT32_MIN);
        silentCount_ = static_cast<Samples>(std::min<int64_t>(count, INT32_MAX));
    }
    // A quiet status stays quiet under the new length; a ringing one keeps its
    // count, so a shorter length may end the tail at once.
    void SetNeeded(Samples n) {
        if (IsQuiet()) silentCount_ = n;
        needed_ = n;
    }

    Samples needed() const { return needed_; }
    Samples silentCount() const { return silentCount_; }

  private:
    Samples needed_;       // tail length in samples
    Samples silentCount_;  // silent samples fed since the last real input
};
