#include "Desktop.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "Options.h"
#include "Parameters.h"
#include "PlayerSettings.h"
#include "Processor.h"

const char kDesktopHelp[] =
    "usage: kesta desktop on [--default] [settings]\n"
    "       kesta desktop set SETTINGS\n"
    "       kesta desktop status\n"
    "       kesta desktop off\n"
    "\n"
    "Runs the effect on everything the desktop plays, as a PipeWire output device named\n"
    "\"Kesta 3D Sound\" (a filter-chain of the stereo LV2 plug-in, which plays into the device\n"
    "that is the default output).\n"
    "\n"
    "on writes ~/.config/pipewire/pipewire.conf.d/kesta-desktop.conf with the user's settings,\n"
    "restarts PipeWire (systemctl --user restart pipewire.service; WirePlumber restarts with it)\n"
    "and waits until the output is there; with --default it also makes it the default output,\n"
    "which moves the streams that follow the default. While the filter runs as the drop-in has\n"
    "it, on restarts nothing.\n"
    "\n"
    "set changes the running filter's settings at once, without a gap or a restart, and stores\n"
    "them (the user's settings and the drop-in) for the next 'on' and the next login.\n"
    "\n"
    "status says whether the output exists and is the default, its settings and its latency.\n"
    "\n"
    "off removes what 'on' wrote, gives the default output back to the device it replaced and\n"
    "restarts PipeWire.\n"
    "\n"
    "settings (on and set; stored as the user's own):\n"
    "%s%s"
    "  --default              (on) make Kesta 3D Sound the default output\n"
    "  --bundle PATH          (on) the LV2 bundle kesta.lv2 (default: the one installed with kesta\n"
    "                         in /usr/lib/lv2, or the one of the build kesta came from, which\n"
    "                         is then linked into ~/.lv2)\n"
    "  -q, --quiet            say nothing when done (refusals and errors are still shown)\n"
    "\n"
    "A drop-in that kesta did not write is never changed. Needs PipeWire 0.3.45 or newer with\n"
    "WirePlumber, and, for on and off, a systemd user session to restart PipeWire with.\n"
    "Exit status: 0 done, 1 refused or failed (one line says why), 2 usage error.\n";

namespace {

using kesta::InfoOf;
using kesta::Parameter;

constexpr char kMarker[] = "# Written by kesta desktop; 'kesta desktop off' removes it.";
constexpr char kRecord[] = "# kesta-desktop ";
constexpr char kInputNode[] = "effect_input.kesta";
constexpr char kPluginUri[] = "https://kesta.example/plugins/stereo";
constexpr char kOldest[] = "0.3.45";

int fail(const std::string& message) {
    std::fprintf(stderr, "kesta: %s\n", message.c_str());
    return 1;
}

int usage(const std::string& problem) {
    std::fprintf(stderr, "kesta: %s\nTry 'kesta desktop --help'.\n", problem.c_str());
    return 2;
}

// Runs argv (found on PATH) with no input and its output kept from the
// user's; answers whether it exited 0, with its standard output in *out.
bool run(const std::vector<std::string>& args, std::string* out = nullptr) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    gchar* text = nullptr;
    gint status = 0;
    const bool spawned = g_spawn_sync(nullptr, argv.data(), nullptr,
                                      GSpawnFlags(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL), nullptr,
                                      nullptr, &text, nullptr, &status, nullptr);
    if (out) *out = text ? text : "";
    g_free(text);
    return spawned && g_spawn_check_wait_status(status, nullptr);
}

std::string number(double v) {
    char text[G_ASCII_DTOSTR_BUF_SIZE];
    return g_ascii_formatd(text, sizeof text, "%g", v);
}

std::string folder() {
    return std::string(g_get_user_config_dir()) + "/pipewire/pipewire.conf.d";
}

std::string dropInPath() {
    return folder() + "/kesta-desktop.conf";
}

std::string readFile(const std::string& path) {
    gchar* text = nullptr;
    gsize length = 0;
    if (!g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR) ||
        !g_file_get_contents(path.c_str(), &text, &length, nullptr))
        return std::string();
    std::string s(text, length);
    g_free(text);
    return s;
}

