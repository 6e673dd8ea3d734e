// kesta: a command-line host for the Kesta plug-in. It loads
// libkesta_xmms.so as the player does and renders audio through it.
#include <dlfcn.h>
#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <type_traits>
#include <vector>

#include "Analysis.h"
#include "AudioFile.h"
#include "Batch.h"
#include "CommandFiles.h"
#include "Desktop.h"
#include "FloatRender.h"
#include "Options.h"
#include "OutputPath.h"
#include "PictureCommand.h"
#include "PlayerSettings.h"
#include "PluginHost.h"
#include "Synth.h"

namespace {

const char kUsage[] =
    "usage: kesta render IN OUT [options]        render an audio file (\"-\": standard input or output)\n"
    "       kesta render IN... -o DIR [options]  render several files into a folder\n"
    "       kesta demo [options]                 render built-in speech and music samples into kesta-demo/\n"
    "       kesta configure                      open the plug-in's configuration window\n"
    "       kesta info                           show the plug-in and the settings in force\n"
    "       kesta desktop on|off|status|set      the effect on everything the desktop plays (PipeWire)\n"
    "       kesta picture IN [OUT] -o IMAGE.png  draw the stereo image of a file, or of a file and its "
    "result\n"
    "       kesta --version\n"
    "\n"
    "'kesta COMMAND --help' lists a command's options.\n";

// The settings that the player's file holds, from the parameter table.
std::string playerSettingsHelp() {
    return "settings (for this run only, unless --save is given):\n" + settingsHelp(true) +
           "  --save                 store these settings as the user's own\n";
}

const char kRenderHelp[] =
    "usage: kesta render IN OUT [options]\n"
    "       kesta render IN... -o DIR [options]\n"
    "\n"
    "Renders audio files through the effect: mono becomes 3D stereo, stereo is widened.\n"
    "IN is anything libsndfile reads (WAV, FLAC, Ogg, Opus, MP3, AIFF, AU, CAF, ...; mono or stereo),\n"
    "\"-\" for standard input. OUT takes the format of its extension (.wav .flac .ogg .opus .mp3\n"
    ".aiff .au .caf; Opus at 48000 Hz only, MP3 up to 48000 Hz), \"-\"\n"
    "writes standard output (then --type is needed). The output lines up with the input frame for\n"
    "frame, keeps its rate, depth and tags, and replaces OUT only when complete.\n"
    "\n"
    "Music mode makes mono wide and keeps it centred: both sides equally loud in every band, and\n"
    "their mean the input's spectrum, so it folds back to mono intact. With --match on (the\n"
    "default) the output is as loud as the input (ITU-R BS.1770), so that the effect changes the\n"
    "image and not the level, and the limiter rests. .ogg, .opus and .mp3 outputs, which decode\n"
    "past their input's peaks, get the limiter's ceiling (and --headroom auto's peak) at -2 dBFS,\n"
    "so that they never clip once decoded. --player keeps the XMMS plug-in's own sound: its Music\n"
    "mode, no matching and no limiter.\n"
    "\n"
    "%s"
    "settings of today's effect (for this run only; never saved, not with --player):\n"
    "%s"
    "output:\n"
    "  --bits 8|16|24|32|float  sample depth written (default: the input's own)\n"
    "  --no-dither            no TPDF dither when reducing to 16 or 8 bits\n"
    "  --gain DB              scale the input, -60 to 60 dB\n"
    "  --headroom auto        lower the result so that its peak sits at -0.1 dBFS (never raises it):\n"
    "                         one gain for the whole file, read to the end first, so transparent\n"
    "  --type wav|flac|ogg|opus|mp3|aiff|au|caf|raw\n"
    "                         output format, for \"-\" and -o (default: from the name)\n"
    "  --quality 0..10        of an .ogg, .opus or .mp3 output: 0 the smallest file, 10 the best\n"
    "                         (MP3: a constant 75 to 320 kbit/s; default: the encoder's own)\n"
    "  --strict               a truncated or damaged input, or samples that are not numbers,\n"
    "                         are an error and nothing is written\n"
    "  -o, --output-dir DIR   render every IN into DIR, keeping the file names (a link in DIR\n"
    "                         of an output's name is refused: -o never writes through one)\n"
    "  -j, --jobs N           files rendered at once with -o (default: one per core)\n"
    "  -q, --quiet            no progress or notes; warnings and errors are still shown\n"
    "  --picture IMAGE.png    also draw the input and the result side by side (see 'kesta picture');\n"
    "                         both are read again, so both must be regular files\n"
    "  --player               render exactly as the XMMS player plays: the plug-in, 8 or 16 bits,\n"
    "                         the raw stream with its delay (--bits 8|16)\n"
    "  --block FRAMES         frames per block, 1 to 65536 (default 512)\n"
    "  --plugin PATH          the plug-in for --player (default: the one that came with kesta)\n"
    "\n"
    "No output may be an input or another output, by any name (links, hard links, /dev/stdout,\n"
    "/proc/self/fd/N, standard input and output): such a command is refused before any work.\n"
    "\n"
    "Exit status: 0 rendered (also with warnings), 1 failed, 2 usage error (or refused),\n"
    "129/130/143 stopped by SIGHUP/SIGINT/SIGTERM (nothing is left behind).\n";

const char kDemoHelp[] =
    "usage: kesta demo [options]\n"
    "\n"
    "Renders built-in speech (mono) and music (stereo) samples through the plug-in into kesta-demo/\n"
    "and prints their levels and stereo width before and after. The speech renders in Voice mode\n"
    "unless --mode is given (or --save, which renders with the settings saved).\n"
    "\n"
    "%s"
    "  --block FRAMES         frames per block, 1 to 65536 (default 512)\n"
    "  --plugin PATH          the plug-in to load\n"
    "  -q, --quiet            no table\n";

const char kPictureHelp[] =
    "usage: kesta picture IN [OUT] -o IMAGE.png\n"
    "\n"
    "Draws the stereo image of IN, or of IN and its rendered result OUT side by side, as one PNG\n"
    "of 1200x800: a goniometer per file (mid up, side across: mono is a vertical line, wide\n"
    "stereo a broad cloud), the correlation over time (one value per 100 ms), the side-to-mid\n"
    "energy per third octave from 20 Hz to 20 kHz, and each file's peak, RMS, correlation and\n"
    "clipped samples. Reads anything render reads, mono or stereo, at any rate and any length.\n";

const char kInfoHelp[] =
    "usage: kesta info [--plugin PATH]\n"
    "\n"
    "Shows the plug-in and the settings in force, with the file they come from.\n";

const char kConfigureHelp[] =
    "usage: kesta configure [--plugin PATH]\n"
    "\n"
    "Opens the plug-in's configuration window; changes are saved as the player saves them, and\n"
    "while 'kesta desktop' is on, the desktop's filter takes them at once.\n";

// A usage error: one line, and where to find more.
int usage(const std::string& problem, const std::string& command = std::string()) {
    std::fprintf(stderr, "kesta: %s\nTry 'kesta %s--help'.\n", problem.c_str(),
                 command.empty() ? "" : (command + " ").c_str());
    return 2;
}

int help(const std::string& command) {
    if (command == "render")
        std::printf(kRenderHelp, playerSettingsHelp().c_str(), settingsHelp(false).c_str());
    else if (command == "demo")
        std::printf(kDemoHelp, playerSettingsHelp().c_str());
    else if (command == "info")
        std::printf("%s", kInfoHelp);
    else if (command == "picture")
        std::printf("%s", kPictureHelp);
    else
        std::printf("%s", kConfigureHelp);
    return 0;
}

int fail(const std::string& message) {
    std::fprintf(stderr, "kesta: %s\n", message.c_str());
    return 1;
}

// The signal that asked this run to stop, or 0. The work loops look at it
// between blocks and return, so that what the run made in temporary files is
// removed on the way out; main then ends the process by the same signal.
volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int signal) {
    interrupted = signal;
}

