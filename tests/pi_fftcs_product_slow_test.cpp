// The products at the engine's lengths, up to nfft = 2^21, and the radix rule
// at every length up to there.
#include "pi_fftcs_product_support.h"

#include <cstdio>

namespace {

using namespace pi_fftcs_test;

TEST(MpProductsLong, MatchGmpUpTo2To21AtEveryAcceptedRadix) {
    check_products_up_to(1 << 17, 1 << 21, [](int nfft) { return nfft < 1 << 21 ? 1 : 2; });
}

// The table of the rule at every length the engine can use; radix 10000
// everywhere, as the driver expects at 8,388,608 digits.
TEST(MpMulRadixTestLong, RulePicksRadix10000UpTo2To21) {
    std::printf("%10s  %-24s %s\n", "nfft", "err (radix 10 + allowance)", "radix");
    for (int nfft = 2; nfft <= 1 << 21; nfft *= 2) {
        const double err = radix_rule_error(nfft);
        const int pick = radix_rule_pick(err);
        std::printf("%10d  %-24.6e %d\n", nfft, err, radix_of(pick));
        SCOPED_TRACE("nfft " + std::to_string(nfft));
        EXPECT_EQ(pick, 4);
    }
}

// Residues modulo the Mersenne prime 2^61 - 1: a mismatch proves a product wrong.
constexpr uint64_t mersenne_61 = (uint64_t{1} << 61) - 1;

uint64_t mul_mod(uint64_t a, uint64_t b) {
    return static_cast<uint64_t>(static_cast<unsigned __int128>(a) * b % mersenne_61);
}

uint64_t pow_mod(uint64_t a, long e) {
    uint64_t r = 1;
    for (; e > 0; e >>= 1, a = mul_mod(a, a)) {
        if (e & 1) {
            r = mul_mod(r, a);
        }
    }
    return r;
}

// The digits of x as a whole number modulo the prime.
uint64_t mantissa_mod(const Number &x, int radix) {
    uint64_t m = 0;
    for (int i = 0; i < x.n(); ++i) {
        m = (mul_mod(m, radix) + static_cast<uint64_t>(x->digit[i])) % mersenne_61;
    }
    return m;
}

// Whether mp_squh of the balanced-extreme operand (every packed value
// -radix/2, so every convolution term as large as packing allows) equals the
// exact square, which fits in its n = nfft + 2 digits.
bool balanced_square_is_exact(int nfft, int radix) {
    const int n = nfft + 2;
    const int h = nfft / 2 + 1;
    std::mt19937_64 rng(1);
    Number x = shaped_number(n, nfft, radix, number_shape::balanced_max, rng, h);
    x->sign = 1;
    x->exponent = 0;
    Number square(n);
    Work d(nfft);
    mp_squh(n, radix, x.get(), square.get(), nfft, d.get());
    // x = X * radix^-(n-1), square = S * radix^(e - n + 1): S = X^2 * radix^-(n-1+e).
    const uint64_t x_mod = mantissa_mod(x, radix);
    const long scale = static_cast<long>(n) - 1 + square->exponent;
    EXPECT_GE(scale, 0);
    return mul_mod(mantissa_mod(square, radix), pow_mod(radix, scale)) == mul_mod(x_mod, x_mod);
}

// An even radix that fits a digit but that the rule rejects (err scaled by
// (radix/10)^2 at or above 0.4) does give wrong products: the rejection
// measures a real loss, not a formality. Where the rule still accepts it the
// same square is exact.
TEST(MpMulRadixTestLong, ARejectedRadixReallyGivesAWrongProduct) {
    const int radix = 32766;
    const double scale = (radix / 10.0) * (radix / 10.0);
    EXPECT_LT(radix_rule_error(1 << 20) * scale, 0.4);
    EXPECT_TRUE(balanced_square_is_exact(1 << 20, radix));
    EXPECT_GE(radix_rule_error(1 << 23) * scale, 0.4);
    EXPECT_FALSE(balanced_square_is_exact(1 << 23, radix));
}

} // namespace
