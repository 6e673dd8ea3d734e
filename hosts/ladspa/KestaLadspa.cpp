// kesta_ladspa.so: the stereo 3D sound effect as a LADSPA plug-in.
//
// Two plug-ins: label "kesta_stereo", two audio inputs and two outputs, with
// automatic mono on by default, so mono material that a host has made
// stereo (sox `channels 2`) gets the mono-to-3D treatment; and "kesta_mono",
// one input and two outputs.
//
// Their names end in " (LADSPA)": hosts that load both kinds (Audacity, with
// the kesta-lv2 package beside this one) list a plug-in under its name and
// would otherwise show, and run by its name, one of two same-named entries;
// the LV2 ones are the better choice there, as those hosts take their
// latency out. Scripts and command lines name the plug-ins by label.
//
// Unique IDs: this project uses 0x4B4550 to 0x4B455F (4932944 to 4932959,
// "KEP" onwards); the stereo plug-in is 0x4B4553, the mono one 0x4B4554.
// IDs once given out are never reused for another plug-in, since hosts store
// them in their projects.
#include <ladspa.h>

#include <string>

#include "PortAdapter.h"

namespace {

using namespace kesta::plugin_ports;

constexpr unsigned long kStereoId = 0x4B4553;
constexpr unsigned long kMonoId = 0x4B4554;

// Port descriptors, names and hints of a layout, built once from the
// shared control table.
struct Ports {
    static constexpr int kMax = 16;
    // Two audio inputs, two outputs, every control and the latency port.
    static_assert(2 + 2 + kesta::kParameterCount + 1 <= kMax, "the stereo plug-in's ports must fit");
    LADSPA_PortDescriptor descriptors[kMax];
    const char* names[kMax];
    LADSPA_PortRangeHint hints[kMax];
    std::string controlNames[kMax];

    explicit Ports(const Layout& layout) {
        static const char* const kStereoAudio[] = {"In L", "In R", "Out L", "Out R"};
        static const char* const kMonoAudio[] = {"In", "Out L", "Out R"};
        const char* const* audio = layout.inputs == 2 ? kStereoAudio : kMonoAudio;
        unsigned long p = 0;
        for (; p < layout.firstControl(); ++p) {
            const bool input = p < static_cast<unsigned long>(layout.inputs);
            descriptors[p] = LADSPA_PORT_AUDIO | (input ? LADSPA_PORT_INPUT : LADSPA_PORT_OUTPUT);
            names[p] = audio[p];
            hints[p] = {0, 0.0f, 0.0f};
        }
        for (int i = 0; i < layout.controlCount; ++i, ++p) {
            const kesta::ParameterInfo& c = kesta::InfoOf(layout.controls[i]);
            descriptors[p] = LADSPA_PORT_CONTROL | LADSPA_PORT_INPUT;
            controlNames[p] = Name(c);
            names[p] = controlNames[p].c_str();
            hints[p] = {Hint(c), c.minimum, c.maximum};
        }
        // sox asks for a value for every control port, outputs included, and
        // fills in only those that have a default.
        descriptors[p] = LADSPA_PORT_CONTROL | LADSPA_PORT_OUTPUT;
        names[p] = "latency";
        hints[p] = {LADSPA_HINT_DEFAULT_0, 0.0f, 0.0f};
    }

    // LADSPA has no units nor value labels: the name says them, as in
    // "Spread (dB)" and "Mode (0 = Voice, 1 = Music)".
    static std::string Name(const kesta::ParameterInfo& c) {
        std::string name = c.name;
        if (*c.unit) name = name + " (" + c.unit + ")";
        if (c.kind == kesta::ParameterInfo::kEnumeration)
            name = name + " (0 = " + c.labels[0] + ", 1 = " + c.labels[1] + ")";
        return name;
    }

    static LADSPA_PortRangeHintDescriptor Hint(const kesta::ParameterInfo& c) {
        switch (c.kind) {
            // On/off controls are whole numbers from 0 to 1 rather than
            // LADSPA_HINT_TOGGLED: GStreamer gives every toggled port the
            // default false, whatever the hint says.
            case kesta::ParameterInfo::kToggle:
            case kesta::ParameterInfo::kEnumeration:
                return LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_BOUNDED_ABOVE | LADSPA_HINT_INTEGER |
                       (c.fallback > 0.0f ? LADSPA_HINT_DEFAULT_1 : LADSPA_HINT_DEFAULT_0);
            case kesta::ParameterInfo::kDecibels:
                break;
        }
        const LADSPA_PortRangeHintDescriptor def = c.fallback == 0.0f        ? LADSPA_HINT_DEFAULT_0
                                                   : c.fallback == c.maximum ? LADSPA_HINT_DEFAULT_MAXIMUM
                                                   : c.fallback == c.minimum ? LADSPA_HINT_DEFAULT_MINIMUM
                                                                             : LADSPA_HINT_DEFAULT_MIDDLE;
        return LADSPA_HINT_BOUNDED_BELOW | LADSPA_HINT_BOUNDED_ABOVE | def;
    }
};

Instance* Of(LADSPA_Handle h) {
    return static_cast<Instance*>(h);
}

LADSPA_Handle Instantiate(const LADSPA_Descriptor* descriptor, unsigned long rate) {
    const auto& layout = *static_cast<const Layout*>(descriptor->ImplementationData);
    return Instance::create(layout, static_cast<double>(rate));
}

void ConnectPort(LADSPA_Handle h, unsigned long port, LADSPA_Data* data) {
    Of(h)->connect(port, data);
}

void Activate(LADSPA_Handle h) {
    Of(h)->activate();
}

void Run(LADSPA_Handle h, unsigned long frames) {
    Of(h)->run(frames);
}

void Cleanup(LADSPA_Handle h) {
    delete Of(h);
}

// The descriptor of one plug-in over layout, whose ports are ports.
LADSPA_Descriptor DescriptorOf(unsigned long id, const char* label, const char* name, const Layout& layout,
                               const Ports& ports) {
    return {id,
            label,
            LADSPA_PROPERTY_HARD_RT_CAPABLE,
            name,
            "Orvane",
            "Copyright Orvane",
            layout.portCount(),
            ports.descriptors,
            ports.names,
            ports.hints,
            const_cast<Layout*>(&layout),
            Instantiate,
            ConnectPort,
            Activate,
            Run,
            nullptr,  // run_adding
            nullptr,  // set_run_adding_gain
            nullptr,  // deactivate
            Cleanup};
}

const Ports kStereoPorts(kStereoLayout);
const LADSPA_Descriptor kStereo =
    DescriptorOf(kStereoId, "kesta_stereo", "Kesta 3D Sound (stereo) (LADSPA)", kStereoLayout, kStereoPorts);

// The mono-to-3D engine alone, one input and two outputs: for GStreamer,
// whose LV2 elements cannot change the channel count, and hosts with mono
// tracks. sox cannot run a plug-in with more outputs than inputs (it aborts):
// there the stereo plug-in after `channels 2` does the same.
const Ports kMonoPorts(kMonoLayout);
const LADSPA_Descriptor kMono =
    DescriptorOf(kMonoId, "kesta_mono", "Kesta 3D Sound (mono to stereo) (LADSPA)", kMonoLayout, kMonoPorts);

}  // namespace

extern "C" __attribute__((visibility("default"))) const LADSPA_Descriptor* ladspa_descriptor(
    unsigned long index) {
    return index == 0 ? &kStereo : index == 1 ? &kMono : nullptr;
}
