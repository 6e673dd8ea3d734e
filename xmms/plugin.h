/* The player's effect plug-in interface, as its plug-in header declares it.
 * A stand-in of ours: the player itself is not part of this project. */
#ifndef XMMS_PLUGIN_H
#define XMMS_PLUGIN_H

#include <glib.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Audio format codes, in the player's order. */
typedef enum {
    FMT_U8,     /* 0: unsigned 8-bit */
    FMT_S8,     /* 1 */
    FMT_U16_LE, /* 2 */
    FMT_U16_BE, /* 3 */
    FMT_U16_NE, /* 4 */
    FMT_S16_LE, /* 5: signed 16-bit little-endian */
    FMT_S16_BE, /* 6 */
    FMT_S16_NE  /* 7: signed 16-bit, host byte order */
} AFormat;

/* The record an effect plug-in hands the player from get_eplugin_info(). */
typedef struct {
    void* handle;   /* filled in by the player */
    char* filename; /* filled in by the player */
    char* description;
    void (*init)(void);
    void (*cleanup)(void);
    void (*about)(void);
    void (*configure)(void);
    /* Processes the block *data of length bytes; may point *data at a block of
     * its own and returns the length in bytes of the block *data points to. */
    gint (*mod_samples)(gpointer* data, gint length, AFormat fmt, gint srate, gint nch);
    /* Adjusts the format the plug-in will emit for the given input. */
    void (*query_format)(AFormat* fmt, gint* rate, gint* nch);
} EffectPlugin;

#ifdef __cplusplus
}
#endif

#endif
