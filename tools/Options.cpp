#include "Options.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

bool parseSwitch(const std::string& value, int& out) {
    if (value == "on") return out = 1, true;
    if (value == "off") return out = 0, true;
    return false;
}

// Whether value is a plain decimal number: a sign, digits, and (when
// fraction allows) a point with more digits; no hexadecimal, exponent,
// blanks, "inf" or "nan".
bool isDecimal(const std::string& value, bool fraction) {
    size_t k = value.size() > 0 && (value[0] == '-' || value[0] == '+') ? 1 : 0;
    size_t digits = 0;
    bool point = false;
    for (; k < value.size(); ++k) {
        if (value[k] >= '0' && value[k] <= '9')
            ++digits;
        else if (value[k] == '.' && fraction && !point)
            point = true;
        else
            return false;
    }
    return digits > 0;
}

// A decimal number from lo to hi.
bool parseNumber(const std::string& value, double lo, double hi, float& out) {
    if (!isDecimal(value, true)) return false;
    const double v = g_ascii_strtod(value.c_str(), nullptr);
    if (!(v >= lo && v <= hi)) return false;
    out = static_cast<float>(v);
    return true;
}

bool parseInt(const std::string& value, long lo, long hi, int& out) {
    if (!isDecimal(value, false)) return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(value.c_str(), &end, 10);
    if (*end || errno || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

}  // namespace

void Options::apply(kesta::Settings& s) const {
    if (mode) s.music = std::strcmp(mode, "voice") != 0;
    if (hasSpread) s.spreadDb = spread;
    if (subtone >= 0) s.subtone = subtone;
    if (mono3d >= 0) s.monoTo3D = mono3d;
    if (widen >= 0) s.widen = widen;
}

namespace {

// The options each command takes; the settings and --save go with render and demo.
const char* const kSettingsOptions[] = {"--mode", "--spread", "--subtone", "--mono-3d", "--widen", "--save"};
const char* const kRenderOnly[] = {"--bits",       "--player",  "--no-dither", "--gain",
                                   "--headroom",   "--limiter", "--strict",    "--type",
                                   "--output-dir", "--jobs",    "--picture",   "--quality"};

bool among(const std::string& name, const char* const* begin, const char* const* end) {
    return std::find_if(begin, end, [&](const char* n) { return name == n; }) != end;
}

// The name a user typed for an option: "-o" for --output-dir, and so on.
std::string shown(const std::string& name) {
    if (name == "--output-dir") return "-o";
    if (name == "--jobs") return "-j";
    return name;
}

}  // namespace

std::string checkOptionsFor(const std::string& command, const Options& o) {
    const bool settings = command == "render" || command == "demo";
    for (const std::string& name : o.given) {
        if (name == "--help" || name == "--plugin") continue;
        const bool taken =
            (settings && (among(name, std::begin(kSettingsOptions), std::end(kSettingsOptions)) ||
                          name == "--block" || name == "--quiet")) ||
            (command == "render" && among(name, std::begin(kRenderOnly), std::end(kRenderOnly))) ||
            (command == "picture" && name == "--output-dir");
        if (!taken) return command + " does not take " + shown(name);
    }
    if (command == "render" && o.player) {
        if (o.floatBits || o.bits > 16) return "--player writes 8 or 16 bits, as the player plays";
        for (const char* name : {"--gain", "--headroom", "--limiter", "--no-dither"})
            if (std::find(o.given.begin(), o.given.end(), name) != o.given.end())
                return std::string(name) + " works on the float path, not with --player";
    }
    return std::string();
}

std::string parseOptions(int argc, char** argv, int first, Options& o) {
    for (int i = first; i < argc; ++i) {
        std::string arg = argv[i];
        // Short forms: -o DIR, -j N, -q, -h (and -oDIR, -j2).
        if (arg.size() >= 2 && arg[0] == '-' && arg[1] != '-') {
            const char letter = arg[1];
            const char* full = letter == 'o'   ? "--output-dir"
                               : letter == 'j' ? "--jobs"
                               : letter == 'q' ? "--quiet"
                               : letter == 'h' ? "--help"
                                               : nullptr;
            if (!full || ((letter == 'q' || letter == 'h') && arg.size() > 2)) return "unknown option " + arg;
            arg = std::string(full) + (arg.size() > 2 ? "=" + arg.substr(2) : std::string());
        }
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            o.args.push_back(arg);
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        static const char* const kFlags[] = {"--save",   "--player", "--no-dither",
                                             "--strict", "--quiet",  "--help"};
        static const char* const kValued[] = {"--mode",  "--spread",   "--subtone", "--mono-3d",
                                              "--widen", "--bits",     "--block",   "--plugin",
                                              "--gain",  "--headroom", "--type",    "--output-dir",
                                              "--jobs",  "--picture",  "--quality", "--limiter"};
        if (among(name, std::begin(kFlags), std::end(kFlags))) {
            if (equals != std::string::npos) return name + " takes no value";
            o.given.push_back(name);
            if (name == "--save") o.save = true;
            if (name == "--player") o.player = true;
            if (name == "--no-dither") o.noDither = true;
            if (name == "--strict") o.strict = true;
            if (name == "--quiet") o.quiet = true;
            if (name == "--help") o.help = true;
            continue;
        }
        if (!among(name, std::begin(kValued), std::end(kValued))) return "unknown option " + name;
        if (equals == std::string::npos && i + 1 >= argc) return "option " + shown(arg) + " needs a value";
        const std::string value = equals == std::string::npos ? argv[++i] : arg.substr(equals + 1);
        o.given.push_back(name);
        if (name == "--mode") {
            if (value != "music" && value != "voice")
                return "--mode takes music or voice, not '" + value + "'";
            o.mode = value == "voice" ? "voice" : "music";
        } else if (name == "--spread") {
            if (!parseNumber(value, -18.0, 0.0, o.spread))
                return "--spread takes a number of decibels from -18 to 0, not '" + value + "'";
            o.hasSpread = true;
        } else if (name == "--gain") {
            if (!parseNumber(value, -60.0, 60.0, o.gainDb))
                return "--gain takes a number of decibels from -60 to 60, not '" + value + "'";
            o.hasGain = true;
        } else if (name == "--subtone" || name == "--mono-3d" || name == "--widen" || name == "--limiter") {
            int& target = name == "--subtone"   ? o.subtone
                          : name == "--mono-3d" ? o.mono3d
                          : name == "--widen"   ? o.widen
                                                : o.limiter;
            if (!parseSwitch(value, target)) return name + " takes on or off, not '" + value + "'";
        } else if (name == "--bits") {
            if (value == "float") {
                o.floatBits = true;
                o.bits = 0;
            } else if (value == "8" || value == "16" || value == "24" || value == "32") {
                o.floatBits = false;
                o.bits = std::atoi(value.c_str());
            } else {
                return "--bits takes 8, 16, 24, 32 or float, not '" + value + "'";
            }
        } else if (name == "--block") {
            if (!parseInt(value, 1, 65536, o.block))
                return "--block takes a frame count from 1 to 65536, not '" + value + "'";
        } else if (name == "--jobs") {
            if (!parseInt(value, 1, 256, o.jobs))
                return "-j takes a number of files at once from 1 to 256, not '" + value + "'";
        } else if (name == "--headroom") {
            if (value != "auto") return "--headroom takes auto, not '" + value + "'";
            o.headroomAuto = true;
        } else if (name == "--type") {
            static const char* const kTypes[] = {"wav",  "flac", "ogg", "opus", "mp3",
                                                 "aiff", "au",   "caf", "raw"};
            if (!among(value, std::begin(kTypes), std::end(kTypes)))
                return "--type takes wav, flac, ogg, opus, mp3, aiff, au, caf or raw, not '" + value + "'";
            o.type = value;
        } else if (name == "--quality") {
            if (!parseInt(value, 0, 10, o.quality))
                return "--quality takes a whole number from 0 (smallest) to 10 (best), not '" + value + "'";
        } else if (name == "--output-dir") {
            if (value.empty()) return "-o takes a folder";
            o.outDir = value;
        } else if (name == "--plugin") {
            o.plugin = value;
        } else if (name == "--picture") {
            if (value.empty()) return "--picture takes the name of a PNG file";
            o.picture = value;
        }
    }
    return std::string();
}
