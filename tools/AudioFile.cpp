#include "AudioFile.h"

#include <glib.h>
#include <glib/gstdio.h>
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

}  // namespace

OutputFile::~OutputFile() {
    if (file_) sf_close(file_);
    if (!temp_.empty()) g_unlink(temp_.c_str());
}

bool OutputFile::open(const std::string& path, int channels, int rate, bool eightBit) {
    path_ = path;
    SF_INFO info{};
    info.channels = channels;
    info.samplerate = rate;
    info.format = formatFor(path, eightBit);
    if (info.format == 0) {
        error_ = "unknown output format (use .wav, .flac, .ogg, .aiff, .au or .caf)";
        return false;
    }
    if (!sf_format_check(&info)) {
        error_ = "this format cannot hold the result";
        return false;
    }
    gchar* dir = g_path_get_dirname(path.c_str());
    gchar* base = g_path_get_basename(path.c_str());
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
    file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
    if (!file_) {
        error_ = sf_strerror(nullptr);
        return false;
    }
    return true;
}

bool OutputFile::write(const short* src, long frames) {
    if (sf_writef_short(file_, src, frames) != frames) {
        error_ = sf_strerror(file_);
        return false;
    }
    return true;
}

bool OutputFile::commit() {
    const int closed = sf_close(file_);
    file_ = nullptr;
    if (closed != 0) {
        error_ = sf_error_number(closed);
        return false;
    }
    // The temporary file was made private by mkstemp; give it the usual mode.
    const mode_t mask = umask(0);
    umask(mask);
    g_chmod(temp_.c_str(), 0666 & ~mask);
    if (g_rename(temp_.c_str(), path_.c_str()) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    temp_.clear();
    return true;
}
