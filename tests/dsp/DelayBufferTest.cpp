#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "AssertionMessage.h"
#include "DelayBuffer.h"
#include "FltDelay.h"
#include "MathLib.h"
#include "Mixbuf.h"

namespace {

using test_support::assertionMessage;

const char kGetDelayText[] =
    "void DelayBuffer<float>::GetDelay<Data>(long int, long int, Data *&, Samples &)";

Buffer Floats(const float* x) {
    return Buffer(x, kMonoFloat);
}

// n frames from delay frames ago, gathered by following the runs of GetDelay.
std::vector<float> ReadRuns(const DelayBuffer<float>& ring, Samples delay, Samples n) {
    std::vector<float> out;
    while (n > 0) {
        float* run;
        Samples got;
        ring.GetDelay(delay, n, run, got);
        if (got <= 0) break;
        out.insert(out.end(), run, run + got);
        delay -= got;
        n -= got;
    }
    return out;
}

}  // namespace

// The model is a plain array of the past, oldest first, as long as the ring:
// pushes append and drop the oldest, growing prepends silence, shrinking drops
// the oldest, and advancing turns the oldest frames into the newest.
TEST(DelayBuffer, readsTheSameStretchOfThePastAsAPlainArrayOverRandomPushesAdvancesAndResizes) {
    std::mt19937 random(1234);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    DelayBuffer<float> ring;
    std::vector<float> past, block;
    float next = 1.0f;
    for (int step = 0; step < 4000; ++step) {
        const int size = ring.GetSize(), action = uniform(0, 19);
        if (action == 0) {
            const int newSize = uniform(0, 80);
            ring.SetSize(newSize);
            if (newSize > size) past.insert(past.begin(), newSize - size, 0.0f);
            past.erase(past.begin(), past.end() - newSize);
        } else if (action == 1) {
            const int n = uniform(0, size);
            ring.Advance(n);
            std::rotate(past.begin(), past.begin() + n, past.end());
        } else {
            block.resize(uniform(0, 2 * size + 3));  // empty to well past the ring
            for (float& x : block) x = next++;
            ring.Update(Floats(block.data()), static_cast<Samples>(block.size()));
            past.insert(past.end(), block.begin(), block.end());
            past.erase(past.begin(), past.end() - size);
        }
        ASSERT_EQ(static_cast<size_t>(ring.GetSize()), past.size());
        if (past.empty()) continue;
        const int delay = uniform(1, ring.GetSize()), n = uniform(0, delay);
        const std::vector<float> want(past.end() - delay, past.end() - delay + n);
        ASSERT_EQ(ReadRuns(ring, delay, n), want) << "step " << step;
        std::vector<float> copied(n + 1, -99.0f);
        ring.CopyTo(Floats(copied.data()), delay, n);
        ASSERT_EQ(copied.back(), -99.0f);
        copied.pop_back();
        ASSERT_EQ(copied, want) << "step " << step;
    }
}

TEST(DelayBuffer, aReadThatCrossesTheWrapPointComesBackInTwoRuns) {
    DelayBuffer<float> ring;
    ring.SetSize(8);
    ring.Advance(6);
    float* run;
    Samples got;
    ring.GetDelay(4, 4, run, got);
    EXPECT_EQ(run - ring.bufferBegin_, 2);
    EXPECT_EQ(got, 4);
    ring.GetDelay(8, 4, run, got);
    EXPECT_EQ(run - ring.bufferBegin_, 6);
    EXPECT_EQ(got, 2);
    ring.GetDelay(6, 2, run, got);
    EXPECT_EQ(run, ring.bufferBegin_);
    EXPECT_EQ(got, 2);
}

