// What the LADSPA and the LV2 plug-ins share: one plug-in instance as both
// interfaces see it (numbered ports, each connected to a pointer that is read
// or written on every run) over one kesta::Processor.
//
// Port numbers of a layout: the audio inputs first (1 or 2), then the left
// and right audio outputs, then the layout's control inputs in the order it
// lists them, and last the `latency` control output (frames).
//
// Threads: the host calls connect, activate and run on its audio thread (or
// while no audio runs); none of them allocates, locks or throws. open may
// allocate.
#pragma once

#include <cstddef>
#include <cstdint>

#include "Processor.h"

namespace kesta {
namespace plugin_ports {

struct Layout {
    int inputs;                 // audio inputs, 1 or 2; there are always 2 outputs
    const Parameter* controls;  // control inputs in port order
    int controlCount;

    unsigned long portCount() const { return static_cast<unsigned long>(inputs + 2 + controlCount + 1); }
    unsigned long firstControl() const { return static_cast<unsigned long>(inputs + 2); }
    unsigned long latencyPort() const { return firstControl() + static_cast<unsigned long>(controlCount); }
};

// The stereo plug-in: In L, In R, Out L, Out R, every control, latency.
extern const Layout kStereoLayout;
// The mono-in, stereo-out plug-in: In, Out L, Out R, mode, mono-to-3D,
// Subtone, limiter, match loudness, latency.
extern const Layout kMonoLayout;

class Instance {
  public:
    // Largest piece handed to the processor at once; longer runs are cut.
    static constexpr int kPiece = 4096;

    explicit Instance(const Layout& layout);

    // A new instance opened at rate (see open), or null when it cannot be
    // opened or memory cannot be had; never throws. The plug-ins' instantiate.
    static Instance* create(const Layout& layout, double rate);

    // Prepares the processor for rate Hz, any whole number of Hz from 1 up
    // (the filters are made for 8 to 192 kHz; other rates take the nearest
    // ones); false for any other rate (0, a fraction, not a number), or
    // when memory cannot be had.
    bool open(double rate);

    // Connects port to data (an array of samples for an audio port, one value
    // for a control port). Ports out of range are ignored.
    void connect(unsigned long port, void* data);

    // Starts the stream anew: the next run begins from silence, with the
    // control values it finds applied at once (no glide or fade from what
    // played before, nor from the defaults). Instances start so.
    void activate();

    // frames frames from the input ports into the output ports, after taking
    // over the control values. Every audio output may share its buffer with
    // any input (in-place hosts). With an audio port unconnected the outputs
    // that are connected are silenced.
    void run(unsigned long frames);

    const Processor& processor() const { return processor_; }

  private:
    void applyControls();
    void reportLatency();

    const Layout& layout_;
    Processor processor_;
    const float* inputs_[2] = {nullptr, nullptr};
    float* outputs_[2] = {nullptr, nullptr};
    const float* controls_[kParameterCount] = {};
    float* latency_ = nullptr;
    float lastValues_[kParameterCount] = {};  // the control values last handed over
    bool written_ = false;
    bool fresh_ = true;  // the next run starts the stream
    // Copies of the inputs for hosts that hand an input's buffer to the other
    // side's output, which processing would overwrite before reading.
    float scratch_[2][kPiece];
};

}  // namespace plugin_ports
}  // namespace kesta
