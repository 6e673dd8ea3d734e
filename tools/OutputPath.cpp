#include "OutputPath.h"

#include <fcntl.h>
#include <glib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

std::string dirName(const std::string& path) {
    gchar* dir = g_path_get_dirname(path.c_str());
    std::string result = dir;
    g_free(dir);
    return result;
}

std::string baseName(const std::string& path) {
    gchar* base = g_path_get_basename(path.c_str());
    std::string result = base;
    g_free(base);
    return result;
}

long decimal(const std::string& text) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    return std::strtol(text.c_str(), nullptr, 10);
}

// For a name in a folder of open descriptors (/proc/PID/fd, reached also as
// /proc/self/fd, /dev/fd, /proc/PID/task/TID/fd): the descriptor's number
// when the folder is this process's, -2 when it is another's; -1 otherwise.
int descriptorOf(const std::string& path) {
    char* real = realpath(dirName(path).c_str(), nullptr);
    if (!real) return -1;
    const std::string folder = real;
    std::free(real);
    if (folder.size() < 10 || folder.compare(0, 6, "/proc/") != 0 ||
        folder.compare(folder.size() - 3, 3, "/fd") != 0)
        return -1;
    const std::string owner = folder.substr(6, folder.size() - 9);  // "PID" or "PID/task/TID"
    const size_t task = owner.find("/task/");
    const long pid = decimal(owner.substr(0, task));
    const long fd = decimal(baseName(path));
    if (pid < 0 || fd < 0 || (task != std::string::npos && decimal(owner.substr(task + 6)) < 0)) return -1;
    return pid == static_cast<long>(getpid()) ? static_cast<int>(fd) : -2;
}

// Follows links from name to the first name that is not one (or names
// nothing), stopping early at a name in a folder of descriptors, whose links
// are not paths. False with errno's value in error.
bool followLinks(const std::string& name, std::string& last, int& descriptor, int& error) {
    std::string path = name;
    for (int hops = 0;; ++hops) {
        descriptor = descriptorOf(path);
        struct stat st;
        bool isLink = false;
        if (descriptor == -1) {
            if (lstat(path.c_str(), &st) == 0)
                isLink = S_ISLNK(st.st_mode);
            else if (errno != ENOENT)
                return error = errno, false;
        }
        if (!isLink) {
            last = path;
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

}  // namespace

bool classifyOutput(const std::string& path, OutputPath& out, std::string& error) {
    out = OutputPath();
    std::string last;
    int descriptor = -1, failure = 0;
    if (!followLinks(path, last, descriptor, failure)) return error = std::strerror(failure), false;
    struct stat st;
    if (descriptor >= 0) {
        if (fstat(descriptor, &st) != 0) return error = "no such open descriptor", false;
    } else if (stat(last.c_str(), &st) != 0) {
        if (errno != ENOENT || descriptor == -2) return error = std::strerror(errno), false;
        out.target = last;  // nothing there yet: a new file
        return true;
    }
    if (S_ISDIR(st.st_mode)) return error = "is a folder", false;
    if (descriptor == -1 && S_ISREG(st.st_mode)) {
        out.target = last;
        return true;
    }
    if (S_ISSOCK(st.st_mode) && descriptor < 0)
        return error = "is a socket; write to a file, a device or a FIFO instead", false;
    out.kind = OutputPath::Kind::Stream;
    out.target = path;
    out.ownFd = descriptor;
    return true;
}

int openStream(const OutputPath& out, std::string& error) {
    if (out.ownFd >= 0) {
        const int fd = fcntl(out.ownFd, F_DUPFD_CLOEXEC, 3);
        if (fd < 0) error = std::strerror(errno);
        return fd;
    }
    int fd;
    do fd = ::open(out.target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    // Another process's descriptor may stand for a regular file: written
    // from its start, so nothing of an older content is left after ours.
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ftruncate(fd, 0) != 0) {
        error = std::strerror(errno);
        close(fd);
        return -1;
    }
    return fd;
}

bool writeFully(int fd, const void* data, size_t size) {
    const char* at = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, at, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

std::string resolvedPlace(const std::string& path) {
    std::string last = path;
    int descriptor = -1, failure = 0;
    if (!followLinks(path, last, descriptor, failure)) last = path;
    char* folder = realpath(dirName(last).c_str(), nullptr);
    if (!folder) return last;
    const std::string place = std::string(folder) + "/" + baseName(last);
    std::free(folder);
    return place;
}

bool samePlace(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    const bool hasA = stat(a.c_str(), &sa) == 0, hasB = stat(b.c_str(), &sb) == 0;
    if (hasA && hasB) return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
    return !hasA && !hasB && resolvedPlace(a) == resolvedPlace(b);
}
