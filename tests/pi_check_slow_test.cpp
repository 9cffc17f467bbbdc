// The check at the benchmark's size and past the reference table's reach, and the table
// regenerated from MPFR against the committed one.

#include "pi_check_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

TEST(PiCheckSlow, BenchmarkSizeChecksAllButTheLastSixteenDigits) {
    const checked_run o = compute(pi_benchmark_digits, 4, nullptr);
    ASSERT_EQ(o.result.success, 1);
    EXPECT_EQ(o.check.verified_digits, pi_benchmark_digits - 16);
    EXPECT_EQ(o.check.first_wrong_digit, 0);
}

TEST(PiCheckSlow, SizesPastTheTableCheckTheirWholeBlocks) {
    // Radix 10 at a length of 2^22: 4,194,304 digits, more than the table lists.
    const checked_run o = compute(1 << 24, 1, nullptr);
    ASSERT_EQ(o.result.success, 1);
    EXPECT_EQ(o.result.digits, 1 << 22);
    EXPECT_EQ(o.check.verified_digits, 1365 * block_decimals); // the whole blocks below 2^22 - 16
}

TEST(PiReferenceTableSlow, RegeneratedFromMpfrIsTheCommittedTable) {
    const std::string fresh = testing::TempDir() + "pi_reference_table.cpp";
    ASSERT_EQ(std::system((std::string(MAKE_PI_REFERENCE) + " " + fresh).c_str()), 0);
    std::ifstream generated(fresh), committed(PI_REFERENCE_TABLE);
    ASSERT_TRUE(generated && committed);
    std::string want, got;
    for (int line = 1; std::getline(committed, want); ++line) {
        SCOPED_TRACE(line);
        ASSERT_TRUE(std::getline(generated, got));
        ASSERT_EQ(got, want);
    }
    EXPECT_FALSE(std::getline(generated, got)) << "the generated table is longer";
}

} // namespace
