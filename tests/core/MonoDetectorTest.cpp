// The mono detector on its own: what it measures must not depend on how the
// frames of a hop reach it.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "CoreSignal.h"
#include "MonoDetector.h"

namespace {

using kesta::MonoDetector;

constexpr unsigned kRate = 44100;
constexpr int kHop = 128;

// A stream that turns mono and back: real stereo (partly 30 dB narrowed,
// where every hop is measured), a mono transfer (one channel 2 samples late
// and 0.5 dB low), silence, stereo again. Interleaved.
std::vector<float> Stream() {
    const int second = static_cast<int>(kRate);
    const std::vector<float> a = core_test::Music(9 * second, 3), b = core_test::Music(9 * second, 4);
    std::vector<float> out(2 * static_cast<size_t>(9 * second));
    for (int i = 0; i < 9 * second; ++i) {
        float l = a[i], r = b[i];
        if (i >= second && i < 2 * second) {
            const float m = 0.5f * (l + r), s = 0.5f * (l - r) * 0.0316f;
            l = m + s;
            r = m - s;
        } else if (i >= 2 * second && i < 6 * second) {
            l = 0.944f * a[i - 2];
            r = a[i];
        } else if (i >= 6 * second && i < 7 * second) {
            l = r = 0.0f;
        }
        out[2 * static_cast<size_t>(i)] = l;
        out[2 * static_cast<size_t>(i) + 1] = r;
    }
    return out;
}

bool Same(const MonoDetector::Measure& x, const MonoDetector::Measure& y) {
    return std::memcmp(&x.sideToMid, &y.sideToMid, sizeof x.sideToMid) == 0 &&
           std::memcmp(&x.sidePower, &y.sidePower, sizeof x.sidePower) == 0 && x.loudHops == y.loudHops &&
           x.lag == y.lag;
}

// Whole hops against pieces of the sizes in cuts (in turn), interleaved or
// one channel at a time; every verdict and window the same, bit for bit, and
// the stream found mono and stereo again.
TEST(MonoDetector, measuresTheSameHowEverAHopIsCut) {
    const std::vector<float> x = Stream();
    const int frames = static_cast<int>(x.size() / 2);
    std::vector<float> left(frames), right(frames);
    for (int i = 0; i < frames; ++i) {
        left[i] = x[2 * static_cast<size_t>(i)];
        right[i] = x[2 * static_cast<size_t>(i) + 1];
    }
    const struct {
        const char* name;
        std::vector<int> cuts;
        bool interleaved;
    } cases[] = {{"single frames", {1}, false},
                 {"uneven pieces", {5, 61, 8, 3, 16, 35}, false},
                 {"interleaved pieces", {7, 100, 21}, true}};
    for (const auto& c : cases) {
        MonoDetector whole, cut;
        whole.prepare(kRate, kHop);
        cut.prepare(kRate, kHop);
        size_t next = 0;
        bool wasMono = false, backToStereo = false;
        for (int at = 0; at + kHop <= frames; at += kHop) {
            whole.measure(left.data() + at, right.data() + at, kHop);
            for (int done = 0; done < kHop;) {
                const int n = std::min(c.cuts[next++ % c.cuts.size()], kHop - done);
                if (c.interleaved)
                    cut.measure(x.data() + 2 * static_cast<size_t>(at + done),
                                x.data() + 2 * static_cast<size_t>(at + done) + 1, n, 2);
                else
                    cut.measure(left.data() + at + done, right.data() + at + done, n);
                done += n;
            }
            ASSERT_EQ(whole.endHop(), cut.endHop()) << c.name << " at frame " << at;
            ASSERT_EQ(whole.lag(), cut.lag()) << c.name << " at frame " << at;
            ASSERT_TRUE(Same(whole.longWindow(), cut.longWindow())) << c.name << " at frame " << at;
            ASSERT_TRUE(Same(whole.shortWindow(), cut.shortWindow())) << c.name << " at frame " << at;
            backToStereo |= wasMono && !whole.mono();
            wasMono |= whole.mono();
        }
        EXPECT_TRUE(wasMono) << c.name;
        EXPECT_TRUE(backToStereo) << c.name;
        EXPECT_EQ(whole.lag(), 2) << c.name;
    }
}

}  // namespace
