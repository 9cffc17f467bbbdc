// The radix that the rounding-error test chooses at every FFT length from 2^FIRST_LOG2_NFFT
// to 2^LAST_LOG2_NFFT (test suite SUITE) on the path the run is on, against the least that the
// engine takes for a correct machine's choice: a choice below it would fail a correct machine, one
// above it at a length where every path agrees would let a faulty one do less work unseen.

#include "engine/pi_radix.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(SUITE, EveryLengthGetsTheRadixOfACorrectMachine) {
    for (int log2_nfft = FIRST_LOG2_NFFT; log2_nfft <= LAST_LOG2_NFFT; ++log2_nfft) {
        SCOPED_TRACE(testing::Message() << "length 2^" << log2_nfft);
        const int nfft = 1 << log2_nfft;
        std::vector<double> work(static_cast<std::size_t>(nfft) + 2);
        const int measured = pi_measured_log10_radix(nfft + 2, nfft, work.data());
        const int least = pi_least_log10_radix(log2_nfft);
        EXPECT_GE(measured, least);
        if (log2_nfft != 24) {
            EXPECT_EQ(measured, least) << "only at 2^24 do the paths choose differently";
        }
    }
}

} // namespace
