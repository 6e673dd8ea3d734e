#include "AudioFile.h"

#include <fcntl.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "OutputPath.h"

int depthBits(SampleDepth depth) {
    switch (depth) {
        case SampleDepth::Int8:
            return 8;
        case SampleDepth::Int16:
            return 16;
        case SampleDepth::Int24:
            return 24;
        case SampleDepth::Int32:
            return 32;
        default:
            return 0;
    }
}

long countClipped(const int* words, long count, int bits) {
    const std::uint32_t top = ((std::uint32_t{1} << (bits - 1)) - 1) << (32 - bits);
    const int largest = static_cast<int>(top), smallest = INT_MIN;
    long clipped = 0;
    for (long k = 0; k < count; ++k) clipped += words[k] >= largest || words[k] == smallest;
    return clipped;
}

const char* depthName(SampleDepth depth) {
    switch (depth) {
        case SampleDepth::Int8:
            return "8-bit";
        case SampleDepth::Int16:
            return "16-bit";
        case SampleDepth::Int24:
            return "24-bit";
        case SampleDepth::Int32:
            return "32-bit";
        case SampleDepth::Float:
            return "float";
        case SampleDepth::Double:
            return "double";
        default:
            return "lossy";
    }
}

InputFile::~InputFile() {
    if (file_) sf_close(file_);
}

bool InputFile::open(const std::string& path) {
    struct stat st;
    if (path == "-") {
        file_ = sf_open_fd(STDIN_FILENO, SFM_READ, &info_, SF_FALSE);
        if (!file_) {
            error_ = sf_strerror(nullptr);
            return false;
        }
        if (fstat(STDIN_FILENO, &st) == 0 && S_ISREG(st.st_mode))
            device_ = st.st_dev, inode_ = st.st_ino, known_ = true;
    } else {
        if (g_file_test(path.c_str(), G_FILE_TEST_IS_DIR)) {
            error_ = "is a folder";
            return false;
        }
        if (stat(path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) {
            // A FIFO is waited on for its writer in a way that a stop ends.
            const int fd = openFifoForReading(path);
            if (fd < 0) {
                error_ = std::strerror(errno);
                return false;
            }
            file_ = sf_open_fd(fd, SFM_READ, &info_, SF_TRUE);
            if (!file_) close(fd);
        } else {
            file_ = sf_open(path.c_str(), SFM_READ, &info_);
        }
        if (!file_) {
            error_ =
                g_file_test(path.c_str(), G_FILE_TEST_EXISTS) ? sf_strerror(nullptr) : std::strerror(ENOENT);
            return false;
        }
        if (stat(path.c_str(), &st) == 0) device_ = st.st_dev, inode_ = st.st_ino, known_ = true;
    }
    // A header written to a pipe says "as long as it goes" (0xFFFFFFFF bytes).
    const std::string text = log();
    const bool streamed = text.find(": 4294967295") != std::string::npos;
    if (info_.frames != SF_COUNT_MAX && info_.frames < INT_MAX && !streamed)
        frames_ = static_cast<long>(info_.frames);
    return true;
}

std::string InputFile::log() const {
    char text[8192] = "";
    sf_command(file_, SFC_GET_LOG_INFO, text, sizeof text);
    return text;
}

bool InputFile::eightBit() const {
    const int sub = info_.format & SF_FORMAT_SUBMASK;
    return sub == SF_FORMAT_PCM_U8 || sub == SF_FORMAT_PCM_S8;
}

SampleDepth InputFile::depth() const {
    switch (info_.format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_PCM_S8:
            return SampleDepth::Int8;
        case SF_FORMAT_PCM_24:
            return SampleDepth::Int24;
        case SF_FORMAT_PCM_32:
            return SampleDepth::Int32;
        case SF_FORMAT_FLOAT:
            return SampleDepth::Float;
        case SF_FORMAT_DOUBLE:
            return SampleDepth::Double;
        default:
            return SampleDepth::Int16;
    }
}

long InputFile::read(short* dst, long frames) {
    // Without this a float file read as 16-bit comes out as -1, 0 or 1. It
    // costs a pass over the whole file to find the peak, so only float files
    // pay it, and only when they are read as 16-bit.
    const int sub = info_.format & SF_FORMAT_SUBMASK;
    if (!scaled_ && (sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE))
        sf_command(file_, SFC_SET_SCALE_FLOAT_INT_READ, nullptr, SF_TRUE);
    scaled_ = true;
    return static_cast<long>(sf_readf_short(file_, dst, frames));
}

long InputFile::read(int* dst, long frames) {
    return static_cast<long>(sf_readf_int(file_, dst, frames));
}

long InputFile::read(float* dst, long frames) {
    return static_cast<long>(sf_readf_float(file_, dst, frames));
}

namespace {

// The library's float read of 16-bit samples (each times 2^-15), then the
// gain. Built twice: as is, and for AVX2, which converts twice as many at a
// time, for the machines that have it.
__attribute__((always_inline)) inline void shortsToFloatsBody(const short* __restrict from,
                                                              float* __restrict to, long count, float gain) {
    if (gain == 1.0f) {
        for (long k = 0; k < count; ++k) to[k] = static_cast<float>(from[k]) * (1.0f / 32768.0f);
    } else {
        for (long k = 0; k < count; ++k) to[k] = static_cast<float>(from[k]) * (1.0f / 32768.0f) * gain;
    }
}

#if defined(__x86_64__) && defined(__GNUC__)
__attribute__((target("avx2"))) void shortsToFloatsAvx2(const short* __restrict from, float* __restrict to,
                                                        long count, float gain) {
    shortsToFloatsBody(from, to, count, gain);
}
#endif

void shortsToFloats(const short* from, float* to, long count, float gain) {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) return shortsToFloatsAvx2(from, to, count, gain);
#endif
    shortsToFloatsBody(from, to, count, gain);
}

}  // namespace

