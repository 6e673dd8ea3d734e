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

// Frames read and processed at a time.
constexpr long kChunk = 4096;
// Frames handed to the library at a time, at most.
constexpr long kBatch = 16 * kChunk;
// Where --headroom auto puts the peak: -0.1 dBFS.
const float kHeadroomPeak = std::pow(10.0f, -0.1f / 20.0f);
// A lossy encoder's output reaches past its input's peaks (by up to about
// 1 dB on music): for those formats the limiter's ceiling and --headroom
// auto's peak are this much lower, so that the decoded file does not clip.
constexpr float kLossyCeilingDb = -2.0f;

bool Lossy(const std::string& path, const std::string& type) {
    const std::string format = OutputFile::typeFor(path, type);
    return format == "ogg" || format == "opus" || format == "mp3";
}

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

// Frames in the output's depth, handed from the rendering thread to the
// writing one in batches of up to kBatch frames: large writes cost the system
// less than many small ones, and the threads wake each other seldom. A ring
// of kSlots batches; each side, once it has to wait, sleeps until half the
// ring is ready for it, so that they wake each other once per half ring.
class BatchQueue {
  public:
    struct Batch {
        std::vector<short> shorts;  // the batch's frames, in the one of these that suits the output
        std::vector<int> ints;
        std::vector<float> floats;
        long frames = 0;
    };
    enum class Words { Short, Int, Float };
    explicit BatchQueue(Words words) {
        const size_t samples = static_cast<size_t>(kBatch) * 2;
        for (Batch& b : slots_) {
            if (words == Words::Short) b.shorts.resize(samples);
            if (words == Words::Int) b.ints.resize(samples);
            if (words == Words::Float) b.floats.resize(samples);
        }
    }
    // The producer's next empty batch, or null once cancelled.
    Batch* slot() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (used_ == kSlots) space_.wait(lock, [&] { return used_ <= kSlots / 2 || cancelled_; });
        if (cancelled_) return nullptr;
        Batch* b = &slots_[(head_ + used_) % kSlots];
        b->frames = 0;
        return b;
    }
    // Hands over that batch.
    void publish() {
        std::lock_guard<std::mutex> lock(mutex_);
        if (++used_ == kSlots / 2) ready_.notify_one();
    }
    void finish() {
        std::lock_guard<std::mutex> lock(mutex_);
        finished_ = true;
        ready_.notify_one();
    }
    // The consumer's next batch; null when there are no more, or once cancelled.
    const Batch* next() {
        std::unique_lock<std::mutex> lock(mutex_);
        if (used_ == 0) ready_.wait(lock, [&] { return used_ >= kSlots / 2 || finished_ || cancelled_; });
        return used_ == 0 || cancelled_ ? nullptr : &slots_[head_];
    }
    void release() {
        std::lock_guard<std::mutex> lock(mutex_);
        head_ = (head_ + 1) % kSlots;
        if (--used_ == kSlots / 2) space_.notify_one();
    }
    // Either side gives up: the other stops at its next call.
    void cancel() {
        std::lock_guard<std::mutex> lock(mutex_);
        cancelled_ = true;
        space_.notify_one();
        ready_.notify_one();
    }

  private:
    static constexpr int kSlots = 4;
    Batch slots_[kSlots];
    int head_ = 0, used_ = 0;
    bool finished_ = false, cancelled_ = false;
    std::mutex mutex_;
    std::condition_variable ready_, space_;
};

// Converts the processor's float frames to the output's depth, counting
// clips, on the rendering thread; a thread of its own hands them to the
// library, which encodes and writes them.
class Writer {
  public:
    Writer(OutputFile& out, bool dither)
        : out_(out), q_(out.depth(), dither), queue_(words()), thread_([this] { run(); }) {}
    // Stops the writing thread where it is, when finish() was not called.
    ~Writer() {
        if (!thread_.joinable()) return;
        queue_.cancel();
        thread_.join();
    }
    // n <= kChunk frames; false once a write failed.
    bool write(const float* frames, long n) {
        if (batch_ && batch_->frames + n > kBatch) {
            queue_.publish();
            batch_ = nullptr;
        }
        if (!batch_ && !(batch_ = queue_.slot())) return false;
        const size_t at = static_cast<size_t>(batch_->frames) * 2, samples = static_cast<size_t>(n) * 2;
        switch (words()) {
            case BatchQueue::Words::Short:
                q_.toShort(frames, batch_->shorts.data() + at, samples);
                break;
            case BatchQueue::Words::Int:
                q_.toInt(frames, batch_->ints.data() + at, samples);
                break;
            case BatchQueue::Words::Float:
                q_.toFloat(frames, batch_->floats.data() + at, samples);
                break;
        }
        batch_->frames += n;
        return true;
    }
    // Writes what is left and waits for the writing thread; false when a write failed.
    bool finish() {
        if (batch_) queue_.publish();
        batch_ = nullptr;
        queue_.finish();
        thread_.join();
        return !failed_;
    }
    const Quantizer& quantizer() const { return q_; }

