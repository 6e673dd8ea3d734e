// The LV2 plug-ins of the bundle kesta.lv2: the stereo 3D sound effect and a
// mono-in, stereo-out mono-to-3D effect for hosts with mono tracks. Their
// ports, in the order of the shared port layouts, are described in kesta.ttl.
#include <lv2/core/lv2.h>

#include "PortAdapter.h"

namespace {

using namespace kesta::plugin_ports;

Instance* Of(LV2_Handle h) {
    return static_cast<Instance*>(h);
}

template <const Layout& layout>
LV2_Handle Instantiate(const LV2_Descriptor*, double rate, const char*, const LV2_Feature* const*) {
    return Instance::create(layout, rate);
}

void ConnectPort(LV2_Handle h, uint32_t port, void* data) {
    Of(h)->connect(port, data);
}

void Activate(LV2_Handle h) {
    Of(h)->activate();
}

void Run(LV2_Handle h, uint32_t frames) {
    Of(h)->run(frames);
}

void Deactivate(LV2_Handle) {}

void Cleanup(LV2_Handle h) {
    delete Of(h);
}

const void* ExtensionData(const char*) {
    return nullptr;
}

const LV2_Descriptor kDescriptors[] = {
    {KESTA_LV2_URI_BASE "stereo", Instantiate<kStereoLayout>, ConnectPort, Activate, Run, Deactivate, Cleanup,
     ExtensionData},
    {KESTA_LV2_URI_BASE "mono", Instantiate<kMonoLayout>, ConnectPort, Activate, Run, Deactivate, Cleanup,
     ExtensionData},
};

}  // namespace

LV2_SYMBOL_EXPORT const LV2_Descriptor* lv2_descriptor(uint32_t index) {
    return index < sizeof kDescriptors / sizeof *kDescriptors ? &kDescriptors[index] : nullptr;
}
