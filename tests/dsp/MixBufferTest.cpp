#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "DenormalGuard.h"
#include "Filter.h"
#include "MathLib.h"
#include "Mixbuf.h"

namespace {

MathLibrary& lib() {
    return *GetFloatLibrary();
}

const float X = 1234.5f;  // garbage past the used part, which must read as silence

// A buffer of the given capacity: the listed frames used, the rest garbage.
void make(MixBuffer& buffer, Samples capacity, const std::vector<float>& used = {}) {
    lib().CreateBuffer(buffer, capacity);
    for (Samples i = 0; i < capacity; ++i) buffer.floats()[i] = i < Samples(used.size()) ? used[i] : X;
    buffer.used_ = static_cast<Samples>(used.size());
}

std::vector<float> frames(const MixBuffer& buffer, Samples n) {
    return std::vector<float>(buffer.floats(), buffer.floats() + n);
}

class RecordingFilter : public InPlaceFilter {
  public:
    void Process(MixBuffer&) override {}
    bool IsQuiet() override { return quiet_; }
    void Reset() override {}
    void GettingInput() override { ++gettingInput_; }
    void NoInput(Samples n) override { noInput_.push_back(n); }

    bool quiet_ = true;
    int gettingInput_ = 0;
    std::vector<Samples> noInput_;
};

}  // namespace

TEST(MixBufferStorage, aNewBlockHoldsZeroedAlignedFloatsBehindItsCount) {
    MixBuffer buffer;
    buffer.used_ = 5;
    lib().CreateBuffer(buffer, 256);
    lib().CreateBuffer(buffer, 256);  // the first block is released (the sanitizer build checks)
    EXPECT_EQ(buffer.used_, 5);
    EXPECT_EQ(buffer.type_, kMonoFloat);
    EXPECT_EQ(static_cast<void*>(buffer.refCount_), static_cast<void*>(buffer.storage_));
    EXPECT_EQ(*buffer.refCount_, 1);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer.data_),
              (reinterpret_cast<uintptr_t>(buffer.storage_) + 8) & ~uintptr_t{7});
    EXPECT_EQ(frames(buffer, 256), std::vector<float>(256, 0.0f));
}

TEST(MixBufferStorage, viewsAndCopiesShareOneBlockThatIsFreedExactlyOnce) {
    MixBuffer* owner = new MixBuffer;
    make(*owner, 200, std::vector<float>(50, 1.0f));
    MixBuffer view(*owner, 100, 30), beyond(*owner, 100, 60), clipped(*owner, 5, 10), copy;
    EXPECT_EQ(view.used_, 20);
    EXPECT_EQ(beyond.used_, 0);
    EXPECT_EQ(clipped.used_, 5);
    EXPECT_EQ(view.floats(), owner->floats() + 30);
    copy = *owner;
    MixBuffer& same = copy;
    copy = same;      // self-assignment
    beyond = *owner;  // same block: one reference down, one up
    EXPECT_EQ(*owner->refCount_, 5);
    copy.free();
    copy.free();  // a second release, and the destructor's, take nothing more
    EXPECT_EQ(*owner->refCount_, 4);
    delete owner;  // the viewed buffer goes first; the views keep the block
    EXPECT_EQ(*view.refCount_, 3);
    view.floats()[0] = 2.0f;

    float memory[2] = {3, 4};
    MixBuffer wrapped(lib(), Buffer(memory, kMonoFloat), 1);
    wrapped *= 2.0f;
    EXPECT_EQ(wrapped.refCount_, nullptr);
    EXPECT_EQ(memory[0], 6.0f);
    EXPECT_EQ(memory[1], 4.0f);
}