void catchInterrupts() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) sigaction(signal, &action, nullptr);
    setStreamStop(&interrupted);
    setSettingsStop(&interrupted);
}

// Whether standard output was closed when kesta started.
bool stdoutClosed = false;

// Opens /dev/null on whichever of descriptors 0 to 2 is closed, so that no
// file of ours is given one of them: an output would otherwise be copied
// into itself as "standard output", or a warning written into it.
void fillStandardDescriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        if (fd == STDOUT_FILENO) stdoutClosed = true;
        // Filled in order, the lowest free descriptor is this one.
        if (open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0) break;
    }
}

// Removes a folder this program made, with everything in it.
void removeTree(const std::string& path) {
    if (GDir* dir = g_dir_open(path.c_str(), 0, nullptr)) {
        while (const char* name = g_dir_read_name(dir)) {
            const std::string child = path + "/" + name;
            if (g_file_test(child.c_str(), G_FILE_TEST_IS_DIR) &&
                !g_file_test(child.c_str(), G_FILE_TEST_IS_SYMLINK))
                removeTree(child);
            else
                g_remove(child.c_str());
        }
        g_dir_close(dir);
    }
    g_rmdir(path.c_str());
}

// A settings home for this run: the user's own, or a private copy with the
// overrides applied. The plug-in reads its settings once, at init, so the
// copy is removed as soon as it has been read, and in any case when the run
// ends.
class RunSettings {
  public:
    ~RunSettings() { discard(); }
    // Removes the private copy; the run goes on with what the plug-in read.
    void discard() {
        if (!home_.empty()) removeTree(home_);
        home_.clear();
    }
    // s: the run's settings (runSettings). Answers false with error set when
    // they cannot be written. With --save they are the user's own by now.
    bool prepare(const Options& o, const kesta::Settings& s, std::string& error) {
        settings_ = s;
        if (o.save) return true;
        if (!o.overrides()) return true;
        gchar* dir = g_dir_make_tmp("kesta-settings-XXXXXX", nullptr);
        if (!dir) return error = "cannot make a temporary folder", false;
        home_ = dir;
        g_free(dir);
        gchar* original = nullptr;
        gsize length = 0;
        g_mkdir_with_parents((home_ + "/.xmms").c_str(), 0700);
        // Only a regular file is copied: reading a FIFO would wait for a writer.
        if (g_file_test(settingsPath().c_str(), G_FILE_TEST_IS_REGULAR) &&
            g_file_get_contents(settingsPath().c_str(), &original, &length, nullptr)) {
            g_file_set_contents(settingsPath(home_).c_str(), original, static_cast<gssize>(length), nullptr);
            g_free(original);
        }
        if (!writeSettings(settingsPath(home_), s)) return error = "cannot write the run's settings", false;
        return true;
    }
    const std::string& home() const { return home_; }
    const kesta::Settings& settings() const { return settings_; }

