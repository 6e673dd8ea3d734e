// Audio files through libsndfile, read and written as 16-bit frames.
#pragma once

#include <sndfile.h>

#include <string>

class InputFile {
public:
    ~InputFile();
    // False with error() set when the file cannot be read as audio.
    bool open(const std::string& path);
    const std::string& error() const { return error_; }
    int channels() const { return info_.channels; }
    int rate() const { return info_.samplerate; }
    long frames() const { return static_cast<long>(info_.frames); }
    // Whether the file stores 8-bit samples.
    bool eightBit() const;
    // Reads up to frames interleaved frames; answers how many it read (0 at
    // the end of the file or on a read error: failed() tells them apart).
    long read(short* dst, long frames);
    bool failed() const;
    std::string readError() const;

private:
    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
    std::string error_;
};

// Written to a temporary file beside the target and renamed over it by
// commit(), so that the target is only ever replaced by a complete result
// that reads back as what was written. A path that is a link is written
// through (the file it points to is replaced, or made when it points to
// nothing yet), and a file that is replaced keeps its permissions.
// Without commit() the temporary file is removed.
class OutputFile {
public:
    ~OutputFile();
    // The format comes from the extension of path (.wav, .flac, .ogg, .aiff,
    // .au, .caf); false with error() set when it is unknown or cannot be written.
    bool open(const std::string& path, int channels, int rate, bool eightBit);
    const std::string& error() const { return error_; }
    bool write(const short* src, long frames);
    bool commit();

private:
    bool readsBack();

    SNDFILE* file_ = nullptr;
    SF_INFO info_{};
    long frames_ = 0;  // written so far
    std::string target_, temp_, error_;
};
