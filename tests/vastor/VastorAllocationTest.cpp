// Processing allocates nothing: this program replaces the global operator
// new and delete to count every allocation made while processing runs.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AllocationCounter.h"
#include "WidenerSignal.h"

namespace {

using namespace widener_test;

TEST(VastorAllocation, theCounterSeesAnAllocation) {
    // Kept in a volatile so that no compiler may elide the pair.
    EXPECT_EQ(AllocationsIn([] {
                  int* volatile p = new int(3);
                  delete p;
              }),
              1);
}

class VastorProcessing : public ::testing::TestWithParam<unsigned> {};

TEST_P(VastorProcessing, allocatesNothingInAnyEntryPointOrBlockLength) {
    const int n = 5000;
    Block16 in16 = Interleave(Music(n, 1), Music(n, 2));
    Block16 out16(in16.size());
    std::vector<unsigned char> in8(in16.size()), out8(in16.size());
    std::vector<float> inF(in16.size()), outF(in16.size());
    for (size_t i = 0; i < in16.size(); ++i) {
        in8[i] = static_cast<unsigned char>((in16[i] >> 8) + 128);
        inF[i] = in16[i] / 32768.0f;
    }
    Vastor* h = nullptr;
    ASSERT_EQ(vastorOpen(&h, 44100, GetParam()), 0);
    vastorSetInputDelay(h, 20, 1200);
    vastorSetSpread(h, -4.0f);

    const long count = AllocationsIn([&] {
        for (unsigned frames : {1u, 7u, 1024u, 2500u, 5000u}) {
            vastorProcess16(h, Frames(in16), Frames(out16), frames);
            vastorProcess8(h, reinterpret_cast<const unsigned char(*)[2]>(in8.data()),
                           reinterpret_cast<unsigned char(*)[2]>(out8.data()), frames);
            vastorProcessFloat(h, reinterpret_cast<const float(*)[2]>(inF.data()),
                               reinterpret_cast<float(*)[2]>(outF.data()), frames);
            vastorMono16(h, in16.data(), in16.data() + n, out16.data(), out16.data() + n, frames);
            vastorMono8(h, in8.data(), in8.data() + n, out8.data(), out8.data() + n, frames);
            vastorMonoFloat(h, inF.data(), inF.data() + n, outF.data(), outF.data() + n, frames);
        }
        // Digital silence after the music: the filters' tails decay and stop.
        std::fill(in16.begin(), in16.end(), 0);
        for (int i = 0; i < 4; ++i) vastorProcess16(h, Frames(in16), Frames(out16), 5000);
    });
    vastorClose(h);
    EXPECT_EQ(count, 0);
}

INSTANTIATE_TEST_SUITE_P(Networks, VastorProcessing,
                         ::testing::Values(VASTOR_HIPASS_ON, VASTOR_SINGLE_NETWORK | VASTOR_HIPASS_ON,
                                           VASTOR_SINGLE_STAGE | VASTOR_HIGH_SHELF,
                                           VASTOR_SINGLE_NETWORK | VASTOR_HIGH_SHELF | VASTOR_HIPASS_ON),
                         FlagsName);

}  // namespace
