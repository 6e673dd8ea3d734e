// The plug-in's shared state, between the sample path (audio thread) and the
// configuration window (user-interface thread).
//
// Threads: the player calls kesta_mod_samples on its audio thread and the
// window's callbacks on its user-interface thread. Every engine call, every
// engine re-creation and every access to kesta_cfg happens under
// engine_mutex. The audio thread holds it for one block; the user-interface
// thread holds it only to change one setting and tell the running engine, so
// the audio thread never waits longer than such a short critical section.
// File writing happens outside the lock.
#pragma once

#include <mutex>

#include "PlayerFile.h"
#include "plugin.h"

struct M2S;
struct Vastor;

// The five settings, as the player's file stores them (PlayerFile.h).
struct KestaConfig {
    int m2s_enabled;      // kMonoTo3DKey
    int m2s_mode;         // kModeKey: kMusicMode or kVoiceMode
    int vastor_enabled;   // kWideningKey
    float spread_db;      // kSpreadKey
    int subtone_enabled;  // kSubtoneKey
};

extern KestaConfig kesta_cfg;
extern EffectPlugin kesta_ep;
extern std::mutex engine_mutex;

// Engines, opened on the first block of their kind (null until then).
extern M2S* m2s;
extern Vastor* vastor;

extern "C" {
// Reads the settings file (defaults for what it lacks); may be called again,
// and then tells open engines what changed, as the window does.
void kesta_init(void);
// The player's block *data of length bytes: any pointer (the plug-in's own
// last answer too, at any alignment) and any format code, even one that
// AFormat does not name. Answers the length of the block *data then points to.
gint kesta_mod_samples(gpointer* data, gint length, AFormat format, gint rate, gint channels);
void kesta_query_format(AFormat* format, gint* rate, gint* channels);
void kesta_configure(void);
}

// "%s/.xmms/config" under the home directory; the caller frees it with g_free.
char* kesta_config_path();
// Writes all five settings to the file, keeping everything else in it.
void save_config();

// Setting changes, as the window's callbacks make them: each stores the
// setting and tells the engines that are open (under engine_mutex); none
// writes the file.
void kesta_set_m2s_enabled(bool on);
void kesta_set_m2s_mode(int mode);
void kesta_set_vastor_enabled(bool on);
void kesta_set_spread(float db);
void kesta_set_subtone(bool on);
