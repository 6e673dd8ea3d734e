#include "Picture.h"

#include <cairo.h>
#include <glib.h>
#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "OutputPath.h"

const PictureColour kPictureColours[2] = {{0.12, 0.40, 0.80}, {0.90, 0.40, 0.05}};

namespace {

const double kLowHz = 17.8, kHighHz = 22400;  // the outer edges of the 20 Hz and 20 kHz bands
const double kPad = 8;                        // inside a plot's frame, around the data
const double kPi = 3.14159265358979323846;

}  // namespace

PictureLayout pictureLayout(int files) {
    PictureLayout l{};
    const double size = 340, top = 70;
    l.goniometer[0] = {20, top, size, size};
    l.goniometer[1] = {40 + size, top, size, size};
    const double captionX = files > 1 ? 60 + 2 * size : 40 + size;
    l.caption = {captionX, top, PictureLayout::kWidth - 20 - captionX, size};
    l.goniometerRadius = size / 2 - 14;
    l.correlation = {70, 480, 490, 270};
    l.spectrum = {670, 480, 510, 270};
    return l;
}

double PictureLayout::correlationY(double value) const {
    const double v = std::max(-1.0, std::min(1.0, value));
    return correlation.y + kPad + (1 - v) / 2 * (correlation.h - 2 * kPad);
}

double PictureLayout::spectrumX(double hz) const {
    const double t = std::log(hz / kLowHz) / std::log(kHighHz / kLowHz);
    return spectrum.x + t * spectrum.w;
}

double PictureLayout::spectrumY(double db) const {
    const double d = std::max(kMinDb, std::min(kMaxDb, db));
    return spectrum.y + kPad + (kMaxDb - d) / (kMaxDb - kMinDb) * (spectrum.h - 2 * kPad);
}

namespace {

void setColour(cairo_t* cr, const PictureColour& c, double alpha = 1) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, alpha);
}

void grey(cairo_t* cr, double level) {
    cairo_set_source_rgb(cr, level, level, level);
}

void font(cairo_t* cr, double size, bool bold = false, bool mono = false) {
    cairo_select_font_face(cr, mono ? "Monospace" : "Sans", CAIRO_FONT_SLANT_NORMAL,
                           bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
}

// Text with its left end (align 0), middle (0.5) or right end (1) at x, baseline at y.
void text(cairo_t* cr, const std::string& s, double x, double y, double align = 0) {
    cairo_text_extents_t e;
    cairo_text_extents(cr, s.c_str(), &e);
    cairo_move_to(cr, x - align * e.x_advance, y);
    cairo_show_text(cr, s.c_str());
}

void line(cairo_t* cr, double x0, double y0, double x1, double y1) {
    cairo_move_to(cr, x0, y0);
    cairo_line_to(cr, x1, y1);
    cairo_stroke(cr);
}

void frame(cairo_t* cr, const PictureLayout::Rect& r) {
    grey(cr, 0.55);
    cairo_set_line_width(cr, 1);
    cairo_rectangle(cr, r.x + 0.5, r.y + 0.5, r.w - 1, r.h - 1);
    cairo_stroke(cr);
}

std::string format(const char* f, double v) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, f, v);
    return buffer;
}

// The level under which nearly all of the points lie (99.9 %), in the
// goniometer's units; 0 for silence.
double goniometerScale(const std::vector<StereoImage::Point>& points) {
    if (points.empty()) return 0;
    std::vector<float> radius(points.size());
    for (size_t i = 0; i < points.size(); ++i)
        radius[i] = std::fabs(points[i].mid) + std::fabs(points[i].side);
    const size_t k =
        std::min(radius.size() - 1, static_cast<size_t>(static_cast<double>(radius.size()) * 0.999));
    std::nth_element(radius.begin(), radius.begin() + static_cast<long>(k), radius.end());
    return radius[k];
}

