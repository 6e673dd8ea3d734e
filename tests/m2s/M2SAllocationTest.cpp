// Counts heap allocations by replacing the global operator new and delete,
// armed only around the calls under test. AddressSanitizer brings its own
// allocator, so under it the replacement is left out and the test skipped.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "HeapCounter.h"
#include "M2s.h"

TEST(M2SAllocation, processingAndSettingAllocateNothing) {
    if (!KESTA_COUNT_ALLOCATIONS) GTEST_SKIP() << "allocations are not counted under AddressSanitizer";
    std::vector<short> in(5000);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<short>(9000.0 * std::sin(0.03 * i));
    std::vector<short> out(2 * in.size());
    std::vector<unsigned char> in8(in.size(), 140), out8(2 * in.size());
    for (unsigned flags : {M2S_MUSIC, 0u}) {
        M2S* engine = nullptr;
        ASSERT_EQ(m2sOpen(&engine, 44100, flags), 0);
        gAllocations = 0;
        gCounting = true;
        m2sProcess16(engine, in.data(), reinterpret_cast<short(*)[2]>(out.data()), 5000);
        m2sEnable(engine, 0);
        m2sSetSpread(engine, -3.0f);
        m2sSetCenter(engine, -3.0f);
        m2sEnableHipass(engine, 0);
        for (unsigned n : {1u, 7u, 1024u, 2500u})
            m2sProcess16(engine, in.data(), reinterpret_cast<short(*)[2]>(out.data()), n);
        m2sProcess8(engine, in8.data(), reinterpret_cast<unsigned char(*)[2]>(out8.data()), 3000);
        m2sEnable(engine, 1);
        m2sReset(engine);
        m2sProcess16(engine, in.data(), reinterpret_cast<short(*)[2]>(out.data()), 5000);
        gCounting = false;
        EXPECT_EQ(gAllocations.load(), 0) << flags;
        m2sClose(engine);
    }
}

TEST(M2SAllocation, theCounterSeesAnAllocation) {
    if (!KESTA_COUNT_ALLOCATIONS) GTEST_SKIP() << "allocations are not counted under AddressSanitizer";
    gAllocations = 0;
    gCounting = true;
    M2S* engine = nullptr;
    m2sOpen(&engine, 44100, M2S_MUSIC);
    m2sClose(engine);
    gCounting = false;
    EXPECT_GT(gAllocations.load(), 0);
}
