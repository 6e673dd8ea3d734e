// Plays the player's part for the plug-in: loads libkesta_xmms.so with
// dlopen, finds get_eplugin_info by name, calls init and then hands it
// blocks through mod_samples, exactly as the player does.
#pragma once

#include <string>

#include "plugin.h"

class PluginHost {
  public:
    PluginHost() = default;
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // Loads the shared object; false with error() set when it cannot.
    bool load(const std::string& path);
    const std::string& error() const { return error_; }
    EffectPlugin& plugin() { return *plugin_; }
    // Looks up an exported symbol of the plug-in (the engines' flat functions).
    void* symbol(const char* name) const;

    // Calls init with the settings file of home (the plug-in reads
    // "<home>/.xmms/config"); an empty home means the user's own.
    void init(const std::string& home = std::string());
    // The channel count the plug-in will emit for this input.
    int outputChannels(AFormat format, int rate, int channels);
    // One block: answers the plug-in's block and its length in bytes.
    const void* process(void* block, int bytes, AFormat format, int rate, int channels, int* outBytes);

  private:
    void* handle_ = nullptr;
    EffectPlugin* plugin_ = nullptr;
    std::string error_;
};

// Where the plug-in that came with kesta lives: in lib/ beside bin/ in a build
// tree, in the player's plug-in folder once installed.
std::string defaultPluginPath();
