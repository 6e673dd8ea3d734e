// Where an output named on the command line lands. A regular file (or a
// name with nothing there yet) is replaced whole at the end; anything else
// (a device, a FIFO, a descriptor such as /dev/stdout or /proc/self/fd/N) is
// written straight into, as standard output is, and never renamed over,
// unlinked or replaced. A socket or a folder is refused.
#pragma once

#include <string>

struct OutputPath {
    enum class Kind { File, Stream };
    Kind kind = Kind::File;
    // File: the file a write lands in, links followed (also to a name that
    // does not exist yet). Stream: the path as named.
    std::string target;
    // Stream: the descriptor of this process that the path names (for
    // /dev/stdout, /proc/self/fd/N, ...), or -1 when the path is opened.
    int ownFd = -1;
};

// Answers false with error set (in words for the user) when path cannot be
// an output: a folder, a socket, a link loop. Opens nothing.
bool classifyOutput(const std::string& path, OutputPath& out, std::string& error);

// Opens a Stream output for writing: a duplicate of this process's own
// descriptor, or the path itself (a FIFO waits for its reader here). -1 with
// error set when it cannot be opened.
int openStream(const OutputPath& out, std::string& error);

// Writes all of size bytes to fd; false with errno set.
bool writeFully(int fd, const void* data, size_t size);

// The place a path names once links are followed and its folder resolved,
// for telling whether two names are one file before either exists.
std::string resolvedPlace(const std::string& path);

// Whether a and b name one file: the same device and inode when both exist,
// else the same resolved place.
bool samePlace(const std::string& a, const std::string& b);