long InputFile::read(float* dst, long frames, float gain) {
    if ((info_.format & SF_FORMAT_SUBMASK) != SF_FORMAT_PCM_16) {
        const long n = read(dst, frames);
        if (gain != 1.0f)
            for (long k = 0; k < n * info_.channels; ++k) dst[k] *= gain;
        return n;
    }
    // Frames are read from the file kReadAhead at a time at least: a few
    // large reads cost the system less than many small ones.
    constexpr long kReadAhead = 1 << 16;
    const long channels = info_.channels;
    long done = 0;
    while (done < frames) {
        if (aheadAt_ == ahead_) {
            const long want = std::max(frames - done, kReadAhead);
            const size_t samples = static_cast<size_t>(want * channels);
            if (shorts_.size() < samples) shorts_.resize(samples);
            ahead_ = static_cast<long>(sf_readf_short(file_, shorts_.data(), want));
            aheadAt_ = 0;
            if (ahead_ <= 0) {
                ahead_ = 0;
                break;
            }
        }
        const long n = std::min(frames - done, ahead_ - aheadAt_);
        shortsToFloats(shorts_.data() + aheadAt_ * channels, dst + done * channels, n * channels, gain);
        aheadAt_ += n;
        done += n;
    }
    return done;
}

bool InputFile::failed() const {
    return file_ && sf_error(file_) != SF_ERR_NO_ERROR;
}

std::string InputFile::readError() const {
    return error_.empty() ? sf_strerror(file_) : error_;
}

std::string InputFile::damage(long framesRead) const {
    const std::string text = log();
    long announced = frames_;
    // WAV and AIFF headers that promise more data than the file holds: the
    // library reads what is there and notes "data : <said> (should be <there>)".
    for (const char* chunk : {"\ndata : ", "SSND : "}) {
        const size_t at = text.find(chunk);
        if (at == std::string::npos) continue;
        long long said = 0, there = 0;
        if (std::sscanf(text.c_str() + at + std::strlen(chunk), "%lld (should be %lld)", &said, &there) ==
                2 &&
            there > 0 && said > there) {
            const long long skip = chunk[0] == 'S' ? 8 : 0;  // SSND's offset and block size
            announced = static_cast<long>(static_cast<double>(framesRead) * static_cast<double>(said - skip) /
                                              static_cast<double>(there - skip) +
                                          0.5);
        }
    }
    const bool brokeOff = text.find("ended unexpectedly") != std::string::npos ||
                          text.find("LOST_SYNC") != std::string::npos || failed();
    if (announced > framesRead)
        return "truncated or damaged: read " + std::to_string(framesRead) + " of " +
               std::to_string(announced) + " frames";
    if (brokeOff)
        return "truncated or damaged: the stream broke off after " + std::to_string(framesRead) + " frames";
    return std::string();
}

