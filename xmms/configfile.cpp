// The configuration-file library of the player stand-in.
//
// A configuration is the file's lines as they were read, each with its own
// line end, and an index from section and key to the line that holds the
// key's value. Reading and writing a key cost a hash look-up, so a file of
// any size is parsed in one linear pass.
#include "configfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <list>
#include <string>
#include <unordered_map>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

struct Line {
    std::string text;  // the line's bytes with its line end ("\n", "\r\n" or none at the end)
    size_t valueBegin = 0, valueEnd = 0;  // a key line's value, without the blanks around it
};
using Lines = std::list<Line>;

struct Section {
    Lines::iterator anchor;  // the section's last key line, or its header: new keys go after it
    std::unordered_map<std::string, Lines::iterator> keys;  // each key's last line
};

bool hasLineEnd(const Line& line) {
    return !line.text.empty() && line.text.back() == '\n';
}

bool isBlankLine(const Line& line) {
    for (char c : line.text)
        if (!isBlank(c)) return false;
    return true;
}

// What a writer may store so that reading the file gives it back unchanged
// and no other line is made.
bool validSection(const char* s) {
    return !std::strpbrk(s, "]\r\n");
}
bool validKey(const char* k) {
    const size_t n = std::strlen(k);
    return n > 0 && k[0] != '[' && !std::strpbrk(k, "=\r\n") && !isBlank(k[0]) && !isBlank(k[n - 1]);
}
bool validValue(const char* v) {
    return !std::strpbrk(v, "\r\n");
}

}  // namespace

struct _ConfigFile {
    _ConfigFile() = default;
    _ConfigFile(const _ConfigFile&) = delete;
    _ConfigFile& operator=(const _ConfigFile&) = delete;
    ~_ConfigFile() {
        if (lockFd >= 0) close(lockFd);
    }

    int lockFd = -1;     // the file it was read from, locked until it is freed (-1: none)
    bool fresh = false;  // made empty (xmms_cfg_new), not read from a file
    Lines lines;
    std::unordered_map<std::string, Section> sections;
    std::string lineEnd = "\n";  // the file's own, for the lines we add

    void parse(const char* text, size_t length) {
        Section* current = nullptr;
        bool lineEndSeen = false;
        size_t start = 0;
        while (start < length) {
            const void* found = std::memchr(text + start, '\n', length - start);
            const size_t end =
                found ? static_cast<size_t>(static_cast<const char*>(found) - text) + 1 : length;
            if (found && !lineEndSeen) {
                lineEndSeen = true;
                if (end >= start + 2 && text[end - 2] == '\r') lineEnd = "\r\n";
            }
            lines.push_back(Line{std::string(text + start, end - start)});
            classify(std::prev(lines.end()), current);
            start = end;
        }
    }

    // Indexes one line: a header opens its section (a broken one opens none,
    // and the keys after it belong nowhere); "key=value" in a section is a key.
    void classify(Lines::iterator it, Section*& current) {
        const std::string& t = it->text;
        size_t b = 0, e = t.size();
        while (b < e && isBlank(t[b])) ++b;
        while (e > b && isBlank(t[e - 1])) --e;
        if (b == e) return;
        if (t[b] == '[') {
            const size_t close = t.find(']', b);
            if (close == std::string::npos) {
                current = nullptr;
                return;
            }
            current = &sections[t.substr(b + 1, close - b - 1)];
            current->anchor = it;
            return;
        }
        if (!current) return;
        const size_t equals = t.find('=', b);
        if (equals == std::string::npos || equals >= e) return;
        size_t keyEnd = equals;
        while (keyEnd > b && isBlank(t[keyEnd - 1])) --keyEnd;
        if (keyEnd == b) return;
        size_t valueBegin = equals + 1;
        while (valueBegin < e && isBlank(t[valueBegin])) ++valueBegin;
        it->valueBegin = valueBegin;
        it->valueEnd = e;
        current->keys[t.substr(b, keyEnd - b)] = it;
        current->anchor = it;
    }

