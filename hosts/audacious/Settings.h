// The effect's settings in Audacious's own configuration: one section of
// their own, a key per parameter of the core (its settings key), with the
// parameter's default. The mode is kept as the XMMS plug-in stores it.
#pragma once

#include "Processor.h"

namespace kesta::audacious {

// Section in Audacious's configuration file.
inline constexpr const char* kSection = "kesta";

// The key of a parameter.
constexpr const char* KeyOf(Parameter p) {
    return InfoOf(p).settingsKey;
}

// The values of the mode key, as the XMMS plug-in stores them (its open
// flags for the mono-to-3D engine): stored settings keep their meaning.
inline constexpr int kModeMusic = 8;
inline constexpr int kModeVoice = 0;

// Registers the defaults of every key (Audacious keeps them apart from the
// values the user sets, so this writes nothing).
void registerDefaults();

// The settings as the configuration holds them now.
Settings readSettings();

}  // namespace kesta::audacious