// One goniometer: mid up, side across, left channel toward the upper left;
// the density of the points shades the file's colour from light to full.
void drawGoniometer(cairo_t* cr, const PictureLayout& layout, const PictureLayout::Rect& r,
                    const PictureFile& file, const PictureColour& colour, const char* role) {
    const double cx = r.x + r.w / 2, cy = r.y + r.h / 2, rad = layout.goniometerRadius;
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_rectangle(cr, r.x, r.y, r.w, r.h);
    cairo_fill(cr);
    // The full-scale diamond, the mid and side axes, and the left and right directions.
    cairo_set_line_width(cr, 1);
    grey(cr, 0.72);
    cairo_move_to(cr, cx, cy - rad);
    cairo_line_to(cr, cx + rad, cy);
    cairo_line_to(cr, cx, cy + rad);
    cairo_line_to(cr, cx - rad, cy);
    cairo_close_path(cr);
    cairo_stroke(cr);
    grey(cr, 0.85);
    line(cr, cx, cy - rad, cx, cy + rad);
    line(cr, cx - rad, cy, cx + rad, cy);
    line(cr, cx - rad / 2, cy - rad / 2, cx + rad / 2, cy + rad / 2);
    line(cr, cx + rad / 2, cy - rad / 2, cx - rad / 2, cy + rad / 2);
    grey(cr, 0.35);
    font(cr, 13, true);
    text(cr, "M", cx + 5, r.y + 14);
    text(cr, "L", cx - rad / 2 - 14, cy - rad / 2 - 2);
    text(cr, "R", cx + rad / 2 + 5, cy - rad / 2 - 2);
    text(cr, "+S", r.x + r.w - 6, cy - 5, 1);
    text(cr, "\xe2\x88\x92S", r.x + 6, cy - 5);  // minus sign

    const int w = static_cast<int>(r.w), h = static_cast<int>(r.h);
    const double scale = goniometerScale(file.image->points());
    if (scale > 0) {
        std::vector<unsigned> count(static_cast<size_t>(w) * h, 0);
        unsigned most = 0;
        for (const StereoImage::Point& p : file.image->points()) {
            const int x = static_cast<int>(std::lround(w / 2.0 + p.side / scale * rad));
            const int y = static_cast<int>(std::lround(h / 2.0 - p.mid / scale * rad));
            if (x < 0 || y < 0 || x >= w || y >= h) continue;
            most = std::max(most, ++count[static_cast<size_t>(y) * w + x]);
        }
        cairo_surface_t* ink = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
        unsigned char* data = cairo_image_surface_get_data(ink);
        const int stride = cairo_image_surface_get_stride(ink);
        const double top = std::log1p(static_cast<double>(most));
        for (int y = 0; y < h; ++y) {
            uint32_t* row = reinterpret_cast<uint32_t*>(data + static_cast<size_t>(y) * stride);
            for (int x = 0; x < w; ++x) {
                const unsigned c = count[static_cast<size_t>(y) * w + x];
                if (c == 0) {
                    row[x] = 0;
                    continue;
                }
                // Light for a single point, full colour where they pile up (premultiplied ARGB).
                const double a = 0.3 + 0.7 * std::log1p(static_cast<double>(c)) / top;
                const auto channel = [&](double v) {
                    return static_cast<uint32_t>(std::lround(255 * v * a));
                };
                row[x] = (static_cast<uint32_t>(std::lround(255 * a)) << 24) | (channel(colour.r) << 16) |
                         (channel(colour.g) << 8) | channel(colour.b);
            }
        }
        cairo_surface_mark_dirty(ink);
        cairo_set_source_surface(cr, ink, r.x, r.y);
        cairo_paint(cr);
        cairo_surface_destroy(ink);
    } else {
        grey(cr, 0.4);
        font(cr, 14);
        text(cr, "silence", cx, cy + 30, 0.5);
    }
    frame(cr, r);
    setColour(cr, colour);
    font(cr, 14, true);
    text(cr, std::string(role) + ": " + file.name, r.x, r.y - 8);
    if (scale > 0) {
        grey(cr, 0.4);
        font(cr, 11);
        text(cr, "corner = " + format("%.1f dBFS", 20 * std::log10(scale)), r.x + r.w - 6, r.y + r.h - 6, 1);
    }
}

// Draws values as a line through the given x positions; NaN breaks the line.
void curve(cairo_t* cr, const std::vector<double>& xs, const std::vector<double>& ys, bool dots) {
    bool drawing = false;
    for (size_t i = 0; i < xs.size(); ++i) {
        if (std::isnan(ys[i])) {
            drawing = false;
            continue;
        }
        if (drawing)
            cairo_line_to(cr, xs[i], ys[i]);
        else
            cairo_move_to(cr, xs[i], ys[i]);
        drawing = true;
    }
    cairo_stroke(cr);
    if (!dots) return;
    for (size_t i = 0; i < xs.size(); ++i) {
        if (std::isnan(ys[i])) continue;
        cairo_arc(cr, xs[i], ys[i], 3.2, 0, 2 * kPi);
        cairo_fill(cr);
    }
}

void plotTitle(cairo_t* cr, const PictureLayout::Rect& r, const std::string& title) {
    grey(cr, 0.1);
    font(cr, 15, true);
    text(cr, title, r.x, r.y - 10);
}

