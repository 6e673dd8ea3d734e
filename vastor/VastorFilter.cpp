#include "VastorFilter.h"

#include "DualVastor.h"
#include "SingleVastor.h"
#include "Vastor.h"

VastorFilter* CreateVastor(MathLibrary& library, MixBuffer (&output)[2], long rate, long blockSize,
                           unsigned flags) {
    if (flags & VASTOR_SINGLE_NETWORK) return new SingleVastorFilter(library, output, rate, blockSize, flags);
    return new DualVastorFilter(library, output, rate, blockSize, flags);
}

WidenerSetup ApplySharedInputSetting(int id, const void* value, bool& disabled, float (&scale)[2],
                                     int (&inputDelay)[2], long& directDelay, long& rampLength) {
    switch (id) {
        case kVastorDisabled: {
            const bool d = VastorPropertyValue<unsigned char>(value) != 0;
            if (d == disabled) return WidenerSetup::kNone;
            disabled = d;
            return WidenerSetup::kPanners;
        }
        case kVastorInputScale:
            scale[0] = VastorPropertyValue<float>(value, 0);
            scale[1] = VastorPropertyValue<float>(value, 1);
            return WidenerSetup::kPanners;
        case kVastorInputDelay:
            inputDelay[0] = std::max(VastorPropertyValue<int32_t>(value, 0), 0);
            inputDelay[1] = std::max(VastorPropertyValue<int32_t>(value, 1), 0);
            return WidenerSetup::kDelays;
        case kVastorDirectDelay:
            directDelay = std::max(VastorPropertyValue<int32_t>(value), 0);
            return WidenerSetup::kDelays;
        case kVastorRampLength:
            rampLength = std::max(VastorPropertyValue<int32_t>(value), 0);
            return WidenerSetup::kNone;
        default:
            return WidenerSetup::kNotShared;
    }
}
