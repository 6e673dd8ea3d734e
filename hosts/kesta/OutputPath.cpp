#include "OutputPath.h"

#include <fcntl.h>
#include <glib.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

const volatile std::sig_atomic_t* streamStop = nullptr;

bool stopAsked() {
    return streamStop && *streamStop;
}

// The longest a wait on a stream goes without looking at streamStop.
constexpr int kWaitSliceMs = 100;

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

void setStreamStop(const volatile std::sig_atomic_t* stop) {
    streamStop = stop;
}

int openFifoForReading(const std::string& path) {
    // Opened without blocking, which a FIFO allows with no writer yet; then
    // waited on until its first writer has written (or closed).
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    for (;;) {
        if (stopAsked()) {
            close(fd);
            errno = EINTR;
            return -1;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, kWaitSliceMs) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR))) break;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

int openStream(const OutputPath& out, std::string& error) {
    if (out.ownFd >= 0) {
        const int fd = fcntl(out.ownFd, F_DUPFD_CLOEXEC, 3);
        if (fd < 0) error = std::strerror(errno);
        return fd;
    }
    // Opened without blocking, so that a FIFO without a reader (ENXIO) or a
    // slow device is waited for here, a slice at a time, and a stop request
    // ends the wait; the descriptor then blocks as usual.
    int fd;
    for (;;) {
        if (stopAsked()) {
            error = std::strerror(EINTR);
            errno = EINTR;
            return -1;
        }
        fd = ::open(out.target.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0 || (errno != ENXIO && errno != EINTR && errno != EAGAIN)) break;
        poll(nullptr, 0, errno == ENXIO ? 20 : 1);
    }
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
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
    struct stat st;
    const bool pipe = fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode);
    while (size > 0) {
        if (stopAsked()) return errno = EINTR, false;
        // A pipe or FIFO that is full is waited for a slice at a time; once
        // it has room, a write of PIPE_BUF bytes fits without blocking.
        pollfd p{fd, POLLOUT, 0};
        const int ready = poll(&p, 1, kWaitSliceMs);
        if (ready < 0 && errno != EINTR) return false;
        if (ready <= 0) continue;
        const ssize_t n = ::write(fd, at, pipe ? std::min<size_t>(size, PIPE_BUF) : size);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
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

void takeModeAndOwner(int fd, const std::string& target) {
    struct stat st;
    if (stat(target.c_str(), &st) == 0) {
        if (fchown(fd, st.st_uid, st.st_gid) != 0) {
            // Only root may give a file away.
        }
        fchmod(fd, st.st_mode & 07777);
        return;
    }
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
}

FileReplacement::~FileReplacement() {
    if (fd_ >= 0) close(fd_);
    if (!temp_.empty()) unlink(temp_.c_str());
}

bool FileReplacement::open(const std::string& target, std::string& error) {
    target_ = target;
    const std::string folder = dirName(target);
#ifdef O_TMPFILE
    fd_ = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#else
    errno = EOPNOTSUPP;
#endif
    if (fd_ >= 0) return true;
    if (errno == ENOENT || errno == ENOTDIR || errno == EACCES || errno == EROFS)
        return error = std::strerror(errno), false;
    gchar* temp = g_strdup_printf("%s/.%s.XXXXXX", folder.c_str(), baseName(target).c_str());
    fd_ = g_mkstemp_full(temp, O_RDWR | O_CLOEXEC, 0600);
    if (fd_ >= 0) temp_ = temp;
    g_free(temp);
    if (fd_ < 0) return error = std::strerror(errno), false;
    return true;
}

bool FileReplacement::commit(std::string& error) {
    takeModeAndOwner(fd_, target_);
    if (temp_.empty()) {
        // The unnamed file gets its name at last: straight as the target
        // when there is none yet, else a hidden one renamed over it.
        const std::string source = "/proc/self/fd/" + std::to_string(fd_);
        if (linkat(AT_FDCWD, source.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
        if (errno != EEXIST) return error = std::strerror(errno), false;
        for (int attempt = 0; attempt < 100 && temp_.empty(); ++attempt) {
            gchar* name = g_strdup_printf("%s/.%s.%08x", dirName(target_).c_str(), baseName(target_).c_str(),
                                          g_random_int());
            if (linkat(AT_FDCWD, source.c_str(), AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0)
                temp_ = name;
            else if (errno != EEXIST)
                attempt = 100;
            g_free(name);
        }
        if (temp_.empty()) return error = std::strerror(errno), false;
    }
    if (rename(temp_.c_str(), target_.c_str()) != 0) return error = std::strerror(errno), false;
    temp_.clear();
    return true;
}
