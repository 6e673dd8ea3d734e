// The controls of kesta::Processor, stated once: every host of the core (the
// LADSPA and LV2 plug-ins, Audacious, kesta render) takes its ports, options,
// preference widgets and settings keys from this table, and the Parameter
// enumerators, the fields of Settings (with get, set and ==) and
// Processor's setters by name are made from it. A new control is one row of
// KESTA_PARAMETERS and the processor's use of it.
#pragma once

namespace kesta {

struct ParameterInfo {
    // kDecibels: a value in dB from minimum to maximum. kEnumeration and
    // kToggle: whole numbers from minimum (0) to maximum (1), labels[v] each.
    enum Kind { kDecibels, kEnumeration, kToggle };
    const char* symbol;  // the LV2 port symbol
    const char* name;    // the name a host shows (LADSPA adds the unit or the values)
    const char* unit;    // "dB", or "" for none
    Kind kind;
    bool stereoOnly;  // acts on stereo input only (a plug-in for mono input has no port for it)
    float minimum;
    float maximum;
    float fallback;           // the default value
    const char* labels[2];    // the names of the values 0 and 1 (not for kDecibels)
    const char* settingsKey;  // the key in the hosts' settings files
    const char* option;       // kesta's command-line option, without "--"
    const char* help;         // its help: what it does (lines apart by \n)
    const char* comment;      // a line for hosts that show one, or null
};

// One row a control: X(Name, field, Setter, type, ParameterInfo...) gives
// Parameter::kName, the Settings field `field` of `type` (float for a value
// in dB, bool for the others), Processor::setSetter, and the control's row of
// kParameters. New controls go last, since hosts number ports and positional
// values (sox) in this order.
// clang-format off
#define KESTA_PARAMETERS(X)                                                                                \
    /* X(Name, Settings field, Setter, the field's type,                                               */  \
    /*   symbol, name, unit, kind, stereo only, minimum, maximum, default, labels,                     */  \
    /*   settings key, command-line option, help, comment)                                             */  \
    X(Spread, spreadDb, Spread, float,                                                                     \
      "spread", "Spread", "dB", ParameterInfo::kDecibels, true, -18.0f, 0.0f, 0.0f, {},                    \
      "vastor_spread", "spread", "stereo spread", nullptr)                                                 \
    X(Mode, music, Music, bool,                                                                            \
      "mode", "Mode", "", ParameterInfo::kEnumeration, false, 0.0f, 1.0f, 1.0f, {"Voice", "Music"},        \
      "m2s_flags", "mode", "mono-to-3D mode", nullptr)                                                     \
    X(MonoTo3D, monoTo3D, MonoTo3D, bool,                                                                  \
      "mono_to_3d", "Mono-to-3D", "", ParameterInfo::kToggle, false, 0.0f, 1.0f, 1.0f, {"Off", "On"},      \
      "m2s_enable", "mono-3d", "mono-to-3D processing", nullptr)                                           \
    X(Widening, widen, Widening, bool,                                                                     \
      "widening", "Widening", "", ParameterInfo::kToggle, true, 0.0f, 1.0f, 1.0f, {"Off", "On"},           \
      "vastor_enable", "widen", "stereo widening", nullptr)                                                \
    X(Subtone, subtone, Subtone, bool,                                                                     \
      "subtone", "Subtone", "", ParameterInfo::kToggle, false, 0.0f, 1.0f, 1.0f, {"Off", "On"},            \
      "subtone", "subtone", "keep the bass out of the widening (both engines)", nullptr)                   \
    X(AutoMono, autoMono, AutoMono, bool,                                                                  \
      "auto_mono", "Automatic mono", "", ParameterInfo::kToggle, true, 0.0f, 1.0f, 1.0f, {"Off", "On"},    \
      "auto_mono", "auto-mono",                                                                            \
      "treat stereo that carries one mono recording as mono (default on):\n"                               \
      "equal channels, or a transfer's nearly equal ones (a small gain,\n"                                 \
      "delay or treble difference, hiss)",                                                                 \
      nullptr)                                                                                             \
    X(Limiter, limiter, Limiter, bool,                                                                     \
      "limiter", "Limiter", "", ParameterInfo::kToggle, false, 0.0f, 1.0f, 1.0f, {"Off", "On"},            \
      "limiter", "limiter",                                                                                \
      "hold every sample at or under -1 dBFS as it plays (default on): only\n"                             \
      "the loudest moments are lowered, for a few ms to a few 100 ms each",                                \
      "Holds every output sample at or under -1 dBFS")                                                     \
    X(Match, match, Match, bool,                                                                           \
      "match", "Match loudness", "", ParameterInfo::kToggle, false, 0.0f, 1.0f, 1.0f, {"Off", "On"},       \
      "match", "match",                                                                                    \
      "keep the output as loud as the input (default on), so that the effect\n"                            \
      "changes the image and not the level: one gain that follows the loudness\n"                          \
      "over a few seconds",                                                                                \
      "Keeps the output as loud as the input")
// clang-format on

#define KESTA_PARAMETER_ENUMERATOR(Name, field, Setter, type, ...) k##Name,
enum class Parameter : int { KESTA_PARAMETERS(KESTA_PARAMETER_ENUMERATOR) };
#undef KESTA_PARAMETER_ENUMERATOR

#define KESTA_PARAMETER_INFO(Name, field, Setter, type, ...) {__VA_ARGS__},
inline constexpr ParameterInfo kParameters[] = {KESTA_PARAMETERS(KESTA_PARAMETER_INFO)};
#undef KESTA_PARAMETER_INFO

inline constexpr int kParameterCount = static_cast<int>(sizeof kParameters / sizeof kParameters[0]);

constexpr const ParameterInfo& InfoOf(Parameter p) {
    return kParameters[static_cast<int>(p)];
}

// Whether an on/off parameter's default is on.
constexpr bool On(Parameter p) {
    return InfoOf(p).fallback > InfoOf(p).minimum;
}

// A bit per parameter, for sets of them.
constexpr unsigned Bit(Parameter p) {
    return 1u << static_cast<int>(p);
}

// A value as a field of its type holds it: not a finite number counts as
// the default; a value in dB is kept as given (the processor clamps it); a
// toggle is on above its minimum, an enumeration at its second value from
// halfway up.
constexpr float Finite(const ParameterInfo& info, float value) {
    return value - value == 0.0f ? value : info.fallback;
}
template <class T>
T ValueAs(const ParameterInfo& info, float value);
template <>
inline float ValueAs<float>(const ParameterInfo& info, float value) {
    return Finite(info, value);
}
template <>
inline bool ValueAs<bool>(const ParameterInfo& info, float value) {
    value = Finite(info, value);
    return info.kind == ParameterInfo::kEnumeration ? value >= 0.5f * (info.minimum + info.maximum)
                                                    : value > info.minimum;
}

// The settings of a stream, a field per parameter, with the table's defaults
// (the XMMS plug-in's, with automatic mono on).
struct Settings {
#define KESTA_PARAMETER_FIELD(Name, field, Setter, type, ...) \
    type field = static_cast<type>(InfoOf(Parameter::k##Name).fallback);
    KESTA_PARAMETERS(KESTA_PARAMETER_FIELD)
#undef KESTA_PARAMETER_FIELD

    // A parameter's value: the spread in dB, 0 or 1 for the others.
    float get(Parameter p) const;
    // Sets a parameter from a value, as ValueAs reads it.
    void set(Parameter p, float value);
    // The parameters whose values differ from o's, as Bit()s.
    unsigned differences(const Settings& o) const;

    bool operator==(const Settings& o) const {
        return differences(o) == 0;
    }
    bool operator!=(const Settings& o) const {
        return !(*this == o);
    }
};

}  // namespace kesta
