#include "Settings.h"

#include <libaudcore/runtime.h>

#include <cstdio>
#include <string>

namespace kesta::audacious {

void registerDefaults() {
    // Kept for the life of the plug-in, in case Audacious keeps the pointers.
    static std::string values[kParameterCount];
    static const char* defaults[2 * kParameterCount + 1] = {};
    for (int i = 0; i < kParameterCount; ++i) {
        const auto p = static_cast<Parameter>(i);
        const ParameterInfo& info = InfoOf(p);
        if (info.kind == ParameterInfo::kDecibels) {
            char text[32];
            std::snprintf(text, sizeof text, "%g", static_cast<double>(info.fallback));
            values[i] = text;
        } else if (p == Parameter::kMode) {
            values[i] = std::to_string(On(p) ? kModeMusic : kModeVoice);
        } else {
            values[i] = On(p) ? "TRUE" : "FALSE";
        }
        defaults[2 * i] = KeyOf(p);
        defaults[2 * i + 1] = values[i].c_str();
    }
    aud_config_set_defaults(kSection, defaults);
}

Settings readSettings() {
    Settings s;
    for (int i = 0; i < kParameterCount; ++i) {
        const auto p = static_cast<Parameter>(i);
        const ParameterInfo& info = InfoOf(p);
        // The mode key is a flag word: the Music bit set means Music. The
        // processor clamps the spread and treats a non-number as 0 dB.
        if (p == Parameter::kMode)
            s.set(p, (aud_get_int(kSection, KeyOf(p)) & kModeMusic) != 0 ? info.maximum : info.minimum);
        else if (info.kind == ParameterInfo::kDecibels)
            s.set(p, static_cast<float>(aud_get_double(kSection, KeyOf(p))));
        else
            s.set(p, aud_get_bool(kSection, KeyOf(p)) ? info.maximum : info.minimum);
    }
    return s;
}

}  // namespace kesta::audacious
