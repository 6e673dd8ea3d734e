#include "PluginHost.h"

#include <dlfcn.h>
#include <glib.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

PluginHost::~PluginHost() {
    // The plug-in has no cleanup entry and is never unloaded by the player.
}

bool PluginHost::load(const std::string& path) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle_) {
        error_ = dlerror();
        return false;
    }
    auto info = reinterpret_cast<EffectPlugin* (*)(void)>(dlsym(handle_, "get_eplugin_info"));
    if (!info || !(plugin_ = info())) {
        error_ = path + ": not an effect plug-in (no get_eplugin_info)";
        return false;
    }
    return true;
}

void* PluginHost::symbol(const char* name) const {
    return handle_ ? dlsym(handle_, name) : nullptr;
}

void PluginHost::init(const std::string& home) {
    if (!plugin_->init) return;
    if (home.empty()) {
        plugin_->init();
        return;
    }
    const char* old = g_getenv("HOME");
    const std::string saved = old ? old : "";
    g_setenv("HOME", home.c_str(), TRUE);
    plugin_->init();
    if (old)
        g_setenv("HOME", saved.c_str(), TRUE);
    else
        g_unsetenv("HOME");
}

int PluginHost::outputChannels(AFormat format, int rate, int channels) {
    if (plugin_->query_format) plugin_->query_format(&format, &rate, &channels);
    return channels;
}

const void* PluginHost::process(void* block, int bytes, AFormat format, int rate, int channels,
                                int* outBytes) {
    gpointer data = block;
    *outBytes = plugin_->mod_samples ? plugin_->mod_samples(&data, bytes, format, rate, channels) : bytes;
    return data;
}

std::string defaultPluginPath() {
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n > 0) {
        exe[n] = '\0';
        gchar* dir = g_path_get_dirname(exe);
        const std::string bin = dir;
        g_free(dir);
        // The build tree's lib/ beside bin/, then the installed plug-in.
        for (const char* relative : {"../lib/libkesta_xmms.so", KESTA_INSTALLED_PLUGIN}) {
            const std::string path = bin + "/" + relative;
            if (access(path.c_str(), R_OK) == 0) return path;
        }
    }
    return "libkesta_xmms.so";  // then the loader's search path decides
}
