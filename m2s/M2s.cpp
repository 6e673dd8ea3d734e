#include "M2s.h"

#include "Assert.h"
#include "M2sobj.h"

namespace {

M2SInterface* Engine(M2S* handle) {
    return reinterpret_cast<M2SInterface*>(handle);
}

}  // namespace

extern "C" {

int m2sOpen(M2S** handle, unsigned int sampleRate, unsigned int flags) {
    return M2SInterface::create(handle, sampleRate, flags);
}

void m2sProcess16(M2S* lpM2S, const Data16* inbuf, short (*outbuf)[2], unsigned int count) {
    static const char kText[] =
        "void m2sProcess16(struct M2S *, const Data16 *, short int (*)[2], unsigned int)";
    KESTA_ASSERT(lpM2S, "lpM2S", kText);
    KESTA_ASSERT(inbuf, "inbuf", kText);
    KESTA_ASSERT(outbuf, "outbuf", kText);
    Engine(lpM2S)->process(inbuf, outbuf, count);
}

void m2sProcess8(M2S* lpM2S, const Data8* inbuf, unsigned char (*outbuf)[2], unsigned int count) {
    static const char kText[] =
        "void m2sProcess8(struct M2S *, const Data8 *, unsigned char (*)[2], unsigned int)";
    KESTA_ASSERT(lpM2S, "lpM2S", kText);
    KESTA_ASSERT(inbuf, "inbuf", kText);
    KESTA_ASSERT(outbuf, "outbuf", kText);
    Engine(lpM2S)->process(inbuf, outbuf, count);
}

void m2sProcessFloat(M2S* lpM2S, const float* inbuf, float (*outbuf)[2], unsigned int count) {
    static const char kText[] =
        "void m2sProcessFloat(struct M2S *, const float *, float (*)[2], unsigned int)";
    KESTA_ASSERT(lpM2S, "lpM2S", kText);
    KESTA_ASSERT(inbuf, "inbuf", kText);
    KESTA_ASSERT(outbuf, "outbuf", kText);
    Engine(lpM2S)->process(inbuf, outbuf, count);
}

int m2sGetLatency(M2S* lpM2S) {
    KESTA_ASSERT(lpM2S, "lpM2S", "int m2sGetLatency(struct M2S *)");
    return Engine(lpM2S)->latency();
}

void m2sSetRampLength(M2S* lpM2S, int frames) {
    KESTA_ASSERT(lpM2S, "lpM2S", "void m2sSetRampLength(struct M2S *, int)");
    Engine(lpM2S)->setRampLength(frames);
}

void m2sSetChainedRamps(M2S* lpM2S, BOOL on) {
    KESTA_ASSERT(lpM2S, "lpM2S", "void m2sSetChainedRamps(struct M2S *, BOOL)");
    Engine(lpM2S)->setChainedRamps(on != 0);
}

void m2sSetSpread(M2S* lpM2S, float decibels) {
    KESTA_ASSERT(lpM2S, "lpM2S", "void m2sSetSpread(struct M2S *, float)");
    Engine(lpM2S)->setSpread(decibels);
}

void m2sSetCenter(M2S* lpM2S, float decibels) {
    KESTA_ASSERT(lpM2S, "lpM2S", "void m2sSetCenter(struct M2S *, float)");
    Engine(lpM2S)->setCenter(decibels);
}

void m2sEnable(M2S* lpM2S, BOOL on) {
    KESTA_ASSERT(lpM2S, "lpM2S", "void m2sEnable(struct M2S *, BOOL)");
    Engine(lpM2S)->enable(on);
}

void m2sEnableHipass(M2S* lpM2S, BOOL on) {
    KESTA_ASSERT(lpM2S, "lpM2S", "void m2sEnableHipass(struct M2S *, BOOL)");
    Engine(lpM2S)->enableHipass(on);
}

void m2sReset(M2S* lpM2S) {
    KESTA_ASSERT(lpM2S, "lpM2S", "void m2sReset(struct M2S *)");
    Engine(lpM2S)->reset();
}

void m2sClose(M2S* lpM2S) {
    KESTA_ASSERT(lpM2S, "lpM2S", "void m2sClose(struct M2S *)");
    delete Engine(lpM2S);
}

}  // extern "C"
