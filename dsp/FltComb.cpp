// The comb filters' one instantiation and their factories.
#include <new>

#include "MathLib.h"
#include "SimpleComb.h"

template class SimpleComb<float, float>;
template class AllPassComb<float, float>;

SimpleCombFilter* FloatLibrary::CreateSimpleCombFilter(Samples sampleRate) {
    return new (std::nothrow) SimpleComb<float, float>(*this, sampleRate);
}

AllPassCombFilter* FloatLibrary::CreateAllPassCombFilter(Samples sampleRate) {
    return new (std::nothrow) AllPassComb<float, float>(*this, sampleRate);
}
