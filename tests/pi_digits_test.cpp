// Digits of pi from the engine against MPFR's, for counts from 1 to 1,000,000.

#include "pi_reference.h"

namespace {

constexpr int max_checked_digits = 1000000;

const std::string &reference() {
    // A request of N digits computes at most 2N.
    static const std::string digits = mpfr_pi_digits(2 * max_checked_digits + 64);
    return digits;
}

// The record's digit count agrees with MPFR up to the last two radix digits, whose
// places carry the accumulated rounding of the final operations.
void expect_claimed_digits_correct(int requested) {
    SCOPED_TRACE(requested);
    ComputedPi c;
    pi_calculate_value(requested, &c.result, nullptr, nullptr, keep_pi_digits, &c);
    ASSERT_EQ(c.result.success, 1);
    EXPECT_GE(c.result.digits, std::min(requested, 2 * c.log10_radix));
    const int untrusted = 2 * c.log10_radix;
    EXPECT_GE(correct_decimals(c, reference()), static_cast<size_t>(c.result.digits - untrusted));
}

TEST(PiDigits, AgreeWithMpfrFromOneDigitUp) {
    // Powers of two, an odd count between each two of them, and the largest count.
    for (int power = 1; power <= max_checked_digits; power *= 2) {
        expect_claimed_digits_correct(power);
        const int odd = (power + power / 2) | 1;
        if (odd > power && odd <= max_checked_digits) {
            expect_claimed_digits_correct(odd);
        }
    }
    expect_claimed_digits_correct(max_checked_digits);
}

} // namespace
