/* The player's configuration-file library (libxmms), as its plug-ins call it.
 * A stand-in of ours, built as its own shared library, libxmms.so.1.
 *
 * Text layout: "[section]" headers and "key=value" lines. Booleans are written
 * TRUE/FALSE; numbers are written and read independently of the locale.
 * Readers answer FALSE and leave *value alone when the section or key is
 * missing or the value cannot be read as the asked type. Keys and values are
 * read without the blanks around them; when a key appears more than once in a
 * section, the last one counts.
 *
 * A configuration remembers the file it was read from byte for byte: writing
 * it back changes only the lines of the keys that were set (a new key goes
 * after the last key of its section, a new section at the end of the file)
 * and keeps every other line as it was, comments, stray lines, spacing,
 * duplicates and CRLF line ends included. */
#ifndef XMMS_CONFIGFILE_H
#define XMMS_CONFIGFILE_H

#include <glib.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct _ConfigFile ConfigFile;

/* An empty configuration, for a file that is not there yet: written where a
 * file has come since, its keys are added to that file (see
 * xmms_cfg_write_file). */
ConfigFile* xmms_cfg_new(void);
/* The configuration read from filename, or NULL when it cannot be read. */
ConfigFile* xmms_cfg_open_file(const gchar* filename);
/* As xmms_cfg_open_file, and tells why it failed: *error (when error is not
 * NULL) is 0 when the file was read, ENOENT when there is no file at
 * filename (nothing there, or a link to nothing), and any other errno value
 * when something is there that cannot be read: EACCES, ELOOP, EIO, EISDIR
 * for a folder, EINVAL for anything else that is not a regular file (a FIFO,
 * a device or a socket, which are never opened for reading). Only after
 * ENOENT may a caller start a new file in its place without losing data.
 * For a read-modify-write: the file stays locked (an exclusive flock) until
 * the configuration is freed, so that writers through this call take turns
 * and none loses another's keys; free it soon. A lock that cannot be had
 * within a few seconds fails with EWOULDBLOCK. xmms_cfg_open_file only reads,
 * and takes no lock. */
ConfigFile* xmms_cfg_open_file_full(const gchar* filename, gint* error);
/* Writes the configuration to filename (the folder is created if needed).
 * A link is written through: the file it points to is replaced, or created
 * when it points to nothing yet. The file is replaced atomically and keeps
 * its permissions and owner whatever the umask; a file with more than one
 * hard link is rewritten in place so that every link sees the change. FALSE
 * when it could not be written, the old file then left as it was; this is
 * also the answer for a file without write permission (the user's way of
 * saying "keep this file as it is"), a link loop, and a folder or other
 * non-regular file in the way. The file is locked while it is replaced (see
 * xmms_cfg_open_file_full). A configuration made by xmms_cfg_new starts a
 * new file one writer at a time (under a lock of its folder), and where a
 * file is there by then, only its own keys are written into that file, so
 * that writers that all found no file lose none of each other's keys. A
 * file that has to be rewritten in place (hard links) is written only once
 * the space for the new text is secured, and put back as it was when the
 * write fails after all. */
gboolean xmms_cfg_write_file(ConfigFile* cfg, const gchar* filename);
/* As xmms_cfg_write_file, and sets *error (when not NULL) to 0 or to the
 * errno value of the failure. */
gboolean xmms_cfg_write_file_full(ConfigFile* cfg, const gchar* filename, gint* error);
void xmms_cfg_free(ConfigFile* cfg);

gboolean xmms_cfg_read_string(ConfigFile* cfg, const gchar* section, const gchar* key, gchar** value);
gboolean xmms_cfg_read_int(ConfigFile* cfg, const gchar* section, const gchar* key, gint* value);
gboolean xmms_cfg_read_boolean(ConfigFile* cfg, const gchar* section, const gchar* key, gboolean* value);
gboolean xmms_cfg_read_float(ConfigFile* cfg, const gchar* section, const gchar* key, gfloat* value);

/* Writers set a key, adding its section when needed. A write that could not
 * be read back as written is refused and changes nothing: a section holding
 * ']' or a line break, a key that is empty, holds '=' or a line break, starts
 * with '[' or has blanks around it, and a value holding a line break. */
void xmms_cfg_write_string(ConfigFile* cfg, const gchar* section, const gchar* key, const gchar* value);
void xmms_cfg_write_int(ConfigFile* cfg, const gchar* section, const gchar* key, gint value);
void xmms_cfg_write_boolean(ConfigFile* cfg, const gchar* section, const gchar* key, gboolean value);
void xmms_cfg_write_float(ConfigFile* cfg, const gchar* section, const gchar* key, gfloat value);

#ifdef __cplusplus
}
#endif

#endif
