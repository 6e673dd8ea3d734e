// Music mode's image, measured on steady sines at several rates: both sides
// equally loud at every frequency (centred), their mean as loud as the input
// (mono-compatible), the width the side's gain sets, the bass kept in the
// middle with Subtone; and the same bits however the input is cut.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "CoreSignal.h"
#include "MusicImage.h"

namespace {

using core_test::Sine;
using kesta::MusicImage;

struct Image {
    std::vector<float> left, right;
};

Image Through(MusicImage& m, const std::vector<float>& x, const std::function<int()>& sizes) {
    std::vector<float> out(2 * x.size());
    for (size_t done = 0; done < x.size();) {
        const size_t k = std::min(x.size() - done, static_cast<size_t>(sizes()));
        m.process(x.data() + done, out.data() + 2 * done, out.data() + 2 * done + 1, 2, static_cast<int>(k));
        done += k;
    }
    return {core_test::Channel(out, 0), core_test::Channel(out, 1)};
}

double Rms(const std::vector<float>& x, size_t from) {
    return std::sqrt(core_test::Energy(x, from) / static_cast<double>(x.size() - from));
}

double Db(double ratio) {
    return 20.0 * std::log10(ratio);
}

TEST(MusicImage, bothSidesAndTheirMeanKeepTheInputsLevelAtEveryFrequency) {
    const double g = MusicImage::kSideGain;
    const double wide = (1 - g * g) / (1 + g * g);  // the correlation of the sides where the side is whole
    for (unsigned rate : {22050u, 44100u, 48000u, 96000u}) {
        for (bool subtone : {true, false}) {
            for (double hz : {40.0, 100.0, 440.0, 1000.0, 5000.0, 9000.0}) {
                SCOPED_TRACE(::testing::Message()
                             << rate << " Hz, Subtone " << subtone << ", " << hz << " Hz");
                MusicImage m;
                m.prepare(rate, subtone);
                const std::vector<float> x = Sine(static_cast<int>(rate), hz, 0.5, rate);
                const Image out = Through(m, x, core_test::Fixed(512));
                const size_t from = rate / 2;  // settled
                std::vector<float> mean(x.size());
                double lr = 0;
                for (size_t i = 0; i < x.size(); ++i) {
                    mean[i] = 0.5f * (out.left[i] + out.right[i]);
                    if (i >= from) lr += static_cast<double>(out.left[i]) * out.right[i];
                }
                const double l = Rms(out.left, from), r = Rms(out.right, from), in = Rms(x, from);
                EXPECT_NEAR(Db(l / r), 0.0, 0.05) << "centred";
                EXPECT_NEAR(Db(Rms(mean, from) / in), 0.0, 0.05) << "mono sum";
                const double correlation = lr / static_cast<double>(x.size() - from) / (l * r);
                if (!subtone || hz >= 440.0) {
                    EXPECT_NEAR(correlation, wide, 0.02) << "width";
                }
                if (subtone && hz <= 40.0) {
                    EXPECT_GT(correlation, 0.98) << "the bass in the middle";
                }
            }
        }
    }
}

TEST(MusicImage, givesTheSameBitsHoweverTheInputIsCutAndSilenceAfterAReset) {
    MusicImage whole, cut;
    whole.prepare(44100, true);
    cut.prepare(44100, true);
    const std::vector<float> x = core_test::Music(20000, 5);
    const Image a = Through(whole, x, core_test::Fixed(20000));
    const Image b = Through(cut, x, core_test::RandomSizes(3, 300));
    EXPECT_EQ(a.left, b.left);
    EXPECT_EQ(a.right, b.right);
    cut.reset();
    const Image quiet = Through(cut, std::vector<float>(1000, 0.0f), core_test::Fixed(100));
    EXPECT_EQ(quiet.left, std::vector<float>(1000, 0.0f));
    EXPECT_EQ(quiet.right, std::vector<float>(1000, 0.0f));
}

}  // namespace