TEST(DelayBuffer, growingKeepsEveryFrameAtItsAgeWithOlderSilenceBehindIt) {
    const float block[6] = {1, 2, 3, 4, 5, 6};
    DelayBuffer<float> ring;
    ring.SetSize(4);
    ring.Update(Floats(block), 6);
    ring.SetSize(7);
    EXPECT_EQ(ReadRuns(ring, 7, 7), (std::vector<float>{0, 0, 0, 3, 4, 5, 6}));
    ring.Update(Floats(block), 2);
    EXPECT_EQ(ReadRuns(ring, 7, 7), (std::vector<float>{0, 3, 4, 5, 6, 1, 2}));
    ring.SetSize(2);
    EXPECT_EQ(ReadRuns(ring, 2, 2), (std::vector<float>{1, 2}));
}

TEST(DelayBufferDeathTest, readsOutsideTheRingAndBadSizesAreFatal) {
    DelayBuffer<float> ring;
    ring.SetSize(8);
    float* run;
    Samples got;
    EXPECT_DEATH(ring.GetDelay(3, 4, run, got), assertionMessage(kGetDelayText, "delay>=n"));
    EXPECT_DEATH(ring.GetDelay(9, 2, run, got),
                 assertionMessage(kGetDelayText, "delay<=bufferEnd_-bufferBegin_"));
    EXPECT_DEATH(ring.Advance(9), assertionMessage("void DelayBuffer<float>::Advance<Data>(long int)",
                                                   "n<=bufferEnd_-bufferBegin_"));
    EXPECT_DEATH(ring.SetSize(-1),
                 assertionMessage("bool DelayBuffer<float>::SetSize<Data>(long int)", "size>=0"));
    DelayBuffer<float, DelayBufferScaleTexts> scaled;
    EXPECT_DEATH(
        scaled.GetDelay(1, 2, run, got),
        assertionMessage("void DelayBuffer<float>::GetDelay<Scale>(long int, long int, Scale *&, Samples &)",
                         "delay>=n"));
}

TEST(DelayMixBuffer, aMixBufferPushClearsItsSilentTailAndPushesExactlyTheBlock) {
    MathLibrary& library = *GetFloatLibrary();
    std::unique_ptr<DelayMixBuffer> line(library.CreateDelayBuffer());
    line->SetSize(10);
    float memory[12] = {1, 2, 3, 7, 7, 7, 7, 7, 7, 7, 7, 7};
    MixBuffer partly(library, Floats(memory), 3);
    line->Update(partly, 8);
    EXPECT_EQ(partly.used_, 8);
    EXPECT_EQ(memory[8], 7.0f);
    MixBuffer longer(library, Floats(memory), 12);
    line->Update(longer, 2);  // frames past the block are not pushed
    std::vector<float> past(10);
    line->CopyTo(Floats(past.data()), 10, 10);
    EXPECT_EQ(past, (std::vector<float>{1, 2, 3, 0, 0, 0, 0, 0, 1, 2}));

    // A silent tail that alone fills the line resets it and leaves src alone.
    MixBuffer empty(library, Floats(memory), 0);
    line->Update(empty, 10);
    EXPECT_EQ(empty.used_, 0);
    EXPECT_EQ(memory[0], 1.0f);
    line->CopyTo(Floats(past.data()), 10, 10);
    EXPECT_EQ(past, std::vector<float>(10, 0.0f));
}

TEST(DelayMixBuffer, isQuietOnlyWhileEachRunStaysWithinOneSixteenBitStep) {
    std::unique_ptr<DelayMixBuffer> line(GetFloatLibrary()->CreateDelayBuffer());
    EXPECT_TRUE(line->IsQuiet());
    line->SetSize(8);
    // With the write position at frame 5 the two runs are frames 5..7 and 0..4.
    for (float level : {0.00003f, 0.0001f}) {
        for (int at : {1, 6}) {
            line->Reset();
            line->Advance(5);
            static_cast<FloatDelayMixBuffer&>(*line).delayLine_.bufferBegin_[at] = level;
            EXPECT_EQ(line->IsQuiet(), level < 0.00005f) << "level " << level << " at " << at;
        }
    }
}