    bool lookup(const gchar* section, const gchar* key, std::string& value) const {
        if (!section || !key) return false;
        const auto s = sections.find(section);
        if (s == sections.end()) return false;
        const auto k = s->second.keys.find(key);
        if (k == s->second.keys.end()) return false;
        const Line& line = *k->second;
        size_t b = line.valueBegin, e = line.valueEnd;
        while (b < e && isBlank(line.text[b])) ++b;
        while (e > b && isBlank(line.text[e - 1])) --e;
        value.assign(line.text, b, e - b);
        return true;
    }

    Lines::iterator insertKey(Section& s, const std::string& key, const std::string& value) {
        if (!hasLineEnd(*s.anchor)) s.anchor->text += lineEnd;
        Line line{key + "=" + value + lineEnd, key.size() + 1, key.size() + 1 + value.size()};
        s.anchor = lines.insert(std::next(s.anchor), std::move(line));
        return s.anchor;
    }

    void assign(const std::string& section, const std::string& key, const std::string& value) {
        auto s = sections.find(section);
        if (s == sections.end()) {
            // A new section goes at the end, after a blank line when the file has text.
            if (!lines.empty()) {
                if (!hasLineEnd(lines.back())) lines.back().text += lineEnd;
                if (!isBlankLine(lines.back())) lines.push_back(Line{lineEnd});
            }
            lines.push_back(Line{"[" + section + "]" + lineEnd});
            s = sections.emplace(section, Section{}).first;
            s->second.anchor = std::prev(lines.end());
        }
        Section& sec = s->second;
        const auto k = sec.keys.find(key);
        if (k == sec.keys.end()) {
            sec.keys.emplace(key, insertKey(sec, key, value));
            return;
        }
        Line& line = *k->second;
        line.text.replace(line.valueBegin, line.valueEnd - line.valueBegin, value);
        line.valueEnd = line.valueBegin + value.size();
    }

    // Every key that counts (the last of its name in its section) with its
    // section, in the order of the lines.
    template <typename Visit>
    void forEachKey(Visit visit) const {
        std::unordered_map<const Line*, std::pair<const std::string*, const std::string*>> at;
        for (const auto& s : sections)
            for (const auto& k : s.second.keys) at[&*k.second] = {&s.first, &k.first};
        for (const Line& line : lines) {
            const auto found = at.find(&line);
            if (found == at.end()) continue;
            std::string value;
            lookup(found->second.first->c_str(), found->second.second->c_str(), value);
            visit(*found->second.first, *found->second.second, value);
        }
    }

    std::string text() const {
        size_t size = 0;
        for (const Line& line : lines) size += line.text.size();
        std::string out;
        out.reserve(size);
        for (const Line& line : lines) out += line.text;
        return out;
    }
};

namespace {

// How long a writer waits for another one to finish with a file before it
// gives up with EWOULDBLOCK: a read-modify-write takes milliseconds, so a
// lock held longer belongs to something stuck.
constexpr gint64 kLockWaitMicroseconds = 3 * G_USEC_PER_SEC;

// Takes the exclusive advisory lock (flock) of fd's file, waiting at most
// kLockWaitMicroseconds. A file system without such locks is written as it
// always was. False with the errno value in error.
bool lockFile(int fd, int& error) {
    const gint64 deadline = g_get_monotonic_time() + kLockWaitMicroseconds;
    gulong pause = 50;
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno == EINTR) continue;
        if (errno == ENOLCK || errno == EINVAL || errno == EOPNOTSUPP) return true;
        if (errno != EWOULDBLOCK) return error = errno, false;
        if (g_get_monotonic_time() >= deadline) return error = EWOULDBLOCK, false;
        g_usleep(pause);
        pause = std::min<gulong>(pause * 2, 2000);
    }
}

// Opens the regular file at path for reading without blocking; anything
// else in the way is refused before it is opened (a FIFO would block, a
// device might answer forever). With lock set, the file is also locked, and
// a file that was replaced while the lock was awaited is opened anew, so
// that the lock is the one of the file now at path. -1 with error set.
int openRegularFile(const char* path, bool lock, int& error) {
    for (;;) {
        struct stat st, now;
        if (stat(path, &st) != 0) return error = errno, -1;
        if (S_ISDIR(st.st_mode)) return error = EISDIR, -1;
        if (!S_ISREG(st.st_mode)) return error = EINVAL, -1;
        const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) return error = errno, -1;
        bool ok = fstat(fd, &st) == 0;
        if (!ok)
            error = errno;
        else if (!S_ISREG(st.st_mode))
            ok = false, error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        if (ok && lock) ok = lockFile(fd, error);
        if (ok && lock && (stat(path, &now) != 0 || now.st_dev != st.st_dev || now.st_ino != st.st_ino)) {
            close(fd);
            continue;
        }
        if (ok) return fd;
        close(fd);
        return -1;
    }
}

