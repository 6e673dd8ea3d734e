// kesta's option parser under any command line. What it accepts is inside
// the documented ranges, and the accepted options written out again as a
// command line parse to the very same options.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "FuzzCheck.h"
#include "Options.h"

namespace {

std::string parse(std::vector<std::string> words, Options& o) {
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(&w[0]);
    argv.push_back(nullptr);
    return parseOptions(static_cast<int>(words.size()), argv.data(), 0, o);
}

bool same(const Options& a, const Options& b) {
    return a.args == b.args && a.save == b.save && a.bits == b.bits && a.floatBits == b.floatBits &&
           a.block == b.block && a.plugin == b.plugin && a.player == b.player && a.noDither == b.noDither &&
           a.hasGain == b.hasGain && (!a.hasGain || a.gainDb == b.gainDb) &&
           a.headroomAuto == b.headroomAuto && a.strict == b.strict && a.type == b.type &&
           a.outDir == b.outDir && a.jobs == b.jobs && a.picture == b.picture && a.quiet == b.quiet &&
           a.help == b.help && std::equal(std::begin(a.hasSetting), std::end(a.hasSetting), b.hasSetting) &&
           a.settings == b.settings;
}

// The options as a command line, "--name=value" so that any value stays one word.
std::vector<std::string> words(const Options& o) {
    std::vector<std::string> w = o.args;
    // In plain decimals (the options take no exponent), every digit of the
    // float's exact value, so that it reads back the same.
    auto decibels = [&](const char* name, float v) {
        char text[200];
        std::snprintf(text, sizeof text, "%.150f", static_cast<double>(v));
        std::string value = text;
        value.erase(value.find_last_not_of('0') + 1);
        if (value.back() == '.') value += '0';
        w.push_back(std::string(name) + "=" + value);
    };
    for (const auto& flag : {std::make_pair(o.save, "--save"), std::make_pair(o.player, "--player"),
                             std::make_pair(o.noDither, "--no-dither"), std::make_pair(o.strict, "--strict"),
                             std::make_pair(o.quiet, "--quiet"), std::make_pair(o.help, "--help")})
        if (flag.first) w.push_back(flag.second);
    if (o.floatBits) w.push_back("--bits=float");
    if (o.bits) w.push_back("--bits=" + std::to_string(o.bits));
    w.push_back("--block=" + std::to_string(o.block));
    w.push_back("--plugin=" + o.plugin);
    if (o.hasGain) decibels("--gain", o.gainDb);
    if (o.headroomAuto) w.push_back("--headroom=auto");
    if (!o.type.empty()) w.push_back("--type=" + o.type);
    if (!o.outDir.empty()) w.push_back("--output-dir=" + o.outDir);
    if (o.jobs) w.push_back("--jobs=" + std::to_string(o.jobs));
    if (!o.picture.empty()) w.push_back("--picture=" + o.picture);
    for (int i = 0; i < kesta::kParameterCount; ++i) {
        const auto p = static_cast<kesta::Parameter>(i);
        const kesta::ParameterInfo& info = kesta::InfoOf(p);
        const std::string name = std::string("--") + info.option;
        if (!o.has(p)) continue;
        if (info.kind == kesta::ParameterInfo::kDecibels) {
            decibels(name.c_str(), o.settings.get(p));
        } else {
            std::string label = info.labels[o.settings.get(p) > info.minimum ? 1 : 0];
            for (char& c : label) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            w.push_back(name + "=" + label);
        }
    }
    return w;
}

const char* const kWords[] = {
    "--mode",       "--spread",     "--subtone", "--mono-3d",   "--widen",  "--bits",
    "--block",      "--plugin",     "--save",    "music",       "voice",    "on",
    "off",          "-18",          "0",         "-6.5",        "8",        "16",
    "65536",        "in.wav",       "out.flac",  "--",          "-",        "--save=1",
    "--spread=nan", "--player",     "--gain",    "--headroom",  "auto",     "--type",
    "flac",         "-o",           "-j",        "-q",          "-h",       "-j2",
    "--picture",    "--bits=float", "24",        "--no-dither", "--strict", "--limiter",
    "--auto-mono",  "--match"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    std::vector<std::string> argv;
    while (in.remaining_bytes() > 0 && argv.size() < 32) {
        const size_t choice = in.ConsumeIntegralInRange<size_t>(0, std::size(kWords));
        argv.push_back(choice < std::size(kWords) ? std::string(kWords[choice])
                                                  : std::string(in.ConsumeRandomLengthString(64).c_str()));
    }
    Options o;
    const std::string problem = parse(argv, o);
    if (!problem.empty()) return 0;
    const kesta::ParameterInfo& spreadRange = kesta::InfoOf(kesta::Parameter::kSpread);

    CHECK(o.bits == 0 || o.bits == 8 || o.bits == 16 || o.bits == 24 || o.bits == 32);
    CHECK(!o.floatBits || o.bits == 0);
    CHECK(o.jobs >= 0 && o.jobs <= 256);
    CHECK(!o.hasGain || (std::isfinite(o.gainDb) && o.gainDb >= -60.0f && o.gainDb <= 60.0f));
    CHECK(o.block >= 1 && o.block <= 65536);
    CHECK(std::isfinite(o.settings.spreadDb) && o.settings.spreadDb >= spreadRange.minimum &&
          o.settings.spreadDb <= spreadRange.maximum);
    for (const std::string& a : o.args) CHECK(a.size() < 2 || a.compare(0, 2, "--") != 0);
    kesta::Settings s;
    o.apply(s);
    CHECK(s.spreadDb >= spreadRange.minimum && s.spreadDb <= spreadRange.maximum);

    Options again;
    CHECK(parse(words(o), again).empty());
    CHECK(same(o, again));
    return 0;
}
