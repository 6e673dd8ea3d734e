#include "PictureCommand.h"

#include <glib.h>

#include <cstdio>
#include <memory>

#include "AudioFile.h"
#include "Picture.h"
#include "StereoImage.h"

namespace {

std::string baseName(const std::string& path) {
    if (path == "-") return "standard input";
    gchar* base = g_path_get_basename(path.c_str());
    const std::string name = base;
    g_free(base);
    return name;
}

// Streams a file into an image; null with error set when it cannot be read.
std::unique_ptr<StereoImage> analyse(const std::string& path, std::string& error) {
    InputFile in;
    if (!in.open(path)) return error = "cannot read " + path + ": " + in.error(), nullptr;
    if (in.channels() != 1 && in.channels() != 2)
        return error = path + " has " + std::to_string(in.channels()) +
                       " channels; only mono and stereo can be drawn",
               nullptr;
    auto image = std::make_unique<StereoImage>(in.rate());
    std::vector<short> block(static_cast<size_t>(4096) * in.channels());
    const int bits = depthBits(in.depth());
    if (bits > 0) {
        // Integer samples are read whole, so that clipping is counted at the
        // file's own depth, as render counts it; the image takes their top
        // 16 bits, which are the library's 16-bit read.
        std::vector<int> words(block.size());
        long clipped = 0;
        for (;;) {
            const long n = in.read(words.data(), 4096);
            if (n <= 0) break;
            for (size_t k = 0; k < static_cast<size_t>(n * in.channels()); ++k)
                block[k] = static_cast<short>(words[k] >> 16);
            clipped += countClipped(words.data(), n * in.channels(), bits);
            image->add(block.data(), n, in.channels());
        }
        image->setClipped(clipped);
    } else {
        for (;;) {
            const long n = in.read(block.data(), 4096);
            if (n <= 0) break;
            image->add(block.data(), n, in.channels());
        }
    }
    if (in.failed()) return error = "cannot read " + path + ": " + in.readError(), nullptr;
    image->finish();
    return image;
}

}  // namespace

std::vector<std::string> settingsLines(const kesta::Settings& s) {
    char spread[32];
    std::snprintf(spread, sizeof spread, "%.1f", s.spreadDb);
    return {std::string("Mono to 3D: ") + (s.monoTo3D ? "on" : "off") + ", " + (s.music ? "Music" : "Voice"),
            std::string("Stereo widening: ") + (s.widen ? "on" : "off") + ", spread " + spread + " dB",
            std::string("Subtone: ") + (s.subtone ? "on" : "off")};
}

bool pictureOfFiles(const std::vector<std::string>& paths, const std::vector<std::string>& settings,
                    const std::string& image, std::string& error) {
    std::vector<std::unique_ptr<StereoImage>> images;
    PictureContent content;
    content.settings = settings;
    for (const std::string& path : paths) {
        images.push_back(analyse(path, error));
        if (!images.back()) return false;
        content.files.push_back({baseName(path), images.back().get()});
    }
    content.title = paths.size() > 1 ? "Kesta: " + baseName(paths[0]) + " \xe2\x86\x92 " + baseName(paths[1])
                                     : "Kesta: the stereo image of " + baseName(paths[0]);
    return drawPicture(content, image, error);
}

bool pictureOfSignals(const std::string& title, const Signal& before, const Signal& after, int rate,
                      const std::vector<std::string>& settings, const std::string& image,
                      std::string& error) {
    StereoImage a(rate), b(rate);
    a.add(before.samples, before.frames, before.channels);
    b.add(after.samples, after.frames, after.channels);
    a.finish();
    b.finish();
    PictureContent content{title, settings, {{before.name, &a}, {after.name, &b}}};
    return drawPicture(content, image, error);
}
