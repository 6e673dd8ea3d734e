// The dense FIR filter and its factory.
#include "Fltfir.h"

#include <algorithm>
#include <climits>
#include <new>

#include "MathLib.h"
#include "Mixbuf.h"

float fDotProduct(const float* a, const float* b, Samples n) {
    double sum = 0.0;
    for (Samples i = 0; i < n; ++i) sum += static_cast<double>(a[i]) * static_cast<double>(b[i]);
    return static_cast<float>(sum);
}

FloatFIR::FloatFIR()
    : QuietFilterStatus(0), tapCount_(0), position_(0), coeffs_(nullptr), history_(nullptr), past_(nullptr) {}

FloatFIR::~FloatFIR() {
    delete[] coeffs_;
    delete[] history_;
    delete[] past_;
}

int FloatFIR::init(const float* coeffs, int n) {
    delete[] coeffs_;
    delete[] history_;
    delete[] past_;
    coeffs_ = history_ = past_ = nullptr;
    tapCount_ = 0;
    if (n < 0 || n > INT_MAX / 2 || (n > 0 && !coeffs)) return 1;
    coeffs_ = new (std::nothrow) float[static_cast<size_t>(n)];
    history_ = new (std::nothrow) float[2 * static_cast<size_t>(n)];
    past_ = new (std::nothrow) float[static_cast<size_t>(n)];
    if (!coeffs_ || !history_ || !past_) return 1;
    tapCount_ = n;
    std::copy(coeffs, coeffs + n, coeffs_);
    SetNeeded(n);
    Reset();
    return 0;
}

void FloatFIR::Reset() {
    QuietFilterStatus::Reset();
    position_ = tapCount_ > 0 ? tapCount_ - 1 : 0;
    std::fill(history_, history_ + 2 * static_cast<size_t>(tapCount_), 0.0f);
    std::fill(past_, past_ + tapCount_, 0.0f);
}

namespace {

constexpr Samples kChunk = 1024;    // frames per pass; the work arrays live on the stack
constexpr int kMaxStackTaps = 256;  // longer filters take the per-sample path

// acc[j] += sum over the G taps h[0 .. G-1] of h[g] * x[j - g], for j < count,
// the taps added one by one in order.
template <int G>
inline void AddTaps(const float* h, const double* x, double* acc, Samples count) {
    double hg[G];
    for (int g = 0; g < G; ++g) hg[g] = h[g];
    for (Samples j = 0; j < count; ++j) {
        double a = acc[j];
        for (int g = 0; g < G; ++g) a += hg[g] * x[j - g];
        acc[j] = a;
    }
}

// out[j] = sum over k = 0 .. taps-1 of h[k] * x[j - k] for j < count, where
// x = e + taps - 1 (so e holds the taps - 1 inputs before the block first).
// Each output has its own double accumulator that starts at 0 and takes the
// taps in order k = 0, 1, ...: every product of two floats is exact in double
// and each sum is rounded once, as in fDotProduct, so the bits are the same
// whatever the vector width. The loops run over the outputs, which the
// compiler turns into vector instructions, several taps per pass; where the
// processor has wider vectors a clone of this function for them is chosen
// when the library is loaded.
// (Not under ThreadSanitizer: the clones' resolver runs while the program is
// being loaded, before that runtime is ready, and would crash.)
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("default", "avx2", "avx512f")))
#endif
void SumTaps(const float* h, int taps, const float* e, double* acc, float* out, Samples count) {
    // The inputs widened once, rather than once for every tap that reads them.
    double wide[kMaxStackTaps - 1 + kChunk];
    const Samples length = taps - 1 + count;
    for (Samples j = 0; j < length; ++j) wide[j] = e[j];
    const double* const x = wide + taps - 1;
    std::fill(acc, acc + count, 0.0);
    int k = 0;
    for (; k + 8 <= taps; k += 8) AddTaps<8>(h + k, x - k, acc, count);
    for (; k + 4 <= taps; k += 4) AddTaps<4>(h + k, x - k, acc, count);
    for (; k < taps; ++k) AddTaps<1>(h + k, x - k, acc, count);
    for (Samples j = 0; j < count; ++j) out[j] = static_cast<float>(acc[j]);
}

}  // namespace

// The block is summed from one contiguous run: the taps - 1 inputs before it
// (past_, oldest first) followed by the block itself, so that no output needs
// a wrap or a history test; the end of the run is the next block's past. Each
// output's sum is that of the per-sample dot product over the history window,
// bit for bit. (Filters longer than the run holds keep the per-sample
// history instead.)
void FloatFIR::Process(MixBuffer& buffer) {
    const Samples n = buffer.used_;
    float* const data = buffer.floats();
    const int taps = tapCount_;
    if (n <= 0) return;
    if (taps == 0) {
        std::fill(data, data + n, 0.0f);
        return;
    }
    if (taps > kMaxStackTaps) {
        // Longer than any table: the per-sample dot product over the history.
        for (Samples i = 0; i < n; ++i) {
            history_[position_ + taps] = data[i];
            history_[position_] = data[i];
            data[i] = fDotProduct(history_ + position_, coeffs_, taps);
            position_ = position_ == 0 ? taps - 1 : position_ - 1;
        }
        return;
    }
    float run[kMaxStackTaps - 1 + kChunk];
    double acc[kChunk];
    for (Samples start = 0; start < n; start += kChunk) {
        const Samples count = std::min(kChunk, n - start);
        float* const x = data + start;
        std::copy(past_, past_ + taps - 1, run);
        std::copy(x, x + count, run + taps - 1);
        std::copy(run + count, run + count + taps - 1, past_);
        // Every input is in run now, so the outputs go straight into the block.
        SumTaps(coeffs_, taps, run, acc, x, count);
    }
}

InPlaceFilter* FloatLibrary::CreateFIRFilter(const FIRCoeffs* coeffs) {
    if (!coeffs || coeffs->numTaps < 0 || coeffs->numTaps > INT_MAX) return nullptr;
    FloatFIR* filter = new (std::nothrow) FloatFIR;
    if (!filter) return nullptr;
    if (filter->init(coeffs->coeffs, static_cast<int>(coeffs->numTaps)) != 0) {
        delete filter;
        return nullptr;
    }
    return filter;
}
