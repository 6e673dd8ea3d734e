#include "EnginePath.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "InputStage.h"

namespace kesta {

namespace {

// The 24-bit floor: a resting path's output was below it.
constexpr float kRestFloor = 1.0f / 16777216.0f;

}  // namespace

bool EnginePath::open(Kind kind, bool subtone, unsigned rate, int channels, int fadeFrames) {
    close();
    kind_ = kind;
    if (kind == kWidener) {
        if (channels != 2) return true;
        if (vastorOpen(&widener_, rate, (subtone ? VASTOR_HIPASS_ON : 0u) | VASTOR_ALL_RATES) != 0) {
            widener_ = nullptr;
            return false;
        }
        // Later spread changes glide over a fade, the same for any cutting
        // of the stream.
        vastorSetRampLength(widener_, fadeFrames);
        vastorSetChainedRamps(widener_, 1);
    } else if (kind == kVoice) {
        if (m2sOpen(&m2s_, rate, M2S_ALL_RATES) != 0) {
            m2s_ = nullptr;
            return false;
        }
        m2sEnableHipass(m2s_, subtone ? 1 : 0);
        m2sSetRampLength(m2s_, fadeFrames);
        m2sSetChainedRamps(m2s_, 1);
    } else if (kind == kMusic) {
        image_.prepare(rate, subtone);
    }
    return true;
}

void EnginePath::close() {
    if (widener_) vastorClose(widener_);
    if (m2s_) m2sClose(m2s_);
    widener_ = nullptr;
    m2s_ = nullptr;
}

int EnginePath::latency() const {
    switch (kind_) {
        case kWidener:
            return widener_ ? vastorGetLatency(widener_) : 0;
        case kVoice:
            return m2sGetLatency(m2s_);
        case kMusic:
            return image_.delay();
        case kDry:
            break;
    }
    return 0;
}

void EnginePath::alignTo(int latency, int room) {
    if (widener_) {
        // The widener lines itself up: its input delayed on both sides
        // delays all it makes, so that playing alone it needs no delay line
        // of the processor's.
        const int extra = latency - vastorGetLatency(widener_);
        vastorSetInputDelay(widener_, extra, extra);
    }
    for (FrameDelay& d : align_) d.prepare(latency - this->latency(), room);
    interleaved_.assign(kind_ == kVoice ? 2 * static_cast<size_t>(room) : 0, 0.0f);
}

void EnginePath::setSpread(float decibels) {
    spread_ = decibels;
    if (widener_) vastorSetSpread(widener_, decibels);
}

void EnginePath::run(const float* l, const float* r, const float* mono, int n) {
    float* left = align_[0].in();
    float* right = align_[1].in();
    switch (kind_) {
        case kWidener:
            vastorMonoFloat(widener_, l, r, left, right, static_cast<unsigned>(n));
            break;
        case kMusic:
            image_.process(mono, left, right, 1, n);
            break;
        case kVoice: {
            float(*frames)[2] = reinterpret_cast<float(*)[2]>(interleaved_.data());
            m2sProcessFloat(m2s_, mono, frames, static_cast<unsigned>(n));
            for (int i = 0; i < n; ++i) {
                left[i] = frames[i][0];
                right[i] = frames[i][1];
            }
            break;
        }
        case kDry:
            std::memcpy(left, l, static_cast<size_t>(n) * sizeof(float));
            std::memcpy(right, r, static_cast<size_t>(n) * sizeof(float));
            break;
    }
}

void EnginePath::runInterleaved(const float* mono, float* out, int n) {
    if (kind_ == kMusic)
        image_.process(mono, out, out + 1, 2, n);
    else
        m2sProcessFloat(m2s_, mono, reinterpret_cast<float(*)[2]>(out), static_cast<unsigned>(n));
}

void EnginePath::clear(const InputStage& input, int channels, int piece, std::vector<float> (&scratch)[3],
                       bool preroll) {
    if (empty()) return;
    if (widener_) {
        vastorReset(widener_);
        vastorSetSpread(widener_, spread_);  // at once after the reset
    } else if (kind_ == kMusic) {
        image_.reset();
    } else if (m2s_) {
        m2sReset(m2s_);
    }
    resting = false;
    for (int c = 0; c < 2; ++c) {
        FrameDelay& d = align_[c];
        if (kind_ == kDry) {
            const int from = input.history() - d.delay();
            float* dst = scratch[0].data();
            for (int i = 0; i < d.delay(); ++i) dst[i] = input.past(std::min(c, channels - 1), from + i);
            d.reset(dst);
        } else {
            d.reset();
        }
    }
    if (kind_ != kDry && preroll) this->preroll(input, channels, piece, scratch);
}

// The cleared engine over the input kept, faded in over its first quarter,
// so that its output has settled when it is heard.
void EnginePath::preroll(const InputStage& input, int channels, int piece, std::vector<float> (&scratch)[3]) {
    const int history = input.history();
    const int ramp = std::max(history / 4, 1);
    for (int done = 0; done < history;) {
        const int n = std::min(history - done, piece);
        for (int c = 0; c < channels; ++c)
            for (int i = 0; i < n; ++i)
                scratch[c][static_cast<size_t>(i)] =
                    input.past(c, done + i) *
                    std::min(1.0f, static_cast<float>(done + i) / static_cast<float>(ramp));
        if (channels == 2)
            for (int i = 0; i < n; ++i)
                scratch[2][static_cast<size_t>(i)] = 0.5f * (scratch[0][i] + scratch[1][i]);
        run(scratch[0].data(), scratch[channels - 1].data(),
            channels == 1 ? scratch[0].data() : scratch[2].data(), n);
        advance(n);
        done += n;
    }
}

bool EnginePath::belowFloor(int n) const {
    for (const FrameDelay& d : align_) {
        const float* x = d.out() + d.delay();
        for (int i = 0; i < n; ++i)
            if (!(std::fabs(x[i]) < kRestFloor)) return false;
    }
    return true;
}

}  // namespace kesta
