// The controls of kesta::Processor, stated once: every host of the core (the
// LADSPA and LV2 plug-ins, Audacious, kesta render) takes its ports, options,
// preference widgets and settings keys from this table. A new control is one
// line of the table, one field of Settings and the processor's use of it.
#pragma once

namespace kesta {

// Indexes kParameters; new controls go last, since hosts number ports and
// positional values (sox) in this order.
enum class Parameter : int { kSpread, kMode, kMonoTo3D, kWidening, kSubtone, kAutoMono, kLimiter, kMatch };
inline constexpr int kParameterCount = 8;

struct ParameterInfo {
    // kDecibels: a value in dB from minimum to maximum. kEnumeration and
    // kToggle: whole numbers from minimum (0) to maximum (1), labels[v] each.
    enum Kind { kDecibels, kEnumeration, kToggle };
    const char* symbol;  // the LV2 port symbol
    const char* name;    // the name a host shows (LADSPA adds the unit or the values)
    const char* unit;    // "dB", or "" for none
    Kind kind;
    float minimum;
    float maximum;
    float fallback;           // the default value
    const char* labels[2];    // the names of the values 0 and 1 (not for kDecibels)
    const char* settingsKey;  // the key in the hosts' settings files
    const char* option;       // kesta's command-line option, without "--"
    const char* help;         // its help: what it does (lines apart by \n)
    const char* comment;      // a line for hosts that show one, or null
};

// clang-format off
inline constexpr ParameterInfo kParameters[kParameterCount] = {
    // symbol      name              unit  kind                          min     max   default labels           settings key
    //             command-line option and help; comment
    {"spread",     "Spread",         "dB", ParameterInfo::kDecibels,    -18.0f, 0.0f, 0.0f, {},                 "vastor_spread",
                   "spread",    "stereo spread", nullptr},
    {"mode",       "Mode",           "",   ParameterInfo::kEnumeration, 0.0f,   1.0f, 1.0f, {"Voice", "Music"}, "m2s_flags",
                   "mode",      "mono-to-3D mode", nullptr},
    {"mono_to_3d", "Mono-to-3D",     "",   ParameterInfo::kToggle,      0.0f,   1.0f, 1.0f, {"Off", "On"},      "m2s_enable",
                   "mono-3d",   "mono-to-3D processing", nullptr},
    {"widening",   "Widening",       "",   ParameterInfo::kToggle,      0.0f,   1.0f, 1.0f, {"Off", "On"},      "vastor_enable",
                   "widen",     "stereo widening", nullptr},
    {"subtone",    "Subtone",        "",   ParameterInfo::kToggle,      0.0f,   1.0f, 1.0f, {"Off", "On"},      "subtone",
                   "subtone",   "keep the bass out of the widening (both engines)", nullptr},
    {"auto_mono",  "Automatic mono", "",   ParameterInfo::kToggle,      0.0f,   1.0f, 1.0f, {"Off", "On"},      "auto_mono",
                   "auto-mono", "treat stereo that carries one mono recording as mono (default on):\n"
                                "equal channels, or a transfer's nearly equal ones (a small gain,\n"
                                "delay or treble difference, hiss)", nullptr},
    {"limiter",    "Limiter",        "",   ParameterInfo::kToggle,      0.0f,   1.0f, 1.0f, {"Off", "On"},      "limiter",
                   "limiter",   "hold every sample at or under -1 dBFS as it plays (default on): only\n"
                                "the loudest moments are lowered, for a few ms to a few 100 ms each",
                   "Holds every output sample at or under -1 dBFS"},
    {"match",      "Match loudness", "",   ParameterInfo::kToggle,      0.0f,   1.0f, 1.0f, {"Off", "On"},      "match",
                   "match",     "keep the output as loud as the input (default on), so that the effect\n"
                                "changes the image and not the level: one gain that follows the loudness\n"
                                "over a few seconds",
                   "Keeps the output as loud as the input"},
};
// clang-format on

constexpr const ParameterInfo& InfoOf(Parameter p) {
    return kParameters[static_cast<int>(p)];
}

// Whether an on/off parameter's default is on.
constexpr bool On(Parameter p) {
    return InfoOf(p).fallback > InfoOf(p).minimum;
}

// The settings of a stream, one field per parameter, with the table's
// defaults (the XMMS plug-in's, with automatic mono on).
struct Settings {
    bool monoTo3D = On(Parameter::kMonoTo3D);  // mono-to-3D engine on (off: mono plays on both sides)
    bool music = On(Parameter::kMode);         // Music mode; false is Voice
    bool widen = On(Parameter::kWidening);     // stereo widening on (off: stereo passes through, delayed)
    float spreadDb = InfoOf(Parameter::kSpread).fallback;  // widening amount in dB
    bool subtone = On(Parameter::kSubtone);                // keep the bass out of the widening paths
    bool autoMono = On(Parameter::kAutoMono);  // stereo that carries a mono recording is treated as mono
    bool limiter = On(Parameter::kLimiter);    // hold the output at or under -1 dBFS
    bool match = On(Parameter::kMatch);        // keep the output as loud as the input

    // A parameter's value: the spread in dB, 0 or 1 for the others.
    float get(Parameter p) const;
    // Sets a parameter from a value: one that is not a finite number counts
    // as the parameter's default; a toggle is on above 0; the mode is Music
    // from 0.5 up; the spread is kept as given, for the processor to clamp.
    void set(Parameter p, float value);

    bool operator==(const Settings& o) const;
    bool operator!=(const Settings& o) const { return !(*this == o); }
};

}  // namespace kesta
