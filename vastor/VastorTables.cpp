#include "VastorTables.h"

#include "Filter.h"
#include "MathLib.h"
#include "NearestRate.h"

namespace {

// Pole pairs (frequency Hz, radius) of the multi-stage rows, in table order.
const IIRRoot kPoles8000[] = {{1000.0f, 0.663f}, {3150.0f, 0.3843f}};
const IIRRoot kPoles11025[] = {{961.14f, 0.743f}, {3065.0f, 0.5143f}, {4761.87f, 0.4292f}};
const IIRRoot kPoles12000[] = {{1000.0f, 0.743f}, {3336.05f, 0.5243f}, {5215.78f, 0.4392f}};
const IIRRoot kPoles16000[] = {{1002.77f, 0.8190636f}, {2999.93f, 0.699f}, {4316.26f, 0.84f}};
const IIRRoot kPoles22050[] = {{4600.0f, 0.785f}, {5500.0f, 0.84f}, {3050.0f, 0.755f}, {1000.0f, 0.865f}};
const IIRRoot kPoles24000[] = {{1045.79f, 0.8690636f}, {3124.79f, 0.8014045f}, {4335.34f, 0.9165f}};
const IIRRoot kPoles32000[] = {{1049.0f, 0.897f}, {3200.0f, 0.845f}, {4250.0f, 0.926f}};
const IIRRoot kPoles44100[] = {{3000.0f, 0.868f}, {4343.17f, 0.913f}, {1000.0f, 0.928f}, {5285.6f, 0.962f}};
const IIRRoot kPoles48000[] = {
    {2997.52f, 0.87438565f}, {4366.47f, 0.9175f}, {1029.58f, 0.9305235f}, {5303.94f, 0.962f}};

// One section per single-stage row: poles at 850 Hz, zeros at 24 Hz.
const BiquadRoots kSection8000[] = {{{850.0f, 0.683f}, {24.0f, 0.37f}}};
const BiquadRoots kSection11025[] = {{{850.0f, 0.754f}, {24.0f, 0.48f}}};
const BiquadRoots kSection12000[] = {{{850.0f, 0.775f}, {24.0f, 0.516f}}};
const BiquadRoots kSection16000[] = {{{850.0f, 0.825f}, {24.0f, 0.61f}}};
const BiquadRoots kSection22050[] = {{{850.0f, 0.87f}, {24.0f, 0.7f}}};
const BiquadRoots kSection24000[] = {{{850.0f, 0.88f}, {24.0f, 0.715f}}};
const BiquadRoots kSection32000[] = {{{850.0f, 0.906f}, {24.0f, 0.775f}}};
const BiquadRoots kSection44100[] = {{{850.0f, 0.935f}, {24.0f, 0.84f}}};
const BiquadRoots kSection48000[] = {{{850.0f, 0.94f}, {24.0f, 0.85f}}};

// The row for rate among the nine player rates' rows and, with allRates, the
// high rates' rows after them (rateOf gives a row's rate).
template <class Row, class RateOf>
const Row& NearestRow(const Row (&rows)[kVastorRateCount], const Row (&highRows)[kVastorHighRateCount],
                      bool allRates, long rate, RateOf rateOf) {
    auto row = [&](int i) -> const Row& {
        return i < kVastorRateCount ? rows[i] : highRows[i - kVastorRateCount];
    };
    const int count = allRates ? kVastorRateCount + kVastorHighRateCount : kVastorRateCount;
    return row(NearestRateIndex(count, rate, [&](int i) { return static_cast<long long>(rateOf(row(i))); }));
}

}  // namespace

const MultiStageVastorRow multiStageVastorTable[kVastorRateCount] = {
    {{8000, -0.65857774f, 2, kPoles8000}, 0},      {{11025, -0.6160369f, 3, kPoles11025}, 0},
    {{12000, -0.60714525f, 3, kPoles12000}, 0},    {{16000, -0.21190035f, 3, kPoles16000}, 1},
    {{22050, -0.079221964f, 4, kPoles22050}, 1},   {{24000, -0.035440393f, 3, kPoles24000}, 1},
    {{32000, -0.007734122f, 3, kPoles32000}, 4},   {{44100, -0.00056811573f, 4, kPoles44100}, 6},
    {{48000, -0.00032737196f, 4, kPoles48000}, 7},
};