Tags InputFile::tags() const {
    Tags tags;
    for (int kind = SF_STR_FIRST; kind <= SF_STR_LAST; ++kind)
        if (const char* value = sf_get_string(file_, kind))
            if (*value) tags.emplace_back(kind, value);
    return tags;
}

bool InputFile::isSameFile(const std::string& path) const {
    struct stat st;
    if (!known_ || path == "-" || stat(path.c_str(), &st) != 0) return false;
    return st.st_dev == device_ && st.st_ino == inode_;
}

namespace {

struct Container {
    const char* name;
    int major;
    int s8;     // the 8-bit encoding, 0 when there is none
    bool wide;  // holds 32-bit integer, float and double samples
    int lossy;  // the encoding of a lossy format, which has no depth; 0 for the others
};

const Container kContainers[] = {
    {"wav", SF_FORMAT_WAV, SF_FORMAT_PCM_U8, true, 0},
    {"flac", SF_FORMAT_FLAC, SF_FORMAT_PCM_S8, false, 0},
    {"ogg", SF_FORMAT_OGG, 0, false, SF_FORMAT_VORBIS},
    {"opus", SF_FORMAT_OGG, 0, false, SF_FORMAT_OPUS},
    {"mp3", SF_FORMAT_MPEG, 0, false, SF_FORMAT_MPEG_LAYER_III},
    {"aiff", SF_FORMAT_AIFF, SF_FORMAT_PCM_S8, true, 0},
    {"au", SF_FORMAT_AU, SF_FORMAT_PCM_S8, true, 0},
    {"caf", SF_FORMAT_CAF, SF_FORMAT_PCM_S8, true, 0},
    {"raw", SF_FORMAT_RAW, SF_FORMAT_PCM_S8, true, 0},
};

// Why a lossy format cannot be written at rate Hz; empty when it can.
std::string lossyRateProblem(const Container& c, int rate) {
    if (c.lossy == SF_FORMAT_OPUS && rate != 48000)
        return "Opus is written at 48000 Hz only, and this is " + std::to_string(rate) +
               " Hz (resample first, e.g. sox IN -r 48000 OUT.wav)";
    if (c.lossy == SF_FORMAT_MPEG_LAYER_III) {
        static const int kRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
        for (int r : kRates)
            if (r == rate) return std::string();
        return "MP3 holds the rates 8000 to 48000 Hz, and this is " + std::to_string(rate) +
               " Hz (resample first, or write .opus, .ogg or .flac)";
    }
    return std::string();
}

const Container* containerFor(const std::string& name) {
    for (const Container& c : kContainers)
        if (name == c.name) return &c;
    return nullptr;
}

int subtypeFor(const Container& c, SampleDepth depth) {
    switch (depth) {
        case SampleDepth::Int8:
            return c.s8;
        case SampleDepth::Int16:
            return SF_FORMAT_PCM_16;
        case SampleDepth::Int24:
            return SF_FORMAT_PCM_24;
        case SampleDepth::Int32:
            return c.wide ? SF_FORMAT_PCM_32 : 0;
        case SampleDepth::Float:
            return c.wide ? SF_FORMAT_FLOAT : 0;
        case SampleDepth::Double:
            return c.wide ? SF_FORMAT_DOUBLE : 0;
        default:
            return 0;
    }
}

// An empty FLAC stream: the marker and a last STREAMINFO block that says 0
// samples, with the MD5 signature of no audio. The encoder writes nothing at
// all when it is given no frames.
bool writeEmptyFlac(int fd, int channels, int rate, int bits) {
    unsigned char b[42] = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34, 0x10, 0, 0x10, 0};  // block sizes 4096
    // b[12..17]: smallest and largest frame size, 0 (unknown).
    const unsigned long long packed = (static_cast<unsigned long long>(rate) << 44) |
                                      (static_cast<unsigned long long>(channels - 1) << 41) |
                                      (static_cast<unsigned long long>(bits - 1) << 36);  // 0 samples
    for (int k = 0; k < 8; ++k) b[18 + k] = static_cast<unsigned char>(packed >> (56 - 8 * k));
    static const unsigned char kEmptyMd5[16] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                                0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
    std::memcpy(b + 26, kEmptyMd5, sizeof kEmptyMd5);
    return pwrite(fd, b, sizeof b, 0) == static_cast<ssize_t>(sizeof b);
}

