#include "Settings.h"

#include <glib.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "configfile.h"

namespace {}  // namespace

std::string settingsProblem(int error) {
    switch (error) {
        case EISDIR:
            return "it is a folder";
        case EINVAL:
            return "it is not a regular file";
        case EWOULDBLOCK:
            return "another program has kept it locked for seconds";
        default:
            return std::strerror(error);
    }
}

std::string settingsPath(const std::string& home) {
    std::string base = home;
    if (base.empty()) {
        const char* env = g_getenv("HOME");
        base = (env && *env) ? env : g_get_home_dir();
    }
    return base + "/.xmms/config";
}

bool readSettings(const std::string& path, Settings& s, int* error) {
    s = Settings();
    gint failure = 0;
    ConfigFile* file = xmms_cfg_open_file_full(path.c_str(), &failure);
    if (error) *error = failure;
    if (!file) return false;
    gboolean on;
    gint mode;
    gfloat spread;
    if (xmms_cfg_read_boolean(file, kSettingsSection, kMonoTo3DKey, &on)) s.mono3d = on;
    if (xmms_cfg_read_int(file, kSettingsSection, kModeKey, &mode))
        s.mode = (mode & kMusicMode) ? kMusicMode : kVoiceMode;
    if (xmms_cfg_read_boolean(file, kSettingsSection, kWideningKey, &on)) s.widen = on;
    if (xmms_cfg_read_float(file, kSettingsSection, kSpreadKey, &spread) && std::isfinite(spread))
        s.spreadDb = std::fmin(0.0f, std::fmax(-18.0f, spread));
    if (xmms_cfg_read_boolean(file, kSettingsSection, kSubtoneKey, &on)) s.subtone = on;
    xmms_cfg_free(file);
    return true;
}

bool writeSettings(const std::string& path, const Settings& s, std::string* why) {
    gint failure = 0;
    ConfigFile* file = xmms_cfg_open_file_full(path.c_str(), &failure);
    if (!file && failure != ENOENT) {
        // Starting afresh would replace whatever else the file holds.
        if (why) *why = path + " cannot be read (" + settingsProblem(failure) + "), so it was left as it is";
        return false;
    }
    if (!file) file = xmms_cfg_new();
    xmms_cfg_write_boolean(file, kSettingsSection, kMonoTo3DKey, s.mono3d);
    xmms_cfg_write_int(file, kSettingsSection, kModeKey, s.mode);
    xmms_cfg_write_boolean(file, kSettingsSection, kWideningKey, s.widen);
    xmms_cfg_write_float(file, kSettingsSection, kSpreadKey, s.spreadDb);
    xmms_cfg_write_boolean(file, kSettingsSection, kSubtoneKey, s.subtone);
    const bool ok = xmms_cfg_write_file_full(file, path.c_str(), &failure);
    xmms_cfg_free(file);
    if (!ok && why) {
        *why = path + " cannot be written (" +
               (failure == EACCES ? std::string("it is read-only or not ours") : settingsProblem(failure)) +
               "), so it was left as it is";
    }
    return ok;
}
