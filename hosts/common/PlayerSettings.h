// The effect's settings in the player's configuration file,
// "<home>/.xmms/config", read and written as the player plug-in reads and
// writes them (with the player's configuration-file library, and the file's
// description in PlayerFile.h): the five parameters the plug-in has.
// Automatic mono, the limiter and loudness matching are not in the file: they
// keep what they are.
#pragma once

#include <csignal>
#include <string>

#include "Parameters.h"

// The parameters the player plug-in has, which the file holds.
inline constexpr kesta::Parameter kPlayerParameters[] = {
    kesta::Parameter::kMonoTo3D, kesta::Parameter::kMode, kesta::Parameter::kWidening,
    kesta::Parameter::kSpread, kesta::Parameter::kSubtone};
constexpr bool inPlayerFile(kesta::Parameter p) {
    for (kesta::Parameter q : kPlayerParameters)
        if (q == p) return true;
    return false;
}

// "<home>/.xmms/config"; the user's own home when home is empty (HOME, or
// where HOME is unset or empty, the home of the password database).
std::string settingsPath(const std::string& home = std::string());
// The flag that asks the waits for another program's lock on the file (a
// few seconds at most) to give up: they look at it every 20 ms, and fail
// with EINTR once it is non-zero. Null (the default): they wait it out.
void setSettingsStop(const volatile std::sig_atomic_t* stop);
// The settings in the file, defaults for what is missing; false when the file
// was not read. error (when given) then tells ENOENT, no file yet, EINTR, a
// wait stopped, from any other errno value: a file that is there but cannot
// be read. A file that another program keeps locked for seconds is read
// without its lock: true, with error EWOULDBLOCK.
bool readSettings(const std::string& path, kesta::Settings& settings, int* error = nullptr);
// What an error of readSettings means for the file, in words.
std::string settingsProblem(int error);
// Writes the five keys, keeping everything else in the file. Only a missing
// file is started afresh: one that is there but cannot be read is left alone.
// False with why (when given) set to the reason when nothing was written.
bool writeSettings(const std::string& path, const kesta::Settings& settings, std::string* why = nullptr);
// The value of the mode key for settings.
int modeFlags(const kesta::Settings& settings);
