// Real recordings from Debian packages (installed by scripts/setup.sh) for the
// automatic mono tests: stereo music as it was released, and mono speech and
// music, from which the tests make the files a user may have.
#pragma once

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace core_test {

struct Recording {
    std::string name;
    unsigned rate = 0;
    std::vector<float> left, right;  // equal for a mono recording
};

// seconds of the file at path from `from` seconds on (or to its end), or an
// empty recording (rate 0) when it cannot be read.
inline Recording ReadExcerpt(const std::string& path, double from, double seconds) {
    Recording rec;
    rec.name = std::filesystem::path(path).filename().string();
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (!f) return rec;
    const sf_count_t start = static_cast<sf_count_t>(from * info.samplerate);
    if ((info.channels == 1 || info.channels == 2) && start < info.frames &&
        sf_seek(f, start, SEEK_SET) == start) {
        const sf_count_t want =
            std::min<sf_count_t>(info.frames - start, static_cast<sf_count_t>(seconds * info.samplerate));
        std::vector<float> buffer(static_cast<size_t>(want) * static_cast<size_t>(info.channels));
        const sf_count_t got = sf_readf_float(f, buffer.data(), want);
        for (sf_count_t i = 0; i < got; ++i) {
            rec.left.push_back(buffer[static_cast<size_t>(i * info.channels)]);
            rec.right.push_back(buffer[static_cast<size_t>(i * info.channels + info.channels - 1)]);
        }
        rec.rate = static_cast<unsigned>(info.samplerate);
    }
    sf_close(f);
    return rec;
}

// The file at path, or an empty recording (rate 0) when it cannot be read.
inline Recording ReadRecording(const std::string& path) {
    return ReadExcerpt(path, 0.0, 1e9);
}

// The files of a folder whose names end in one of the extensions, sorted.
inline std::vector<std::string> FilesIn(const std::string& folder,
                                        const std::vector<std::string>& extensions) {
    std::vector<std::string> out;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string ext = entry.path().extension().string();
        if (std::find(extensions.begin(), extensions.end(), ext) != extensions.end())
            out.push_back(entry.path().string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// Every stereo music recording of the packages we install whose channels
// differ (the released tracks, whole).
inline std::vector<Recording> StereoMusic() {
    std::vector<std::string> paths = FilesIn("/usr/share/games/asc/music", {".mp3"});
    for (const std::string& p : FilesIn("/usr/share/games/etr/music", {".ogg"})) paths.push_back(p);
    std::vector<Recording> out;
    for (const std::string& p : paths) {
        Recording rec = ReadRecording(p);
        if (rec.rate != 0 && rec.left != rec.right) out.push_back(std::move(rec));
    }
    return out;
}

// One mono recording of the given files one after another (all of one rate;
// the first file's rate is kept, files of another rate are left out).
inline Recording Joined(const std::string& name, const std::vector<std::string>& paths) {
    Recording out;
    out.name = name;
    for (const std::string& p : paths) {
        const Recording rec = ReadRecording(p);
        if (rec.rate == 0 || (out.rate != 0 && rec.rate != out.rate)) continue;
        out.rate = rec.rate;
        for (size_t i = 0; i < rec.left.size(); ++i) out.left.push_back(0.5f * (rec.left[i] + rec.right[i]));
    }
    out.right = out.left;
    return out;
}

// Mono material: a voice (ALSA's channel names), mono game music, and the first seconds of stereo tracks
// folded to mono.
inline std::vector<Recording> MonoSources(const std::vector<Recording>& stereo, size_t tracks,
                                          double seconds) {
    std::vector<Recording> out;
    std::vector<std::string> alsa;
    for (const char* n : {"Front_Center", "Front_Left", "Front_Right", "Rear_Center", "Rear_Left",
                          "Rear_Right", "Side_Left", "Side_Right"})
        alsa.push_back(std::string("/usr/share/sounds/alsa/") + n + ".wav");
    out.push_back(Joined("speech", alsa));
    out.push_back(Joined("chromium-bsu music", {"/usr/share/games/chromium-bsu/wav/music_game.wav",
                                                "/usr/share/games/chromium-bsu/wav/music_menu.wav"}));
    for (size_t t = 0; t < std::min(tracks, stereo.size()); ++t) {
        const Recording& s = stereo[t];
        Recording m;
        m.name = s.name + " folded";
        m.rate = s.rate;
        // From a quarter of the way in, past any intro or silence.
        const size_t from = s.left.size() / 4;
        const size_t n = std::min(s.left.size(), from + static_cast<size_t>(seconds * s.rate));
        for (size_t i = from; i < n; ++i) m.left.push_back(0.5f * (s.left[i] + s.right[i]));
        m.right = m.left;
        out.push_back(std::move(m));
    }
    out.erase(std::remove_if(out.begin(), out.end(), [](const Recording& r) { return r.left.empty(); }),
              out.end());
    return out;
}

}  // namespace core_test
