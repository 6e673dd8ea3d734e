#include "KestaEffect.h"

#include <libaudcore/preferences.h>
#include <libaudcore/runtime.h>

#include <algorithm>
#include <cmath>

#include "Settings.h"

namespace kesta::audacious {
namespace {

void settingsChanged();

// The preferences, with the labels of the XMMS plug-in's window: a column
// for mono and one for stereo, the shared switches below.
const PreferencesWidget kMonoWidgets[] = {
    WidgetRadio(InfoOf(Parameter::kMode).labels[1],
                WidgetInt(kSection, KeyOf(Parameter::kMode), settingsChanged), {kModeMusic}),
    WidgetRadio(InfoOf(Parameter::kMode).labels[0],
                WidgetInt(kSection, KeyOf(Parameter::kMode), settingsChanged), {kModeVoice}),
    WidgetCheck("Enable", WidgetBool(kSection, KeyOf(Parameter::kMonoTo3D), settingsChanged)),
};

const PreferencesWidget kStereoWidgets[] = {
    WidgetSpin("Spread:", WidgetFloat(kSection, KeyOf(Parameter::kSpread), settingsChanged),
               {Processor::kMinSpreadDb, Processor::kMaxSpreadDb, 0.5, InfoOf(Parameter::kSpread).unit}),
    WidgetCheck("Enable", WidgetBool(kSection, KeyOf(Parameter::kWidening), settingsChanged)),
};

// A framed column under a title; Audacious draws the title on the frame.
constexpr PreferencesWidget column(const char* title, ArrayRef<PreferencesWidget> widgets) {
    return {PreferencesWidget::Box, title, false, {}, WidgetVBox{widgets, false, true}};
}

const PreferencesWidget kColumns[] = {
    column("Mono to 3D:", {kMonoWidgets}),
    column("Stereo to 3D:", {kStereoWidgets}),
};

const PreferencesWidget kWidgets[] = {
    WidgetBox({{kColumns}, true, false}),
    WidgetCheck("Enable Subtone", WidgetBool(kSection, KeyOf(Parameter::kSubtone), settingsChanged)),
    WidgetCheck("Treat stereo that carries a mono recording as mono",
                WidgetBool(kSection, KeyOf(Parameter::kAutoMono), settingsChanged)),
    WidgetCheck("Limiter (no sample above -1 dBFS)",
                WidgetBool(kSection, KeyOf(Parameter::kLimiter), settingsChanged)),
    WidgetCheck(InfoOf(Parameter::kMatch).name,
                WidgetBool(kSection, KeyOf(Parameter::kMatch), settingsChanged)),
};

const PluginPreferences kPreferences = {{kWidgets}, nullptr, nullptr, nullptr};

}  // namespace

const char KestaEffect::kName[] = "Orvane Kesta";

const PluginInfo KestaEffect::kInfo = {
    kName,
    "kesta",
    "Orvane Kesta: 3D sound.\n\n"
    "Mono becomes a spatialised stereo image (Music or Voice); stereo is widened "
    "by the spread. Enable Subtone keeps the bass out of the widening.",
    &kPreferences,
    0,
};

bool KestaEffect::init() {
    registerDefaults();
    return true;
}

void KestaEffect::cleanup() {
    active_ = false;
    out_.clear();
}

void KestaEffect::start(int& channels, int& rate) {
    processor_.setSettings(readSettings());
    inChannels_ = channels;
    latencyPending_ = ringPending_ = false;
    active_ = rate > 0 && (channels == 1 || channels == 2) &&
              processor_.prepare(static_cast<unsigned>(rate), channels, kMaxBlock);
    if (!active_) {
        latency_ = ringFrames_ = 0;
        delayMs_ = 0;
        return;
    }
    channels = 2;
    latency_ = processor_.latency();
    ringFrames_ = static_cast<int>(std::lround(kRingSeconds * rate));
    delayMs_ = static_cast<int>(std::lround(1000.0 * latency_ / rate));
    // Room for the largest usual block and a play-out, so that the playback
    // thread does not allocate.
    out_.resize(2 * (kMaxBlock + latency_ + ringFrames_));
    out_.resize(0);
}

Index<float>& KestaEffect::run(Index<float>& data) {
    const int frames = data.len() / inChannels_;
    if (frames > 0) latencyPending_ = ringPending_ = true;
    if (inChannels_ == 2) {
        processor_.process(data.begin(), data.begin(), frames);
        return data;
    }
    out_.resize(2 * frames);
    processor_.process(data.begin(), out_.begin(), frames);
    return out_;
}

Index<float>& KestaEffect::process(Index<float>& data) {
    if (!active_) return data;
    return run(data);
}

bool KestaEffect::flush(bool) {
    if (active_) processor_.reset();
    latencyPending_ = ringPending_ = false;
    return true;
}

void KestaEffect::playOut(Index<float>& out, int frames) {
    static const float silence[2 * 256] = {};
    const int chunk = static_cast<int>(sizeof silence / sizeof silence[0]) / inChannels_;
    int pos = out.len();
    out.resize(pos + 2 * frames);
    for (int done = 0; done < frames;) {
        const int n = std::min(chunk, frames - done);
        processor_.process(silence, out.begin() + pos, n);
        pos += 2 * n;
        done += n;
    }
}

// Audacious finishes at the end of every track, and once more at the end of
// the playlist. At the end of a track the last input frames still in the
// processor come out (latency() frames); the ringing after them is played
// out only at the end of the playlist, so that a following track starts
// without a gap.
Index<float>& KestaEffect::finish(Index<float>& data, bool endOfPlaylist) {
    if (!active_) return data;
    Index<float>& out = run(data);
    int frames = 0;
    if (latencyPending_) frames += latency_;
    if (endOfPlaylist && ringPending_) frames += ringFrames_;
    latencyPending_ = false;
    ringPending_ = ringPending_ && !endOfPlaylist;
    if (frames == 0) return out;
    if (&out != &out_) {
        out_.resize(0);
        out_.insert(out.begin(), 0, out.len());
    }
    playOut(out_, frames);
    return out_;
}

int KestaEffect::adjust_delay(int delay) {
    return delay + delayMs_.load(std::memory_order_relaxed);
}

void KestaEffect::applySettings() {
    processor_.setSettings(readSettings());
}

}  // namespace kesta::audacious

// The one instance that Audacious finds by this name.
__attribute__((visibility("default"))) kesta::audacious::KestaEffect aud_plugin_instance;

namespace kesta::audacious {
namespace {
void settingsChanged() {
    aud_plugin_instance.applySettings();
}
}  // namespace
}  // namespace kesta::audacious
