#include "Parameters.h"

#include <cmath>

namespace kesta {

float Settings::get(Parameter p) const {
    switch (p) {
        case Parameter::kSpread:
            return spreadDb;
        case Parameter::kMode:
            return music ? 1.0f : 0.0f;
        case Parameter::kMonoTo3D:
            return monoTo3D ? 1.0f : 0.0f;
        case Parameter::kWidening:
            return widen ? 1.0f : 0.0f;
        case Parameter::kSubtone:
            return subtone ? 1.0f : 0.0f;
        case Parameter::kAutoMono:
            return autoMono ? 1.0f : 0.0f;
        case Parameter::kLimiter:
            return limiter ? 1.0f : 0.0f;
    }
    return 0.0f;
}

void Settings::set(Parameter p, float value) {
    const ParameterInfo& info = InfoOf(p);
    if (!std::isfinite(value)) value = info.fallback;
    const bool on = info.kind == ParameterInfo::kEnumeration ? value >= 0.5f * (info.minimum + info.maximum)
                                                             : value > info.minimum;
    switch (p) {
        case Parameter::kSpread:
            spreadDb = value;
            break;
        case Parameter::kMode:
            music = on;
            break;
        case Parameter::kMonoTo3D:
            monoTo3D = on;
            break;
        case Parameter::kWidening:
            widen = on;
            break;
        case Parameter::kSubtone:
            subtone = on;
            break;
        case Parameter::kAutoMono:
            autoMono = on;
            break;
        case Parameter::kLimiter:
            limiter = on;
            break;
    }
}

bool Settings::operator==(const Settings& o) const {
    for (int i = 0; i < kParameterCount; ++i) {
        const auto p = static_cast<Parameter>(i);
        if (get(p) != o.get(p)) return false;
    }
    return true;
}

}  // namespace kesta
