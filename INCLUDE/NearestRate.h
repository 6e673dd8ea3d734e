// The choice of a row in a per-sample-rate table, shared by every such table:
// a row whose rate equals the wanted one wins at once, else the nearest, and
// of two equally near rows the earlier (the tables list their rates in
// ascending order, so that is the lower rate).
#pragma once

// Index of the row for rate (Hz) among count rows, row i having the rate
// rateOf(i); -1 when count <= 0. With exactOnly only an equal rate is taken,
// and -1 means that there is none.
template <class RateOf>
int NearestRateIndex(int count, long long rate, RateOf rateOf, bool exactOnly = false) {
    int nearest = -1;
    long long nearestDistance = 0;
    for (int i = 0; i < count; ++i) {
        const long long rowRate = rateOf(i);
        if (rowRate == rate) return i;
        if (exactOnly) continue;
        const long long distance = rowRate > rate ? rowRate - rate : rate - rowRate;
        // Only a strictly nearer row replaces the one kept: ties go to the earlier.
        if (nearest < 0 || distance < nearestDistance) {
            nearest = i;
            nearestDistance = distance;
        }
    }
    return nearest;
}
