// Audio files through libsndfile: read as 16-bit or float frames, written
// from 16-bit, 32-bit integer or float frames.
#pragma once

#include <sndfile.h>
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

// A sample encoding as the user names it (--bits 8|16|24|32|float).
enum class SampleDepth { None, Int8, Int16, Int24, Int32, Float, Double };

// Bits of an integer depth (8 to 32); 0 for float, double and None.
int depthBits(SampleDepth depth);
// Samples of a depth of bits bits that clipped, as kesta counts them both when
// it writes and when it reads: those at full scale, the largest or the
// smallest value. words hold a sample in their top bits (as read(int*) gives).
long countClipped(const int* words, long count, int bits);
// "8-bit", "16-bit", ..., "float", "double".
const char* depthName(SampleDepth depth);

// Text tags of a file: libsndfile's string kinds (SF_STR_TITLE, ...) and values.
using Tags = std::vector<std::pair<int, std::string>>;

class InputFile {
  public:
    ~InputFile();
    // "-" reads standard input. False with error() set when the file cannot
    // be read as audio.
    bool open(const std::string& path);
    const std::string& error() const { return error_; }
    int channels() const { return info_.channels; }
    int rate() const { return info_.samplerate; }
    // The frames the file's header announces, or -1 when it does not say
    // (a stream written to a pipe, an Ogg file without its end).
    long frames() const { return frames_; }
    // Whether the file stores 8-bit samples.
    bool eightBit() const;
    // The depth the file stores: lossy and companded encodings count as 16-bit.
    SampleDepth depth() const;
    // Reads up to frames interleaved frames; answers how many it read (0 at
    // the end of the file or on a read error: failed() tells them apart).
    // Float files are scaled to the full 16-bit range for the 16-bit read.
    long read(short* dst, long frames);
    long read(float* dst, long frames);
    // 32-bit integer frames: a sample of b bits in the top b bits.
    long read(int* dst, long frames);
    // The float read with each sample times gain. 16-bit files are read as
    // they are stored and converted here in one pass, giving the same values
    // as the library's own conversion followed by the gain; they are read
    // ahead in large pieces, so the other reads do not mix with this one.
    long read(float* dst, long frames, float gain);
    bool failed() const;
    std::string readError() const;
    // After the last read: when the file ended before its header said it
    // would, or broke off, the words that say so ("read 16640 of 68545
    // frames"); empty for a whole file.
    std::string damage(long framesRead) const;
    Tags tags() const;
    // Whether path names this very file (same device and inode, through links).
    bool isSameFile(const std::string& path) const;

  private:
    std::string log() const;

    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
    long frames_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
    bool known_ = false;  // device_ and inode_ are set
    std::string error_;
    std::vector<short> shorts_;     // the float read's 16-bit frames read ahead
    long aheadAt_ = 0, ahead_ = 0;  // the next of them handed out, and how many there are
    bool scaled_ = false;           // float samples are scaled for the 16-bit read
};

// Written to an unnamed temporary file in the target's folder (or one with a
// hidden name beside it where the file system has no unnamed files) and put
// in place by commit(), so that the target is only ever replaced by a
// complete result that reads back as what was written, and an interrupted or
// killed run leaves nothing behind. A path that is a link is written through
// (the file it points to is replaced, or made when it points to nothing yet),
// and a file that is replaced keeps its permissions and (where this process
// may give it) its owner. "-" writes standard
// output, once the whole result is complete; so does a device, a FIFO or a
// descriptor (/dev/stdout, /proc/self/fd/N), which is never renamed over or
// replaced, and a socket is refused. Without commit() nothing stays.
class OutputFile {
  public:
    ~OutputFile();
    // The format comes from type when it is not empty (wav, flac, ogg, opus,
    // mp3, aiff, au, caf, raw), else from the extension of path. When the format cannot
    // hold depth, exact refuses; otherwise the nearest depth it holds is
    // taken (depth() tells). False with error() set when the format is
    // unknown, refused, or the file cannot be written. Opus is written at
    // 48000 Hz only, MP3 at its own rates (8000 to 48000 Hz).
    bool open(const std::string& path, const std::string& type, int channels, int rate, SampleDepth depth,
              bool exact);
    // A file of the extension's format with 8-bit (unsigned where the format
    // has it) or 16-bit samples.
    bool open(const std::string& path, int channels, int rate, bool eightBit);
    const std::string& error() const { return error_; }
    // The depth written; None for a lossy format (Ogg Vorbis, Opus, MP3).
    SampleDepth depth() const { return depth_; }
    // The quality of a lossy format (Ogg Vorbis, Opus, MP3), from 0 (the
    // smallest file) to 10 (the best); before the first write. False when
    // the format is not lossy or refuses it. MP3 is then written at a
    // constant bit rate.
    bool setQuality(int quality);
    // Sets the tags the format can hold; before the first write. Answers
    // what could not be kept as it was, in words for the user (empty when
    // all were): tags too long for the format or that it has no place for,
    // left out, and text that is not the UTF-8 the format needs, repaired.
    std::string setTags(const Tags& tags);
    bool write(const short* src, long frames);
    // 32-bit integer frames: a sample of b bits sits in the top b bits.
    bool write(const int* src, long frames);
    bool write(const float* src, long frames);
    bool commit();
    // For a worker process: from now on commit() puts nothing in place once
    // parent is no longer this process's parent (it has ended).
    static void commitOnlyUnder(pid_t parent);

    // The format's name ("wav", ...) for a --type or, when it is empty, a
    // path's extension; empty when unknown.
    static std::string typeFor(const std::string& path, const std::string& type);

  private:
    // After a write of frames frames of which written went in: counts them, or
    // keeps the library's error and answers false.
    bool wrote(sf_count_t written, long frames);
    bool readsBack();
    bool putInPlace();

    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
    SampleDepth depth_ = SampleDepth::Int16;
    int fd_ = -1;
    int stream_ = -1;  // standard output, or the device, FIFO or descriptor written straight into
    long frames_ = 0;  // written so far
    std::string target_, temp_, error_;  // temp_: the hidden name, when there is one
    static pid_t parent_;                // see commitOnlyUnder; 0: none
};