  private:
    std::string home_;
    kesta::Settings settings_;
};

bool loadPlugin(PluginHost& host, const Options& o, std::string& error) {
    const std::string path = o.plugin.empty() ? defaultPluginPath() : o.plugin;
    if (!host.load(path)) return error = "cannot load the plug-in " + path + ": " + host.error(), false;
    return true;
}

// The player's 16-bit sample as 8 bits (128 is silence), rounded to the
// nearest step so that no DC offset of half a step comes in.
unsigned char toEightBit(short sample) {
    const int rounded = (sample + 128) >> 8;
    return static_cast<unsigned char>(std::min(rounded, 127) + 128);
}

// Streams frames through the plug-in block by block, as the player does:
// read answers up to n interleaved 16-bit frames, write takes the plug-in's
// frames (outChannels each). Answers false with error set when write fails.
bool renderStream(PluginHost& host, int channels, int rate, bool eightBit, int block,
                  const std::function<long(short*, long)>& read,
                  const std::function<bool(const short*, long)>& write,
                  const std::function<void(long)>& progress, int outChannels) {
    const AFormat format = eightBit ? FMT_U8 : FMT_S16_NE;
    std::vector<short> in(static_cast<size_t>(block) * channels);
    std::vector<unsigned char> in8(eightBit ? in.size() : 0);
    std::vector<short> out;
    long done = 0;
    for (;;) {
        if (interrupted) return false;
        const long frames = read(in.data(), block);
        if (frames <= 0) break;
        const long samples = frames * channels;
        void* data = in.data();
        int bytes = static_cast<int>(samples * 2);
        if (eightBit) {
            for (long k = 0; k < samples; ++k) in8[k] = toEightBit(in[k]);
            data = in8.data();
            bytes = static_cast<int>(samples);
        }
        int outBytes = 0;
        const void* result = host.process(data, bytes, format, rate, channels, &outBytes);
        const long outSamples = eightBit ? outBytes : outBytes / 2;
        out.resize(static_cast<size_t>(outSamples));
        if (eightBit) {
            const unsigned char* r = static_cast<const unsigned char*>(result);
            for (long k = 0; k < outSamples; ++k) out[k] = static_cast<short>((r[k] - 128) * 256);
        } else {
            std::memcpy(out.data(), result, static_cast<size_t>(outSamples) * 2);
        }
        // A block the plug-in passed through unconverted still has the input's
        // channels: spread it over the output's.
        if (result == data && outChannels != channels) {
            std::vector<short> spread(static_cast<size_t>(outSamples / channels * outChannels));
            for (size_t k = 0; k < spread.size(); ++k)
                spread[k] = out[k / outChannels * channels + k % channels];
            out.swap(spread);
        }
        if (!write(out.data(), static_cast<long>(out.size()) / outChannels)) return false;
        done += frames;
        progress(done);
    }
    return true;
}