  private:
    // Up to 16 bits the library writes shorts as they are, with no
    // conversion of its own.
    BatchQueue::Words words() const {
        if (q_.integer())
            return depthBits(out_.depth()) <= 16 ? BatchQueue::Words::Short : BatchQueue::Words::Int;
        return BatchQueue::Words::Float;
    }
    void run() {
        while (const BatchQueue::Batch* b = queue_.next()) {
            const bool good = !b->shorts.empty() ? out_.write(b->shorts.data(), b->frames)
                              : !b->ints.empty() ? out_.write(b->ints.data(), b->frames)
                                                 : out_.write(b->floats.data(), b->frames);
            queue_.release();
            if (!good) {
                failed_ = true;
                queue_.cancel();
            }
        }
    }

    OutputFile& out_;
    Quantizer q_;
    BatchQueue queue_;
    BatchQueue::Batch* batch_ = nullptr;  // being filled
    bool failed_ = false;                 // set by the writing thread; read once it has ended
    std::thread thread_;                  // last: it starts once the rest is made
};

std::string dB(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%+.1f", value);
    return text;
}

}  // namespace

std::string damagedSamples(long long count, long long firstFrame, bool beyond) {
    return std::to_string(count) + (count == 1 ? " sample was" : " samples were") +
           " not a number or infinite" + (beyond ? " or beyond +-1000" : "") + " (the first at frame " +
           std::to_string(firstFrame) + ")";
}

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
    if (!in.open(r.in)) return stopped() ? 1 : failed("cannot read " + name + ": " + in.error());
    if (in.channels() != 1 && in.channels() != 2)
        return failed(name + " has " + std::to_string(in.channels()) +
                      " channels; only mono and stereo can be rendered");
    if (in.isSameFile(r.out))
        return failed(r.out +
                      " is the input itself; choose another output so that the input is not destroyed");

    // Settings first: prepare starts the stream with them, with no fade from the defaults.
    kesta::Processor processor;
    processor.setSettings(r.settings);
    const bool lossy = Lossy(r.out, r.type);
    if (lossy) processor.setCeiling(kLossyCeilingDb);
    if (!processor.prepare(static_cast<unsigned>(in.rate()), in.channels(), r.block))
        return failed("cannot render " + name + " at " + std::to_string(in.rate()) + " Hz");

    const bool exact = r.depth != SampleDepth::None;
    OutputFile out;
    if (!out.open(r.out, r.type, 2, in.rate(), exact ? r.depth : in.depth(), exact))
        return stopped() ? 1
                         : failed("cannot write " + (r.out == "-" ? std::string("standard output") : r.out) +
                                  ": " + out.error());
    if (r.quality >= 0 && !out.setQuality(r.quality))
        return failed("--quality applies to lossy outputs (.ogg, .opus, .mp3), not to " +
                      (r.out == "-" ? std::string("standard output") : r.out));
    const std::string tagProblem = out.setTags(in.tags());
    if (!tagProblem.empty()) say("warning: " + name + ": " + tagProblem);

    const long announced = in.frames();
    const bool showProgress = r.progress && !r.quiet && isatty(STDERR_FILENO) && announced > 10L * in.rate();
    long shown = -1;

    const float gain = std::pow(10.0f, r.gainDb / 20.0f);
    const int channels = in.channels();
    std::vector<float> input(static_cast<size_t>(kChunk * channels)), output(static_cast<size_t>(kChunk * 2));
    Spill spill;
    if (r.headroomAuto && !spill.ok()) return failed("cannot make a temporary file for --headroom auto");
    // With --headroom auto the result is written in a second pass.
    std::unique_ptr<Writer> writer;
    if (!r.headroomAuto) writer = std::make_unique<Writer>(out, r.dither);

    // The output lags by latency frames: those are dropped at the start, and
    // the tail is flushed with silence until the output is as long as the input.
    const bool floats = in.depth() == SampleDepth::Float || in.depth() == SampleDepth::Double;
    const float largest = kLargestSample * gain;
    long long absurd = 0, firstAbsurd = -1;
    long read = 0, skip = processor.latency(), made = 0;
    bool ended = false, good = true;
    while (good && !stopped()) {
        long n = ended ? 0 : in.read(input.data(), kChunk, gain);
        if (n > 0 && floats) {
            // Finite but absurd samples are damage too: silence, as the
            // processor makes of those that are not numbers.
            for (long k = 0; k < n * channels; ++k) {
                float& x = input[static_cast<size_t>(k)];
                if (std::isfinite(x) && std::fabs(x) > largest) {
                    if (absurd++ == 0) firstAbsurd = read + k / channels;
                    x = 0.0f;
                }
            }
        }
        if (n > 0) {
            read += n;
        } else {
            ended = true;
            n = std::min(kChunk, read + skip - made);
            if (n <= 0) break;
            std::fill(input.begin(), input.begin() + n * channels, 0.0f);
        }
        processor.process(input.data(), output.data(), static_cast<int>(n));
        const long drop = std::min(skip, n);
        skip -= drop;
        const long keep = std::max(std::min(n - drop, read - made), 0L);
        made += keep;
        if (keep > 0) {
            const float* kept = output.data() + 2 * drop;
            good = r.headroomAuto ? spill.put(kept, keep) : writer->write(kept, keep);
        }
        if (showProgress && announced > 0) {
            const long percent = 100 * std::min(read, announced) / announced;
            if (percent != shown)
                std::fprintf(stderr, "\rkesta: rendering %s: %3ld%%", name.c_str(), shown = percent);
        }
    }
    if (showProgress) std::fprintf(stderr, "\n");
    if (stopped()) return 1;
    if (writer && !writer->finish()) good = false;
    if (!good)
        return failed("cannot write " + r.out + ": " +
                      (r.headroomAuto ? "temporary file full" : out.error()));

    const std::string damage = in.damage(read);
    if (!damage.empty()) {
        if (r.strict) return failed(name + ": " + damage + "; nothing written (--strict)");
        say("warning: " + name + ": " + damage + "; what was read is written");
    }
    if (processor.replacedSamples() > 0 || absurd > 0) {
        const long long bad = processor.replacedSamples() + absurd;
        long long first = processor.replacedSamples() > 0 ? processor.firstReplacedFrame() : firstAbsurd;
        if (absurd > 0) first = std::min(first, firstAbsurd);
        const std::string what = damagedSamples(bad, first, absurd > 0);
        if (r.strict) return failed(name + ": " + what + "; nothing written (--strict)");
        say("warning: " + name + ": " + what + "; each was replaced by silence: " + std::to_string(bad) +
            (bad == 1 ? " sample" : " samples") + " muted, nothing around them");
    }

    if (r.headroomAuto) {
        const float most = lossy ? std::pow(10.0f, kLossyCeilingDb / 20.0f) : kHeadroomPeak;
        const float scale = spill.peak() > most ? most / spill.peak() : 1.0f;
        if (!r.quiet)
            say(name + ": peak " + dB(20.0 * std::log10(std::max(spill.peak(), 1e-9f))) + " dBFS, gain " +
                dB(20.0 * std::log10(scale)) + " dB");
        if (!spill.rewind()) return failed("cannot read back the temporary file");
        writer = std::make_unique<Writer>(out, r.dither);
        for (long n; good && !stopped() && (n = spill.get(output.data(), kChunk)) > 0;) {
            if (scale != 1.0f)
                for (long k = 0; k < 2 * n; ++k) output[static_cast<size_t>(k)] *= scale;
            good = writer->write(output.data(), n);
        }
        if (stopped()) return 1;
        if (!writer->finish()) good = false;
        if (!good) return failed("cannot write " + r.out + ": " + out.error());
    }

    const Quantizer& q = writer->quantizer();
    if (q.clipped() > 0)
        say("warning: " + name + ": clipped " + std::to_string(q.clipped()) + " samples (" +
            peakAndGain(q.peak()) + ")");
    if (!out.commit()) return stopped() ? 1 : failed("cannot write " + r.out + ": " + out.error());
    return 0;
}
