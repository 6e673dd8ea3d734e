// Settings on their way to the engines. The host's blocks run ahead of the
// engines (which run on whole limiter blocks); the settings read at a host
// block's start take effect at its first frame, so each change waits here
// with the stream frame it belongs to until the engines reach that frame.
// Here, and only here, settings are compared: each change carries the
// parameters it changes.
#pragma once

#include <algorithm>

#include "Parameters.h"

namespace kesta {

template <int Capacity>
class SettingsTimeline {
  public:
    // Nothing waiting; s is what the engines have.
    void reset(const Settings& s) {
        latest_ = taken_ = s;
        count_ = 0;
    }

    // A host block's settings s, from stream frame frame on (frames never go
    // back). Two blocks that start at the same frame: the later one's hold.
    // When Capacity are waiting, the newest gives way.
    void note(const Settings& s, long long frame) {
        if (s == latest_) return;
        latest_ = s;
        if (count_ > 0 && (count_ == Capacity || changes_[count_ - 1].frame == frame)) --count_;
        // (What changes, from the settings the engines will have before it.)
        const unsigned changed = s.differences(count_ > 0 ? changes_[count_ - 1].settings : taken_);
        if (changed != 0) changes_[count_++] = {frame, s, changed};
    }

    // Whether a change waits, and the frame of the first.
    bool waiting() const { return count_ > 0; }
    long long next() const { return changes_[0].frame; }

    // The changes that take effect by frame, oldest first, each to
    // apply(settings, the Bit()s of the parameters it changes).
    template <class Apply>
    void take(long long frame, const Apply& apply) {
        int taken = 0;
        for (; taken < count_ && changes_[taken].frame <= frame; ++taken) {
            taken_ = changes_[taken].settings;
            apply(taken_, changes_[taken].changed);
        }
        if (taken == 0) return;
        count_ -= taken;
        std::copy(changes_ + taken, changes_ + taken + count_, changes_);
    }

  private:
    struct Change {
        long long frame;
        Settings settings;
        unsigned changed;
    };
    Settings latest_;  // the newest noted
    Settings taken_;   // what the engines have
    Change changes_[Capacity];
    int count_ = 0;
};

}  // namespace kesta