// The settings this run uses: the user's, with the options' overrides; saved
// first when --save asks. False with error set when they cannot be saved, or
// (with --strict) read; error is empty when the run was stopped meanwhile.
bool runSettings(const Options& o, kesta::Settings& s, std::string& error) {
    const std::string path = settingsPath();
    int readError = 0;
    const bool read = readSettings(path, s, &readError);
    if (interrupted) return error.clear(), false;
    if (readError != 0 && readError != ENOENT) {
        const std::string problem =
            path + " " +
            (readError == EWOULDBLOCK ? std::string("is kept locked by another program")
                                      : "cannot be read (" + settingsProblem(readError) + ")");
        if (o.strict) return error = problem + "; nothing rendered (--strict)", false;
        say("warning: " + problem +
            (read ? "; its settings were read without waiting for it" : "; the default settings are used"));
    }
    o.apply(s);
    std::string why;
    if (o.save && !writeSettings(path, s, &why))
        return error = interrupted ? std::string() : "cannot save the settings: " + why, false;
    return true;
}

// The player's path: the plug-in exactly as a player runs it, the raw stream.
int renderPlayer(const Options& o, const kesta::Settings& s, const std::string& inPath,
                 const std::string& outPath) {
    const std::string name = inPath == "-" ? "standard input" : inPath;
    InputFile in;
    if (!in.open(inPath)) return interrupted ? 1 : fail("cannot read " + name + ": " + in.error());
    if (in.channels() != 1 && in.channels() != 2)
        return fail(name + " has " + std::to_string(in.channels()) +
                    " channels; only mono and stereo can be rendered");
    if (in.isSameFile(outPath))
        return fail(outPath +
                    " is the input itself; choose another output so that the input is not destroyed");
    if (in.rate() > 48000)
        say("note: " + name + ": the player's tables stop at 48 kHz, so at " + std::to_string(in.rate()) +
            " Hz the effect does not sound as it does at 48 kHz (render without --player covers every rate)");

    std::string error;
    PluginHost host;
    if (!loadPlugin(host, o, error)) return fail(error);
    RunSettings run;
    if (!run.prepare(o, s, error)) return fail(error);
    host.init(run.home());
    run.discard();

    const bool eightBit = o.bits ? o.bits == 8 : in.eightBit();
    const int outChannels = host.outputChannels(eightBit ? FMT_U8 : FMT_S16_NE, in.rate(), in.channels());
    OutputFile out;
    if (!out.open(outPath, o.type, outChannels, in.rate(), eightBit ? SampleDepth::Int8 : SampleDepth::Int16,
                  true))
        return interrupted
                   ? 1
                   : fail("cannot write " + (outPath == "-" ? std::string("standard output") : outPath) +
                          ": " + out.error());
    if (o.quality >= 0 && !out.setQuality(o.quality))
        return fail("--quality applies to lossy outputs (.ogg, .opus, .mp3)");
    const std::string tagProblem = out.setTags(in.tags());
    if (!tagProblem.empty()) say("warning: " + name + ": " + tagProblem);

    const bool showProgress = !o.quiet && isatty(STDERR_FILENO) && in.frames() > 10L * in.rate();
    long shown = -1;  // the percentage on screen: redrawn only when it changes
    auto progress = [&](long done) {
        const long percent = 100 * done / std::max(1L, in.frames());
        if (!showProgress || percent == shown) return;
        shown = percent;
        std::fprintf(stderr, "\rkesta: rendering %s: %3ld%%", name.c_str(), percent);
    };
    long read = 0, clipped = 0, damaged = 0, firstDamaged = -1;
    // Float samples come to the player's depth at their own level (1.0 is
    // full scale), never scaled to the file's peak; the library's 16-bit
    // read of integer files is kept as it is.
    const bool floats = in.depth() == SampleDepth::Float || in.depth() == SampleDepth::Double;
    std::vector<float> floatBlock(floats ? static_cast<size_t>(o.block) * in.channels() : 0);
    const bool written = renderStream(
        host, in.channels(), in.rate(), eightBit, o.block,
        [&](short* dst, long n) {
            const long got = floats ? in.read(floatBlock.data(), n) : in.read(dst, n);
            for (long k = 0; k < got * in.channels() && floats; ++k) {
                const float x = floatBlock[static_cast<size_t>(k)];
                if (!(std::fabs(x) <= kLargestSample)) {
                    if (firstDamaged < 0) firstDamaged = read + k / in.channels();
                    ++damaged;
                    dst[k] = 0;
                    continue;
                }
                dst[k] =
                    static_cast<short>(std::lrint(std::min(std::max(x * 32768.0f, -32768.0f), 32767.0f)));
            }
            read += std::max(got, 0L);
            return got;
        },
        [&](const short* src, long n) {
            // The plug-in saturates: full-scale samples are the ones that clipped.
            const int top = eightBit ? 127 * 256 : 32767;
            for (long k = 0; k < n * outChannels; ++k) clipped += src[k] >= top || src[k] == -32768;
            return out.write(src, n);
        },
        progress, outChannels);
    if (showProgress) std::fprintf(stderr, "\n");
    if (interrupted) return 1;
    const std::string damage = in.damage(read);
    if (!damage.empty()) {
        if (o.strict) return fail(name + ": " + damage + "; nothing written (--strict)");
        say("warning: " + name + ": " + damage + "; what was read is written");
    }
    if (damaged > 0) {
        const std::string what = damagedSamples(damaged, firstDamaged, true);
        if (o.strict) return fail(name + ": " + what + "; nothing written (--strict)");
        say("warning: " + name + ": " + what + "; each was replaced by silence");
    }
    if (clipped > 0)
        say("warning: " + name + ": " + std::to_string(clipped) + " samples at full scale (clipped)");
    if (!written || !out.commit())
        return interrupted ? 1 : fail("cannot write " + outPath + ": " + out.error());
    return 0;
}