// Reads a regular file whole (see openRegularFile). With lockFd, the file
// stays open and locked, and its descriptor is left there.
bool readRegularFile(const char* path, std::string& out, int& error, int* lockFd = nullptr) {
    const int fd = openRegularFile(path, lockFd != nullptr, error);
    if (fd < 0) return false;
    bool ok = true;
    char chunk[65536];
    while (ok) {
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0)
            out.append(chunk, static_cast<size_t>(n));
        else if (n == 0)
            break;
        else if (errno != EINTR)
            ok = false, error = errno;
    }
    if (ok && lockFd)
        *lockFd = fd;
    else
        close(fd);
    return ok;
}

std::string dirName(const std::string& path) {
    gchar* dir = g_path_get_dirname(path.c_str());
    std::string result = dir;
    g_free(dir);
    return result;
}

// The file a write lands in: links are followed, also to a target that does
// not exist yet. Fails with ELOOP on a loop, and with errno when a link or a
// folder on the way cannot be read.
bool resolveTarget(const std::string& name, std::string& target, int& error) {
    std::string path = name;
    for (int hops = 0;; ++hops) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) {
            if (errno != ENOENT) return error = errno, false;
            target = path;
            return true;
        }
        if (!S_ISLNK(st.st_mode)) {
            target = path;
            return true;
        }
        if (hops == 40) return error = ELOOP, false;
        std::string link(PATH_MAX, '\0');
        const ssize_t n = readlink(path.c_str(), &link[0], link.size());
        if (n < 0) return error = errno, false;
        if (n == static_cast<ssize_t>(link.size())) return error = ENAMETOOLONG, false;
        link.resize(static_cast<size_t>(n));
        path = g_path_is_absolute(link.c_str()) ? link : dirName(path) + "/" + link;
    }
}

bool writeAll(int fd, const std::string& text, int& error) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return error = errno, false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