bool ours(const std::string& text) {
    return text.compare(0, sizeof kMarker - 1, kMarker) == 0;
}

// What the drop-in keeps for off, and the settings it starts the filter with.
struct DropIn {
    std::string previousDefault;    // the default output before on, "" for none set
    std::string link;               // a link into ~/.lv2 that on made, or ""
    std::vector<std::string> made;  // folders on made, deepest first
    kesta::Settings settings;
};

std::string record(const std::string& text, const std::string& key) {
    const std::string start = std::string(kRecord) + key + ": ";
    for (size_t at = 0; (at = text.find(start, at)) != std::string::npos; at += start.size())
        if (at == 0 || text[at - 1] == '\n') {
            const size_t from = at + start.size();
            return text.substr(from, text.find('\n', from) - from);
        }
    return std::string();
}

DropIn parseDropIn(const std::string& text) {
    DropIn d;
    d.previousDefault = record(text, "previous-default");
    d.link = record(text, "lv2-link");
    for (std::string made = record(text, "made-folders"); !made.empty();) {
        const size_t bar = made.find('|');
        d.made.push_back(made.substr(0, bar));
        made = bar == std::string::npos ? std::string() : made.substr(bar + 1);
    }
    for (int i = 0; i < kesta::kParameterCount; ++i) {
        const std::string key = std::string("\"") + kesta::kParameters[i].symbol + "\" = ";
        const size_t at = text.find(key);
        if (at != std::string::npos)
            d.settings.set(static_cast<Parameter>(i),
                           static_cast<float>(g_ascii_strtod(text.c_str() + at + key.size(), nullptr)));
    }
    return d;
}

std::string dropInText(const DropIn& d) {
    std::string controls;
    for (int i = 0; i < kesta::kParameterCount; ++i)
        controls += std::string(i ? " " : "") + "\"" + kesta::kParameters[i].symbol +
                    "\" = " + number(d.settings.get(static_cast<Parameter>(i)));
    std::string made;
    for (const std::string& m : d.made) made += (made.empty() ? "" : "|") + m;
    return std::string(kMarker) + "\n" +
           "# Change its settings with 'kesta desktop set' (see 'kesta desktop --help').\n" + kRecord +
           "previous-default: " + d.previousDefault + "\n" + kRecord + "lv2-link: " + d.link + "\n" +
           kRecord + "made-folders: " + made +
           "\n"
           "context.modules = [\n"
           "    { name = libpipewire-module-filter-chain\n"
           "      args = {\n"
           "          node.description = \"Kesta 3D Sound\"\n"
           "          media.name       = \"Kesta 3D Sound\"\n"
           "          filter.graph = {\n"
           "              nodes = [\n"
           "                  { type = lv2 name = kesta plugin = \"" +
           kPluginUri +
           "\"\n"
           "                    control = { " +
           controls +
           " } }\n"
           "              ]\n"
           "              inputs  = [ \"kesta:in_l\" \"kesta:in_r\" ]\n"
           "              outputs = [ \"kesta:out_l\" \"kesta:out_r\" ]\n"
           "          }\n"
           "          audio.channels = 2\n"
           "          audio.position = [ FL FR ]\n"
           "          capture.props  = { node.name = \"" +
           kInputNode +
           "\" media.class = Audio/Sink }\n"
           "          playback.props = { node.name = \"effect_output.kesta\" node.passive = true }\n"
           "      }\n"
           "    }\n"
           "]\n";
}

// Writes the drop-in whole (g_file_set_contents writes a temporary file
// beside it and renames it over it).
bool writeDropIn(const DropIn& d, std::string& error) {
    const std::string path = dropInPath(), text = dropInText(d);
    GError* e = nullptr;
    if (g_file_set_contents(path.c_str(), text.c_str(), static_cast<gssize>(text.size()), &e)) return true;
    error = std::string("cannot write ") + path + ": " + e->message;
    g_error_free(e);
    return false;
}

// A hand-written filter of the same nodes in the user's drop-ins, or "".
std::string foreignKesta() {
    std::string found;
    if (GDir* dir = g_dir_open(folder().c_str(), 0, nullptr)) {
        while (const char* name = g_dir_read_name(dir)) {
            const std::string path = folder() + "/" + name;
            const std::string text = readFile(path);
            if (found.empty() && !ours(text) && text.find(kInputNode) != std::string::npos) found = path;
        }
        g_dir_close(dir);
    }
    return found;
}

