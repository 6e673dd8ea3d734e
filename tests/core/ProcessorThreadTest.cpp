// One thread streams while another changes every setting; run under
// ThreadSanitizer by CI, this shows the settings need no lock.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include "CoreSignal.h"
#include "ParameterStore.h"
#include "Processor.h"

namespace {

using namespace core_test;

TEST(ProcessorThreads, settingsChangeFromAnotherThreadWhileAudioStreams) {
    for (int channels : {1, 2}) {
        kesta::Processor p;
        ASSERT_TRUE(p.prepare(48000, channels, 512));
        std::atomic<bool> done{false};
        std::thread audio([&] {
            const int n = 512;
            const std::vector<float> in =
                channels == 1 ? Music(n, 4) : Interleave({Music(n, 4), Music(n, 4)});
            std::vector<float> out(2 * n);
            for (int block = 0; block < 600; ++block) {
                p.process(in.data(), out.data(), 1 + block % n);
                for (float y : out) ASSERT_TRUE(std::isfinite(y));
            }
            done = true;
        });
        std::thread ui([&] {
            for (int step = 0; !done; ++step) {
                p.setMonoTo3D(step % 5 != 0);
                p.setMusic(step % 3 != 0);
                p.setWidening(step % 7 != 0);
                p.setSpread(-0.5f * static_cast<float>(step % 37));
                p.setSubtone(step % 4 < 2);
                p.setAutoMono(step % 11 != 0);
                if (step % 13 == 0) p.setSettings(kesta::Settings());
                (void)p.settings();
                std::this_thread::yield();
            }
        });
        audio.join();
        ui.join();
    }
}

// Two writers each set every parameter at once while the audio thread
// reads: it sees the one or the other, never a mix of the two.
TEST(ProcessorThreads, aBlockSeesEveryParameterOfOneWriteOrNoneOfIt) {
    kesta::Settings a, b;
    for (int p = 0; p < kesta::kParameterCount; ++p) {
        const kesta::ParameterInfo& info = kesta::kParameters[p];
        a.set(static_cast<kesta::Parameter>(p), info.minimum);
        b.set(static_cast<kesta::Parameter>(p), info.maximum);
    }
    kesta::ParameterStore store;
    std::atomic<bool> done{false};
    auto writer = [&](const kesta::Settings& s) {
        while (!done) {
            store.set(s);
            std::this_thread::yield();
        }
    };
    std::thread one(writer, a), two(writer, b);
    unsigned seen = 0;
    int reads = 0;
    for (long i = 0; i < 100000000 && reads < 2000; ++i) {
        kesta::Settings got;
        if (!store.read(&seen, &got)) continue;
        ++reads;
        ASSERT_TRUE(got == a || got == b) << "read " << reads;
    }
    done = true;
    one.join();
    two.join();
    EXPECT_GT(reads, 0);
}

}  // namespace