bool writeAllAt(int fd, const char* data, size_t size, off_t at, int& error) {
    while (size > 0) {
        const ssize_t n = pwrite(fd, data, size, at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return error = n < 0 ? errno : ENOSPC, false;
        data += n;
        size -= static_cast<size_t>(n);
        at += n;
    }
    return true;
}

// Rewrites a file in place, for a file that other hard links share. The
// space for the new text is secured first (allocated, or where the file
// system cannot allocate, the part past the old end written first), so that
// a full disk or a file-size limit stops the write before the old text is
// touched; a write that fails after that puts the old text back.
bool rewriteInPlace(const std::string& target, const std::string& text, int& error) {
    const int fd = open(target.c_str(), O_RDWR | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return error = errno, false;
    std::string old;
    char chunk[65536];
    for (ssize_t n; (n = pread(fd, chunk, sizeof chunk, static_cast<off_t>(old.size()))) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            error = errno;
            close(fd);
            return false;
        }
        old.append(chunk, static_cast<size_t>(n));
    }
    bool ok = true;
    if (text.size() > old.size() && fallocate(fd, 0, 0, static_cast<off_t>(text.size())) != 0) {
        if (errno != EOPNOTSUPP && errno != ENOSYS)
            ok = false, error = errno;
        else
            ok = writeAllAt(fd, text.data() + old.size(), text.size() - old.size(),
                            static_cast<off_t>(old.size()), error);
    }
    if (!ok) {
        if (ftruncate(fd, static_cast<off_t>(old.size())) != 0) {
            // The old text is whole; only the length may have grown.
        }
        close(fd);
        return false;
    }
    ok = writeAllAt(fd, text.data(), text.size(), 0, error);
    if (ok && ftruncate(fd, static_cast<off_t>(text.size())) != 0) ok = false, error = errno;
    if (ok && fsync(fd) != 0) ok = false, error = errno;
    if (!ok) {
        int ignored = 0;
        if (writeAllAt(fd, old.data(), old.size(), 0, ignored) &&
            ftruncate(fd, static_cast<off_t>(old.size())) == 0)
            fsync(fd);
    }
    if (close(fd) != 0 && ok) ok = false, error = errno;
    return ok;
}

// Writes a temporary file beside target and renames it over target. An
// existing file's mode and owner are given to the new one; a new file gets
// the usual mode under the umask.
bool replaceAtomically(const std::string& target, const struct stat* old, const std::string& text,
                       int& error) {
    gchar* temp = g_strdup_printf("%s.XXXXXX", target.c_str());
    const int fd = g_mkstemp_full(temp, O_WRONLY | O_CLOEXEC, old ? 0600 : 0666);
    if (fd < 0) {
        error = errno;
        g_free(temp);
        return false;
    }
    bool ok = writeAll(fd, text, error);
    if (ok && old) {
        if (fchown(fd, old->st_uid, old->st_gid) != 0) {
            // Only root may give a file away; anyone else keeps the file as theirs.
        }
        if (fchmod(fd, old->st_mode & 07777) != 0) ok = false, error = errno;
    }
    if (ok && fsync(fd) != 0) ok = false, error = errno;
    if (close(fd) != 0 && ok) ok = false, error = errno;
    if (ok && rename(temp, target.c_str()) != 0) ok = false, error = errno;
    if (!ok) unlink(temp);
    g_free(temp);
    return ok;
}

// Adds the keys of cfg to the file at target, under its lock: for a
// configuration started empty, whose keys are all its writer's own.
bool mergeInto(const ConfigFile* cfg, const std::string& target, int& error) {
    int lockFd = -1;
    std::string contents;
    struct stat st;
    bool ok = readRegularFile(target.c_str(), contents, error, &lockFd) && fstat(lockFd, &st) == 0;
    if (ok) {
        ConfigFile merged;
        merged.parse(contents.data(), contents.size());
        cfg->forEachKey([&](const std::string& section, const std::string& key, const std::string& value) {
            merged.assign(section, key, value);
        });
        const std::string text = merged.text();
        ok = st.st_nlink > 1 ? rewriteInPlace(target, text, error)
                             : replaceAtomically(target, &st, text, error);
    }
    if (lockFd >= 0) close(lockFd);
    return ok;
}

// Starts the file at target, for a configuration started empty. New files
// are started one at a time, under an exclusive lock of their folder, so
// that of writers that all found no file, the first makes it and each later
// one adds its keys to what is there by then instead of replacing it.
bool createFile(const ConfigFile* cfg, const std::string& target, int& error) {
    const std::string folder = dirName(target);
    g_mkdir_with_parents(folder.c_str(), 0755);
    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) return error = errno, false;
    bool ok = lockFile(folderFd, error);
    struct stat st;
    if (ok && lstat(target.c_str(), &st) != 0 && errno == ENOENT)
        ok = replaceAtomically(target, nullptr, cfg->text(), error);
    else if (ok)
        ok = mergeInto(cfg, target, error);
    close(folderFd);
    return ok;
}

}  // namespace

