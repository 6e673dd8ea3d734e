#include "PortAdapter.h"

#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>

namespace kesta {
namespace plugin_ports {

namespace {

// The stereo plug-in has every control, in the table's order (controls
// added later come last, so that positional values, sox's, keep their
// meaning); the mono one, in the same order, those that act on a mono
// stream.
constexpr int kMonoCount = [] {
    int n = 0;
    for (const ParameterInfo& info : kParameters) n += info.stereoOnly ? 0 : 1;
    return n;
}();

template <int Count>
constexpr std::array<Parameter, Count> Controls(bool stereo) {
    std::array<Parameter, Count> controls{};
    std::size_t n = 0;
    for (int i = 0; i < kParameterCount; ++i)
        if (stereo || !kParameters[i].stereoOnly) controls[n++] = static_cast<Parameter>(i);
    return controls;
}

constexpr std::array<Parameter, kParameterCount> kStereoControls = Controls<kParameterCount>(true);
constexpr std::array<Parameter, kMonoCount> kMonoControls = Controls<kMonoCount>(false);

}  // namespace

const Layout kStereoLayout = {2, kStereoControls.data(), kParameterCount};
const Layout kMonoLayout = {1, kMonoControls.data(), kMonoCount};

Instance::Instance(const Layout& layout) : layout_(layout) {}

Instance* Instance::create(const Layout& layout, double rate) {
    auto* instance = new (std::nothrow) Instance(layout);
    if (!instance) return nullptr;
    bool opened = false;
    try {
        opened = instance->open(rate);
    } catch (...) {
    }
    if (!opened) {
        delete instance;
        return nullptr;
    }
    return instance;
}

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
        controls_[static_cast<int>(layout_.controls[port - layout_.firstControl()])] =
            static_cast<const float*>(data);
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
    // Most runs find every control as the last one did, which a look at the
    // bits tells at the cost of a few loads (a host may run one frame at a
    // time); otherwise the values go over as they are, and the processor
    // tells what they change. (A control not connected reads as not a
    // number: the default.)
    float values[kParameterCount];
    for (int i = 0; i < kParameterCount; ++i) values[i] = controls_[i] ? *controls_[i] : NAN;
    if (written_ && std::memcmp(values, lastValues_, sizeof values) == 0) return;
    std::memcpy(lastValues_, values, sizeof values);
    written_ = true;
    processor_.setValues(values);
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
