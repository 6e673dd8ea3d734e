// The effect plug-in for Audacious 4: one float processor over the stream.
//
// Mono and stereo streams go through the processor and come out stereo (a
// mono stream is announced as stereo at start); any other channel count
// passes through untouched. Audacious calls start, process, flush and finish
// one at a time on its playback thread; the preferences run on the main
// thread and reach the processor through its thread-safe setters.
#pragma once

#include <libaudcore/plugin.h>

#include <atomic>

#include "Processor.h"

namespace kesta::audacious {

class KestaEffect : public EffectPlugin {
  public:
    static const char kName[];
    static const PluginInfo kInfo;
    // The largest block Audacious hands an effect; larger ones still work
    // but may grow the output buffer once.
    static constexpr int kMaxBlock = 4096;

    KestaEffect() : EffectPlugin(kInfo, kOrder, false) {}

    bool init() override;
    void cleanup() override;

    void start(int& channels, int& rate) override;
    Index<float>& process(Index<float>& data) override;
    bool flush(bool force) override;
    Index<float>& finish(Index<float>& data, bool endOfPlaylist) override;
    int adjust_delay(int delay) override;

    // Hands the settings the configuration holds now to the running stream.
    void applySettings();

  private:
    static constexpr int kOrder = 5;
    // Played out after the last track: by then the ringing of every path is
    // below -100 dB at every rate.
    static constexpr double kRingSeconds = 0.03;

    // Runs the processor over data into the stereo output: in place for a
    // stereo stream, into out_ for a mono one. Returns the output.
    Index<float>& run(Index<float>& data);
    // Appends the processor's answer to frames frames of silence to out.
    void playOut(Index<float>& out, int frames);

    Processor processor_;
    bool active_ = false;          // the stream goes through the processor
    int inChannels_ = 0;           // channels of the incoming stream
    int latency_ = 0;              // frames from input to output
    int ringFrames_ = 0;           // how long the filters and delays ring after that
    bool latencyPending_ = false;  // audio has gone in since the last play-out
    bool ringPending_ = false;     // ... and the ringing has not been played out
    std::atomic<int> delayMs_{0};  // the processor's delay, read by other threads
    Index<float> out_;
};

}  // namespace kesta::audacious