// Little-endian fields of a RIFF header.
std::uint32_t le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
void putLe32(unsigned char* p, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) p[k] = static_cast<unsigned char>(v >> (8 * k));
}

// A float WAV as libsndfile writes it has a 16-byte format chunk, which
// readers that want the 18 bytes of a format other than integer PCM (sox)
// warn about, followed by libsndfile's own PEAK chunk, which others (SciPy)
// warn about. This gives the format chunk its 2-byte extension size (0) and
// turns the PEAK chunk into a JUNK chunk 2 bytes shorter, so that the audio
// stays where it is and the file keeps its length. A header laid out in
// another way is left as it is. False with errno set on a read or write
// error.
bool extendFloatFormatChunk(int fd) {
    // Whether all of [at, at + size) was read; failed tells an error from a short file.
    bool failed = false;
    const auto readAt = [fd, &failed](void* to, size_t size, off_t at) {
        const ssize_t n = pread(fd, to, size, at);
        failed = n < 0;
        return n == static_cast<ssize_t>(size);
    };
    unsigned char head[12];
    if (!readAt(head, sizeof head, 0)) return !failed;
    if (std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0) return true;
    // The chunks before the audio, read whole.
    off_t dataAt = 12;
    for (;;) {
        unsigned char chunk[8];
        if (!readAt(chunk, sizeof chunk, dataAt)) return !failed;
        if (std::memcmp(chunk, "data", 4) == 0) break;
        dataAt += 8 + ((le32(chunk + 4) + 1) & ~std::uint32_t{1});
        if (dataAt > (1 << 20)) return true;  // not libsndfile's header
    }
    std::vector<unsigned char> from(static_cast<size_t>(dataAt - 12)), to;
    if (!readAt(from.data(), from.size(), 12)) return !failed;
    bool format = false, peak = false;
    for (size_t at = 0; at + 8 <= from.size();) {
        const unsigned char* chunk = from.data() + at;
        const size_t size = le32(chunk + 4), next = at + 8 + ((size + 1) & ~size_t{1});
        if (next > from.size()) return true;
        if (std::memcmp(chunk, "fmt ", 4) == 0 && size == 16 && chunk[8] == 3 && chunk[9] == 0) {
            to.insert(to.end(), chunk, chunk + 24);
            putLe32(to.data() + to.size() - 20, 18);
            to.insert(to.end(), 2, 0);
            format = true;
        } else if (std::memcmp(chunk, "PEAK", 4) == 0 && size >= 2 && size % 2 == 0 && !peak) {
            const unsigned char junk[8] = {'J', 'U', 'N', 'K'};
            to.insert(to.end(), junk, junk + 8);
            putLe32(to.data() + to.size() - 4, static_cast<std::uint32_t>(size - 2));
            to.insert(to.end(), size - 2, 0);
            peak = true;
        } else {
            to.insert(to.end(), chunk, chunk + (next - at));
        }
        at = next;
    }
    if (!format || !peak || to.size() != from.size()) return true;
    return pwrite(fd, to.data(), to.size(), 12) == static_cast<ssize_t>(to.size());
}

std::string dirName(const std::string& path) {
    gchar* dir = g_path_get_dirname(path.c_str());
    std::string result = dir;
    g_free(dir);
    return result;
}

std::string fdPath(int fd) {
    return "/proc/self/fd/" + std::to_string(fd);
}

// Opens an unnamed file in folder; -1 where the file system has none.
int openUnnamed(const std::string& folder) {
#ifdef O_TMPFILE
    return ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#else
    (void)folder;
    errno = EOPNOTSUPP;
    return -1;
#endif
}

}  // namespace

