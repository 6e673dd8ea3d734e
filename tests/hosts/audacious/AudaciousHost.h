// Test helpers for the Audacious plug-in: audio files in and out, and a
// private Audacious installation that loads the freshly built plug-in and
// plays files headless into its file writer.
#pragma once

#include <sndfile.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Processor.h"

namespace kesta::test {

namespace fs = std::filesystem;

struct Audio {
    int rate = 0;
    int channels = 0;
    std::vector<float> samples;  // interleaved
    int frames() const { return channels ? static_cast<int>(samples.size()) / channels : 0; }
};

inline Audio readAudio(const std::string& path) {
    Audio a;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return a;
    a.rate = info.samplerate;
    a.channels = info.channels;
    a.samples.resize(static_cast<size_t>(info.frames) * static_cast<size_t>(info.channels));
    a.samples.resize(static_cast<size_t>(sf_readf_float(f, a.samples.data(), info.frames)) *
                     static_cast<size_t>(info.channels));
    sf_close(f);
    return a;
}

// Writes 16-bit PCM WAV, as most files people play are.
inline bool writeAudio(const std::string& path, const Audio& a) {
    SF_INFO info{};
    info.samplerate = a.rate;
    info.channels = a.channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!f) return false;
    const sf_count_t written = sf_writef_float(f, a.samples.data(), a.frames());
    sf_close(f);
    return written == a.frames();
}

// A few seconds of stereo music: plucked chords with their notes spread
// across the image over a centred bass line.
inline Audio makeMusic(int rate, double seconds) {
    Audio a;
    a.rate = rate;
    a.channels = 2;
    const int frames = static_cast<int>(seconds * rate);
    a.samples.assign(2 * static_cast<size_t>(frames), 0.0f);
    const double chords[4][3] = {{261.63, 329.63, 392.00},
                                 {220.00, 261.63, 329.63},
                                 {174.61, 220.00, 261.63},
                                 {196.00, 246.94, 293.66}};
    const double beat = 0.5;
    for (int i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / rate;
        const int b = static_cast<int>(t / beat);
        const double since = t - b * beat;
        const double* chord = chords[(b / 2) % 4];
        const double env = std::exp(-4.0 * since);
        double left = 0.0, right = 0.0;
        for (int n = 0; n < 3; ++n) {
            const double pan = 0.15 + 0.35 * n;  // left to right
            const double note =
                std::sin(2.0 * M_PI * chord[n] * t) + 0.3 * std::sin(4.0 * M_PI * chord[n] * t);
            left += 0.12 * env * note * std::cos(pan * M_PI / 2.0);
            right += 0.12 * env * note * std::sin(pan * M_PI / 2.0);
        }
        const double bass = 0.25 * std::exp(-2.0 * since) * std::sin(M_PI * chord[0] / 2.0 * t);
        a.samples[2 * static_cast<size_t>(i)] = static_cast<float>(left + bass);
        a.samples[2 * static_cast<size_t>(i) + 1] = static_cast<float>(right + bass);
    }
    return a;
}

// After the last track the plug-in plays out the processor's latency and
// then this much of its ringing.
constexpr double kRingSeconds = 0.03;

// The float core's output for a whole file followed by extra frames of
// silence (by default what the plug-in plays out after the last track).
inline Audio processWithCore(const Audio& in, const Settings& settings, int extra = -1) {
    Processor p;
    p.setSettings(settings);
    Audio out;
    if (!p.prepare(static_cast<unsigned>(in.rate), in.channels, 4096)) return out;
    if (extra < 0) extra = p.latency() + static_cast<int>(std::lround(kRingSeconds * in.rate));
    std::vector<float> padded(in.samples);
    padded.resize(padded.size() + static_cast<size_t>(extra) * static_cast<size_t>(in.channels), 0.0f);
    const int frames = in.frames() + extra;
    out.rate = in.rate;
    out.channels = 2;
    out.samples.resize(2 * static_cast<size_t>(frames));
    p.process(padded.data(), out.samples.data(), frames);
    return out;
}

inline float maxDifference(const Audio& a, const Audio& b) {
    float worst = 0.0f;
    const size_t n = std::min(a.samples.size(), b.samples.size());
    for (size_t i = 0; i < n; ++i) worst = std::max(worst, std::fabs(a.samples[i] - b.samples[i]));
    return worst;
}

