#include "FloatRender.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Quantizer.h"

namespace {

// Frames read and written at a time.
constexpr long kChunk = 4096;
// Where --headroom auto puts the peak: -0.1 dBFS.
const float kHeadroomPeak = std::pow(10.0f, -0.1f / 20.0f);

// Writes the processor's float frames in the output's depth, counting clips.
// The converted frames are gathered and handed to the library kWriteFrames
// at a time (what it writes as they are then goes out in writes of that
// size, which costs the system less than many small ones); flush() writes
// what is held.
class Writer {
  public:
    Writer(OutputFile& out, bool dither) : out_(out), q_(out.depth(), dither) {
        const size_t samples = static_cast<size_t>(kWriteFrames) * 2;
        if (shorts()) {
            shorts_.resize(samples);
        } else if (q_.integer()) {
            ints_.resize(samples);
        } else {
            floats_.resize(samples);
        }
    }
    // n <= kChunk frames; false when a write failed.
    bool write(const float* frames, long n) {
        if (held_ + n > kWriteFrames && !flush()) return false;
        const size_t at = static_cast<size_t>(held_) * 2, samples = static_cast<size_t>(n) * 2;
        if (shorts()) {
            q_.toShort(frames, shorts_.data() + at, samples);
        } else if (q_.integer()) {
            q_.toInt(frames, ints_.data() + at, samples);
        } else {
            q_.toFloat(frames, floats_.data() + at, samples);
        }
        held_ += n;
        return true;
    }
    bool flush() {
        const long n = held_;
        held_ = 0;
        if (n == 0) return true;
        if (shorts()) return out_.write(shorts_.data(), n);
        if (q_.integer()) return out_.write(ints_.data(), n);
        return out_.write(floats_.data(), n);
    }
    const Quantizer& quantizer() const { return q_; }

  private:
    static constexpr long kWriteFrames = 16 * kChunk;
    // Up to 16 bits the library writes shorts as they are, with no
    // conversion of its own.
    bool shorts() const { return q_.integer() && depthBits(out_.depth()) <= 16; }

    OutputFile& out_;
    Quantizer q_;
    std::vector<short> shorts_;
    std::vector<int> ints_;
    std::vector<float> floats_;
    long held_ = 0;  // frames converted and not yet written
};

// Float frames held aside in an unnamed temporary file, for a second pass.
class Spill {
  public:
    Spill() : file_(std::tmpfile()) {}
    ~Spill() {
        if (file_) std::fclose(file_);
    }
    bool ok() const { return file_ != nullptr; }
    bool put(const float* frames, long n) {
        for (long k = 0; k < 2 * n; ++k) peak_ = std::max(peak_, std::fabs(frames[k]));
        return std::fwrite(frames, sizeof(float) * 2, static_cast<size_t>(n), file_) ==
               static_cast<size_t>(n);
    }
    bool rewind() { return std::fseek(file_, 0, SEEK_SET) == 0; }
    long get(float* frames, long n) {
        return static_cast<long>(std::fread(frames, sizeof(float) * 2, static_cast<size_t>(n), file_));
    }
    float peak() const { return peak_; }

