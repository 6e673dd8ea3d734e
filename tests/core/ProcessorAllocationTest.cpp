// The processor's audio path allocates nothing: this program replaces the
// global operator new and delete, counting every allocation while armed.
// AddressSanitizer brings its own allocator, so under it the test is skipped.
#include <gtest/gtest.h>

#include <vector>

#include "CoreSignal.h"
#include "HeapCounter.h"
#include "Processor.h"

namespace {

using namespace core_test;

TEST(ProcessorAllocation, theCounterSeesAnAllocation) {
    if (!KESTA_COUNT_ALLOCATIONS) GTEST_SKIP() << "allocations are not counted under AddressSanitizer";
    gAllocations = 0;
    gCounting = true;
    int* volatile p = new int(3);  // volatile: no compiler may elide the pair
    delete p;
    gCounting = false;
    EXPECT_EQ(gAllocations, 2);
}

TEST(ProcessorAllocation, processingAllocatesNothingWhileEverySettingChanges) {
    if (!KESTA_COUNT_ALLOCATIONS) GTEST_SKIP() << "allocations are not counted under AddressSanitizer";
    const int n = 60000;
    for (int channels : {1, 2}) {
        // Equal channels first, so automatic mono switches over and back too.
        std::vector<float> l = Music(n, 1), r = l;
        const std::vector<float> other = Music(n, 2);
        for (int i = n / 2; i < n; ++i) r[static_cast<size_t>(i)] = other[static_cast<size_t>(i)];
        const std::vector<float> in = channels == 1 ? l : Interleave({l, r});
        std::vector<float> out(2 * static_cast<size_t>(n)), left(static_cast<size_t>(n)),
            right(static_cast<size_t>(n));
        kesta::Processor p;
        ASSERT_TRUE(p.prepare(44100, channels, 1024));
        gAllocations = 0;
        gCounting = true;
        int step = 0;
        uint32_t state = 5;
        for (int done = 0; done < n; ++step) {
            state = state * 1664525u + 1013904223u;
            const int k = std::min(n - done, 1 + static_cast<int>((state >> 8) % 1500));
            switch (step % 8) {
                case 0:
                    p.setMusic(step % 16 == 0);
                    break;
                case 1:
                    p.setSpread(-0.7f * static_cast<float>(step % 27));
                    break;
                case 2:
                    p.setMonoTo3D(step % 24 != 2);
                    break;
                case 3:
                    p.setWidening(step % 40 != 3);
                    break;
                case 4:
                    p.setSubtone(step % 16 < 8);
                    break;
                case 5:
                    p.setAutoMono(step % 48 != 5);
                    break;
                case 6:
                    p.reset();
                    break;
                default:
                    p.setSettings(kesta::Settings());
                    break;
            }
            if (step % 2) {
                p.process(in.data() + static_cast<size_t>(done) * channels,
                          out.data() + 2 * static_cast<size_t>(done), k);
            } else {
                const float* ins[2] = {in.data() + done,
                                       in.data() + done};  // planar views of the first channel
                float* outs[2] = {left.data() + done, right.data() + done};
                p.processPlanar(ins, outs, k);
            }
            done += k;
        }
        gCounting = false;
        EXPECT_EQ(gAllocations, 0) << channels << " channels";
    }
}

}  // namespace
