/* The player's configuration-file library (libxmms), as its plug-ins call it.
 * A stand-in of ours, built as its own shared library, libxmms.so.1.
 *
 * Text layout: "[section]" headers and "key=value" lines. Booleans are written
 * TRUE/FALSE; numbers are written and read independently of the locale.
 * Readers answer FALSE and leave *value alone when the section or key is
 * missing or the value cannot be read as the asked type. */
#ifndef XMMS_CONFIGFILE_H
#define XMMS_CONFIGFILE_H

#include <glib.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _ConfigFile ConfigFile;

/* An empty configuration. */
ConfigFile *xmms_cfg_new(void);
/* The configuration read from filename, or NULL when it cannot be read. */
ConfigFile *xmms_cfg_open_file(const gchar *filename);
/* Writes the whole configuration to filename, replacing it atomically (the
 * directory is created if needed). FALSE when it could not be written; the
 * old file is then left as it was. */
gboolean xmms_cfg_write_file(ConfigFile *cfg, const gchar *filename);
void xmms_cfg_free(ConfigFile *cfg);

gboolean xmms_cfg_read_string(ConfigFile *cfg, const gchar *section, const gchar *key, gchar **value);
gboolean xmms_cfg_read_int(ConfigFile *cfg, const gchar *section, const gchar *key, gint *value);
gboolean xmms_cfg_read_boolean(ConfigFile *cfg, const gchar *section, const gchar *key, gboolean *value);
gboolean xmms_cfg_read_float(ConfigFile *cfg, const gchar *section, const gchar *key, gfloat *value);

void xmms_cfg_write_string(ConfigFile *cfg, const gchar *section, const gchar *key, const gchar *value);
void xmms_cfg_write_int(ConfigFile *cfg, const gchar *section, const gchar *key, gint value);
void xmms_cfg_write_boolean(ConfigFile *cfg, const gchar *section, const gchar *key, gboolean value);
void xmms_cfg_write_float(ConfigFile *cfg, const gchar *section, const gchar *key, gfloat value);

#ifdef __cplusplus
}
#endif

#endif
