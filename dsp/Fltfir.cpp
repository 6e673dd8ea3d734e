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
    : QuietFilterStatus(0), tapCount_(0), position_(0), coeffs_(nullptr), history_(nullptr) {}

FloatFIR::~FloatFIR() {
    delete[] coeffs_;
    delete[] history_;
}

int FloatFIR::init(const float* coeffs, int n) {
    delete[] coeffs_;
    delete[] history_;
    coeffs_ = history_ = nullptr;
    tapCount_ = 0;
    if (n < 0 || n > INT_MAX / 2 || (n > 0 && !coeffs)) return 1;
    coeffs_ = new (std::nothrow) float[static_cast<size_t>(n)];
    history_ = new (std::nothrow) float[2 * static_cast<size_t>(n)];
    if (!coeffs_ || !history_) return 1;
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
}

// The block is run tap by tap rather than sample by sample: each output keeps
// its own double accumulator, and the taps reach it in the same order (k = 0
// first) and precision as in fDotProduct over the history window, so the
// result is bit for bit that of the per-sample dot product. Blocks are taken
// in chunks so that the accumulators live on the stack.
void FloatFIR::Process(MixBuffer& buffer) {
    const Samples n = buffer.used_;
    float* const data = buffer.floats();
    const int taps = tapCount_;
    if (n <= 0) return;
    if (taps == 0) {
        std::fill(data, data + n, 0.0f);
        return;
    }
    constexpr Samples kChunk = 1024;
    double acc[kChunk];
    for (Samples start = 0; start < n; start += kChunk) {
        const Samples count = std::min(kChunk, n - start);
        float* const x = data + start;
        // past[j - 1] = x[start - j] for j = 1 .. N: the inputs before this chunk.
        const float* const past = history_ + position_ + 1;

        std::fill(acc, acc + count, 0.0);
        for (int k = 0; k < taps; ++k) {
            const double h = coeffs_[k];
            // Outputs 0 .. k-1 of the chunk take tap k's input from the past.
            const Samples head = std::min<Samples>(k, count);
            for (Samples i = 0; i < head; ++i) acc[i] += h * static_cast<double>(past[k - 1 - i]);
            if (head == count) continue;
            // The others from the chunk: acc[k + i] takes x[i]. A trip count
            // that is a multiple of 4 lets the compiler vectorise the loop
            // without a scalar epilogue; the rest follows one by one.
            double* const out = acc + k;
            const Samples body = count - k;
            const Samples wide = body & ~3;
            for (Samples i = 0; i < wide; ++i) out[i] += h * static_cast<double>(x[i]);
            for (Samples i = wide; i < body; ++i) out[i] += h * static_cast<double>(x[i]);
        }

        int pos = position_;
        for (Samples i = 0; i < count; ++i) {
            history_[pos] = x[i];
            history_[pos + taps] = x[i];
            pos = pos == 0 ? taps - 1 : pos - 1;
        }
        position_ = pos;

        for (Samples i = 0; i < count; ++i) x[i] = static_cast<float>(acc[i]);
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
