// The check at 2^24 and 2^25 digits, the largest the reference reaches, and past it; the
// whole reference against MPFR, and regenerated from it.

#include "pi_check_support.h"

#include <cstdlib>
#include <fstream>
#include <string>

namespace {

TEST(PiCheckSlow, NamesAWrongDigitAnywhereInTheLargestComputationsItReaches) {
    for (const int digits : {1 << 24, 1 << 25}) {
        const int checked = digits - 16;
        const int last_full_block = checked / block_decimals * block_decimals;
        for (const int position : {1, digits / 2 + 12345, last_full_block, checked}) {
            SCOPED_TRACE(testing::Message() << digits << " digits, wrong at " << position);
            const checked_run o = compute_with_wrong_decimals(digits, 0, {position});
            EXPECT_EQ(o.result.success, 0);
            EXPECT_EQ(o.result.digits, digits);
            EXPECT_EQ(o.check.first_wrong_digit, position);
            EXPECT_EQ(o.check.verified_digits, position - 1);
            EXPECT_EQ(o.check.unchecked_digits, 0);
        }
    }
}

TEST(PiCheckSlow, SizesPastTheReferenceAreCheckedInEveryBlockItHas) {
    // Radix 1000 at a length of 2^24, the choice of some correct machines: 50,331,648 digits.
    const checked_run o = compute(1 << 26, 3, nullptr);
    ASSERT_EQ(o.result.success, 1);
    EXPECT_EQ(o.result.digits, 3 << 24);
    EXPECT_EQ(o.check.verified_digits, 10923 * block_decimals); // 33,555,456
    EXPECT_EQ(o.check.unchecked_digits, (3 << 24) - 18 - 10923 * block_decimals);
}

TEST(PiReferenceTableSlow, EveryEntryAgreesWithMpfr) {
    expect_reference_agrees_with_mpfr(pi_reference::covered_decimals);
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
