// The plug-in's sample path as a player written in C drives it: a run of
// calls, each taken from the input, that hand it blocks of any format code,
// rate, channel count and length (fresh data, or part of the block it
// returned last), ask what a format becomes, and change the settings between
// blocks as the window and a re-read of the settings file do.
//
// Beyond what the sanitizers see, every answer is checked: a block left alone
// keeps its pointer and length, a processed one is at most twice as long, and
// every byte of it can be read.
#include <fuzzer/FuzzedDataProvider.h>
#include <glib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "PlayerCalls.h"
#include "kesta_xmms.h"

namespace {

std::string home;

void removeHome() {
    std::remove((home + "/.xmms/config").c_str());
    std::remove((home + "/.xmms").c_str());
    std::remove(home.c_str());
}

void check(bool condition) {
    if (!condition) __builtin_trap();
}

int pickFormat(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 4)) {
        case 0:
            return FMT_U8;
        case 1:
            return FMT_S16_LE;
        case 2:
            return FMT_S16_NE;
        case 3:
            return in.ConsumeIntegralInRange(0, 9);
        default:
            return in.ConsumeIntegral<int>();
    }
}

// Mostly the rate of the block before, as in a stream: a new rate re-creates
// an engine, which costs more than many blocks.
int pickRate(FuzzedDataProvider& in, int previous) {
    static const int kRates[] = {8000, 11025, 22050, 32000, 44100, 48000, 96000};
    switch (in.ConsumeIntegralInRange(0, 7)) {
        case 0:
        case 1:
            return in.PickValueInArray(kRates);
        case 2:
            return in.ConsumeIntegralInRange(-1, 400000);
        default:
            return previous;
    }
}

int pickChannels(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange(0, 5)) {
        case 0:
        case 1:
            return 1;
        case 2:
        case 3:
            return 2;
        case 4:
            return 0;
        default:
            return in.ConsumeIntegral<int>();
    }
}

// Any float, NaN and infinities included.
float anyFloat(FuzzedDataProvider& in) {
    if (in.ConsumeBool()) return in.ConsumeFloatingPointInRange(kSpreadMinDb, kSpreadMaxDb);
    const uint32_t bits = in.ConsumeIntegral<uint32_t>();
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// A settings file holding the five keys, then the plug-in re-reading it.
void rereadSettings(FuzzedDataProvider& in) {
    const char* truth[] = {"TRUE", "FALSE", "1", "0", "yes"};
    char text[256];
    std::snprintf(text, sizeof text,
                  "[Kesta]\nm2s_enable=%s\nm2s_flags=%d\nvastor_enable=%s\nvastor_spread=%g\nsubtone=%s\n",
                  in.PickValueInArray(truth), in.ConsumeIntegral<int>(), in.PickValueInArray(truth),
                  static_cast<double>(anyFloat(in)), in.PickValueInArray(truth));
    if (FILE* file = std::fopen((home + "/.xmms/config").c_str(), "w")) {
        std::fputs(text, file);
        std::fclose(file);
    }
    kesta_ep.init();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/kesta-fuzz-home-XXXXXX";
    if (!mkdtemp(folder)) std::abort();
    home = folder;
    setenv("HOME", folder, 1);
    g_mkdir_with_parents((home + "/.xmms").c_str(), 0700);
    std::atexit(removeHome);
    kesta_ep.init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider in(bytes, size);
    std::vector<unsigned char> fresh;
    gpointer returned = nullptr;  // the block the plug-in answered last
    gint returnedLength = 0;
    int rate = 44100;
    for (int step = 0; step < 32 && in.remaining_bytes() > 0; ++step) {
        switch (in.ConsumeIntegralInRange(0, 12)) {
            case 0:
                kesta_set_m2s_enabled(in.ConsumeBool());
                break;
            case 1:
                kesta_set_m2s_mode(in.ConsumeBool() ? kMusicMode : in.ConsumeIntegral<int>());
                break;
            case 2:
                kesta_set_vastor_enabled(in.ConsumeBool());
                break;
            case 3:
                kesta_set_spread(anyFloat(in));
                break;
            case 4:
                kesta_set_subtone(in.ConsumeBool());
                break;
            case 5:
                rereadSettings(in);
                break;
            case 6: {
                // Only a mono block of a format the plug-in takes is answered as stereo.
                const int format = pickFormat(in), channels = pickChannels(in);
                const gint answer = player_query_channels(&kesta_ep, format, 44100, channels);
                check(answer == channels || (channels == 1 && answer == 2));
                break;
            }
            default: {
                const int format = pickFormat(in), channels = pickChannels(in);
                rate = pickRate(in, rate);
                gpointer data;
                gint length;
                if (returned && returnedLength > 0 && in.ConsumeBool()) {
                    // Part of the last answer comes back, as from a chain of effects.
                    const gint offset = in.ConsumeIntegralInRange<gint>(0, returnedLength - 1);
                    data = static_cast<unsigned char*>(returned) + offset;
                    length = in.ConsumeIntegralInRange<gint>(0, returnedLength - offset);
                } else {
                    fresh = in.ConsumeBytes<unsigned char>(in.ConsumeIntegralInRange<size_t>(0, 8192));
                    data = fresh.empty() ? nullptr : fresh.data();
                    length = static_cast<gint>(fresh.size());
                }
                const gpointer given = data;
                const gint answer = player_mod_samples(&kesta_ep, &data, length, format, rate, channels);
                if (data == given) {
                    check(answer == length);
                } else {
                    check(answer > 0 && answer <= 2 * length);
                    unsigned sum = 0;
                    for (gint i = 0; i < answer; ++i) sum += static_cast<const unsigned char*>(data)[i];
                    volatile unsigned sink = sum;
                    (void)sink;
                }
                returned = data;
                returnedLength = data ? answer : 0;
                break;
            }
        }
    }
    return 0;
}