TEST(MixBufferPrepare, decidesByUsedCountThenByTheFiltersQuietness) {
    MixBuffer buffer;
    RecordingFilter filter;
    make(buffer, 128, std::vector<float>(128, 1.0f));
    EXPECT_TRUE(buffer.Prepare(&filter, 100));  // enough input
    EXPECT_EQ(filter.gettingInput_, 1);

    make(buffer, 128);
    EXPECT_FALSE(buffer.Prepare(&filter, 128));  // empty and quiet: untouched
    EXPECT_EQ(frames(buffer, 128), std::vector<float>(128, X));
    EXPECT_TRUE(filter.noInput_.empty());

    make(buffer, 128, std::vector<float>(50, 1.0f));
    EXPECT_TRUE(buffer.Prepare(&filter, 128));  // partly filled: silence for the tail
    EXPECT_EQ(buffer.used_, 128);
    for (int i = 0; i < 128; ++i) ASSERT_EQ(buffer.floats()[i], i < 50 ? 1.0f : 0.0f);

    filter.quiet_ = false;
    make(buffer, 64);
    EXPECT_TRUE(buffer.Prepare(&filter, 64));  // empty but ringing
    EXPECT_EQ(frames(buffer, 64), std::vector<float>(64, 0.0f));
    EXPECT_EQ(filter.noInput_, (std::vector<Samples>{128, 64}));
    EXPECT_EQ(filter.gettingInput_, 1);
}

TEST(MixBufferPrepareDeathTest, aNullFilterIsAProgrammingError) {
    MixBuffer buffer;
    lib().CreateBuffer(buffer, 4);
    EXPECT_DEATH(buffer.Prepare(nullptr, 4),
                 "Mixbuf\\.cpp:98: bool MixBuffer::Prepare\\(class Filter \\*, Samples\\): "
                 "Assertion `filter!=0' failed\\.");
}