SampleDepth requestedDepth(const Options& o) {
    if (o.floatBits) return SampleDepth::Float;
    switch (o.bits) {
        case 8:
            return SampleDepth::Int8;
        case 16:
            return SampleDepth::Int16;
        case 24:
            return SampleDepth::Int24;
        case 32:
            return SampleDepth::Int32;
        default:
            return SampleDepth::None;
    }
}

int renderOne(const Options& o, const kesta::Settings& s, const std::string& in, const std::string& out,
              bool progress) {
    if (o.player) return renderPlayer(o, s, in, out);
    RenderRequest r;
    r.in = in;
    r.out = out;
    r.type = o.type;
    r.quality = o.quality;
    r.depth = requestedDepth(o);
    r.dither = !o.noDither;
    r.gainDb = o.gainDb;
    r.headroomAuto = o.headroomAuto;
    r.strict = o.strict;
    r.quiet = o.quiet;
    r.progress = progress;
    r.block = o.block;
    r.settings = s;
    r.stop = &interrupted;
    return renderFloat(r);
}

// A --type that names another format than the output's own extension, in
// words for the user; empty when they agree or the name has no known one.
std::string typeContradiction(const std::string& out, const std::string& type) {
    if (type.empty() || out == "-") return std::string();
    const std::string own = OutputFile::typeFor(out, std::string());
    if (own.empty() || own == OutputFile::typeFor(out, type)) return std::string();
    return "--type " + type + " contradicts the output's name " + out + " (" + own +
           "); give one that agrees, or leave --type out";
}

// What keeps image from being written, in words for the user; empty when
// nothing does. Opens nothing, so that it comes before any work.
std::string pictureProblem(const std::string& image) {
    OutputPath where;
    std::string error;
    if (!classifyOutput(image, where, error)) return "cannot write " + image + ": " + error;
    return std::string();
}

// Whether path can be read a second time, as the picture of a render reads
// its input and its result again: a regular file, or nothing there yet.
bool readsTwice(const std::string& path) {
    struct stat st;
    return path != "-" && (stat(path.c_str(), &st) != 0 || S_ISREG(st.st_mode));
}