std::string OutputFile::typeFor(const std::string& path, const std::string& type) {
    std::string e = type;
    if (e.empty()) {
        const char* dot = std::strrchr(path.c_str(), '.');
        if (!dot || std::strchr(dot, '/')) return std::string();
        e = dot + 1;
    }
    gchar* lower = g_ascii_strdown(e.c_str(), -1);
    e = lower;
    g_free(lower);
    if (e == "oga") e = "ogg";
    if (e == "aif") e = "aiff";
    if (e == "snd") e = "au";
    return containerFor(e) ? e : std::string();
}

pid_t OutputFile::parent_ = 0;

void OutputFile::commitOnlyUnder(pid_t parent) {
    parent_ = parent;
}

OutputFile::~OutputFile() {
    if (file_) sf_close(file_);
    if (fd_ >= 0) close(fd_);
    if (stream_ > STDERR_FILENO) close(stream_);
    if (!temp_.empty()) g_unlink(temp_.c_str());
}

bool OutputFile::open(const std::string& path, int channels, int rate, bool eightBit) {
    return open(path, std::string(), channels, rate, eightBit ? SampleDepth::Int8 : SampleDepth::Int16, true);
}

bool OutputFile::open(const std::string& path, const std::string& type, int channels, int rate,
                      SampleDepth depth, bool exact) {
    if (path != "-" && g_file_test(path.c_str(), G_FILE_TEST_IS_DIR)) {
        error_ = "is a folder";
        return false;
    }
    const Container* c = containerFor(typeFor(path, type));
    if (!c) {
        error_ = path == "-"
                     ? "standard output needs --type (wav, flac, ogg, opus, mp3, aiff, au, caf or raw)"
                     : "unknown output format (use .wav, .flac, .ogg, .opus, .mp3, .aiff, .au or .caf, "
                       "or --type)";
        return false;
    }
    int subtype = c->lossy;
    depth_ = SampleDepth::None;
    if (c->lossy) {
        const std::string problem = lossyRateProblem(*c, rate);
        if (!problem.empty()) {
            error_ = problem;
            return false;
        }
    } else {
        subtype = subtypeFor(*c, depth);
        if (!subtype && exact) {
            error_ = std::string(c->name) + " cannot hold " + depthName(depth) + " samples";
            return false;
        }
        if (!subtype) depth = SampleDepth::Int24;  // the widest that every container holds
        depth_ = depth;
        subtype = subtypeFor(*c, depth);
    }
    info_ = SF_INFO{};
    info_.channels = channels;
    info_.samplerate = rate;
    info_.format = c->major | subtype;
    if (!sf_format_check(&info_)) {
        error_ = "this format cannot hold the result";
        return false;
    }
    // A device, a FIFO or a descriptor is written straight into at the end,
    // as standard output is; it is opened now, so that a refusal comes
    // before any work (a FIFO waits here for its reader).
    std::string folder;
    OutputPath where;
    if (path == "-") {
        stream_ = STDOUT_FILENO;
    } else if (!classifyOutput(path, where, error_)) {
        return false;
    } else if (where.kind == OutputPath::Kind::Stream) {
        stream_ = openStream(where, error_);
        if (stream_ < 0) return false;
    } else {
        target_ = where.target;
        folder = dirName(target_);
    }
    if (stream_ >= 0) folder = g_get_tmp_dir();
    fd_ = openUnnamed(folder);
    if (fd_ < 0) {
        if (errno == ENOENT || errno == ENOTDIR || errno == EACCES || errno == EROFS) {
            error_ = std::strerror(errno);
            return false;
        }
        // No unnamed files here: a hidden name beside the target.
        gchar* base = g_path_get_basename(stream_ >= 0 ? "kesta" : target_.c_str());
        gchar* temp = g_strdup_printf("%s/.%s.XXXXXX", folder.c_str(), base);
        g_free(base);
        fd_ = g_mkstemp(temp);
        if (fd_ < 0) {
            error_ = std::strerror(errno);
            g_free(temp);
            return false;
        }
        temp_ = temp;
        g_free(temp);
    }
    SF_INFO info = info_;
    file_ = sf_open_fd(fd_, SFM_WRITE, &info, SF_FALSE);
    if (!file_) {
        error_ = sf_strerror(nullptr);
        return false;
    }
    frames_ = 0;
    return true;
}

