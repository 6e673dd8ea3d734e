// The plug-in's five settings as the player's configuration file holds them,
// read and written with the player's configuration-file library.
#pragma once

#include <string>

#include "SettingsFile.h"

struct Settings {
    bool mono3d = true;     // "m2s_enable"
    int mode = kMusicMode;  // "m2s_flags": kMusicMode or kVoiceMode
    bool widen = true;      // "vastor_enable"
    float spreadDb = 0;     // "vastor_spread", -18 .. 0
    bool subtone = true;    // "subtone"
};

// "<home>/.xmms/config"; the user's own home when home is empty.
std::string settingsPath(const std::string& home = std::string());
// The settings in the file, defaults for what is missing; false when the file
// was not read. error (when given) then tells ENOENT, no file yet, from any
// other errno value: a file that is there but cannot be read.
bool readSettings(const std::string& path, Settings& settings, int* error = nullptr);
// What an error of readSettings means for the file, in words.
std::string settingsProblem(int error);
// Writes the five keys, keeping everything else in the file. Only a missing
// file is started afresh: one that is there but cannot be read is left alone.
// False with why (when given) set to the reason when nothing was written.
bool writeSettings(const std::string& path, const Settings& settings, std::string* why = nullptr);
