// Coefficient design for the recursive filters.
//
// Second-order analog prototypes (Butterworth lowpass and highpass, two
// bandpass forms, notch) become one digital biquad section through a
// pre-warped bilinear transform. Each design exists twice: Design... (and
// CreateNotch) programs an existing BiquadFilter through SetFilter, and
// Init...Coeffs fills a caller's record and row storage instead.
//
// Pole/zero descriptions (BiquadCoeffs2) are turned into biquad cascades by
// MathLibrary::CreateFilter; the first-order designs are members of
// FirstOrderFilter. All frequencies, widths and sample rates are whole hertz.
#pragma once

class BiquadFilter;

// A digital cascade: H(z) = gain * prod (1 + b1 z^-1 + b2 z^-2) / (1 + a1 z^-1 + a2 z^-2).
// One row per section: [0] = a1, [1] = a2, [2] = b1, [3] = b2. The rows are
// not owned; a filter given the record copies them.
struct BiquadCoeffs {
    float gain;
    long numSections;
    float (*coeffs)[4];
};

// A conjugate root pair r * e^(+-j 2 pi frequency / fs) of the z-plane.
struct IIRRoot {
    float frequency;  // Hz, at the sample rate in use
    float radius;     // below 1 for a stable pole pair

    // The polynomial 1 + c1 z^-1 + c2 z^-2 with these roots at sampleRate:
    // c1 = -2 radius cos(2 pi frequency / sampleRate), c2 = radius^2.
    void getDirectForm(long sampleRate, float* c1, float* c2) const;
};

// One section of a pole/zero cascade.
struct BiquadRoots {
    IIRRoot poles;
    IIRRoot zeros;
};

// A pole/zero cascade for one sample rate (tables hold one per rate).
struct BiquadCoeffs2 {
    long sampleRate;  // Hz
    float gain;
    long numSections;  // 1 ... 20
    const BiquadRoots* roots;
};

// The analog angular frequency that the bilinear transform with s = 2(1 - z^-1)/(1 + z^-1)
// maps onto frequency: 2 tan(pi frequency / sampleRate), limited to pi.
double GetWarpedBilinearFrequency(double frequency, double sampleRate);

// Maps H(s) = (num2 s^2 + num1 s + num0) / (den2 s^2 + den1 s + den0) into
// out.gain and row 0 of out.coeffs, which must already point to storage.
// A numerator or denominator whose mapped constant term is 0 cannot be
// normalised; the section then comes out silent (gain 0, zero numerator row,
// and a zero pole row too when the denominator is the one).
void ApplyBilinear(double num2, double num1, double num0, double den2, double den1, double den0,
                   BiquadCoeffs& out);

// Butterworth lowpass and highpass, -3 dB at cutoff. The Design forms answer
// the filter's SetFilter result.
int DesignLowpass(BiquadFilter* filter, long sampleRate, long cutoff);
int DesignHighpass(BiquadFilter* filter, long sampleRate, long cutoff);
void InitLowpassCoeffs(BiquadCoeffs& out, float row[][4], long sampleRate, long cutoff);
void InitHighpassCoeffs(BiquadCoeffs& out, float row[][4], long sampleRate, long cutoff);

// Resonant bandpass with gain 1 at center; width is warped as a frequency of its own.
int DesignBandpass(BiquadFilter* filter, long sampleRate, long center, long width);
void InitBandpassCoeffs(BiquadCoeffs& out, float row[][4], long sampleRate, long center, long width);
// Bandpass with gain dcGain at 0 Hz, topGain toward the Nyquist frequency and
// exactly 1 at center; its band spans center +- width/2.
int DesignBandpass(BiquadFilter* filter, long sampleRate, long center, long width, double dcGain,
                   double topGain);
void InitBandpassCoeffs(BiquadCoeffs& out, float row[][4], long sampleRate, long center, long width,
                        double dcGain, double topGain);

// Notch with zero gain at center; its band spans center +- width.
int CreateNotch(BiquadFilter* filter, long sampleRate, long center, long width);
void InitNotchCoeffs(BiquadCoeffs& out, float row[][4], long sampleRate, long center, long width);