bool OutputFile::setQuality(int quality) {
    const int sub = info_.format & SF_FORMAT_SUBMASK;
    if (sub != SF_FORMAT_VORBIS && sub != SF_FORMAT_OPUS && sub != SF_FORMAT_MPEG_LAYER_III) return false;
    // libsndfile's scale runs the other way: 0 is the best, 1 the smallest.
    double level = 1.0 - quality / 10.0;
    if (sub == SF_FORMAT_MPEG_LAYER_III) {
        // A constant bit rate, so that the quality names one: libsndfile
        // spreads the level over 32 to 320 kbit/s (8 to 160 below 32 kHz, 8
        // to 64 below 16 kHz). The lowest bit rates are left out: there the
        // encoder lowers the sample rate and the file no longer reads back
        // with the length written. Quality 0 is then 75, 64 and 32 kbit/s.
        int mode = SF_BITRATE_MODE_CONSTANT;
        sf_command(file_, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
        level *= info_.samplerate >= 32000 ? 0.85 : info_.samplerate >= 16000 ? 0.63 : 0.57;
    }
    return sf_command(file_, SFC_SET_COMPRESSION_LEVEL, &level, sizeof level) == SF_TRUE;
}

namespace {

const char* tagName(int kind) {
    switch (kind) {
        case SF_STR_TITLE:
            return "title";
        case SF_STR_COPYRIGHT:
            return "copyright";
        case SF_STR_SOFTWARE:
            return "software";
        case SF_STR_ARTIST:
            return "artist";
        case SF_STR_COMMENT:
            return "comment";
        case SF_STR_DATE:
            return "date";
        case SF_STR_ALBUM:
            return "album";
        case SF_STR_LICENSE:
            return "license";
        case SF_STR_TRACKNUMBER:
            return "track number";
        case SF_STR_GENRE:
            return "genre";
        default:
            return "text";
    }
}

}  // namespace

std::string OutputFile::setTags(const Tags& tags) {
    // The longest tag each container holds: past it, libsndfile writes none
    // of the file's tags at all (WAV's INFO chunk, AIFF's text chunks).
    const int major = info_.format & SF_FORMAT_TYPEMASK;
    const size_t longest = major == SF_FORMAT_WAV ? 2000 : major == SF_FORMAT_AIFF ? 8000 : 1u << 30;
    // Vorbis comments (Ogg, Opus, FLAC) and MP3's ID3 hold UTF-8 text.
    const bool utf8 = major == SF_FORMAT_OGG || major == SF_FORMAT_FLAC || major == SF_FORMAT_MPEG;
    std::string left, repaired;
    auto add = [](std::string& list, const std::string& item) { list += (list.empty() ? "" : ", ") + item; };
    for (const auto& tag : tags) {
        std::string value = tag.second;
        if (utf8 && !g_utf8_validate(value.data(), static_cast<gssize>(value.size()), nullptr)) {
            gchar* valid = g_utf8_make_valid(value.data(), static_cast<gssize>(value.size()));
            value = valid;
            g_free(valid);
            add(repaired, tagName(tag.first));
        }
        if (value.size() > longest || sf_set_string(file_, tag.first, value.c_str()) != 0)
            add(left, std::string(tagName(tag.first)) + " (" + std::to_string(value.size()) + " bytes)");
    }
    std::string said;
    if (!left.empty()) said = "the output's format cannot hold these tags, so they are left out: " + left;
    if (!repaired.empty())
        said += (said.empty() ? "" : "; ") + std::string("the tags ") + repaired +
                " are not valid UTF-8, which the output's format needs: what is not is written as U+FFFD";
    return said;
}

bool OutputFile::wrote(sf_count_t written, long frames) {
    if (written != frames) {
        error_ = sf_strerror(file_);
        return false;
    }
    frames_ += frames;
    return true;
}

bool OutputFile::write(const short* src, long frames) {
    return wrote(sf_writef_short(file_, src, frames), frames);
}

bool OutputFile::write(const int* src, long frames) {
    return wrote(sf_writef_int(file_, src, frames), frames);
}

bool OutputFile::write(const float* src, long frames) {
    return wrote(sf_writef_float(file_, src, frames), frames);
}

// Whether the temporary file opens as the audio that was written to it.
bool OutputFile::readsBack() {
    if ((info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW) {
        struct stat st;
        const int bytes = depth_ == SampleDepth::Double ? 8 : depthBits(depth_) ? depthBits(depth_) / 8 : 4;
        return fstat(fd_, &st) == 0 && st.st_size == static_cast<off_t>(frames_) * info_.channels * bytes;
    }
    SF_INFO info{};
    SNDFILE* check = sf_open(fdPath(fd_).c_str(), SFM_READ, &info);
    if (!check) return false;
    sf_close(check);
    // FLAC marks a stream without samples as of unknown length.
    const bool unknownLength = info.frames == SF_COUNT_MAX && frames_ == 0;
    return info.channels == info_.channels && info.samplerate == info_.samplerate &&
           (info.frames == frames_ || unknownLength);
}

bool OutputFile::putInPlace() {
    if (!temp_.empty()) {
        if (g_rename(temp_.c_str(), target_.c_str()) != 0) return error_ = std::strerror(errno), false;
        temp_.clear();
        return true;
    }
    // An unnamed file gets its name at last: straight as the target when
    // there is none yet, else a hidden name that is then renamed over it.
    const std::string source = fdPath(fd_);
    if (linkat(AT_FDCWD, source.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) == 0) return true;
    if (errno != EEXIST) return error_ = std::strerror(errno), false;
    gchar* dir = g_path_get_dirname(target_.c_str());
    gchar* base = g_path_get_basename(target_.c_str());
    for (int attempt = 0; attempt < 100; ++attempt) {
        gchar* name = g_strdup_printf("%s/.%s.%08x", dir, base, g_random_int());
        const std::string hidden = name;
        g_free(name);
        if (linkat(AT_FDCWD, source.c_str(), AT_FDCWD, hidden.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno == EEXIST) continue;
            break;
        }
        temp_ = hidden;  // removed by the destructor if the rename fails
        break;
    }
    g_free(dir);
    g_free(base);
    if (temp_.empty()) return error_ = std::strerror(errno), false;
    return putInPlace();
}

bool OutputFile::commit() {
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) {
        error_ = sf_error_number(closed);
        return false;
    }
    struct stat st;
    if (frames_ == 0 && (info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC && fstat(fd_, &st) == 0 &&
        st.st_size == 0) {
        const int bits = (info_.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_S8 ? 8 : 16;
        if (!writeEmptyFlac(fd_, info_.channels, info_.samplerate, bits)) {
            error_ = std::strerror(errno);
            return false;
        }
    }
    const int sub = info_.format & SF_FORMAT_SUBMASK;
    if ((info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV &&
        (sub == SF_FORMAT_FLOAT || sub == SF_FORMAT_DOUBLE) && !extendFloatFormatChunk(fd_)) {
        error_ = std::strerror(errno);
        return false;
    }
    if (frames_ == 0 && (sub == SF_FORMAT_OPUS || sub == SF_FORMAT_MPEG_LAYER_III)) {
        // libsndfile writes them as nothing, or as a stream it cannot read.
        error_ = "the input has no audio, and an empty MP3 or Opus file cannot be written";
        return false;
    }
    if (!readsBack()) {
        error_ = "the result does not read back as written, so nothing was replaced";
        return false;
    }
    if (parent_ != 0 && getppid() != parent_) {
        error_ = "the batch that asked for it has ended, so nothing was put in place";
        return false;
    }
    if (stream_ >= 0) {
        char block[1 << 16];
        for (off_t at = 0;;) {
            const ssize_t n = pread(fd_, block, sizeof block, at);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return error_ = std::strerror(errno), false;
            if (n == 0) return true;
            if (!writeFully(stream_, block, static_cast<size_t>(n)))
                return error_ = std::strerror(errno), false;
            at += n;
        }
    }
    // The temporary file is private: give it the mode and owner of the
    // file it replaces, or the usual mode of a new file.
    takeModeAndOwner(fd_, target_);
    return putInPlace();
}
