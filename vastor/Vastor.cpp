// The flat functions over the engine object. A handle is the address of the
// IVastor; each function checks its pointers and forwards one call.

#include "Vastor.h"

#include "Assert.h"
#include "VastorObj.h"

namespace {

IVastor* Engine(struct Vastor* handle) {
    return reinterpret_cast<IVastor*>(handle);
}

// The frame count as the engine's signed count; counts above 2^31 - 1 are not supported.
Samples Frames(unsigned int frames) {
    return static_cast<Samples>(frames);
}

}  // namespace

extern "C" {

int vastorOpen(struct Vastor** handle, unsigned int rate, unsigned int flags) {
    IVastor* engine = nullptr;
    const int result = IVastor::Create(&engine, rate, flags);
    *handle = reinterpret_cast<struct Vastor*>(engine);
    return result;
}

void vastorClose(struct Vastor* lpVastor) {
    KESTA_ASSERT(lpVastor, "lpVastor", "void vastorClose(struct Vastor *)");
    delete Engine(lpVastor);
}

void vastorReset(struct Vastor* lpVastor) {
    KESTA_ASSERT(lpVastor, "lpVastor", "void vastorReset(struct Vastor *)");
    Engine(lpVastor)->reset();
}

void vastorEnable(struct Vastor* lpVastor, BOOL on) {
    KESTA_ASSERT(lpVastor, "lpVastor", "void vastorEnable(struct Vastor *, BOOL)");
    Engine(lpVastor)->enable(on);
}

void vastorEnableHipass(struct Vastor* lpVastor, BOOL on) {
    KESTA_ASSERT(lpVastor, "lpVastor", "void vastorEnableHipass(struct Vastor *, BOOL)");
    Engine(lpVastor)->enableHipass(on);
}

void vastorSetSpread(struct Vastor* lpVastor, float decibels) {
    KESTA_ASSERT(lpVastor, "lpVastor", "void vastorSetSpread(struct Vastor *, float)");
    Engine(lpVastor)->setSpread(decibels);
}

void vastorSetCenter(struct Vastor* lpVastor, float decibels) {
    KESTA_ASSERT(lpVastor, "lpVastor", "void vastorSetCenter(struct Vastor *, float)");
    Engine(lpVastor)->setCenter(decibels);
}

void vastorSetInputScale(struct Vastor* lpVastor, float leftDecibels, float rightDecibels) {
    KESTA_ASSERT(lpVastor, "lpVastor", "void vastorSetInputScale(struct Vastor *, float, float)");
    Engine(lpVastor)->setInputScale(leftDecibels, rightDecibels);
}

void vastorSetInputDelay(struct Vastor* lpVastor, int leftFrames, int rightFrames) {
    KESTA_ASSERT(lpVastor, "lpVastor", "void vastorSetInputDelay(struct Vastor *, int, int)");
    Engine(lpVastor)->setInputDelay(leftFrames, rightFrames);
}

void vastorSetDirectDelay(struct Vastor* lpVastor, int frames) {
    KESTA_ASSERT(lpVastor, "lpVastor", "void vastorSetDirectDelay(struct Vastor *, int)");
    Engine(lpVastor)->setDirectDelay(frames);
}

void vastorSetRampLength(struct Vastor* lpVastor, int frames) {
    KESTA_ASSERT(lpVastor, "lpVastor", "void vastorSetRampLength(struct Vastor *, int)");
    Engine(lpVastor)->setRampLength(frames);
}

void vastorSetChainedRamps(struct Vastor* lpVastor, BOOL on) {
    KESTA_ASSERT(lpVastor, "lpVastor", "void vastorSetChainedRamps(struct Vastor *, BOOL)");
    Engine(lpVastor)->setChainedRamps(on != 0);
}

int vastorGetLatency(struct Vastor* lpVastor) {
    KESTA_ASSERT(lpVastor, "lpVastor", "int vastorGetLatency(struct Vastor *)");
    return Engine(lpVastor)->latency();
}

void vastorProcess16(struct Vastor* lpVastor, const short (*inbuf)[2], short (*outbuf)[2],
                     unsigned int frames) {
    static const char kFunction[] =
        "void vastorProcess16(struct Vastor *, const short int (*)[2], short int (*)[2], unsigned int)";
    KESTA_ASSERT(lpVastor, "lpVastor", kFunction);
    KESTA_ASSERT(inbuf, "inbuf", kFunction);
    KESTA_ASSERT(outbuf, "outbuf", kFunction);
    Engine(lpVastor)->process(inbuf, outbuf, Frames(frames));
}

void vastorProcess8(struct Vastor* lpVastor, const unsigned char (*inbuf)[2], unsigned char (*outbuf)[2],
                    unsigned int frames) {
    static const char kFunction[] =
        "void vastorProcess8(struct Vastor *, const unsigned char (*)[2], unsigned char (*)[2], unsigned "
        "int)";
    KESTA_ASSERT(lpVastor, "lpVastor", kFunction);
    KESTA_ASSERT(inbuf, "inbuf", kFunction);
    KESTA_ASSERT(outbuf, "outbuf", kFunction);
    Engine(lpVastor)->process(inbuf, outbuf, Frames(frames));
}

void vastorProcessFloat(struct Vastor* lpVastor, const float (*inbuf)[2], float (*outbuf)[2],
                        unsigned int frames) {
    static const char kFunction[] =
        "void vastorProcessFloat(struct Vastor *, const float (*)[2], float (*)[2], unsigned int)";
    KESTA_ASSERT(lpVastor, "lpVastor", kFunction);
    KESTA_ASSERT(inbuf, "inbuf", kFunction);
    KESTA_ASSERT(outbuf, "outbuf", kFunction);
    Engine(lpVastor)->process(inbuf, outbuf, Frames(frames));
}

void vastorMono16(struct Vastor* lpVastor, const Mono16* leftIn, const Mono16* rightIn, Mono16* leftOut,
                  Mono16* rightOut, unsigned int frames) {
    static const char kFunction[] =
        "void vastorMono16(struct Vastor *, const Mono16 *, const Mono16 *, Mono16 *, Mono16 *, unsigned "
        "int)";
    KESTA_ASSERT(lpVastor, "lpVastor", kFunction);
    KESTA_ASSERT(leftIn, "leftIn", kFunction);
    KESTA_ASSERT(rightIn, "rightIn", kFunction);
    KESTA_ASSERT(leftOut, "leftOut", kFunction);
    KESTA_ASSERT(rightOut, "rightOut", kFunction);
    Engine(lpVastor)->process(leftIn, rightIn, leftOut, rightOut, Frames(frames));
}

void vastorMono8(struct Vastor* lpVastor, const Mono8* leftIn, const Mono8* rightIn, Mono8* leftOut,
                 Mono8* rightOut, unsigned int frames) {
    static const char kFunction[] =
        "void vastorMono8(struct Vastor *, const Mono8 *, const Mono8 *, Mono8 *, Mono8 *, unsigned int)";
    KESTA_ASSERT(lpVastor, "lpVastor", kFunction);
    KESTA_ASSERT(leftIn, "leftIn", kFunction);
    KESTA_ASSERT(rightIn, "rightIn", kFunction);
    KESTA_ASSERT(leftOut, "leftOut", kFunction);
    KESTA_ASSERT(rightOut, "rightOut", kFunction);
    Engine(lpVastor)->process(leftIn, rightIn, leftOut, rightOut, Frames(frames));
}

void vastorMonoFloat(struct Vastor* lpVastor, const MonoFloat* leftIn, const MonoFloat* rightIn,
                     MonoFloat* leftOut, MonoFloat* rightOut, unsigned int frames) {
    static const char kFunction[] =
        "void vastorMonoFloat(struct Vastor *, const MonoFloat *, const MonoFloat *, MonoFloat *, MonoFloat "
        "*, "
        "unsigned int)";
    KESTA_ASSERT(lpVastor, "lpVastor", kFunction);
    KESTA_ASSERT(leftIn, "leftIn", kFunction);
    KESTA_ASSERT(rightIn, "rightIn", kFunction);
    KESTA_ASSERT(leftOut, "leftOut", kFunction);
    KESTA_ASSERT(rightOut, "rightOut", kFunction);
    Engine(lpVastor)->process(leftIn, rightIn, leftOut, rightOut, Frames(frames));
}

}  // extern "C"
