// The configuration-file library of the player stand-in.
#include "configfile.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Section {
    std::string name;
    std::vector<std::pair<std::string, std::string>> entries;  // in file order
};

std::string trim(const std::string& s) {
    const char* spaces = " \t\r\n";
    const size_t first = s.find_first_not_of(spaces);
    if (first == std::string::npos) return std::string();
    const size_t last = s.find_last_not_of(spaces);
    return s.substr(first, last - first + 1);
}

}  // namespace

struct _ConfigFile {
    std::vector<Section> sections;

    Section* find(const gchar* name) {
        for (Section& s : sections)
            if (s.name == name) return &s;
        return nullptr;
    }

    const std::string* lookup(const gchar* section, const gchar* key) {
        if (!section || !key) return nullptr;
        Section* s = find(section);
        if (!s) return nullptr;
        for (auto& entry : s->entries)
            if (entry.first == key) return &entry.second;
        return nullptr;
    }

    static void assign(Section& s, const std::string& key, std::string value) {
        for (auto& entry : s.entries) {
            if (entry.first == key) {
                entry.second = std::move(value);
                return;
            }
        }
        s.entries.emplace_back(key, std::move(value));
    }

    Section& section(const std::string& name) {
        for (Section& s : sections)
            if (s.name == name) return s;
        sections.push_back(Section{name, {}});
        return sections.back();
    }

    void parse(const gchar* text, gsize length) {
        Section* current = nullptr;
        const std::string all(text, length);
        size_t start = 0;
        while (start <= all.size()) {
            size_t end = all.find('\n', start);
            if (end == std::string::npos) end = all.size();
            const std::string line = trim(all.substr(start, end - start));
            start = end + 1;
            if (line.empty()) continue;
            if (line.front() == '[') {
                const size_t close = line.find(']');
                if (close == std::string::npos) {
                    current = nullptr;  // a broken header: its lines belong nowhere
                    continue;
                }
                current = &section(line.substr(1, close - 1));
                continue;
            }
            const size_t equals = line.find('=');
            if (!current || equals == std::string::npos) continue;
            const std::string key = trim(line.substr(0, equals));
            if (key.empty()) continue;
            assign(*current, key, trim(line.substr(equals + 1)));
        }
    }

    std::string text() const {
        std::string out;
        for (const Section& s : sections) {
            out += "[" + s.name + "]\n";
            for (const auto& entry : s.entries) out += entry.first + "=" + entry.second + "\n";
            out += "\n";
        }
        return out;
    }
};

extern "C" {

ConfigFile* xmms_cfg_new(void) { return new ConfigFile(); }

ConfigFile* xmms_cfg_open_file(const gchar* filename) {
    if (!filename) return nullptr;
    gchar* contents = nullptr;
    gsize length = 0;
    if (!g_file_get_contents(filename, &contents, &length, nullptr)) return nullptr;
    ConfigFile* cfg = new ConfigFile();
    cfg->parse(contents, length);
    g_free(contents);
    return cfg;
}

gboolean xmms_cfg_write_file(ConfigFile* cfg, const gchar* filename) {
    if (!cfg || !filename) return FALSE;
    // A configuration that is a link to a file elsewhere stays one: the file
    // it points to is replaced, with the permissions it had.
    char* resolved = realpath(filename, nullptr);
    const std::string target = resolved ? resolved : filename;
    std::free(resolved);
    struct stat st;
    const int mode = stat(target.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : 0666;

    gchar* dir = g_path_get_dirname(target.c_str());
    g_mkdir_with_parents(dir, 0755);
    g_free(dir);
    const std::string text = cfg->text();
    // Written to a temporary file beside the target and renamed over it, so
    // a crash mid-write leaves the previous file intact.
    return g_file_set_contents_full(target.c_str(), text.data(), static_cast<gssize>(text.size()),
                                    G_FILE_SET_CONTENTS_CONSISTENT, mode, nullptr);
}

void xmms_cfg_free(ConfigFile* cfg) { delete cfg; }

gboolean xmms_cfg_read_string(ConfigFile* cfg, const gchar* section, const gchar* key, gchar** value) {
    const std::string* found = cfg ? cfg->lookup(section, key) : nullptr;
    if (!found || !value) return FALSE;
    *value = g_strdup(found->c_str());
    return TRUE;
}

gboolean xmms_cfg_read_int(ConfigFile* cfg, const gchar* section, const gchar* key, gint* value) {
    const std::string* found = cfg ? cfg->lookup(section, key) : nullptr;
    if (!found || !value || found->empty()) return FALSE;
    gchar* end = nullptr;
    errno = 0;
    const gint64 v = g_ascii_strtoll(found->c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < INT_MIN || v > INT_MAX) return FALSE;
    *value = static_cast<gint>(v);
    return TRUE;
}

gboolean xmms_cfg_read_boolean(ConfigFile* cfg, const gchar* section, const gchar* key, gboolean* value) {
    const std::string* found = cfg ? cfg->lookup(section, key) : nullptr;
    if (!found || !value) return FALSE;
    if (g_ascii_strcasecmp(found->c_str(), "TRUE") == 0) {
        *value = TRUE;
        return TRUE;
    }
    if (g_ascii_strcasecmp(found->c_str(), "FALSE") == 0) {
        *value = FALSE;
        return TRUE;
    }
    return FALSE;
}

gboolean xmms_cfg_read_float(ConfigFile* cfg, const gchar* section, const gchar* key, gfloat* value) {
    const std::string* found = cfg ? cfg->lookup(section, key) : nullptr;
    if (!found || !value || found->empty()) return FALSE;
    gchar* end = nullptr;
    errno = 0;
    const double v = g_ascii_strtod(found->c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || std::fabs(v) > 3.4028234663852886e38) return FALSE;
    *value = static_cast<gfloat>(v);
    return TRUE;
}

void xmms_cfg_write_string(ConfigFile* cfg, const gchar* section, const gchar* key, const gchar* value) {
    if (!cfg || !section || !key || !value) return;
    ConfigFile::assign(cfg->section(section), key, value);
}

void xmms_cfg_write_int(ConfigFile* cfg, const gchar* section, const gchar* key, gint value) {
    gchar text[G_ASCII_DTOSTR_BUF_SIZE];
    g_snprintf(text, sizeof text, "%d", value);
    xmms_cfg_write_string(cfg, section, key, text);
}

void xmms_cfg_write_boolean(ConfigFile* cfg, const gchar* section, const gchar* key, gboolean value) {
    xmms_cfg_write_string(cfg, section, key, value ? "TRUE" : "FALSE");
}

void xmms_cfg_write_float(ConfigFile* cfg, const gchar* section, const gchar* key, gfloat value) {
    // The shortest text that reads back as the same float, with '.' whatever the locale.
    gchar text[G_ASCII_DTOSTR_BUF_SIZE];
    for (int digits = 6; digits <= 9; ++digits) {
        gchar format[8];
        g_snprintf(format, sizeof format, "%%.%dg", digits);
        g_ascii_formatd(text, sizeof text, format, value);
        if (static_cast<gfloat>(g_ascii_strtod(text, nullptr)) == value) break;
    }
    xmms_cfg_write_string(cfg, section, key, text);
}

}  // extern "C"