TEST(MixBufferMix, clearsTheGapAddsOverTheUsedPartAndCopiesBeyondIt) {
    MixBuffer buffer;
    make(buffer, 20);
    const float src[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    buffer.Mix(Buffer(src, kMonoFloat), 0.5f, 0.0f, 10, 4);
    EXPECT_EQ(frames(buffer, 15),
              (std::vector<float>{0, 0, 0, 0, .5f, 1, 1.5f, 2, 2.5f, 3, 3.5f, 4, 4.5f, 5, X}));
    buffer.Mix(Buffer(src, kMonoFloat), 1.0f, 0.0f, 10, 0);
    EXPECT_EQ(frames(buffer, 15),
              (std::vector<float>{1, 2, 3, 4, 5.5f, 7, 8.5f, 10, 11.5f, 13, 3.5f, 4, 4.5f, 5, X}));
    EXPECT_EQ(buffer.used_, 14);
    buffer.Mix(Buffer(src, kMonoFloat), 1.0f, 0.0f, 0, 17);  // nothing mixed, the gap still counts
    EXPECT_EQ(frames(buffer, 18)[16], 0.0f);
    EXPECT_EQ(buffer.used_, 17);

    const short pcm16[2] = {16384, -32768};  // integer sources on the float scale
    make(buffer, 4, {0.25f});
    buffer.Mix(Buffer(pcm16, kMono16), 1.0f, 0.0f, 2, 0);
    EXPECT_EQ(frames(buffer, 3), (std::vector<float>{0.75f, -1.0f, X}));
}

TEST(MixBufferMix, theRampRunsOnIntoTheCopiedPartFromAGainRoundedInFloat) {
    MixBuffer buffer;
    make(buffer, 8, {10, 20});
    const float ones[4] = {1, 1, 1, 1};
    buffer.Mix(Buffer(ones, kMonoFloat), 1.0f, 0.5f, 4, 0);
    EXPECT_EQ(frames(buffer, 5), (std::vector<float>{11, 21.5f, 2, 2.5f, X}));

    // 0.1 + float(0.1 * 30) differs both from thirty additions and from the exact sum.
    make(buffer, 32, std::vector<float>(30, 0.0f));
    std::vector<float> all(32, 1.0f);
    buffer.Mix(Buffer(all.data(), kMonoFloat), 0.1f, 0.1f, 32, 0);
    const double tenth = 0.1f;
    const float start = static_cast<float>(tenth + 0.1f * 30);
    float added = 0.1f;
    for (int i = 0; i < 29; ++i) added += 0.1f;
    EXPECT_EQ(buffer.floats()[29], added);
    EXPECT_EQ(buffer.floats()[30], start);
    EXPECT_NE(added + 0.1f, start);
    EXPECT_NE(static_cast<float>(tenth + tenth * 30), start);
}

TEST(MixBufferMix, oneBigBlockEqualsSingleFramesAndUnevenPieces) {
    std::vector<float> src(97);
    for (int i = 0; i < 97; ++i) src[i] = 0.01f * static_cast<float>((i * 37) % 23) - 0.1f;
    MixBuffer whole, single, pieces;
    make(whole, 97);
    make(single, 97);
    make(pieces, 97);
    whole.Mix(Buffer(src.data(), kMonoFloat), 0.7f, 0.0f, 97, 0);
    for (int i = 0; i < 97; ++i) single.Mix(Buffer(src.data(), kMonoFloat) + i, 0.7f, 0.0f, 1, i);
    for (int at = 0, len = 1; at < 97; at += len, len = len * 2 + 1)
        pieces.Mix(Buffer(src.data(), kMonoFloat) + at, 0.7f, 0.0f, std::min(len, 97 - at), at);
    EXPECT_EQ(frames(single, 97), frames(whole, 97));
    EXPECT_EQ(frames(pieces, 97), frames(whole, 97));
}

TEST(MixBufferArithmetic, addsOverTheCommonPartAndCopiesTheRest) {
    MixBuffer a, b, c;
    make(b, 12, {1, 2, 3, 4, 5, 6});
    make(a, 12, {1, 1});
    a += b;
    EXPECT_EQ(frames(a, 7), (std::vector<float>{2, 3, 3, 4, 5, 6, X}));
    make(a, 12, std::vector<float>(8, 10.0f));
    a += b;
    EXPECT_EQ(frames(a, 9), (std::vector<float>{11, 12, 13, 14, 15, 16, 10, 10, X}));
    make(a, 12);
    a -= b;
    EXPECT_EQ(frames(a, 7), (std::vector<float>{-1, -2, -3, -4, -5, -6, X}));
    make(a, 12, {10, 10});
    a -= b;
    a += ScaledMixBuffer{-0.5f, &b};
    EXPECT_EQ(frames(a, 7), (std::vector<float>{8.5f, 7, -4.5f, -6, -7.5f, -9, X}));
    make(c, 12, {1, 1, 1});
    c += ScaledMixBuffer{-0.5f, &b};
    EXPECT_EQ(frames(c, 7), (std::vector<float>{0.5f, 0, -0.5f, -2, -2.5f, -3, X}));
    c *= 2.0f;
    EXPECT_EQ(frames(c, 7), (std::vector<float>{1, 0, -1, -4, -5, -6, X}));
    EXPECT_EQ(c.used_, 6);
}

TEST(MixBufferOutput, mergeAndSaveExtendAndAccumulateClipsPerBuffer) {
    MixBuffer left, right;
    make(left, 64, std::vector<float>(64, 1.5f));
    make(right, 64);
    std::vector<Stereo<short>> dst(64);
    left.Merge(Buffer(dst.data(), kStereo16), right, 64);
    left.Merge(Buffer(dst.data(), kStereo16), right, 64);
    EXPECT_EQ(dst[63].c[0], 32767);
    EXPECT_EQ(dst[63].c[1], 0);
    EXPECT_EQ(right.used_, 64);
    EXPECT_EQ(left.GetClips(), 128u);
    EXPECT_EQ(left.GetClips(), 0u);
    EXPECT_EQ(right.GetClips(), 0u);

    make(left, 4, {2.0f, -3.0f, 0.5f});
    short mono[4];
    left.Save(Buffer(mono, kMono16), 4);
    left.Save(Buffer(mono, kMono16), 4);
    EXPECT_EQ(std::vector<short>(mono, mono + 4), (std::vector<short>{32767, -32768, 16384, 0}));
    EXPECT_EQ(left.GetClips(), 4u);
}

TEST(MixBufferMeasurements, lookOnlyAtTheUsedFrames) {
    MixBuffer buffer;
    make(buffer, 4);
    EXPECT_EQ(MaxAbs(buffer), 0.0f);
    EXPECT_EQ(Max(buffer), -3.4028235e+38f);
    EXPECT_EQ(Min(buffer), 3.4028235e+38f);
    EXPECT_EQ(Sum(buffer) + SumSquare(buffer), 0.0f);
    make(buffer, 4, {-0.75f, 0.5f});
    EXPECT_EQ(MaxAbs(buffer), 0.75f);
    EXPECT_EQ(Sum(buffer), -0.25f);
    EXPECT_EQ(SumSquare(buffer), 0.8125f);
    make(buffer, 4, {-0.25f, -0.5f});
    EXPECT_EQ(MaxAbs(buffer), 0.5f);
}

// Each case: the frames used before, then (offset, count) mixes at one gain;
// a plan must leave the bits and the used count of the same Mix calls.
TEST(HeldMixPlan, defersSteadyMixesWithTheBitsOfMixAndRefusesWhatMixMustDo) {
    std::vector<float> src(64);
    for (int i = 0; i < 64; ++i) src[i] = 0.03f * static_cast<float>((i * 29) % 31) - 0.4f;
    src[5] = -0.0f;
    const struct {
        Samples used;
        std::vector<std::pair<Samples, Samples>> mixes;
    } cases[] = {
        {0, {{0, 64}}}, {10, {{0, 5}, {3, 20}, {30, 7}}}, {40, {{2, 60}, {0, 1}}}, {0, {{6, 3}, {6, 3}}}};
    // As the engines run, subnormals flushed (where a subnormal gain plus 0
    // is +0), and as they are.
    for (const bool flushed : {true, false}) {
        std::unique_ptr<DenormalGuard> guard(flushed ? new DenormalGuard : nullptr);
        for (const float gain : {0.7f, -1.5f, 1.0f, -1e-40f, 3e38f}) {
            for (const auto& c : cases) {
                MixBuffer mixed, planned;
                make(mixed, 80, std::vector<float>(static_cast<size_t>(c.used), 0.25f));
                make(planned, 80, std::vector<float>(static_cast<size_t>(c.used), 0.25f));
                HeldMixPlan plan;
                for (const auto& m : c.mixes) {
                    mixed.Mix(Buffer(src.data(), kMonoFloat), gain, 0.0f, m.second, m.first);
                    // What the panners do with a gain the plan refuses (a subnormal one, flushed).
                    if (plan.Add(planned, Buffer(src.data(), kMonoFloat), gain, m.second, m.first)) continue;
                    plan.Flush();
                    planned.Mix(Buffer(src.data(), kMonoFloat), gain, 0.0f, m.second, m.first);
                }
                plan.Flush();
                EXPECT_EQ(planned.used_, mixed.used_);
                EXPECT_EQ(std::memcmp(planned.floats(), mixed.floats(), 80 * sizeof(float)), 0)
                    << "gain " << gain;
            }
        }
    }

    // A gain of 0 and integer sources are left to Mix, untouched.
    MixBuffer buffer;
    make(buffer, 8, {1.0f});
    const short pcm16[4] = {1, 2, 3, 4};
    HeldMixPlan plan;
    EXPECT_FALSE(plan.Add(buffer, Buffer(src.data(), kMonoFloat), -0.0f, 4, 0));
    EXPECT_FALSE(plan.Add(buffer, Buffer(pcm16, kMono16), 1.0f, 4, 0));
    plan.Flush();
    EXPECT_EQ(buffer.used_, 1);
    EXPECT_EQ(frames(buffer, 2), (std::vector<float>{1.0f, X}));
}
