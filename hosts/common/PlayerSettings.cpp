#include "PlayerSettings.h"

#include <glib.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "configfile.h"

using kesta::InfoOf;
using kesta::Parameter;

namespace {

constexpr char kSection[] = "Kesta";
// The mode key holds the mono-to-3D engine's open flags: M2S_MUSIC for Music.
constexpr int kMusicFlag = 8;

const char* Key(Parameter p) {
    return InfoOf(p).settingsKey;
}

}  // namespace

int modeFlags(const kesta::Settings& s) {
    return s.music ? kMusicFlag : 0;
}

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

bool readSettings(const std::string& path, kesta::Settings& s, int* error) {
    s = kesta::Settings();
    gint failure = 0;
    ConfigFile* file = xmms_cfg_open_file_full(path.c_str(), &failure);
    if (error) *error = failure;
    if (!file) return false;
    gboolean on;
    gint mode;
    gfloat spread;
    if (xmms_cfg_read_boolean(file, kSection, Key(Parameter::kMonoTo3D), &on)) s.monoTo3D = on;
    if (xmms_cfg_read_int(file, kSection, Key(Parameter::kMode), &mode)) s.music = (mode & kMusicFlag) != 0;
    if (xmms_cfg_read_boolean(file, kSection, Key(Parameter::kWidening), &on)) s.widen = on;
    if (xmms_cfg_read_float(file, kSection, Key(Parameter::kSpread), &spread) && std::isfinite(spread)) {
        const kesta::ParameterInfo& range = InfoOf(Parameter::kSpread);
        s.spreadDb = std::fmin(range.maximum, std::fmax(range.minimum, spread));
    }
    if (xmms_cfg_read_boolean(file, kSection, Key(Parameter::kSubtone), &on)) s.subtone = on;
    xmms_cfg_free(file);
    return true;
}

bool writeSettings(const std::string& path, const kesta::Settings& s, std::string* why) {
    gint failure = 0;
    ConfigFile* file = xmms_cfg_open_file_full(path.c_str(), &failure);
    if (!file && failure != ENOENT) {
        // Starting afresh would replace whatever else the file holds.
        if (why) *why = path + " cannot be read (" + settingsProblem(failure) + "), so it was left as it is";
        return false;
    }
    if (!file) file = xmms_cfg_new();
    xmms_cfg_write_boolean(file, kSection, Key(Parameter::kMonoTo3D), s.monoTo3D);
    xmms_cfg_write_int(file, kSection, Key(Parameter::kMode), modeFlags(s));
    xmms_cfg_write_boolean(file, kSection, Key(Parameter::kWidening), s.widen);
    xmms_cfg_write_float(file, kSection, Key(Parameter::kSpread), s.spreadDb);
    xmms_cfg_write_boolean(file, kSection, Key(Parameter::kSubtone), s.subtone);
    const bool ok = xmms_cfg_write_file_full(file, path.c_str(), &failure);
    xmms_cfg_free(file);
    if (!ok && why) {
        *why = path + " cannot be written (" +
               (failure == EACCES ? std::string("it is read-only or not ours") : settingsProblem(failure)) +
               "), so it was left as it is";
    }
    return ok;
}