void drawCorrelation(cairo_t* cr, const PictureLayout& l, const PictureContent& content) {
    const PictureLayout::Rect& r = l.correlation;
    plotTitle(cr, r, "Correlation over time");
    double seconds = 0;
    for (const PictureFile& f : content.files)
        seconds = std::max(seconds, static_cast<double>(f.image->frames()) / f.image->rate());
    if (seconds <= 0) seconds = 1;
    const auto timeX = [&](double t) { return r.x + kPad + t / seconds * (r.w - 2 * kPad); };

    cairo_set_line_width(cr, 1);
    font(cr, 12);
    for (double v : {-1.0, -0.5, 0.0, 0.5, 1.0}) {
        grey(cr, v == 0 ? 0.7 : 0.88);
        line(cr, r.x, l.correlationY(v), r.x + r.w, l.correlationY(v));
        grey(cr, 0.3);
        text(cr, v == 0 ? "0" : format("%+.1f", v), r.x - 6, l.correlationY(v) + 4, 1);
    }
    // Time ticks at a round step giving about six of them.
    const double steps[] = {0.1, 0.2, 0.5, 1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200};
    double step = steps[sizeof steps / sizeof *steps - 1];
    for (double s : steps)
        if (seconds / s <= 7) {
            step = s;
            break;
        }
    for (double t = 0; t <= seconds + 1e-9; t += step) {
        grey(cr, 0.3);
        const std::string label =
            step >= 60 ? format("%.0f min", t / 60) : format(step < 1 ? "%.1f s" : "%.0f s", t);
        text(cr, label, timeX(t), r.y + r.h + 16, 0.5);
    }
    for (size_t i = 0; i < content.files.size(); ++i) {
        const StereoImage& image = *content.files[i].image;
        const std::vector<double> values = image.correlation();
        std::vector<double> xs, ys;
        // The windows' midpoints; the last window may be shorter than the others.
        for (size_t k = 0; k < values.size(); ++k) {
            const double start = static_cast<double>(k) * image.windowSeconds();
            const double end =
                std::min(static_cast<double>(image.frames()) / image.rate(), start + image.windowSeconds());
            xs.push_back(timeX((start + end) / 2));
            ys.push_back(std::isnan(values[k]) ? values[k] : l.correlationY(values[k]));
        }
        setColour(cr, kPictureColours[i], 0.9);
        cairo_set_line_width(cr, 2);
        curve(cr, xs, ys, values.size() < 40);
    }
    frame(cr, r);
}

void drawSpectrum(cairo_t* cr, const PictureLayout& l, const PictureContent& content) {
    const PictureLayout::Rect& r = l.spectrum;
    plotTitle(cr, r, "Side to mid energy per third octave (dB)");
    cairo_set_line_width(cr, 1);
    font(cr, 12);
    for (double db = PictureLayout::kMinDb; db <= PictureLayout::kMaxDb; db += 10) {
        grey(cr, db == 0 ? 0.7 : 0.88);
        line(cr, r.x, l.spectrumY(db), r.x + r.w, l.spectrumY(db));
        grey(cr, 0.3);
        text(cr,
             db == PictureLayout::kMinDb ? "\xe2\x89\xa4\xe2\x88\x92"
                                           "40"
                                         : format("%+.0f", db),
             r.x - 6, l.spectrumY(db) + 4, 1);
    }
    const struct {
        double hz;
        const char* label;
    } ticks[] = {{31.5, "31.5"}, {63, "63"},   {125, "125"}, {250, "250"}, {500, "500"},
                 {1000, "1k"},   {2000, "2k"}, {4000, "4k"}, {8000, "8k"}, {16000, "16k Hz"}};
    for (const auto& t : ticks) {
        grey(cr, 0.93);
        line(cr, l.spectrumX(t.hz), r.y, l.spectrumX(t.hz), r.y + r.h);
        grey(cr, 0.3);
        text(cr, t.label, l.spectrumX(t.hz), r.y + r.h + 16, 0.5);
    }
    const std::vector<double> centres = StereoImage::bandCentres();
    for (size_t i = 0; i < content.files.size(); ++i) {
        const std::vector<double> ratios = content.files[i].image->sideToMidDb();
        std::vector<double> xs, ys;
        for (size_t k = 0; k < centres.size(); ++k) {
            xs.push_back(l.spectrumX(centres[k]));
            ys.push_back(std::isnan(ratios[k]) ? ratios[k] : l.spectrumY(ratios[k]));
        }
        setColour(cr, kPictureColours[i], 0.9);
        cairo_set_line_width(cr, 2);
        curve(cr, xs, ys, true);
    }
    frame(cr, r);
}