// The PipeWire server's version, "" when none answers.
std::string serverVersion() {
    std::string out;
    if (!run({"pw-cli", "info", "0"}, &out)) return std::string();
    const size_t at = out.find("version: \"");
    if (at == std::string::npos) return std::string();
    const size_t from = at + 10;
    return out.substr(from, out.find('"', from) - from);
}

bool olderThan(const std::string& version, const std::string& oldest) {
    int a[3] = {}, b[3] = {};
    std::sscanf(version.c_str(), "%d.%d.%d", &a[0], &a[1], &a[2]);
    std::sscanf(oldest.c_str(), "%d.%d.%d", &b[0], &b[1], &b[2]);
    for (int k = 0; k < 3; ++k)
        if (a[k] != b[k]) return a[k] < b[k];
    return false;
}

// A refusal when PipeWire does not run or is too old, else "".
std::string pipewireProblem() {
    const std::string version = serverVersion();
    if (version.empty())
        return "PipeWire is not running (no server answers pw-cli); start your desktop session's "
               "sound server first";
    if (olderThan(version, kOldest))
        return "PipeWire " + version + " is too old for the filter-chain this needs (" + kOldest +
               " or newer)";
    return std::string();
}

// The id of the node named name, or -1.
long nodeId(const std::string& name) {
    std::string out;
    if (!run({"pw-cli", "ls", "Node"}, &out)) return -1;
    long id = -1;
    for (size_t from = 0, to; from < out.size(); from = to + 1) {
        to = std::min(out.find('\n', from), out.size());
        const std::string line = out.substr(from, to - from);
        const size_t at = line.find("id ");
        if (line.find("type PipeWire:Interface:Node") != std::string::npos && at != std::string::npos)
            id = std::atol(line.c_str() + at + 3);
        else if (line.find("node.name = \"" + name + "\"") != std::string::npos)
            return id;
    }
    return -1;
}

// The name in a metadata key's JSON value ({"name":"..."}), "" when unset.
std::string metadataName(const std::string& object, const std::string& key) {
    std::string out;
    run({"pw-metadata", "-n", object, "0", key}, &out);
    const std::string mark = "key:'" + key + "' value:'";
    size_t at = out.find(mark);
    if (at == std::string::npos) return std::string();
    at = out.find("\"name\":", at);
    if (at == std::string::npos) return std::string();
    at = out.find('"', at + 7);
    return at == std::string::npos ? std::string() : out.substr(at + 1, out.find('"', at + 1) - at - 1);
}

bool metadataExists() {
    std::string out;
    run({"pw-metadata", "-n", "default", "0", "default.audio.sink"}, &out);
    return out.find("Found") != std::string::npos;
}

bool setDefault(const std::string& name) {
    if (name.empty())
        return run({"pw-metadata", "-n", "default", "-d", "0", "default.configured.audio.sink"});
    return run({"pw-metadata", "-n", "default", "0", "default.configured.audio.sink",
                "{ \"name\": \"" + name + "\" }", "Spa:String:JSON"});
}