inline std::string readText(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline int runCommand(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A private Audacious installation under a folder of its own. Audacious finds
// its plug-ins relative to its binary, so the binary is copied beside an
// Effect folder that holds only our plug-in, and the other folders are the
// system's. Every run gets fresh configuration folders (Audacious keeps its
// playlist between runs) and an empty output folder (the file writer never
// overwrites).
class AudaciousHost {
  public:
    AudaciousHost(const std::string& audacious, const std::string& systemPluginDir,
                  const std::string& plugin) {
        std::string pattern = (fs::temp_directory_path() / "kesta-audacious-XXXXXX").string();
        root_ = mkdtemp(pattern.data());
        const fs::path bin = root_ / "bin";
        const fs::path plugins = root_ / "lib" / "x86_64-linux-gnu" / "audacious";
        fs::create_directories(bin);
        fs::create_directories(plugins / "Effect");
        fs::copy_file(audacious, bin / "audacious");
        fs::copy_file(plugin, plugins / "Effect" / fs::path(plugin).filename());
        for (const char* folder : {"Container", "General", "Input", "Output", "Transport", "Visualization"})
            fs::create_directory_symlink(fs::path(systemPluginDir) / folder, plugins / folder);
        pluginName_ = fs::path(plugin).filename().string();
    }
    ~AudaciousHost() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    const fs::path& root() const { return root_; }
    fs::path configDir() const { return run_ / "config" / "audacious"; }

    // Starts a fresh configuration: lets Audacious register its plug-ins,
    // enables the file writer (no other output) and ours, and writes the
    // file writer's settings and the given lines of our section. Answers
    // false if Audacious did not write its registry.
    bool configure(const std::string& kestaLines) {
        run_ = root_ / ("run" + std::to_string(++runs_));
        out_ = run_ / "out";
        fs::create_directories(out_);
        // A home of its own too: what Audacious and its libraries keep
        // (PulseAudio's runtime folder, temporary files) goes with root().
        for (const char* d : {"config", "data", "cache", "home", "runtime", "tmp"})
            fs::create_directories(run_ / d);
        fs::permissions(run_ / "runtime", fs::perms::owner_all);
        setenv("XDG_CONFIG_HOME", (run_ / "config").c_str(), 1);
        setenv("XDG_DATA_HOME", (run_ / "data").c_str(), 1);
        setenv("XDG_CACHE_HOME", (run_ / "cache").c_str(), 1);
        setenv("XDG_RUNTIME_DIR", (run_ / "runtime").c_str(), 1);
        setenv("HOME", (run_ / "home").c_str(), 1);
        setenv("TMPDIR", (run_ / "tmp").c_str(), 1);
        // No session bus and no display: otherwise a player the user has
        // open would be handed the file instead.
        setenv("DBUS_SESSION_BUS_ADDRESS", ("unix:path=" + (root_ / "no-bus").string()).c_str(), 1);
        unsetenv("DISPLAY");
        if (runCommand("timeout 60 " + (root_ / "bin" / "audacious").string() + " -H -q >/dev/null 2>&1") !=
            0)
            return false;
        const fs::path registry = configDir() / "plugin-registry";
        if (!fs::exists(registry)) return false;
        std::istringstream in(readText(registry));
        std::ofstream out(registry, std::ios::trunc);
        std::string line, entry;
        while (std::getline(in, line)) {
            // An entry starts with its type and the plug-in's path.
            const size_t space = line.find(' ');
            if (space != std::string::npos && line.compare(space, 2, " /") == 0) entry = line;
            if (line.rfind("enabled ", 0) == 0) {
                if (entry.find("/Output/filewriter.so") != std::string::npos ||
                    entry.find("/Effect/" + pluginName_) != std::string::npos)
                    line = "enabled 1";
                else if (entry.rfind("output ", 0) == 0)
                    line = "enabled 0";
            }
            out << line << '\n';
        }
        std::ofstream config(configDir() / "config", std::ios::trunc);
        config << "[filewriter]\nfileext=0\nfile_path=file://" << out_.string()
               << "\nsave_original=FALSE\nfilenamefromtags=FALSE\nuse_suffix=FALSE\n\n[kesta]\n"
               << kestaLines << '\n';
        return true;
    }

    // Plays one file headless and answers the file the file writer wrote, or
    // an empty path.
    fs::path render(const fs::path& input) {
        const std::string command = "timeout 60 " + (root_ / "bin" / "audacious").string() + " -H -q " +
                                    input.string() + " >" + (run_ / "log").string() + " 2>&1";
        if (runCommand(command) != 0) return {};
        const fs::path written = out_ / input.filename();
        return fs::exists(written) ? written : fs::path();
    }

    std::string registry() const { return readText(configDir() / "plugin-registry"); }
    // What Audacious printed during the last render.
    std::string log() const { return readText(run_ / "log"); }

  private:
    fs::path root_, run_, out_;
    std::string pluginName_;
    int runs_ = 0;
};

}  // namespace kesta::test