extern "C" {

ConfigFile* xmms_cfg_new(void) {
    ConfigFile* cfg = new ConfigFile();
    cfg->fresh = true;
    return cfg;
}

namespace {

ConfigFile* openFile(const gchar* filename, gint* error, bool lock) {
    int failure = EINVAL, lockFd = -1;
    std::string contents;
    ConfigFile* cfg = nullptr;
    if (filename && readRegularFile(filename, contents, failure, lock ? &lockFd : nullptr)) {
        failure = 0;
        cfg = new ConfigFile();
        cfg->lockFd = lockFd;
        cfg->parse(contents.data(), contents.size());
    }
    if (error) *error = failure;
    return cfg;
}

}  // namespace

ConfigFile* xmms_cfg_open_file_full(const gchar* filename, gint* error) {
    return openFile(filename, error, true);
}

ConfigFile* xmms_cfg_open_file(const gchar* filename) {
    return openFile(filename, nullptr, false);
}

gboolean xmms_cfg_write_file_full(ConfigFile* cfg, const gchar* filename, gint* error) {
    int failure = 0;
    gboolean ok = FALSE;
    std::string target;
    struct stat st;
    if (!cfg || !filename) {
        failure = EINVAL;
    } else if (resolveTarget(filename, target, failure)) {
        const bool exists = lstat(target.c_str(), &st) == 0;
        if (exists && S_ISDIR(st.st_mode)) {
            failure = EISDIR;
        } else if (exists && !S_ISREG(st.st_mode)) {
            failure = EINVAL;
        } else if (exists && ((st.st_mode & 0222) == 0 || access(target.c_str(), W_OK) != 0)) {
            // Read-only, also for root, who could write it anyway.
            failure = EACCES;
        } else {
            // The file is locked while it is replaced: by the configuration
            // itself when it was read from this very file, else here.
            int lockFd = -1;
            struct stat held;
            const bool locked = exists && cfg->lockFd >= 0 && fstat(cfg->lockFd, &held) == 0 &&
                                held.st_dev == st.st_dev && held.st_ino == st.st_ino;
            if (exists && cfg->fresh) {
                // Started empty once no file was found, and one has come
                // since: its keys are added to it, and nothing is lost.
                ok = mergeInto(cfg, target, failure);
                if (error) *error = ok ? 0 : failure;
                return ok;
            }
            if (exists && !locked) {
                lockFd = openRegularFile(target.c_str(), true, failure);
                if (lockFd < 0 || lstat(target.c_str(), &st) != 0) {
                    if (lockFd >= 0) failure = errno, close(lockFd);
                    if (error) *error = failure;
                    return FALSE;
                }
            }
            if (exists) {
                const std::string text = cfg->text();
                ok = st.st_nlink > 1 ? rewriteInPlace(target, text, failure)
                                     : replaceAtomically(target, &st, text, failure);
            } else {
                ok = createFile(cfg, target, failure);
            }
            if (lockFd >= 0) close(lockFd);
        }
    }
    if (error) *error = ok ? 0 : failure;
    return ok;
}

gboolean xmms_cfg_write_file(ConfigFile* cfg, const gchar* filename) {
    return xmms_cfg_write_file_full(cfg, filename, nullptr);
}

void xmms_cfg_free(ConfigFile* cfg) {
    delete cfg;
}

gboolean xmms_cfg_read_string(ConfigFile* cfg, const gchar* section, const gchar* key, gchar** value) {
    std::string found;
    if (!cfg || !value || !cfg->lookup(section, key, found)) return FALSE;
    *value = g_strdup(found.c_str());
    return TRUE;
}

gboolean xmms_cfg_read_int(ConfigFile* cfg, const gchar* section, const gchar* key, gint* value) {
    std::string found;
    if (!cfg || !value || !cfg->lookup(section, key, found) || found.empty()) return FALSE;
    gchar* end = nullptr;
    errno = 0;
    const gint64 v = g_ascii_strtoll(found.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < INT_MIN || v > INT_MAX) return FALSE;
    *value = static_cast<gint>(v);
    return TRUE;
}

gboolean xmms_cfg_read_boolean(ConfigFile* cfg, const gchar* section, const gchar* key, gboolean* value) {
    std::string found;
    if (!cfg || !value || !cfg->lookup(section, key, found)) return FALSE;
    if (g_ascii_strcasecmp(found.c_str(), "TRUE") == 0) {
        *value = TRUE;
        return TRUE;
    }
    if (g_ascii_strcasecmp(found.c_str(), "FALSE") == 0) {
        *value = FALSE;
        return TRUE;
    }
    return FALSE;
}

gboolean xmms_cfg_read_float(ConfigFile* cfg, const gchar* section, const gchar* key, gfloat* value) {
    std::string found;
    if (!cfg || !value || !cfg->lookup(section, key, found) || found.empty()) return FALSE;
    gchar* end = nullptr;
    errno = 0;
    const double v = g_ascii_strtod(found.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || std::fabs(v) > 3.4028234663852886e38) return FALSE;
    *value = static_cast<gfloat>(v);
    return TRUE;
}

void xmms_cfg_write_string(ConfigFile* cfg, const gchar* section, const gchar* key, const gchar* value) {
    if (!cfg || !section || !key || !value) return;
    if (!validSection(section) || !validKey(key) || !validValue(value)) return;
    cfg->assign(section, key, value);
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
