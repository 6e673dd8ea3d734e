/* Calls into the plug-in's record as a player written in C makes them: the
 * format is any int, as C lets an enumeration parameter hold. */
#ifndef KESTA_TESTS_PLAYER_CALLS_H
#define KESTA_TESTS_PLAYER_CALLS_H

#include "plugin.h"

#ifdef __cplusplus
extern "C" {
#endif

gint player_mod_samples(EffectPlugin* ep, gpointer* data, gint length, int format, gint rate, gint channels);
/* Asks what the plug-in emits for format; answers the channel count. */
gint player_query_channels(EffectPlugin* ep, int format, gint rate, gint channels);

#ifdef __cplusplus
}
#endif

#endif
