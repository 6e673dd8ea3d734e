#include "Parameters.h"

namespace kesta {

float Settings::get(Parameter p) const {
    switch (p) {
#define KESTA_PARAMETER_GET(Name, field, Setter, type, ...) \
    case Parameter::k##Name:                                \
        return static_cast<float>(field);
        KESTA_PARAMETERS(KESTA_PARAMETER_GET)
#undef KESTA_PARAMETER_GET
    }
    return 0.0f;
}

void Settings::set(Parameter p, float value) {
    switch (p) {
#define KESTA_PARAMETER_SET(Name, field, Setter, type, ...)       \
    case Parameter::k##Name:                                      \
        field = ValueAs<type>(InfoOf(Parameter::k##Name), value); \
        break;
        KESTA_PARAMETERS(KESTA_PARAMETER_SET)
#undef KESTA_PARAMETER_SET
    }
}

unsigned Settings::differences(const Settings& o) const {
    unsigned changed = 0;
#define KESTA_PARAMETER_COMPARE(Name, field, Setter, type, ...) \
    if (field != o.field) changed |= Bit(Parameter::k##Name);
    KESTA_PARAMETERS(KESTA_PARAMETER_COMPARE)
#undef KESTA_PARAMETER_COMPARE
    return changed;
}

}  // namespace kesta
