#include "PortAdapter.h"

#include <climits>
#include <cmath>
#include <cstring>

namespace kesta {
namespace plugin_ports {

const ControlInfo kControls[kControlCount] = {
    {"spread", "Spread (dB)", ControlInfo::kDecibels, Processor::kMinSpreadDb, Processor::kMaxSpreadDb, 0.0f},
    {"mode", "Mode (0 = Voice, 1 = Music)", ControlInfo::kModeChoice, kVoice, kMusic, kMusic},
    {"mono_to_3d", "Mono-to-3D", ControlInfo::kToggle, 0.0f, 1.0f, 1.0f},
    {"widening", "Widening", ControlInfo::kToggle, 0.0f, 1.0f, 1.0f},
    {"subtone", "Subtone", ControlInfo::kToggle, 0.0f, 1.0f, 1.0f},
    {"auto_mono", "Automatic mono", ControlInfo::kToggle, 0.0f, 1.0f, 1.0f},
    {"limiter", "Limiter", ControlInfo::kToggle, 0.0f, 1.0f, 1.0f},
};

namespace {

// Controls added later come last, so that positional values (sox) keep
// their meaning.
const Control kStereoControls[] = {kSpread, kMode, kMonoTo3D, kWidening, kSubtone, kAutoMono, kLimiter};
const Control kMonoControls[] = {kMode, kMonoTo3D, kSubtone, kLimiter};

// The value of control c, or its default when there is none to read.
float ValueOf(const float* const* values, Control c) {
    const float* v = values[c];
    return v && std::isfinite(*v) ? *v : kControls[c].fallback;
}

bool Same(const Settings& a, const Settings& b) {
    return a.monoTo3D == b.monoTo3D && a.music == b.music && a.widen == b.widen && a.spreadDb == b.spreadDb &&
           a.subtone == b.subtone && a.autoMono == b.autoMono && a.limiter == b.limiter;
}

}  // namespace

const Layout kStereoLayout = {2, kStereoControls,
                              static_cast<int>(sizeof kStereoControls / sizeof *kStereoControls)};
const Layout kMonoLayout = {1, kMonoControls, static_cast<int>(sizeof kMonoControls / sizeof *kMonoControls)};

Settings SettingsFrom(const float* const* values) {
    Settings s;
    s.spreadDb = ValueOf(values, kSpread);
    s.music = ValueOf(values, kMode) >= 0.5f * (kVoice + kMusic);
    s.monoTo3D = ValueOf(values, kMonoTo3D) > 0.0f;
    s.widen = ValueOf(values, kWidening) > 0.0f;
    s.subtone = ValueOf(values, kSubtone) > 0.0f;
    s.autoMono = ValueOf(values, kAutoMono) > 0.0f;
    s.limiter = ValueOf(values, kLimiter) > 0.0f;
    return s;
}

Instance::Instance(const Layout& layout) : layout_(layout) {}

bool Instance::open(double rate) {
    if (!std::isfinite(rate) || rate < 1.0 || rate > static_cast<double>(UINT_MAX) ||
        rate != std::floor(rate))
        return false;
    return processor_.prepare(static_cast<unsigned>(rate), layout_.inputs, kPiece);
}

void Instance::connect(unsigned long port, void* data) {
    const auto inputs = static_cast<unsigned long>(layout_.inputs);
    if (port < inputs) {
        inputs_[port] = static_cast<const float*>(data);
    } else if (port < layout_.firstControl()) {
        outputs_[port - inputs] = static_cast<float*>(data);
    } else if (port < layout_.latencyPort()) {
        controls_[layout_.controls[port - layout_.firstControl()]] = static_cast<const float*>(data);
    } else if (port == layout_.latencyPort()) {
        // Written at once as well: Audacity 3.2 reads it before it has run
        // or activated the plug-in, and shifts the result by what it finds.
        // The latency is fixed from open, so the value is already the one a
        // run would report.
        latency_ = static_cast<float*>(data);
        reportLatency();
    }
}

void Instance::applyControls() {
    const Settings s = SettingsFrom(controls_);
    if (haveApplied_ && Same(s, applied_)) return;
    processor_.setSettings(s);
    applied_ = s;
    haveApplied_ = true;
}

void Instance::reportLatency() {
    if (latency_) *latency_ = static_cast<float>(processor_.latency());
}

void Instance::activate() {
    fresh_ = true;
    reportLatency();
}

void Instance::run(unsigned long frames) {
    applyControls();
    if (fresh_) {
        // Some hosts (lv2file) write the control values only after activate:
        // the state is cleared here, so that the first block plays with them
        // at once instead of fading over from the defaults.
        processor_.reset();
        fresh_ = false;
    }
    reportLatency();
    if (frames == 0) return;

    const int channels = layout_.inputs;
    bool connected = outputs_[0] && outputs_[1];
    for (int c = 0; c < channels; ++c) connected = connected && inputs_[c];
    if (!connected) {
        for (float* out : outputs_)
            if (out) std::memset(out, 0, frames * sizeof(float));
        return;
    }

    const float* in[2] = {inputs_[0], inputs_[1]};
    float* out[2] = {outputs_[0], outputs_[1]};
    // The processor works in place only on a channel's own buffer, and may
    // write one output before it has read every input: an input whose buffer
    // is also the other side's output is copied first.
    bool crossed = false;
    for (int c = 0; c < channels; ++c)
        if (in[c] == out[1 - c]) crossed = true;

    while (frames > 0) {
        const int n = frames > static_cast<unsigned long>(kPiece) ? kPiece : static_cast<int>(frames);
        const float* source[2] = {in[0], in[1]};
        if (crossed) {
            for (int c = 0; c < channels; ++c) {
                std::memcpy(scratch_[c], in[c], static_cast<std::size_t>(n) * sizeof(float));
                source[c] = scratch_[c];
            }
        }
        processor_.processPlanar(source, out, n);
        for (int c = 0; c < channels; ++c) in[c] += n;
        out[0] += n;
        out[1] += n;
        frames -= static_cast<unsigned long>(n);
    }
}

}  // namespace plugin_ports
}  // namespace kesta
