#include "PlayerCalls.h"

gint player_mod_samples(EffectPlugin* ep, gpointer* data, gint length, int format, gint rate, gint channels) {
    return ep->mod_samples(data, length, format, rate, channels);
}

gint player_query_channels(EffectPlugin* ep, int format, gint rate, gint channels) {
    AFormat fmt = format;
    ep->query_format(&fmt, &rate, &channels);
    return channels;
}