  private:
    std::FILE* file_;
    float peak_ = 0.0f;
};

// Processed chunks handed from the reading thread to the writing one: a
// ring of chunk buffers, each of kChunk stereo frames. Each side, once it has
// to wait, sleeps until half the ring is ready for it, so that the threads
// wake each other once per half ring rather than once per chunk.
class ChunkQueue {
  public:
    ChunkQueue() {
        for (Slot& s : slots_) s.frames.resize(static_cast<size_t>(kChunk * 2));
    }
    // The producer's next empty buffer, or null when the consumer cancelled.
    float* slot() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (used_ == kSlots) space_.wait(lock, [&] { return used_ <= kSlots / 2 || cancelled_; });
        return cancelled_ ? nullptr : slots_[(head_ + used_) % kSlots].frames.data();
    }
    // Hands over that buffer: keep frames from frame offset on.
    void publish(long offset, long keep, long read) {
        std::lock_guard<std::mutex> lock(mutex_);
        Slot& s = slots_[(head_ + used_) % kSlots];
        s.offset = offset;
        s.keep = keep;
        s.read = read;
        if (++used_ == kSlots / 2) ready_.notify_one();
    }
    void finish() {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        ready_.notify_one();
    }
    // The consumer's next chunk; false when there are no more.
    bool next(const float*& frames, long& count, long& read) {
        std::unique_lock<std::mutex> lock(mutex_);
        if (used_ == 0) ready_.wait(lock, [&] { return used_ >= kSlots / 2 || finished_; });
        if (used_ == 0) return false;
        const Slot& s = slots_[head_];
        frames = s.frames.data() + 2 * s.offset;
        count = s.keep;
        read = s.read;
        return true;
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        head_ = (head_ + 1) % kSlots;
        if (--used_ == kSlots / 2) space_.notify_one();
    }
    void cancel() {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
        space_.notify_one();
    }

  private:
    static constexpr int kSlots = 16;
    struct Slot {
        std::vector<float> frames;
        long offset = 0, keep = 0, read = 0;
    };
    Slot slots_[kSlots];
    int head_ = 0, used_ = 0;
    bool finished_ = false, cancelled_ = false;
    std::mutex mutex_;
    std::condition_variable ready_, space_;
};

std::string dB(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f", value);
    return text;
}

}  // namespace

void say(const std::string& what) {
    std::fprintf(stderr, "kesta: %s\n", what.c_str());
}

std::string peakAndGain(float peak) {
    const double peakDb = 20.0 * std::log10(std::max(peak, 1e-9f));
    // Rounded down to a tenth, so that the suggestion leaves the peak at or below -0.1 dBFS.
    const double gain = -std::ceil((peakDb + 0.1) * 10.0 - 1e-9) / 10.0;
    return "peak " + dB(peakDb) + " dBFS; try --gain " + dB(gain) + " or --headroom auto";
}

