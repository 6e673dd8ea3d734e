// Watches the input for digital silence: after restFrames of input that is
// exactly zero the processor's paths may rest. It cuts the stream into
// pieces so that a rest starts at the frame where the silence has lasted
// restFrames and, while resting, at the edges of cells of kCell frames of
// the stream (over which a path's output is judged), wherever a host's
// calls end.
#pragma once

#include <algorithm>
#include <cstddef>

namespace kesta {

class QuietWatch {
  public:
    static constexpr int kCell = 512;

    void prepare(int channels, long long restFrames) {
        channels_ = channels;
        restFrames_ = restFrames;
        reset();
    }
    void reset() { run_ = 0; }

    // How many of the n frames of in (sample i of channel c at
    // in[c][i * stride]) to take at most as one piece: up to the frame at
    // which the input has been zero for restFrames; *lead is the number of
    // zero frames they start with.
    int limit(const float* const* in, int stride, int n, int* lead) const {
        int z = 0;
        while (z < n && zero(in, stride, z)) ++z;
        *lead = z;
        // The zero run as it stands after frame i; looked at only while it
        // can still reach restFrames within the n frames.
        long long run = run_;
        for (int i = 0; i < n && run + (n - i) >= restFrames_; ++i) {
            if (!zero(in, stride, i))
                run = 0;
            else if (++run == restFrames_)
                return i + 1;
        }
        return n;
    }

    // Moves on over the k frames taken (lead of them zero at the start);
    // answers whether they are all zero.
    bool take(const float* const* in, int stride, int k, int lead) {
        if (lead >= k) {
            run_ += k;
            return true;
        }
        int trail = 0;
        while (trail < k - lead && zero(in, stride, k - 1 - trail)) ++trail;
        run_ = trail;
        return false;
    }

    // A piece of k frames from stream frame frame on, lead of them zero at
    // its start, cut where the cell ends when it is all zero within a rest.
    int cellLimit(int k, int lead, long long frame) const {
        if (lead < k || !resting()) return k;
        return static_cast<int>(std::min<long long>(k, kCell - frame % kCell));
    }

    // Whether the input has been zero for restFrames, up to now.
    bool resting() const { return run_ >= restFrames_; }
    // Whether a piece that ends at stream frame end ends a cell.
    static bool cellEnd(long long end) { return end % kCell == 0; }

  private:
    bool zero(const float* const* in, int stride, int i) const {
        for (int c = 0; c < channels_; ++c)
            if (in[c][static_cast<std::size_t>(i) * static_cast<std::size_t>(stride)] != 0.0f) return false;
        return true;
    }

    int channels_ = 1;
    long long restFrames_ = 1;
    long long run_ = 0;  // frames of input exactly zero, up to now
};

}  // namespace kesta
