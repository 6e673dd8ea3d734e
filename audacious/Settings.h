// The effect's settings in Audacious's own configuration: one section of
// their own, the XMMS plug-in's five keys with its defaults, plus automatic
// mono and the limiter.
#pragma once

#include "Processor.h"

namespace kesta::audacious {

// Section and keys in Audacious's configuration file.
inline constexpr const char* kSection = "kesta";
inline constexpr const char* kMonoTo3DKey = "m2s_enable";   // bool
inline constexpr const char* kModeKey = "m2s_flags";        // int: 8 Music, 0 Voice
inline constexpr const char* kWidenKey = "vastor_enable";   // bool
inline constexpr const char* kSpreadKey = "vastor_spread";  // double, dB, -18..0
inline constexpr const char* kSubtoneKey = "subtone";       // bool
inline constexpr const char* kAutoMonoKey = "auto_mono";    // bool
inline constexpr const char* kLimiterKey = "limiter";       // bool

// The values of the mode key, as the XMMS plug-in stores them.
inline constexpr int kModeMusic = 8;
inline constexpr int kModeVoice = 0;

// Registers the defaults of every key (Audacious keeps them apart from the
// values the user sets, so this writes nothing).
void registerDefaults();

// The settings as the configuration holds them now.
Settings readSettings();

}  // namespace kesta::audacious
