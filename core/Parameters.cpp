#include "Parameters.h"

#include <cmath>

namespace kesta {

namespace {

// The on/off field each parameter sets, indexed by Parameter; the spread
// alone is a number.
bool Settings::*const kSwitchOf[kParameterCount] = {nullptr,
                                                    &Settings::music,
                                                    &Settings::monoTo3D,
                                                    &Settings::widen,
                                                    &Settings::subtone,
                                                    &Settings::autoMono,
                                                    &Settings::limiter,
                                                    &Settings::match};

}  // namespace

float Settings::get(Parameter p) const {
    if (p == Parameter::kSpread) return spreadDb;
    return this->*kSwitchOf[static_cast<int>(p)] ? 1.0f : 0.0f;
}

void Settings::set(Parameter p, float value) {
    const ParameterInfo& info = InfoOf(p);
    if (!std::isfinite(value)) value = info.fallback;
    if (p == Parameter::kSpread) {
        spreadDb = value;
        return;
    }
    this->*kSwitchOf[static_cast<int>(p)] = info.kind == ParameterInfo::kEnumeration
                                                ? value >= 0.5f * (info.minimum + info.maximum)
                                                : value > info.minimum;
}

bool Settings::operator==(const Settings& o) const {
    if (spreadDb != o.spreadDb) return false;
    for (bool Settings::*field : kSwitchOf)
        if (field && this->*field != o.*field) return false;
    return true;
}

}  // namespace kesta
