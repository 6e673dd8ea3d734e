#include "Options.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

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

std::string lowered(const char* text) {
    std::string s = text;
    for (char& c : s) c = static_cast<char>(g_ascii_tolower(c));
    return s;
}

// What an option of info takes, as its help shows it: "DB", "on|off".
std::string valuesOf(const kesta::ParameterInfo& info) {
    if (info.kind == kesta::ParameterInfo::kDecibels) return "DB";
    return lowered(info.labels[1]) + "|" + lowered(info.labels[0]);
}

std::string number(float v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(v));
    return text;
}

// The parameter whose option is name ("--spread"), or -1.
int parameterOf(const std::string& name) {
    for (int i = 0; i < kesta::kParameterCount; ++i)
        if (name == std::string("--") + kesta::kParameters[i].option) return i;
    return -1;
}

// Reads value for parameter i into o; false when it is not one it takes.
bool parseSetting(int i, const std::string& value, Options& o) {
    const auto p = static_cast<kesta::Parameter>(i);
    const kesta::ParameterInfo& info = kesta::InfoOf(p);
    float v = 0;
    if (info.kind == kesta::ParameterInfo::kDecibels) {
        if (!parseNumber(value, info.minimum, info.maximum, v)) return false;
    } else if (value == lowered(info.labels[0]) || value == lowered(info.labels[1])) {
        v = value == lowered(info.labels[1]) ? info.maximum : info.minimum;
    } else {
        return false;
    }
    o.settings.set(p, v);
    o.hasSetting[i] = true;
    return true;
}

// What the option of parameter i takes, in words.
std::string takes(int i) {
    const kesta::ParameterInfo& info = kesta::kParameters[i];
    const std::string name = std::string("--") + info.option;
    if (info.kind == kesta::ParameterInfo::kDecibels)
        return name + " takes a number of decibels from " + number(info.minimum) + " to " +
               number(info.maximum);
    return name + " takes " + lowered(info.labels[1]) + " or " + lowered(info.labels[0]);
}

}  // namespace

bool Options::overrides() const {
    for (kesta::Parameter p : kPlayerParameters)
        if (has(p)) return true;
    return false;
}

void Options::apply(kesta::Settings& s) const {
    for (int i = 0; i < kesta::kParameterCount; ++i)
        if (hasSetting[i])
            s.set(static_cast<kesta::Parameter>(i), settings.get(static_cast<kesta::Parameter>(i)));
}

std::string settingsHelp(bool player) {
    std::string help;
    for (int i = 0; i < kesta::kParameterCount; ++i) {
        const auto p = static_cast<kesta::Parameter>(i);
        if (inPlayerFile(p) != player) continue;
        const kesta::ParameterInfo& info = kesta::InfoOf(p);
        std::string line = std::string("  --") + info.option + " " + valuesOf(info);
        line.resize(std::max<size_t>(line.size() + 1, 25), ' ');
        std::string text = info.help;
        if (info.kind == kesta::ParameterInfo::kDecibels)
            text += ", " + number(info.minimum) + " to " + number(info.maximum) + " " + info.unit;
        for (size_t from = 0, to; from <= text.size(); from = to + 1) {
            to = std::min(text.find('\n', from), text.size());
            help += (from == 0 ? line : std::string(25, ' ')) + text.substr(from, to - from) + "\n";
        }
    }
    return help;
}

namespace {

// The options each command takes; the settings and --save go with render and demo.
const char* const kRenderOnly[] = {"--bits",     "--player",  "--no-dither", "--gain",
                                   "--headroom", "--strict",  "--type",      "--output-dir",
                                   "--jobs",     "--picture", "--quality"};

// Whether name is the option of a parameter that the player's file holds
// (then true for settings, false for render's float path), or -1.
int playerSetting(const std::string& name) {
    const int i = parameterOf(name);
    return i < 0 ? -1 : inPlayerFile(static_cast<kesta::Parameter>(i)) ? 1 : 0;
}

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
            (settings &&
             (playerSetting(name) == 1 || name == "--save" || name == "--block" || name == "--quiet")) ||
            (command == "render" &&
             (playerSetting(name) == 0 || among(name, std::begin(kRenderOnly), std::end(kRenderOnly)))) ||
            (command == "picture" && name == "--output-dir");
        if (!taken) return command + " does not take " + shown(name);
    }
    if (command == "render" && o.player) {
        if (o.floatBits || o.bits > 16) return "--player writes 8 or 16 bits, as the player plays";
        for (const std::string& name : o.given)
            if (name == "--gain" || name == "--headroom" || name == "--no-dither" || playerSetting(name) == 0)
                return name + " works on the float path, not with --player";
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
        static const char* const kValued[] = {"--bits", "--block",      "--plugin", "--gain",    "--headroom",
                                              "--type", "--output-dir", "--jobs",   "--picture", "--quality"};
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
        if (!among(name, std::begin(kValued), std::end(kValued)) && parameterOf(name) < 0)
            return "unknown option " + name;
        if (equals == std::string::npos && i + 1 >= argc) return "option " + shown(arg) + " needs a value";
        const std::string value = equals == std::string::npos ? argv[++i] : arg.substr(equals + 1);
        o.given.push_back(name);
        if (const int setting = parameterOf(name); setting >= 0) {
            if (!parseSetting(setting, value, o)) return takes(setting) + ", not '" + value + "'";
        } else if (name == "--gain") {
            if (!parseNumber(value, -60.0, 60.0, o.gainDb))
                return "--gain takes a number of decibels from -60 to 60, not '" + value + "'";
            o.hasGain = true;
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