int render(const Options& o) {
    const bool batch = !o.outDir.empty();
    if (!batch && o.args.size() != 2)
        return usage("render takes an input and an output (or inputs and -o DIR)", "render");
    if (batch && o.args.empty()) return usage("render -o DIR takes one or more inputs", "render");
    if (!batch && o.given.end() != std::find(o.given.begin(), o.given.end(), "--jobs"))
        return usage("-j goes with -o DIR", "render");
    if (!o.picture.empty() && batch)
        return usage("--picture draws one input and its result, not with -o", "render");
    for (size_t k = 0; k < 2 && !o.picture.empty(); ++k)
        if (!readsTwice(o.args[k]))
            return usage(std::string("--picture reads the ") + (k ? "result" : "input") +
                             " again after the render, so it must be a regular file, and " +
                             (o.args[k] == "-" ? (k ? "standard output" : "standard input") : o.args[k]) +
                             " is not",
                         "render");
    if (!batch && o.args[1] == "-" && o.type.empty())
        return usage("standard output needs --type (wav, flac, ogg, opus, mp3, aiff, au, caf or raw)",
                     "render");
    if (!batch && !typeContradiction(o.args[1], o.type).empty())
        return usage(typeContradiction(o.args[1], o.type), "render");
    if (!o.picture.empty()) {
        const std::string problem = pictureProblem(o.picture);
        if (!problem.empty()) return usage(problem, "render");
    }
    if (!batch && o.args[1] == "-" && stdoutClosed) return fail("cannot write standard output: it is closed");

    std::vector<BatchItem> items;
    if (batch) {
        if (!g_file_test(o.outDir.c_str(), G_FILE_TEST_IS_DIR))
            return fail(
                "cannot write into " + o.outDir + ": " +
                (g_file_test(o.outDir.c_str(), G_FILE_TEST_EXISTS) ? "not a folder" : std::strerror(ENOENT)));
        const std::string problem = planBatch(o.args, o.outDir, o.type, items);
        if (!problem.empty()) return usage(problem, "render");
    }
    CommandFiles files;
    for (const std::string& in : batch ? o.args : std::vector<std::string>{o.args[0]})
        files.add(CommandFiles::Role::Input, in);
    if (!batch) files.add(CommandFiles::Role::Output, o.args[1]);
    for (const BatchItem& item : items) files.add(CommandFiles::Role::Output, item.out);
    if (!o.picture.empty()) files.add(CommandFiles::Role::Picture, o.picture);
    const std::string clash = files.clash();
    if (!clash.empty()) return usage(clash, "render");

    kesta::Settings s;
    std::string error;
    OutputPath where;
    if (!batch && o.args[1] != "-" && !classifyOutput(o.args[1], where, error))
        return fail("cannot write " + o.args[1] + ": " + error);
    if (!runSettings(o, s, error)) return error.empty() ? 1 : fail(error);
    if (!batch) {
        const int status = renderOne(o, s, o.args[0], o.args[1], true);
        if (status != 0 || o.picture.empty()) return status;
        std::vector<std::string> caption = settingsLines(s);
        if (o.hasGain) {
            char gain[32];
            std::snprintf(gain, sizeof gain, "Input gain: %+.1f dB", o.gainDb);
            caption.push_back(gain);
        }
        if (o.headroomAuto) caption.push_back("Headroom: auto");
        if (!pictureOfFiles({o.args[0], o.args[1]}, caption, o.picture, error))
            return interrupted ? 1 : fail(error);
        return 0;
    }

    Options each = o;
    each.save = false;  // saved once, above
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    const int jobs = o.jobs > 0 ? o.jobs : static_cast<int>(std::max(1L, cores));
    return runBatch(
        items, jobs, o.quiet,
        [&](const BatchItem& item) { return renderOne(each, s, item.in, item.out, false); }, &interrupted);
}

// Renders a signal held in memory; answers the plug-in's frames.
std::vector<short> renderMemory(PluginHost& host, const std::vector<short>& signal, int channels, int rate,
                                int block, int& outChannels) {
    outChannels = host.outputChannels(FMT_S16_NE, rate, channels);
    std::vector<short> result;
    size_t pos = 0;
    renderStream(
        host, channels, rate, false, block,
        [&](short* dst, long n) {
            const long left = static_cast<long>((signal.size() - pos) / channels);
            const long frames = std::min(n, left);
            std::memcpy(dst, signal.data() + pos, static_cast<size_t>(frames * channels) * 2);
            pos += static_cast<size_t>(frames * channels);
            return frames;
        },
        [&](const short* src, long n) {
            result.insert(result.end(), src, src + n * outChannels);
            return true;
        },
        [](long) {}, outChannels);
    return result;
}

bool saveWav(const std::string& path, const std::vector<short>& frames, int channels, int rate,
             std::string& error) {
    OutputFile f;
    if (!f.open(path, channels, rate, false) ||
        !f.write(frames.data(), static_cast<long>(frames.size() / channels)) || !f.commit())
        return error = "cannot write " + path + ": " + f.error(), false;
    return true;
}

void printRow(const char* name, const Levels& l) {
    std::printf("%-10s %10.1f %10.1f %13.3f %9ld\n", name, l.peakDb, l.rmsDb, l.correlation, l.clipped);
}

