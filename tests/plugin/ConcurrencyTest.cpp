// Settings changed from the window's thread while the player's audio thread
// streams blocks of both kinds. Run under ThreadSanitizer, this proves that
// no engine call overlaps a block or an engine's re-creation.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "kesta_xmms.h"

namespace {

TEST(Concurrency, settingsChangeWhileBlocksOfBothKindsStream) {
    char tmpl[] = "/tmp/kesta-race-XXXXXX";
    const std::string home = mkdtemp(tmpl);
    setenv("HOME", home.c_str(), 1);
    kesta_init();

    std::atomic<bool> done{false};
    std::thread audio([&] {
        std::vector<short> mono(512), stereo(1024);
        for (size_t i = 0; i < stereo.size(); ++i) stereo[i] = static_cast<short>(8000 * std::sin(0.01 * i));
        for (size_t i = 0; i < mono.size(); ++i) mono[i] = static_cast<short>(8000 * std::sin(0.02 * i));
        for (int block = 0; block < 400; ++block) {
            const int rate = block % 50 < 25 ? 44100 : 48000;  // re-creations as well
            gpointer data = mono.data();
            const gint m = kesta_mod_samples(&data, 1024, FMT_S16_NE, rate, 1);
            EXPECT_EQ(m, 2048);
            const short* out = static_cast<const short*>(data);
            for (int k = 0; k < m / 2; ++k) ASSERT_GE(out[k], -32768);  // reads the whole returned block
            data = stereo.data();
            EXPECT_EQ(kesta_mod_samples(&data, 2048, FMT_S16_LE, rate, 2), 2048);
        }
        done = true;
    });
    std::thread ui([&] {
        int step = 0;
        while (!done) {
            kesta_set_m2s_enabled(step % 2);
            kesta_set_m2s_mode(step % 3 ? kMusicMode : kVoiceMode);
            kesta_set_vastor_enabled(step % 5 != 0);
            kesta_set_spread(-2.0f * (step % 10));
            kesta_set_subtone(step % 4 < 2);
            if (step % 16 == 0) save_config();
            ++step;
        }
    });
    audio.join();
    ui.join();
    (void)std::system(("rm -rf '" + home + "'").c_str());
}

}  // namespace
