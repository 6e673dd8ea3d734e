// Where an output named on the command line lands. A regular file (or a
// name with nothing there yet) is replaced whole at the end; anything else
// (a device, a FIFO, a descriptor such as /dev/stdout or /proc/self/fd/N) is
// written straight into, as standard output is, and never renamed over,
// unlinked or replaced. A socket or a folder is refused.
#pragma once

#include <csignal>
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

// The flag that asks waits on streams to give up: openStream and writeFully
// look at it at least every 100 ms while they wait for a reader, and fail
// with EINTR once it is non-zero. Null (the default): they wait as long as
// it takes.
void setStreamStop(const volatile std::sig_atomic_t* stop);

// Opens a FIFO for reading once a writer has come, looking at the stop flag
// (see setStreamStop) as it waits. -1 with errno set (EINTR when stopped).
int openFifoForReading(const std::string& path);

// Opens a Stream output for writing: a duplicate of this process's own
// descriptor, or the path itself (a FIFO waits here for its reader, see
// setStreamStop). -1 with error set when it cannot be opened.
int openStream(const OutputPath& out, std::string& error);

// Writes all of size bytes to fd, waiting for a slow reader (see
// setStreamStop); false with errno set.
bool writeFully(int fd, const void* data, size_t size);

// The place a path names once links are followed and its folder resolved,
// for telling whether two names are one file before either exists.
std::string resolvedPlace(const std::string& path);

// A file written whole before it takes target's place: an unnamed temporary
// file in target's folder (one with a hidden name beside it where the file
// system has no unnamed files), put in place by commit() with the mode and,
// where this process may give it, the owner of the file it replaces (a new
// file gets the usual mode under the umask). Without commit() nothing stays.
class FileReplacement {
  public:
    FileReplacement() = default;
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;
    ~FileReplacement();
    // target is a file's path, links already followed (OutputPath::target).
    // False with error set when no temporary file can be made.
    bool open(const std::string& target, std::string& error);
    int fd() const { return fd_; }
    bool commit(std::string& error);

  private:
    int fd_ = -1;
    std::string target_, temp_;  // temp_: the hidden name, when there is one
};

// Gives the file open at fd the mode and owner of the file at target, or
// the usual mode of a new file when there is none: what a file that takes
// target's place should have. The owner is kept only where this process
// may give it (as root); anyone else keeps the file as theirs.
void takeModeAndOwner(int fd, const std::string& target);