int demo(const Options& o) {
    if (!o.args.empty()) return usage("demo takes no files", "demo");
    std::string error;
    PluginHost host;
    if (!loadPlugin(host, o, error)) return fail(error);
    // The speech renders in Voice mode, the one for speech, unless the run
    // names a mode or saves its settings (which are then the ones in force).
    // The stereo music plays through the widener, which the mode leaves alone.
    Options demoOptions = o;
    if (!o.has(kesta::Parameter::kMode) && !o.save) {
        demoOptions.settings.music = false;
        demoOptions.hasSetting[static_cast<int>(kesta::Parameter::kMode)] = true;
    }
    kesta::Settings settings;
    if (!runSettings(demoOptions, settings, error)) return error.empty() ? 1 : fail(error);
    RunSettings run;
    if (!run.prepare(demoOptions, settings, error)) return fail(error);
    host.init(run.home());
    run.discard();

    const int rate = 44100;
    const std::string dir = "kesta-demo";
    if (g_mkdir_with_parents(dir.c_str(), 0755) != 0)
        return fail("cannot make " + dir + ": " + std::strerror(errno));

    const std::vector<short> voice = voiceLike(rate, 3.0);
    const std::vector<short> music = musicLike(rate, 4.0);
    int voiceChannels = 0, musicChannels = 0;
    const std::vector<short> voiceOut = renderMemory(host, voice, 1, rate, o.block, voiceChannels);
    const std::vector<short> musicOut = renderMemory(host, music, 2, rate, o.block, musicChannels);
    if (interrupted) return fail("interrupted");
    if (!saveWav(dir + "/speech-in.wav", voice, 1, rate, error) ||
        !saveWav(dir + "/speech-out.wav", voiceOut, voiceChannels, rate, error) ||
        !saveWav(dir + "/music-in.wav", music, 2, rate, error) ||
        !saveWav(dir + "/music-out.wav", musicOut, musicChannels, rate, error))
        return fail(error);

    const std::vector<std::string> caption = settingsLines(run.settings());
    // The mono sample is speech, named so whichever mode renders it.
    if (!pictureOfSignals("Kesta demo: speech (mono)",
                          {"speech-in.wav", voice.data(), static_cast<long>(voice.size()), 1},
                          {"speech-out.wav", voiceOut.data(),
                           static_cast<long>(voiceOut.size() / voiceChannels), voiceChannels},
                          rate, caption, dir + "/speech.png", error) ||
        !pictureOfSignals("Kesta demo: music",
                          {"music-in.wav", music.data(), static_cast<long>(music.size() / 2), 2},
                          {"music-out.wav", musicOut.data(),
                           static_cast<long>(musicOut.size() / musicChannels), musicChannels},
                          rate, caption, dir + "/music.png", error))
        return fail(error);

    if (o.quiet) return 0;
    const kesta::Settings& s = run.settings();
    std::printf("Kesta demo at %d Hz: mono-to-3D %s (%s), widening %s (spread %.1f dB), Subtone %s\n", rate,
                s.monoTo3D ? "on" : "off", s.music ? "Music" : "Voice", s.widen ? "on" : "off", s.spreadDb,
                s.subtone ? "on" : "off");
    std::printf("%-10s %10s %10s %13s %9s\n", "signal", "peak dBFS", "RMS dBFS", "correlation", "clipped");
    printRow("speech in", measure(voice.data(), voice.size(), 1));
    printRow("speech out", measure(voiceOut.data(), voiceOut.size() / voiceChannels, voiceChannels));
    printRow("music in", measure(music.data(), music.size() / 2, 2));
    printRow("music out", measure(musicOut.data(), musicOut.size() / musicChannels, musicChannels));
    std::printf("Files: %s/speech-in.wav, speech-out.wav, music-in.wav, music-out.wav\n", dir.c_str());
    std::printf("Pictures: %s/speech.png, music.png\n", dir.c_str());
    return 0;
}

int info(const Options& o) {
    if (!o.args.empty()) return usage("info takes no files", "info");
    std::string error;
    PluginHost host;
    if (!loadPlugin(host, o, error)) return fail(error);
    kesta::Settings s;
    const std::string path = settingsPath();
    int readError = 0;
    const bool fromFile = readSettings(path, s, &readError);
    std::string where = path;
    if (fromFile && readError == EWOULDBLOCK)
        where += " (kept locked by another program: read without waiting for it)";
    if (!fromFile)
        where += readError == ENOENT ? " (not there yet: defaults)"
                                     : " (cannot be read: " + settingsProblem(readError) + "; defaults)";
    std::printf("Plug-in:   %s\n",
                host.plugin().description ? host.plugin().description : "(no description)");
    std::printf("Settings:  %s\n", where.c_str());
    std::printf("  m2s_enable    = %s   (mono-to-3D)\n", s.monoTo3D ? "TRUE" : "FALSE");
    std::printf("  m2s_flags     = %d   (%s)\n", modeFlags(s), s.music ? "Music" : "Voice");
    std::printf("  vastor_enable = %s   (stereo widening)\n", s.widen ? "TRUE" : "FALSE");
    std::printf("  vastor_spread = %g dB\n", s.spreadDb);
    std::printf("  subtone       = %s\n", s.subtone ? "TRUE" : "FALSE");
    return 0;
}