// Waits up to seconds for test to answer true.
bool waitFor(const std::function<bool()>& test, double seconds) {
    for (int k = 0; k < seconds * 10; ++k) {
        if (test()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return test();
}

bool hasUserManager() {
    return run({"systemctl", "--user", "show-environment"});
}

bool restartPipewire() {
    // WirePlumber is bound to pipewire.service and restarts with it.
    return run({"systemctl", "--user", "restart", "pipewire.service"});
}

// The LV2 bundle for the filter: path when given, else the one installed
// beside kesta (../lib/lv2 from its binary: /usr/lib/lv2 once installed, the
// build's own in a build tree), else one in a folder PipeWire searches.
// "" when there is none.
std::string findBundle(const std::string& given) {
    auto isBundle = [](const std::string& b) {
        return g_file_test((b + "/manifest.ttl").c_str(), G_FILE_TEST_IS_REGULAR);
    };
    if (!given.empty()) return isBundle(given) ? given : std::string();
    std::vector<std::string> candidates;
    if (gchar* self = g_file_read_link("/proc/self/exe", nullptr)) {
        gchar* dir = g_path_get_dirname(self);
        candidates.push_back(std::string(dir) + "/../lib/lv2/kesta.lv2");
        g_free(dir);
        g_free(self);
    }
    candidates.push_back(std::string(g_get_home_dir()) + "/.lv2/kesta.lv2");
    candidates.push_back("/usr/local/lib/lv2/kesta.lv2");
    candidates.push_back("/usr/lib/lv2/kesta.lv2");
    for (const std::string& c : candidates)
        if (isBundle(c)) {
            gchar* canonical = g_canonicalize_filename(c.c_str(), nullptr);
            std::string found = canonical;
            g_free(canonical);
            return found;
        }
    return std::string();
}

// Whether PipeWire's LV2 loader finds bundle by itself (LV2_PATH unset).
bool searched(const std::string& bundle) {
    const std::string user = std::string(g_get_home_dir()) + "/.lv2/";
    for (const std::string& dir : {std::string("/usr/lib/lv2/"), std::string("/usr/local/lib/lv2/"), user})
        if (bundle.compare(0, dir.size(), dir) == 0 && bundle.find('/', dir.size()) == std::string::npos)
            return true;
    return false;
}

// The settings in the user's file, with the rest from the drop-in in force.
kesta::Settings storedSettings(const DropIn* current) {
    kesta::Settings s = current ? current->settings : kesta::Settings();
    kesta::Settings player;
    if (readSettings(settingsPath(), player))
        for (Parameter p : kPlayerParameters) s.set(p, player.get(p));
    return s;
}

std::string describe(const kesta::Settings& s) {
    std::string text;
    for (int i = 0; i < kesta::kParameterCount; ++i) {
        const kesta::ParameterInfo& info = kesta::kParameters[i];
        const float v = s.get(static_cast<Parameter>(i));
        // As the options take them: "--spread -6", "--mode music".
        std::string value =
            info.kind == kesta::ParameterInfo::kDecibels ? number(v) : info.labels[v > 0.5f ? 1 : 0];
        for (char& c : value) c = static_cast<char>(g_ascii_tolower(c));
        text += std::string(i ? " " : "") + "--" + info.option + " " + value;
    }
    return text;
}

// The filter's controls as the running node has them; false when not read.
bool liveSettings(long id, kesta::Settings& s) {
    std::string out;
    if (!run({"pw-cli", "enum-params", std::to_string(id), "Props"}, &out)) return false;
    bool found = false;
    for (int i = 0; i < kesta::kParameterCount; ++i) {
        const std::string key = std::string("String \"kesta:") + kesta::kParameters[i].symbol + "\"";
        const size_t at = out.rfind(key);
        if (at == std::string::npos) continue;
        const size_t value = out.find("Float ", at + key.size());
        if (value == std::string::npos) continue;
        s.set(static_cast<Parameter>(i),
              static_cast<float>(g_ascii_strtod(out.c_str() + value + 6, nullptr)));
        found = true;
    }
    return found;
}

// Hands the filter node its controls; false when it does not take them.
bool setLive(long id, const kesta::Settings& s, const bool changed[kesta::kParameterCount]) {
    std::string params;
    for (int i = 0; i < kesta::kParameterCount; ++i) {
        if (!changed[i]) continue;
        char value[G_ASCII_DTOSTR_BUF_SIZE];
        g_ascii_formatd(value, sizeof value, "%.6f", s.get(static_cast<Parameter>(i)));
        params += std::string(" \"kesta:") + kesta::kParameters[i].symbol + "\" " + value;
    }
    return run({"pw-cli", "set-param", std::to_string(id), "Props", "{ params = [" + params + " ] }"});
}

// Makes the folders of path that are missing; adds them to made, deepest first.
bool makeFolders(const std::string& path, std::vector<std::string>& made) {
    if (g_file_test(path.c_str(), G_FILE_TEST_IS_DIR)) return true;
    gchar* parent = g_path_get_dirname(path.c_str());
    const bool ok = makeFolders(parent, made);
    g_free(parent);
    if (!ok || g_mkdir(path.c_str(), 0755) != 0) return false;
    made.insert(made.begin(), path);
    return true;
}

int on(const Options& o, bool makeDefault, const std::string& bundleGiven) {
    const std::string path = dropInPath();
    const std::string existing = readFile(path);
    if (g_file_test(path.c_str(), G_FILE_TEST_EXISTS) && !ours(existing))
        return fail(path + " was not written by kesta desktop; it is left alone (move it away to go on)");
    const std::string foreign = foreignKesta();
    if (!foreign.empty())
        return fail(foreign + " already makes a Kesta output by hand; remove it to use kesta desktop");
    const std::string bundle = findBundle(bundleGiven);
    if (bundle.empty())
        return fail(bundleGiven.empty() ? "no LV2 bundle kesta.lv2 found; install the kesta-lv2 package"
                                        : "no LV2 bundle at " + bundleGiven + " (no manifest.ttl)");
    const std::string problem = pipewireProblem();
    if (!problem.empty()) return fail(problem);

    DropIn current = parseDropIn(existing);
    DropIn d = current;
    d.settings = storedSettings(existing.empty() ? nullptr : &current);
    o.apply(d.settings);
    // A filter that runs as the drop-in has it already needs no restart, so
    // that making it the default moves what plays now.
    auto graph = [](const std::string& text) {
        return text.substr(std::min(text.find("context.modules"), text.size()));
    };
    const bool running =
        !existing.empty() && graph(existing) == graph(dropInText(d)) && nodeId(kInputNode) >= 0;
    if (!running && !hasUserManager())
        return fail(
            "no systemd user session to restart PipeWire with; use the README's hand-written "
            "filter (PipeWire section) and restart pipewire yourself");
    std::string why;
    if (o.overrides() && !writeSettings(settingsPath(), d.settings, &why))
        return fail("cannot save the settings: " + why);
    if (existing.empty() && !makeFolders(folder(), d.made))
        return fail("cannot make " + folder() + ": " + std::strerror(errno));

    // PipeWire's LV2 loader searches ~/.lv2 among others: a bundle elsewhere
    // (a build's) is linked there, unless the user has one there already.
    const std::string link = std::string(g_get_home_dir()) + "/.lv2/kesta.lv2";
    if (!searched(bundle) && d.link.empty() && !g_file_test(link.c_str(), G_FILE_TEST_EXISTS)) {
        if (link.find_first_of("\r\n") != std::string::npos)
            return fail("cannot link the bundle into ~/.lv2: the home folder's name has a line break");
        if (!makeFolders(std::string(g_get_home_dir()) + "/.lv2", d.made) ||
            symlink(bundle.c_str(), link.c_str()) != 0)
            return fail("cannot link " + bundle + " into ~/.lv2: " + std::strerror(errno));
        d.link = link;
    }
    // The name goes into a comment line of the drop-in: one line, or none.
    std::string before = metadataName("default", "default.configured.audio.sink");
    if (before.find_first_of("\r\n") != std::string::npos) before.clear();
    if (makeDefault && before != kInputNode) d.previousDefault = before;
    if (!writeDropIn(d, why)) return fail(why);
    if (!running && !restartPipewire()) return fail("systemctl --user restart pipewire.service failed");
    if (!waitFor([] { return nodeId(kInputNode) >= 0; }, 30))
        return fail(
            "PipeWire did not make the Kesta output within 30 s (see journalctl --user -u pipewire; "
            "'kesta desktop off' removes what on wrote)");
    if (makeDefault) {
        if (!waitFor(metadataExists, 15) || !setDefault(kInputNode))
            return fail("Kesta 3D Sound is on, but WirePlumber did not take it as the default output");
    }
    if (!o.quiet)
        std::printf("Kesta 3D Sound is on (%s)%s\n", describe(d.settings).c_str(),
                    makeDefault ? ", the default output" : "");
    return 0;
}

int off(const Options& o) {
    const std::string path = dropInPath();
    const std::string text = readFile(path);
    if (!g_file_test(path.c_str(), G_FILE_TEST_EXISTS)) {
        if (!o.quiet) std::printf("Kesta 3D Sound is not on (no %s)\n", path.c_str());
        return 0;
    }
    if (!ours(text)) return fail(path + " was not written by kesta desktop; it is left alone");
    const DropIn d = parseDropIn(text);
    const bool running = serverVersion() != "";
    if (running && metadataName("default", "default.configured.audio.sink") == kInputNode)
        setDefault(d.previousDefault);
    if (g_remove(path.c_str()) != 0) return fail("cannot remove " + path + ": " + std::strerror(errno));
    // The link goes while it is still a link (a bundle the user has put there
    // in its place stays).
    if (!d.link.empty() && g_file_test(d.link.c_str(), G_FILE_TEST_IS_SYMLINK)) g_remove(d.link.c_str());
    for (const std::string& m : d.made) g_rmdir(m.c_str());  // only when empty
    if (!running) {
        if (!o.quiet) std::printf("Kesta 3D Sound is off (its drop-in removed; PipeWire is not running)\n");
        return 0;
    }
    if (!hasUserManager())
        return fail(
            "the drop-in is removed, but there is no systemd user session to restart PipeWire "
            "with; restart pipewire yourself");
    if (!restartPipewire()) return fail("systemctl --user restart pipewire.service failed");
    if (!waitFor([] { return serverVersion() != "" && nodeId(kInputNode) < 0; }, 30))
        return fail("the Kesta output is still there after PipeWire's restart");
    if (!o.quiet) std::printf("Kesta 3D Sound is off\n");
    return 0;
}

int status() {
    const std::string path = dropInPath();
    const std::string text = readFile(path);
    const bool installed = ours(text);
    const std::string problem = pipewireProblem();
    if (!problem.empty()) return fail(problem);
    const long id = nodeId(kInputNode);
    std::printf("Output:   %s\n", id >= 0 ? ("Kesta 3D Sound is on (node " + std::string(kInputNode) +
                                             ", id " + std::to_string(id) + ")")
                                                .c_str()
                                          : "Kesta 3D Sound is off");
    std::printf("Drop-in:  %s\n", installed ? path.c_str()
                                  : g_file_test(path.c_str(), G_FILE_TEST_EXISTS)
                                      ? (path + " (not written by kesta desktop)").c_str()
                                      : "none");
    const std::string current = metadataName("default", "default.audio.sink");
    std::printf("Default:  %s\n",
                current == kInputNode
                    ? "Kesta 3D Sound is the default output"
                    : ("not the default output (" + (current.empty() ? "none" : current) + " is)").c_str());
    kesta::Settings s;
    const bool live = id >= 0 && liveSettings(id, s);
    if (!live && installed) s = parseDropIn(text).settings;
    if (live || installed)
        std::printf("Settings: %s%s\n", describe(s).c_str(), live ? "" : " (stored; not running)");
    if (id >= 0) {
        std::string out;
        run({"pw-metadata", "-n", "settings", "0", "clock.rate"}, &out);
        const size_t at = out.find("value:'");
        long rate = at == std::string::npos ? 0 : std::atol(out.c_str() + at + 7);
        if (rate <= 0) rate = 48000;
        kesta::Processor p;
        p.prepare(static_cast<unsigned>(rate), 2, 1024);
        std::printf("Latency:  %d frames at %ld Hz (%.1f ms), PipeWire's own buffering aside\n", p.latency(),
                    rate, 1000.0 * p.latency() / static_cast<double>(rate));
    }
    return 0;
}

int set(const Options& o) {
    bool any = false;
    for (int i = 0; i < kesta::kParameterCount; ++i) any = any || o.hasSetting[i];
    if (!any) return usage("set takes one or more settings (--spread DB, --mode music|voice, ...)");
    const std::string path = dropInPath();
    const std::string text = readFile(path);
    const bool installed = ours(text);
    DropIn d = parseDropIn(text);
    d.settings = storedSettings(installed ? &d : nullptr);
    o.apply(d.settings);
    const long id = serverVersion().empty() ? -1 : nodeId(kInputNode);
    if (id >= 0 && installed && !setLive(id, d.settings, o.hasSetting))
        return fail("the Kesta output (node " + std::to_string(id) + ") did not take the settings");
    std::string why;
    if (!writeSettings(settingsPath(), d.settings, &why)) return fail("cannot save the settings: " + why);
    if (installed && !writeDropIn(d, why)) return fail(why);
    if (!o.quiet)
        std::printf("%s: %s\n",
                    id >= 0 && installed ? "Kesta 3D Sound now plays with" : "Stored for the next 'on'",
                    describe(d.settings).c_str());
    return 0;
}

// What followSettingsLive watches: the player's settings as last seen.
struct Follower {
    kesta::Settings seen;
};

// Hands what changed in the user's settings file since the last look to the
// running filter, and keeps it in the drop-in. The window writes the file on
// every change; a look every 150 ms takes a dragged slider's values in steps.
gboolean followOnce(gpointer data) {
    Follower& f = *static_cast<Follower*>(data);
    kesta::Settings now;
    if (!readSettings(settingsPath(), now)) return G_SOURCE_CONTINUE;
    bool changed[kesta::kParameterCount] = {}, any = false;
    for (Parameter p : kPlayerParameters)
        if (now.get(p) != f.seen.get(p)) changed[static_cast<int>(p)] = any = true;
    if (!any) return G_SOURCE_CONTINUE;
    const std::string text = readFile(dropInPath());
    if (!ours(text)) return G_SOURCE_REMOVE;  // turned off meanwhile
    DropIn d = parseDropIn(text);
    for (Parameter p : kPlayerParameters) d.settings.set(p, now.get(p));
    const long id = nodeId(kInputNode);
    std::string why;
    if ((id >= 0 && !setLive(id, d.settings, changed)) || !writeDropIn(d, why))
        std::fprintf(stderr, "kesta: the desktop filter did not take the change%s\n",
                     why.empty() ? "" : ("; " + why).c_str());
    f.seen = now;
    return G_SOURCE_CONTINUE;
}

}  // namespace

bool followSettingsLive() {
    const std::string text = readFile(dropInPath());
    if (!ours(text)) return false;
    // What the filter runs with: the window's settings, where they differ,
    // are handed to it at the first look.
    static Follower follower;
    follower.seen = parseDropIn(text).settings;
    g_timeout_add(150, followOnce, &follower);
    return true;
}

int desktopCommand(int argc, char** argv, int first) {
    // --default and --bundle are desktop's own; the rest are kesta's options.
    std::vector<char*> rest(argv, argv + first);
    bool makeDefault = false;
    std::string bundle;
    bool help = false;
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--default") {
            makeDefault = true;
        } else if (arg == "--bundle" || arg.rfind("--bundle=", 0) == 0) {
            if (arg == "--bundle" && i + 1 >= argc) return usage("option --bundle needs a value");
            bundle = arg == "--bundle" ? argv[++i] : arg.substr(9);
            if (bundle.empty()) return usage("--bundle takes the path of kesta.lv2");
        } else {
            rest.push_back(argv[i]);
        }
    }
    Options o;
    const std::string problem = parseOptions(static_cast<int>(rest.size()), rest.data(), first, o);
    if (!problem.empty()) return usage(problem);
    help = o.help;
    if (help) {
        std::printf(kDesktopHelp, settingsHelp(true).c_str(), settingsHelp(false).c_str());
        return 0;
    }
    if (o.args.size() != 1) return usage("desktop takes one of on, off, status, set");
    const std::string what = o.args[0];
    for (const std::string& name : o.given) {
        const bool setting = name.size() > 2 && name != "--quiet" && name != "--help" && [&] {
            for (const kesta::ParameterInfo& info : kesta::kParameters)
                if (name == std::string("--") + info.option) return true;
            return false;
        }();
        if (name == "--quiet" || (setting && (what == "on" || what == "set"))) continue;
        return usage("desktop " + what + " does not take " + name);
    }
    if ((makeDefault || !bundle.empty()) && what != "on")
        return usage("desktop " + what + " does not take " + (makeDefault ? "--default" : "--bundle"));
    if (what == "on") return on(o, makeDefault, bundle);
    if (what == "off") return off(o);
    if (what == "status") return status();
    if (what == "set") return set(o);
    return usage("unknown desktop command " + what + " (on, off, status or set)");
}
