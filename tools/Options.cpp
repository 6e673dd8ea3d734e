#include "Options.h"

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

bool parseSwitch(const std::string& value, int& out) {
    if (value == "on") return out = 1, true;
    if (value == "off") return out = 0, true;
    return false;
}

bool parseInt(const std::string& value, long lo, long hi, int& out) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(value.c_str(), &end, 10);
    if (value.empty() || *end || errno || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

}  // namespace

void Options::apply(Settings& s) const {
    if (mode) s.mode = std::strcmp(mode, "voice") == 0 ? 0 : 8;
    if (hasSpread) s.spreadDb = spread;
    if (subtone >= 0) s.subtone = subtone;
    if (mono3d >= 0) s.mono3d = mono3d;
    if (widen >= 0) s.widen = widen;
}

std::string parseOptions(int argc, char** argv, int first, Options& o) {
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            o.args.push_back(arg);
            continue;
        }
        if (arg == "--save") {
            o.save = true;
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        static const char* const kValued[] = {"--mode", "--spread", "--subtone", "--mono-3d",
                                              "--widen", "--bits", "--block", "--plugin"};
        if (name == "--save") return "--save takes no value";
        if (std::find(std::begin(kValued), std::end(kValued), name) == std::end(kValued))
            return "unknown option " + name;
        if (equals == std::string::npos && i + 1 >= argc) return "option " + arg + " needs a value";
        const std::string value = equals == std::string::npos ? argv[++i] : arg.substr(equals + 1);
        if (name == "--mode") {
            if (value != "music" && value != "voice") return "--mode takes music or voice, not '" + value + "'";
            o.mode = value == "voice" ? "voice" : "music";
        } else if (name == "--spread") {
            char* end = nullptr;
            const double v = g_ascii_strtod(value.c_str(), &end);
            if (value.empty() || *end || !std::isfinite(v) || v < -18.0 || v > 0.0)
                return "--spread takes a number of decibels from -18 to 0, not '" + value + "'";
            o.hasSpread = true;
            o.spread = static_cast<float>(v);
        } else if (name == "--subtone" || name == "--mono-3d" || name == "--widen") {
            int& target = name == "--subtone" ? o.subtone : name == "--mono-3d" ? o.mono3d : o.widen;
            if (!parseSwitch(value, target)) return name + " takes on or off, not '" + value + "'";
        } else if (name == "--bits") {
            if (value != "8" && value != "16") return "--bits takes 8 or 16, not '" + value + "'";
            o.bits = value == "8" ? 8 : 16;
        } else if (name == "--block") {
            if (!parseInt(value, 1, 65536, o.block))
                return "--block takes a frame count from 1 to 65536, not '" + value + "'";
        } else if (name == "--plugin") {
            o.plugin = value;
        }
    }
    return std::string();
}