const BiquadCoeffs2 singleStageVastorTable[kVastorRateCount] = {
    {8000, -0.63744307f, 1, kSection8000},   {11025, -0.56952506f, 1, kSection11025},
    {12000, -0.55372703f, 1, kSection12000}, {16000, -0.5152635f, 1, kSection16000},
    {22050, -0.48212f, 1, kSection22050},    {24000, -0.46402127f, 1, kSection24000},
    {32000, -0.44841895f, 1, kSection32000}, {44100, -0.4394399f, 1, kSection44100},
    {48000, -0.42997074f, 1, kSection48000},
};

// At 8000, 11025 and 12000 Hz the shelf is a pass-through section.
const HighshelfRow highshelfTable[kVastorRateCount] = {
    {8000, 1.0f, 1, {0.0f, 0.0f, 0.0f, 0.0f}},
    {11025, 1.0f, 1, {0.0f, 0.0f, 0.0f, 0.0f}},
    {12000, 1.0f, 1, {0.0f, 0.0f, 0.0f, 0.0f}},
    {16000, 0.8527431f, 1, {-0.021968547f, 0.0196f, -0.23100744f, 0.015625f}},
    {22050, 0.8915121f, 1, {-0.24379808f, 0.0676f, -0.4318899f, 0.050625f}},
    {24000, 0.9084823f, 1, {-0.29410508f, 0.0729f, -0.4926567f, 0.065025f}},
    {32000, 0.93030065f, 1, {-0.5580851f, 0.1444f, -0.7160012f, 0.133225f}},
    {44100, 0.92258596f, 1, {-0.8912631f, 0.2704f, -0.9700899f, 0.2401f}},
    {48000, 0.93348134f, 1, {-0.9311766f, 0.2809f, -1.0112737f, 0.2601f}},
};

InPlaceFilter* CreateMultiStageVastor(MathLibrary& library, long rate, float gain, long* directDelay,
                                      bool allRates) {
    const MultiStageVastorRow& row =
        NearestRow(multiStageVastorTable, multiStageVastorHighTable, allRates, rate,
                   [](const MultiStageVastorRow& r) { return r.coeffs.sampleRate; });
    *directDelay = row.directDelay;
    IIR2p0zCoeffs coeffs = row.coeffs;
    coeffs.gain = row.coeffs.gain * gain;
    return library.CreateFilter(&coeffs);
}

InPlaceFilter* CreateSingleStageVastor(MathLibrary& library, long rate, float gain, long* directDelay,
                                       bool allRates) {
    const BiquadCoeffs2& row = NearestRow(singleStageVastorTable, singleStageVastorHighTable, allRates, rate,
                                          [](const BiquadCoeffs2& r) { return r.sampleRate; });
    *directDelay = 0;
    BiquadCoeffs2 coeffs = row;
    coeffs.gain = row.gain * gain;
    return library.CreateFilter(&coeffs);
}

InPlaceFilter* CreateHighshelf(MathLibrary& library, long rate, bool allRates) {
    const int count = allRates ? kVastorRateCount + kVastorHighRateCount : kVastorRateCount;
    auto rowAt = [](int i) -> const HighshelfRow& {
        return i < kVastorRateCount ? highshelfTable[i] : highshelfHighTable[i - kVastorRateCount];
    };
    const int index = NearestRateIndex(
        count, rate, [&](int i) { return static_cast<long long>(rowAt(i).sampleRate); }, true);
    if (index < 0) return nullptr;
    const HighshelfRow& row = rowAt(index);
    BiquadFilter* filter = library.CreateBiquad();
    if (!filter) return nullptr;
    float section[1][4] = {{row.coeffs[0], row.coeffs[1], row.coeffs[2], row.coeffs[3]}};
    filter->SetFilter(BiquadCoeffs{row.gain, row.numSections, section});
    return filter;
}