int renderFloat(const RenderRequest& r) {
    const std::string name = r.in == "-" ? "standard input" : r.in;
    auto failed = [&](const std::string& what) {
        say(what);
        return 1;
    };
    auto stopped = [&] { return r.stop && *r.stop; };

    InputFile in;
    if (!in.open(r.in)) return failed("cannot read " + name + ": " + in.error());
    if (in.channels() != 1 && in.channels() != 2)
        return failed(name + " has " + std::to_string(in.channels()) +
                      " channels; only mono and stereo can be rendered");
    if (in.isSameFile(r.out))
        return failed(r.out +
                      " is the input itself; choose another output so that the input is not destroyed");

    // Settings first: prepare starts the stream with them, with no fade from the defaults.
    kesta::Processor processor;
    processor.setSettings(r.settings);
    if (!processor.prepare(static_cast<unsigned>(in.rate()), in.channels(), r.block))
        return failed("cannot render " + name + " at " + std::to_string(in.rate()) + " Hz");

    const bool exact = r.depth != SampleDepth::None;
    OutputFile out;
    if (!out.open(r.out, r.type, 2, in.rate(), exact ? r.depth : in.depth(), exact))
        return failed("cannot write " + (r.out == "-" ? std::string("standard output") : r.out) + ": " +
                      out.error());
    if (r.quality >= 0 && !out.setQuality(r.quality))
        return failed("--quality applies to lossy outputs (.ogg, .opus, .mp3), not to " +
                      (r.out == "-" ? std::string("standard output") : r.out));
    out.setTags(in.tags());

    const long announced = in.frames();
    const bool showProgress = r.progress && !r.quiet && isatty(STDERR_FILENO) && announced > 10L * in.rate();
    long shown = -1;

    const float gain = std::pow(10.0f, r.gainDb / 20.0f);
    const int channels = in.channels();
    std::vector<float> output(static_cast<size_t>(kChunk * 2));
    Writer writer(out, r.dither);
    Spill spill;
    if (r.headroomAuto && !spill.ok()) return failed("cannot make a temporary file for --headroom auto");

    // Reading and processing run on a thread of their own, a few chunks ahead
    // of the conversion and writing here.
    ChunkQueue queue;
    long read = 0;
    std::thread producer([&] {
        std::vector<float> input(static_cast<size_t>(kChunk * channels));
        // The output lags by latency frames: those are dropped at the start, and
        // the tail is flushed with silence until the output is as long as the input.
        long skip = processor.latency(), made = 0;
        bool ended = false;
        while (!stopped()) {
            long n = ended ? 0 : in.read(input.data(), kChunk, gain);
            if (n > 0) {
                read += n;
            } else {
                ended = true;
                n = std::min(kChunk, read + skip - made);
                if (n <= 0) break;
                std::fill(input.begin(), input.begin() + n * channels, 0.0f);
            }
            float* slot = queue.slot();
            if (!slot) break;  // the writer gave up
            processor.process(input.data(), slot, static_cast<int>(n));
            const long drop = std::min(skip, n);
            skip -= drop;
            const long keep = std::min(n - drop, read - made);
            made += std::max(keep, 0L);
            queue.publish(drop, std::max(keep, 0L), read);
        }
        queue.finish();
    });
    bool good = true;
    const float* frames;
    long frameCount, readSoFar;
    while (queue.next(frames, frameCount, readSoFar)) {
        if (good && frameCount > 0)
            good = r.headroomAuto ? spill.put(frames, frameCount) : writer.write(frames, frameCount);
        queue.release();
        if (!good) queue.cancel();
        if (showProgress && announced > 0) {
            const long percent = 100 * std::min(readSoFar, announced) / announced;
            if (percent != shown)
                std::fprintf(stderr, "\rkesta: rendering %s: %3ld%%", name.c_str(), shown = percent);
        }
    }
    producer.join();
    if (showProgress) std::fprintf(stderr, "\n");
    if (stopped()) return 1;
    if (good && !r.headroomAuto) good = writer.flush();
    if (!good)
        return failed("cannot write " + r.out + ": " +
                      (r.headroomAuto ? "temporary file full" : out.error()));

    const std::string damage = in.damage(read);
    if (!damage.empty()) {
        if (r.strict) return failed(name + ": " + damage + "; nothing written (--strict)");
        say("warning: " + name + ": " + damage + "; what was read is written");
    }
    if (processor.replacedSamples() > 0) {
        const long long bad = processor.replacedSamples();
        const std::string what = std::to_string(bad) + (bad == 1 ? " sample was" : " samples were") +
                                 " not a number or infinite (the first at frame " +
                                 std::to_string(processor.firstReplacedFrame()) + ")";
        if (r.strict) return failed(name + ": " + what + "; nothing written (--strict)");
        say("warning: " + name + ": " + what + "; each was replaced by silence: " + std::to_string(bad) +
            (bad == 1 ? " sample" : " samples") + " muted, nothing around them");
    }

    if (r.headroomAuto) {
        const float scale = spill.peak() > kHeadroomPeak ? kHeadroomPeak / spill.peak() : 1.0f;
        if (!r.quiet)
            say(name + ": peak " + dB(20.0 * std::log10(std::max(spill.peak(), 1e-9f))) + " dBFS, gain " +
                dB(20.0 * std::log10(scale)) + " dB");
        if (!spill.rewind()) return failed("cannot read back the temporary file");
        for (long n; good && !stopped() && (n = spill.get(output.data(), kChunk)) > 0;) {
            if (scale != 1.0f)
                for (long k = 0; k < 2 * n; ++k) output[static_cast<size_t>(k)] *= scale;
            good = writer.write(output.data(), n);
        }
        if (good) good = writer.flush();
        if (stopped()) return 1;
        if (!good) return failed("cannot write " + r.out + ": " + out.error());
    }

    const Quantizer& q = writer.quantizer();
    if (q.clipped() > 0)
        say("warning: " + name + ": clipped " + std::to_string(q.clipped()) + " samples (" +
            peakAndGain(q.peak()) + ")");
    if (!out.commit()) return failed("cannot write " + r.out + ": " + out.error());
    return 0;
}
