// The filter tree's shared defaults and its one stateless filter.
#include "Quietbuf.h"

#include "Filter.h"
#include "Mixbuf.h"

Filter::~Filter() {}

void Filter::SetProperty(int, const void*, int) {}

void Filter::GetProperty(int, void*, int, int* sizeOut) {
    if (sizeOut) *sizeOut = 0;
}

void Filter::NoInput(Samples) {}

void Filter::GettingInput() {}

void InPlaceFilter::ProcessPair(MixBuffer& buffer, InPlaceFilter& other, MixBuffer& otherBuffer) {
    Process(buffer);
    other.Process(otherBuffer);
}

bool InPlaceFilter::ProcessFed(const FedSide&, InPlaceFilter*, const FedSide*) {
    return false;
}

void InPlaceFilter::PrepareFed(FedPlan& plan, const FedSide&, InPlaceFilter*, const FedSide*) {
    plan = FedPlan();
}

void InPlaceScaleFilter::Process(MixBuffer& buffer) {
    buffer *= scale_;
}
