#include "AudioFile.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

InputFile::~InputFile() {
    if (file_) sf_close(file_);
}

bool InputFile::open(const std::string& path) {
    if (g_file_test(path.c_str(), G_FILE_TEST_IS_DIR)) {
        error_ = "is a directory";
        return false;
    }
    file_ = sf_open(path.c_str(), SFM_READ, &info_);
    if (!file_) {
        error_ = g_file_test(path.c_str(), G_FILE_TEST_EXISTS) ? sf_strerror(nullptr) : std::strerror(ENOENT);
        return false;
    }
    return true;
}

bool InputFile::eightBit() const {
    const int sub = info_.format & SF_FORMAT_SUBMASK;
    return sub == SF_FORMAT_PCM_U8 || sub == SF_FORMAT_PCM_S8;
}

long InputFile::read(short* dst, long frames) { return static_cast<long>(sf_readf_short(file_, dst, frames)); }

bool InputFile::failed() const { return file_ && sf_error(file_) != SF_ERR_NO_ERROR; }

std::string InputFile::readError() const { return error_.empty() ? sf_strerror(file_) : error_; }

namespace {

// Container and sample encoding for a file name's extension; 0 when unknown.
int formatFor(const std::string& path, bool eightBit) {
    const char* dot = std::strrchr(path.c_str(), '.');
    if (!dot || std::strchr(dot, '/')) return 0;
    gchar* ext = g_ascii_strdown(dot + 1, -1);
    const std::string e = ext;
    g_free(ext);
    if (e == "wav") return SF_FORMAT_WAV | (eightBit ? SF_FORMAT_PCM_U8 : SF_FORMAT_PCM_16);
    if (e == "flac") return SF_FORMAT_FLAC | (eightBit ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_16);
    if (e == "ogg" || e == "oga") return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    if (e == "aif" || e == "aiff") return SF_FORMAT_AIFF | (eightBit ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_16);
    if (e == "au") return SF_FORMAT_AU | (eightBit ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_16);
    if (e == "caf") return SF_FORMAT_CAF | (eightBit ? SF_FORMAT_PCM_S8 : SF_FORMAT_PCM_16);
    return 0;
}

// The file a write lands in: links are followed, also to a target that does
// not exist yet. False with errno's value in error on a loop or a link that
// cannot be read.
bool resolveTarget(const std::string& name, std::string& target, int& error) {
    std::string path = name;
    for (int hops = 0;; ++hops) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            target = path;
            return true;
        }
        if (hops == 40) return error = ELOOP, false;
        gchar* link = g_file_read_link(path.c_str(), nullptr);
        if (!link) return error = errno, false;
        if (g_path_is_absolute(link)) {
            path = link;
        } else {
            gchar* dir = g_path_get_dirname(path.c_str());
            path = std::string(dir) + "/" + link;
            g_free(dir);
        }
        g_free(link);
    }
}

// An empty FLAC stream: the marker and a last STREAMINFO block that says 0
// samples, with the MD5 signature of no audio. The encoder writes nothing at
// all when it is given no frames.
bool writeEmptyFlac(const std::string& path, int channels, int rate, int bits) {
    unsigned char b[42] = {'f', 'L', 'a', 'C', 0x80, 0, 0, 34, 0x10, 0, 0x10, 0};  // block sizes 4096
    // b[12..17]: smallest and largest frame size, 0 (unknown).
    const unsigned long long packed = (static_cast<unsigned long long>(rate) << 44) |
                                      (static_cast<unsigned long long>(channels - 1) << 41) |
                                      (static_cast<unsigned long long>(bits - 1) << 36);  // 0 samples
    for (int k = 0; k < 8; ++k) b[18 + k] = static_cast<unsigned char>(packed >> (56 - 8 * k));
    static const unsigned char kEmptyMd5[16] = {0xd4, 0x1d, 0x8c, 0xd9, 0x8f, 0x00, 0xb2, 0x04,
                                                0xe9, 0x80, 0x09, 0x98, 0xec, 0xf8, 0x42, 0x7e};
    std::memcpy(b + 26, kEmptyMd5, sizeof kEmptyMd5);
    return g_file_set_contents(path.c_str(), reinterpret_cast<const char*>(b), sizeof b, nullptr);
}

}  // namespace

OutputFile::~OutputFile() {
    if (file_) sf_close(file_);
    if (!temp_.empty()) g_unlink(temp_.c_str());
}

bool OutputFile::open(const std::string& path, int channels, int rate, bool eightBit) {
    info_ = SF_INFO{};
    info_.channels = channels;
    info_.samplerate = rate;
    info_.format = formatFor(path, eightBit);
    if (info_.format == 0) {
        error_ = "unknown output format (use .wav, .flac, .ogg, .aiff, .au or .caf)";
        return false;
    }
    if (!sf_format_check(&info_)) {
        error_ = "this format cannot hold the result";
        return false;
    }
    int failure = 0;
    if (!resolveTarget(path, target_, failure)) {
        error_ = std::strerror(failure);
        return false;
    }
    if (g_file_test(target_.c_str(), G_FILE_TEST_IS_DIR)) {
        error_ = "is a folder";
        return false;
    }
    gchar* dir = g_path_get_dirname(target_.c_str());
    gchar* base = g_path_get_basename(target_.c_str());
    gchar* temp = g_strdup_printf("%s/.%s.XXXXXX", dir, base);
    g_free(dir);
    g_free(base);
    const int fd = g_mkstemp(temp);
    if (fd < 0) {
        error_ = std::strerror(errno);
        g_free(temp);
        return false;
    }
    temp_ = temp;
    g_free(temp);
    SF_INFO info = info_;
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (!file_) {
        error_ = sf_strerror(nullptr);
        return false;
    }
    frames_ = 0;
    return true;
}

bool OutputFile::write(const short* src, long frames) {
    if (sf_writef_short(file_, src, frames) != frames) {
        error_ = sf_strerror(file_);
        return false;
    }
    frames_ += frames;
    return true;
}

// Whether the temporary file opens as the audio that was written to it.
bool OutputFile::readsBack() {
    SF_INFO info{};
    SNDFILE* check = sf_open(temp_.c_str(), SFM_READ, &info);
    if (!check) return false;
    sf_close(check);
    // FLAC marks a stream without samples as of unknown length.
    const bool unknownLength = info.frames == SF_COUNT_MAX && frames_ == 0;
    return info.channels == info_.channels && info.samplerate == info_.samplerate &&
           (info.frames == frames_ || unknownLength);
}

bool OutputFile::commit() {
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) {
        error_ = sf_error_number(closed);
        return false;
    }
    struct stat st;
    if (frames_ == 0 && (info_.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC && stat(temp_.c_str(), &st) == 0 &&
        st.st_size == 0) {
        const int bits = (info_.format & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_S8 ? 8 : 16;
        if (!writeEmptyFlac(temp_, info_.channels, info_.samplerate, bits)) {
            error_ = std::strerror(errno);
            return false;
        }
    }
    if (!readsBack()) {
        error_ = "the result does not read back as written, so nothing was replaced";
        return false;
    }
    // The temporary file was made private by mkstemp: give it the mode of the
    // file it replaces, or the usual mode of a new file.
    mode_t mode;
    if (stat(target_.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        mode = 0666 & ~mask;
    }
    g_chmod(temp_.c_str(), static_cast<int>(mode));
    if (g_rename(temp_.c_str(), target_.c_str()) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    temp_.clear();
    return true;
}