void drawCaption(cairo_t* cr, const PictureLayout& l, const PictureContent& content) {
    const PictureLayout::Rect& r = l.caption;
    double y = r.y + 14;
    grey(cr, 0.1);
    font(cr, 15, true);
    text(cr, content.settings.empty() ? "Files" : "Settings", r.x, y);
    font(cr, 13);
    for (const std::string& s : content.settings) text(cr, s, r.x, y += 20);
    y += content.settings.empty() ? 6 : 16;
    for (size_t i = 0; i < content.files.size(); ++i) {
        const StereoImage& image = *content.files[i].image;
        setColour(cr, kPictureColours[i]);
        cairo_rectangle(cr, r.x, y + 10, 14, 14);
        cairo_fill(cr);
        grey(cr, 0.1);
        font(cr, 13);
        const char* role = content.files.size() > 1 ? (i == 0 ? "before: " : "after: ") : "";
        text(cr, role + content.files[i].name, r.x + 22, y += 22);
        grey(cr, 0.35);
        const double seconds = static_cast<double>(image.frames()) / image.rate();
        text(cr,
             std::to_string(image.rate()) + " Hz, " + (image.channels() == 1 ? "mono" : "stereo") + ", " +
                 format(seconds < 60 ? "%.2f s" : "%.0f s", seconds),
             r.x + 22, y += 18);
    }
    y += 30;
    grey(cr, 0.1);
    font(cr, 15, true);
    text(cr, "Levels", r.x, y);
    font(cr, 13, false, true);
    char row[160];
    std::snprintf(row, sizeof row, "%-7s %10s %9s %12s %8s", "", "peak dBFS", "RMS dBFS", "correlation",
                  "clipped");
    grey(cr, 0.3);
    text(cr, row, r.x, y += 22);
    for (size_t i = 0; i < content.files.size(); ++i) {
        const Levels v = content.files[i].image->levels();
        const char* role = content.files.size() > 1 ? (i == 0 ? "before" : "after") : "file";
        std::snprintf(row, sizeof row, "%-7s %10.1f %9.1f %12.3f %8ld", role, v.peakDb, v.rmsDb,
                      v.correlation, v.clipped);
        setColour(cr, kPictureColours[i]);
        text(cr, row, r.x, y += 20);
    }
}

// Where cairo's PNG stream goes, and why it stopped.
struct PngSink {
    int fd;
    int error = EIO;
};

cairo_status_t toFile(void* closure, const unsigned char* data, unsigned int length) {
    PngSink& sink = *static_cast<PngSink*>(closure);
    if (writeFully(sink.fd, data, length)) return CAIRO_STATUS_SUCCESS;
    sink.error = errno;
    return CAIRO_STATUS_WRITE_ERROR;
}

}  // namespace

bool drawPicture(const PictureContent& content, const std::string& path, std::string& error) {
    if (content.files.empty() || content.files.size() > 2)
        return error = "a picture shows one or two files", false;
    const PictureLayout l = pictureLayout(static_cast<int>(content.files.size()));
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, PictureLayout::kWidth, PictureLayout::kHeight);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 0.97, 0.97, 0.97);
    cairo_paint(cr);
    grey(cr, 0.05);
    font(cr, 20, true);
    text(cr, content.title, 20, 34);
    for (size_t i = 0; i < content.files.size(); ++i)
        drawGoniometer(cr, l, l.goniometer[i], content.files[i], kPictureColours[i],
                       content.files.size() > 1 ? (i == 0 ? "before" : "after") : "file");
    drawCaption(cr, l, content);
    drawCorrelation(cr, l, content);
    drawSpectrum(cr, l, content);
    cairo_destroy(cr);

    // A device, a FIFO or a descriptor is written straight into; a file is
    // replaced once the picture is whole.
    OutputPath where;
    bool ok = classifyOutput(path, where, error);
    if (ok && where.kind == OutputPath::Kind::Stream) {
        PngSink sink{openStream(where, error)};
        ok = sink.fd >= 0;
        if (ok && cairo_surface_write_to_png_stream(surface, toFile, &sink) != CAIRO_STATUS_SUCCESS)
            ok = false, error = std::strerror(sink.error);
        if (sink.fd >= 0) close(sink.fd);
    } else if (ok) {
        FileReplacement file;
        ok = file.open(where.target, error);
        PngSink sink{file.fd()};
        if (ok && cairo_surface_write_to_png_stream(surface, toFile, &sink) != CAIRO_STATUS_SUCCESS)
            ok = false, error = std::strerror(sink.error);
        ok = ok && file.commit(error);
    }
    cairo_surface_destroy(surface);
    if (!ok) error = "cannot write " + path + ": " + error;
    return ok;
}