int picture(const Options& o) {
    if (o.args.empty() || o.args.size() > 2)
        return usage("picture takes a file, or a file and its result", "picture");
    if (o.outDir.empty()) return usage("picture needs -o IMAGE.png", "picture");
    const std::string problem = pictureProblem(o.outDir);
    if (!problem.empty()) return usage(problem, "picture");
    CommandFiles files;
    for (const std::string& in : o.args) files.add(CommandFiles::Role::Input, in);
    files.add(CommandFiles::Role::Picture, o.outDir);
    const std::string clash = files.clash();
    if (!clash.empty()) return usage(clash, "picture");
    std::string error;
    if (!pictureOfFiles(o.args, std::vector<std::string>(), o.outDir, error))
        return interrupted ? 1 : fail(error);
    return 0;
}

// The few GTK calls of the configuration window, from the library loaded
// when that window is asked for: the other commands do without the start-up
// cost of GTK and of the many libraries it brings (the plug-in then finds
// them loaded).
struct Gtk {
    decltype(&gtk_init_check) initCheck;
    decltype(&gtk_settings_get_default) settings;
    decltype(&gtk_window_list_toplevels) toplevels;
    decltype(&gtk_main) run;
    decltype(&gtk_main_quit) quit;
    decltype(&g_object_set) set;
    decltype(&g_signal_connect_data) connect;

    // False with error set when the library or one of its calls is missing.
    bool load(std::string& error) {
        void* gtk = dlopen("libgtk-3.so.0", RTLD_NOW | RTLD_GLOBAL);
        if (!gtk) return error = dlerror(), false;
        bool found = true;
        auto find = [&](auto& call, const char* name) {
            call = reinterpret_cast<std::remove_reference_t<decltype(call)>>(dlsym(gtk, name));
            found = found && call;
        };
        find(initCheck, "gtk_init_check");
        find(settings, "gtk_settings_get_default");
        find(toplevels, "gtk_window_list_toplevels");
        find(run, "gtk_main");
        find(quit, "gtk_main_quit");
        find(set, "g_object_set");
        find(connect, "g_signal_connect_data");
        if (!found) error = "libgtk-3.so.0 lacks a call the configuration window needs";
        return found;
    }
};
Gtk gtk;

void quitWhenClosed(GtkWidget*, gpointer) {
    gtk.quit();
}

int configure(const Options& o) {
    if (!o.args.empty() || o.overrides() || o.save) return usage("configure takes no files", "configure");
    std::string error;
    if (!gtk.load(error)) return fail("cannot load GTK for the configuration window: " + error);
    if (!gtk.initCheck(nullptr, nullptr)) return fail("cannot open a display for the configuration window");
    // As the player's own scrollbars do: a click in the trough moves by a page
    // (2 dB of spread), not to the pointer.
    gtk.set(gtk.settings(), "gtk-primary-button-warps-slider", FALSE, nullptr);
    PluginHost host;
    if (!loadPlugin(host, o, error)) return fail(error);
    host.init();
    if (!host.plugin().configure) return fail("the plug-in has no configuration window");

    GList* before = gtk.toplevels();
    host.plugin().configure();
    GList* after = gtk.toplevels();
    int opened = 0;
    for (GList* w = after; w; w = w->next) {
        if (g_list_find(before, w->data)) continue;
        gtk.connect(w->data, "destroy", G_CALLBACK(quitWhenClosed), nullptr, nullptr, GConnectFlags(0));
        ++opened;
    }
    g_list_free(before);
    g_list_free(after);
    if (opened == 0) return fail("the plug-in opened no window");
    followSettingsLive();
    gtk.run();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    fillStandardDescriptors();
    // Past a file-size limit, a write fails (and is reported, and its
    // temporary file removed) rather than the process being killed.
    std::signal(SIGXFSZ, SIG_IGN);
    if (argc < 2) return usage("no command given");
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::printf("%s", kUsage);
        return 0;
    }
    if (command == "--version") {
        std::printf("kesta %s\n", KESTA_VERSION);
        return 0;
    }
    if (command == "desktop") return desktopCommand(argc, argv, 2);
    const bool known = command == "render" || command == "demo" || command == "info" ||
                       command == "configure" || command == "picture";
    if (!known) return usage("unknown command " + command);
    Options o;
    std::string problem = parseOptions(argc, argv, 2, o);
    if (problem.empty() && o.help) return help(command);
    if (problem.empty()) problem = checkOptionsFor(command, o);
    if (!problem.empty()) return usage(problem, command);
    if (command == "render" || command == "demo" || command == "picture") {
        catchInterrupts();
        const int status = command == "render" ? render(o) : command == "demo" ? demo(o) : picture(o);
        if (interrupted) {
            std::signal(interrupted, SIG_DFL);
            std::raise(interrupted);
        }
        return status;
    }
    if (command == "info") return info(o);
    return configure(o);
}
