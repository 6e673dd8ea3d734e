#include "Settings.h"

#include <libaudcore/runtime.h>

namespace kesta::audacious {

void registerDefaults() {
    static const char* const defaults[] = {
        kMonoTo3DKey, "TRUE", kModeKey,     "8",    kWidenKey,   "TRUE", kSpreadKey, "0",
        kSubtoneKey,  "TRUE", kAutoMonoKey, "TRUE", kLimiterKey, "TRUE", nullptr,
    };
    aud_config_set_defaults(kSection, defaults);
}

Settings readSettings() {
    Settings s;
    s.monoTo3D = aud_get_bool(kSection, kMonoTo3DKey);
    // The mode key is a flag word: the Music bit set means Music.
    s.music = (aud_get_int(kSection, kModeKey) & kModeMusic) != 0;
    s.widen = aud_get_bool(kSection, kWidenKey);
    // The processor clamps the spread and treats a non-number as 0 dB.
    s.spreadDb = static_cast<float>(aud_get_double(kSection, kSpreadKey));
    s.subtone = aud_get_bool(kSection, kSubtoneKey);
    s.autoMono = aud_get_bool(kSection, kAutoMonoKey);
    s.limiter = aud_get_bool(kSection, kLimiterKey);
    return s;
}

}  // namespace kesta::audacious
