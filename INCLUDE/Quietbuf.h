// Tail tracking for the concrete float filters: how many samples of silent
// input a filter must still be fed after its last real input before its
// output counts as died away.
#pragma once

#include "Wavedata.h"

class QuietFilterStatus {
public:
    // A new status is quiet.
    explicit QuietFilterStatus(Samples needed) : needed_(needed), silentCount_(needed) {}

    void Reset() { silentCount_ = needed_; }
    bool IsQuiet() const { return silentCount_ >= needed_; }
    void GettingInput() { silentCount_ = 0; }
    // Once quiet the count stops, so it cannot overflow in a long silence.
    void NoInput(Samples n) {
        if (!IsQuiet()) silentCount_ += n;
    }
    // A quiet status stays quiet under the new length; a ringing one keeps its
    // count, so a shorter length may end the tail at once.
    void SetNeeded(Samples n) {
        if (IsQuiet()) silentCount_ = n;
        needed_ = n;
    }

    Samples needed_;       // tail length in samples
    Samples silentCount_;  // silent samples fed since the last real input
};
