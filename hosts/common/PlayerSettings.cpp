#include "PlayerSettings.h"

#include <fcntl.h>
#include <glib.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstring>

#include "PlayerFile.h"
#include "configfile.h"

using kesta::InfoOf;
using kesta::Parameter;

namespace {

// The parameter table names the file's keys for the hosts that keep settings
// files of their own: the player's names.
constexpr bool Same(const char* a, const char* b) {
    return *a == *b && (*a == '\0' || Same(a + 1, b + 1));
}
static_assert(Same(InfoOf(Parameter::kMonoTo3D).settingsKey, kMonoTo3DKey) &&
                  Same(InfoOf(Parameter::kMode).settingsKey, kModeKey) &&
                  Same(InfoOf(Parameter::kWidening).settingsKey, kWideningKey) &&
                  Same(InfoOf(Parameter::kSpread).settingsKey, kSpreadKey) &&
                  Same(InfoOf(Parameter::kSubtone).settingsKey, kSubtoneKey),
              "the parameter table names the player's keys");
static_assert(InfoOf(Parameter::kSpread).minimum == kSpreadMinDb &&
                  InfoOf(Parameter::kSpread).maximum == kSpreadMaxDb,
              "the spread's range is the player's");

const volatile std::sig_atomic_t* settingsStop = nullptr;

// Waits, as the library would, for another program's exclusive lock on the
// file at path to go, looking at settingsStop as it waits: 0 once the lock
// is free (or there is none to wait for), EINTR when asked to stop,
// EWOULDBLOCK when it is still held after the library's few seconds. The
// library then takes the lock at once.
int waitForLock(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return 0;
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return 0;
    int result = EWOULDBLOCK;
    const gint64 deadline = g_get_monotonic_time() + 3 * G_USEC_PER_SEC;
    do {
        if (settingsStop && *settingsStop) {
            result = EINTR;
            break;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) == 0 || (errno != EWOULDBLOCK && errno != EINTR)) {
            result = 0;
            break;
        }
        g_usleep(20000);
    } while (g_get_monotonic_time() < deadline);
    close(fd);  // and with it the lock, when it was had
    return result;
}

}  // namespace

int modeFlags(const kesta::Settings& s) {
    return s.music ? kMusicMode : kVoiceMode;
}

std::string settingsProblem(int error) {
    switch (error) {
        case EISDIR:
            return "it is a folder";
        case EINVAL:
            return "it is not a regular file";
        case EWOULDBLOCK:
            return "another program has kept it locked for seconds";
        case EINTR:
            return "the wait for it was stopped";
        default:
            return std::strerror(error);
    }
}

std::string settingsPath(const std::string& home) {
    std::string base = home;
    if (base.empty()) {
        const char* env = g_getenv("HOME");
        if (env && *env) {
            base = env;
        } else if (const passwd* user = getpwuid(getuid())) {
            base = user->pw_dir ? user->pw_dir : "";
        }
        if (base.empty()) base = g_get_home_dir();
    }
    return base + "/.xmms/config";
}

void setSettingsStop(const volatile std::sig_atomic_t* stop) {
    settingsStop = stop;
}

bool readSettings(const std::string& path, kesta::Settings& s, int* error) {
    s = kesta::Settings();
    gint failure = waitForLock(path);
    ConfigFile* file = nullptr;
    if (failure == 0) file = xmms_cfg_open_file_full(path.c_str(), &failure);
    if (!file && failure == EWOULDBLOCK) file = xmms_cfg_open_file(path.c_str());
    if (error) *error = failure;
    if (!file) return false;
    gboolean on;
    gint mode;
    gfloat spread;
    if (xmms_cfg_read_boolean(file, kSettingsSection, kMonoTo3DKey, &on)) s.monoTo3D = on;
    if (xmms_cfg_read_int(file, kSettingsSection, kModeKey, &mode)) s.music = (mode & kMusicMode) != 0;
    if (xmms_cfg_read_boolean(file, kSettingsSection, kWideningKey, &on)) s.widen = on;
    if (xmms_cfg_read_float(file, kSettingsSection, kSpreadKey, &spread) && std::isfinite(spread)) {
        const kesta::ParameterInfo& range = InfoOf(Parameter::kSpread);
        s.spreadDb = std::fmin(range.maximum, std::fmax(range.minimum, spread));
    }
    if (xmms_cfg_read_boolean(file, kSettingsSection, kSubtoneKey, &on)) s.subtone = on;
    xmms_cfg_free(file);
    return true;
}

bool writeSettings(const std::string& path, const kesta::Settings& s, std::string* why) {
    gint failure = waitForLock(path);
    ConfigFile* file = nullptr;
    if (failure == 0) file = xmms_cfg_open_file_full(path.c_str(), &failure);
    if (!file && failure != ENOENT) {
        // Starting afresh would replace whatever else the file holds.
        if (why) *why = path + " cannot be read (" + settingsProblem(failure) + "), so it was left as it is";
        return false;
    }
    if (!file) file = xmms_cfg_new();
    xmms_cfg_write_boolean(file, kSettingsSection, kMonoTo3DKey, s.monoTo3D);
    xmms_cfg_write_int(file, kSettingsSection, kModeKey, modeFlags(s));
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
