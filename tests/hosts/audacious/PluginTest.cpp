// The plug-in as Audacious loads it (the shared object's aud_plugin_instance),
// driven in-process through libaudcore's configuration: the stream calls,
// and the preferences reaching a running stream.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <libaudcore/plugin.h>
#include <libaudcore/preferences.h>
#include <libaudcore/runtime.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "Processor.h"

namespace kesta::test {
namespace {

EffectPlugin& loadPlugin() {
    static EffectPlugin* plugin = [] {
        void* module = dlopen(KESTA_AUDACIOUS_PLUGIN, RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(module, nullptr) << dlerror();
        auto* p = module ? static_cast<EffectPlugin*>(dlsym(module, "aud_plugin_instance")) : nullptr;
        EXPECT_NE(p, nullptr);
        if (p) {
            EXPECT_TRUE(p->init());
        }
        return p;
    }();
    if (!plugin) std::abort();
    return *plugin;
}

// Depth-first search of the preferences for the widget of a type and label.
const PreferencesWidget* findWidget(ArrayRef<PreferencesWidget> widgets, PreferencesWidget::Type type,
                                    const char* label) {
    for (const PreferencesWidget& w : widgets) {
        if (w.type == type && w.label && std::strcmp(w.label, label) == 0) return &w;
        if (w.type == PreferencesWidget::Box)
            if (const PreferencesWidget* found = findWidget(w.data.box.widgets, type, label)) return found;
    }
    return nullptr;
}

const PreferencesWidget& widget(PreferencesWidget::Type type, const char* label,
                                const char* within = nullptr) {
    ArrayRef<PreferencesWidget> widgets = loadPlugin().info.prefs->widgets;
    if (within) {
        const PreferencesWidget* box = findWidget(widgets, PreferencesWidget::Box, within);
        if (!box) std::abort();
        widgets = box->data.box.widgets;
    }
    const PreferencesWidget* w = findWidget(widgets, type, label);
    EXPECT_NE(w, nullptr) << label;
    if (!w) std::abort();
    return *w;
}

std::vector<float> testSignal(int channels, int frames) {
    std::vector<float> s(static_cast<size_t>(channels) * static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            s[static_cast<size_t>(i * channels + c)] =
                0.4f * static_cast<float>(std::sin(0.031 * i * (c + 1)) + 0.5 * std::sin(0.0021 * i));
    return s;
}

// Hands the plug-in blocks of the given sizes (in frames) cut from input, as
// Audacious does, and collects everything it gives back.
std::vector<float> play(EffectPlugin& p, const std::vector<float>& input, int channels,
                        const std::vector<int>& blocks, bool finish = false) {
    std::vector<float> out;
    size_t pos = 0;
    for (size_t b = 0; b < blocks.size(); ++b) {
        const size_t n = static_cast<size_t>(blocks[b] * channels);
        Index<float> data;
        data.insert(input.data() + pos, 0, static_cast<int>(n));
        pos += n;
        Index<float>& result = finish && b + 1 == blocks.size() ? p.finish(data, false) : p.process(data);
        out.insert(out.end(), result.begin(), result.end());
    }
    return out;
}

std::vector<float> runCore(Processor& core, const std::vector<float>& input, int channels, size_t from,
                           int frames) {
    std::vector<float> out(2 * static_cast<size_t>(frames));
    core.process(input.data() + from * static_cast<size_t>(channels), out.data(), frames);
    return out;
}

TEST(AudaciousPlugin, announcesItselfWithTheLabelsOfTheXmmsWindow) {
    EffectPlugin& p = loadPlugin();
    EXPECT_EQ(p.type, PluginType::Effect);
    EXPECT_STREQ(p.info.name, "Orvane Kesta");
    EXPECT_FALSE(p.preserves_format);  // mono becomes stereo

    const PreferencesWidget& music = widget(PreferencesWidget::RadioButton, "Music", "Mono to 3D:");
    const PreferencesWidget& voice = widget(PreferencesWidget::RadioButton, "Voice", "Mono to 3D:");
    EXPECT_EQ(music.data.radio_btn.value, 8);
    EXPECT_EQ(voice.data.radio_btn.value, 0);
    EXPECT_STREQ(music.cfg.name, voice.cfg.name);
    widget(PreferencesWidget::CheckButton, "Enable", "Mono to 3D:");
    widget(PreferencesWidget::CheckButton, "Enable", "Stereo to 3D:");
    widget(PreferencesWidget::CheckButton, "Enable Subtone");

    const PreferencesWidget& spread = widget(PreferencesWidget::SpinButton, "Spread:", "Stereo to 3D:");
    EXPECT_EQ(spread.data.spin_btn.min, -18.0);
    EXPECT_EQ(spread.data.spin_btn.max, 0.0);
    EXPECT_EQ(spread.data.spin_btn.step, 0.5);
    EXPECT_STREQ(spread.data.spin_btn.right_label, "dB");
}

TEST(AudaciousPlugin, monoAndStereoComeOutStereoOtherLayoutsPassThroughUntouched) {
    EffectPlugin& p = loadPlugin();
    const struct { int channels, announced; } cases[] = {{1, 2}, {2, 2}, {3, 3}, {6, 6}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.channels);
        int channels = c.channels, rate = 44100;
        p.start(channels, rate);
        EXPECT_EQ(channels, c.announced);
        EXPECT_EQ(rate, 44100);
        const std::vector<float> input = testSignal(c.channels, 600);
        const std::vector<float> out = play(p, input, c.channels, {600});
        EXPECT_EQ(out.size(), 600u * static_cast<size_t>(c.announced));
        if (c.channels > 2)
            EXPECT_EQ(out, input);
        else
            EXPECT_NE(out, input);
    }
}

// Whatever blocks Audacious hands over, empty ones among them, the stream is
// the core's over the whole input. The end of a track brings out what the
// processor still holds; the end of the playlist its ringing too, once.
TEST(AudaciousPlugin, everyBlockingGivesTheCoresStreamAndTheTailOnce) {
    EffectPlugin& p = loadPlugin();
    const std::vector<int> blocks = {441, 4096, 0, 1, 5000, 1024, 0};
    int total = 0;
    for (int b : blocks) total += b;
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        const std::vector<float> input = testSignal(channels, total);
        int announced = channels, rate = 48000;
        p.start(announced, rate);
        std::vector<float> out = play(p, input, channels, blocks, true);

        Processor core;
        ASSERT_TRUE(core.prepare(48000, channels, 4096));
        const int latency = core.latency(), ring = 1440;  // 30 ms
        std::vector<float> padded(input);
        padded.resize(input.size() + static_cast<size_t>((latency + ring) * channels), 0.0f);
        const std::vector<float> expected = runCore(core, padded, channels, 0, total + latency + ring);
        EXPECT_EQ(out, std::vector<float>(expected.begin(), expected.begin() + 2 * (total + latency)));

        Index<float> empty;
        Index<float>& ringing = p.finish(empty, true);
        out.insert(out.end(), ringing.begin(), ringing.end());
        EXPECT_EQ(out, expected);
        // Nothing more without new audio.
        EXPECT_EQ(p.finish(empty, false).len(), 0);
        EXPECT_EQ(p.finish(empty, true).len(), 0);
        EXPECT_EQ(p.adjust_delay(100), 100 + static_cast<int>(std::lround(1000.0 * latency / 48000)));
    }
}

TEST(AudaciousPlugin, flushStartsTheStreamAfresh) {
    EffectPlugin& p = loadPlugin();
    for (int channels : {1, 2}) {
        SCOPED_TRACE(channels);
        int announced = channels, rate = 44100;
        p.start(announced, rate);
        const std::vector<float> input = testSignal(channels, 2000);
        play(p, input, channels, {1000});
        EXPECT_TRUE(p.flush(false));
        const std::vector<float> after =
            play(p, std::vector<float>(input.begin() + 1000 * channels, input.end()), channels, {1000});
        Processor core;
        ASSERT_TRUE(core.prepare(44100, channels, 4096));
        EXPECT_EQ(after, runCore(core, input, channels, 1000, 1000));
    }
}

// A change in the preferences reaches a running stream at its next block,
// without a restart: the widget stores the value and then calls its
// callback, as both of Audacious's interfaces do.
void setThroughWidget(const PreferencesWidget& w, double value) {
    switch (w.cfg.type) {
        case WidgetConfig::Bool:
            w.cfg.set_bool(value != 0.0);
            break;
        case WidgetConfig::Int:
            w.cfg.set_int(static_cast<int>(value));
            break;
        case WidgetConfig::Float:
            w.cfg.set_float(value);
            break;
        default:
            ADD_FAILURE() << "unexpected widget binding";
            return;
    }
    ASSERT_NE(w.cfg.callback, nullptr) << w.label;
    w.cfg.callback();
}

TEST(AudaciousPlugin, preferenceChangesReachTheRunningStream) {
    EffectPlugin& p = loadPlugin();
    const struct {
        int channels;
        PreferencesWidget::Type type;
        const char* label;
        const char* within;
        double value, before;
        void (*onCore)(Processor&);
    } changes[] = {
        {2, PreferencesWidget::SpinButton, "Spread:", nullptr, -9.5, 0.0,
         [](Processor& c) { c.setSpread(-9.5f); }},
        {2, PreferencesWidget::CheckButton, "Enable", "Stereo to 3D:", 0, 1,
         [](Processor& c) { c.setWidening(false); }},
        {1, PreferencesWidget::RadioButton, "Voice", nullptr, 0, 8, [](Processor& c) { c.setMusic(false); }},
        {1, PreferencesWidget::CheckButton, "Enable", "Mono to 3D:", 0, 1,
         [](Processor& c) { c.setMonoTo3D(false); }},
        {2, PreferencesWidget::CheckButton, "Enable Subtone", nullptr, 0, 1,
         [](Processor& c) { c.setSubtone(false); }},
        {2, PreferencesWidget::CheckButton, "Treat stereo that carries a mono recording as mono", nullptr, 0,
         1, [](Processor& c) { c.setAutoMono(false); }},
        {2, PreferencesWidget::CheckButton, "Match loudness", nullptr, 0, 1,
         [](Processor& c) { c.setMatch(false); }},
    };
    for (const auto& c : changes) {
        SCOPED_TRACE(std::string(c.within ? c.within : "") + c.label);
        const PreferencesWidget& w = widget(c.type, c.label, c.within);
        int channels = c.channels, rate = 44100;
        p.start(channels, rate);
        // Equal channels, so that automatic mono has something to change.
        // Long enough before the change for automatic mono to have taken over.
        const int before = 6 * 4096;
        std::vector<float> input = testSignal(c.channels, before + 4096);
        if (c.type == PreferencesWidget::CheckButton && std::strstr(c.label, "mono recording"))
            for (size_t i = 0; i + 1 < input.size(); i += 2) input[i + 1] = input[i];
        play(p, input, c.channels, std::vector<int>(6, 4096));
        setThroughWidget(w, c.value);
        const std::vector<float> after =
            play(p, std::vector<float>(input.begin() + before * c.channels, input.end()), c.channels, {4096});

        Processor core, unchanged;
        ASSERT_TRUE(core.prepare(44100, c.channels, 4096));
        ASSERT_TRUE(unchanged.prepare(44100, c.channels, 4096));
        runCore(core, input, c.channels, 0, before);
        runCore(unchanged, input, c.channels, 0, before);
        c.onCore(core);
        EXPECT_EQ(after, runCore(core, input, c.channels, before, 4096));
        EXPECT_NE(after, runCore(unchanged, input, c.channels, before, 4096))
            << "the change made no difference";
        setThroughWidget(w, c.before);
    }
}

}  // namespace
}  // namespace kesta::test
