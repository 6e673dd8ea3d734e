#include "Settings.h"

#include <glib.h>

#include <cmath>

#include "configfile.h"

namespace {
const char kSection[] = "Kesta";
}

std::string settingsPath(const std::string& home) {
    std::string base = home;
    if (base.empty()) {
        const char* env = g_getenv("HOME");
        base = (env && *env) ? env : g_get_home_dir();
    }
    return base + "/.xmms/config";
}

bool readSettings(const std::string& path, Settings& s) {
    s = Settings();
    ConfigFile* file = xmms_cfg_open_file(path.c_str());
    if (!file) return false;
    gboolean on;
    gint mode;
    gfloat spread;
    if (xmms_cfg_read_boolean(file, kSection, "m2s_enable", &on)) s.mono3d = on;
    if (xmms_cfg_read_int(file, kSection, "m2s_flags", &mode)) s.mode = (mode & 8) ? 8 : 0;
    if (xmms_cfg_read_boolean(file, kSection, "vastor_enable", &on)) s.widen = on;
    if (xmms_cfg_read_float(file, kSection, "vastor_spread", &spread) && std::isfinite(spread))
        s.spreadDb = std::fmin(0.0f, std::fmax(-18.0f, spread));
    if (xmms_cfg_read_boolean(file, kSection, "subtone", &on)) s.subtone = on;
    xmms_cfg_free(file);
    return true;
}

bool writeSettings(const std::string& path, const Settings& s) {
    ConfigFile* file = xmms_cfg_open_file(path.c_str());
    if (!file) file = xmms_cfg_new();
    xmms_cfg_write_boolean(file, kSection, "m2s_enable", s.mono3d);
    xmms_cfg_write_int(file, kSection, "m2s_flags", s.mode);
    xmms_cfg_write_boolean(file, kSection, "vastor_enable", s.widen);
    xmms_cfg_write_float(file, kSection, "vastor_spread", s.spreadDb);
    xmms_cfg_write_boolean(file, kSection, "subtone", s.subtone);
    const bool ok = xmms_cfg_write_file(file, path.c_str());
    xmms_cfg_free(file);
    return ok;
}
