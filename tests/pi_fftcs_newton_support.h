// Shared by the Newton iteration tests: MPFR references and the distance of
// a result from them in units of the result's last place.
#ifndef TESSARY_PI_FFTCS_NEWTON_SUPPORT_H
#define TESSARY_PI_FFTCS_NEWTON_SUPPORT_H

#include "pi_fftcs_product_support.h"

#include <mpfr.h>

#include <cmath>
#include <string>

namespace pi_fftcs_test {

// An MPFR number that frees itself.
class Real {
  public:
    explicit Real(mpfr_prec_t bits) { mpfr_init2(x_, bits); }
    ~Real() { mpfr_clear(x_); }
    Real(const Real &) = delete;
    Real &operator=(const Real &) = delete;
    mpfr_ptr get() { return x_; }

  private:
    mpfr_t x_;
};

// Enough bits for n digits in radix 10^log10_radix, plus a margin that makes
// the reference's own rounding invisible at our last place.
inline mpfr_prec_t bits_for(int n, int log10_radix) {
    return static_cast<mpfr_prec_t>(std::ceil(n * log10_radix * 3.3219280948873623)) + 96;
}

// The exact value of x into r (rounded to r's precision).
inline void set_real(mpfr_ptr r, const Number &x, int log10_radix) {
    const Exact e = exact_of(x, log10_radix);
    mpfr_set_z(r, e.mantissa.get_mpz_t(), MPFR_RNDN);
    const long decimal_scale = e.scale * log10_radix;
    const mpz_class p = power_of_ten(static_cast<unsigned long>(std::labs(decimal_scale)));
    if (decimal_scale >= 0) {
        mpfr_mul_z(r, r, p.get_mpz_t(), MPFR_RNDN);
    } else {
        mpfr_div_z(r, r, p.get_mpz_t(), MPFR_RNDN);
    }
}

// |result - reference| in units of result's last place (1e300 for a zero result).
inline double ulps_from(const Number &result, mpfr_ptr reference, int log10_radix) {
    if (result->sign == 0) {
        return 1e300;
    }
    const Exact e = exact_of(result, log10_radix);
    Real d(mpfr_get_prec(reference) + 64);
    // reference / radix^scale - mantissa
    const long decimal_scale = e.scale * log10_radix;
    const mpz_class p = power_of_ten(static_cast<unsigned long>(std::labs(decimal_scale)));
    if (decimal_scale >= 0) {
        mpfr_div_z(d.get(), reference, p.get_mpz_t(), MPFR_RNDN);
    } else {
        mpfr_mul_z(d.get(), reference, p.get_mpz_t(), MPFR_RNDN);
    }
    mpfr_sub_z(d.get(), d.get(), e.mantissa.get_mpz_t(), MPFR_RNDN);
    return std::fabs(mpfr_get_d(d.get(), MPFR_RNDN));
}

// -log_radix of the relative error of x against a non-zero reference.
inline double correct_digits(const Number &x, mpfr_ptr reference, int log10_radix,
                             mpfr_prec_t bits) {
    Real d(bits);
    set_real(d.get(), x, log10_radix);
    mpfr_sub(d.get(), d.get(), reference, MPFR_RNDN);
    mpfr_div(d.get(), d.get(), reference, MPFR_RNDN);
    if (mpfr_zero_p(d.get())) {
        return 1e300;
    }
    long exponent = 0;
    const double mantissa = std::fabs(mpfr_get_d_2exp(&exponent, d.get(), MPFR_RNDN));
    return -(std::log10(mantissa) + exponent * 0.30102999566398120) / log10_radix;
}

// 1/sqrt(x) within two units of r's last bit. (mpfr_rec_sqrt raises its
// working precision on the stack until it overflows for x = 0.999...9.)
inline void reciprocal_root(mpfr_ptr r, mpfr_ptr x) {
    mpfr_sqrt(r, x, MPFR_RNDN);
    mpfr_ui_div(r, 1, r, MPFR_RNDN);
}

// Largest distances from the MPFR values seen, in units of the last place.
struct NewtonErrors {
    double inv = 0, sqrt = 0, invisqrt = 0;
    double reciprocal_root_margin = 1e300; // fewest correct digits of tmp1 beyond nfft/2
};

// The Newton results may differ from the correctly rounded value in their
// last digit only: the final correction, computed to about half the digits,
// reaches just to it. Checked bound, in units of the last place.
inline double newton_limit(int radix) {
    return radix;
}

// mp_inv, mp_sqrt (with its reciprocal root in tmp1) and mp_invisqrt of n <= nfft + 2
// digits against MPFR at one transform length and radix.
inline void check_newton(int nfft, int n, int log10_radix, uint64_t seed, int trials,
                         NewtonErrors *worst) {
    const int radix = radix_of(log10_radix);
    const mpfr_prec_t bits = bits_for(n, log10_radix);
    std::mt19937_64 rng(seed);
    Work fft1(nfft), fft2(nfft);
    Number out(n), tmp1(n), tmp2(n);
    Real x_real(bits), reference(bits);
    constexpr number_shape shapes[] = {number_shape::random, number_shape::all_max, number_shape::head_only, number_shape::gap};
    for (int trial = 0; trial < trials; ++trial) {
        Number x = shaped_number(n, nfft, radix, shapes[trial % 4], rng);
        if (trial % 5 == 4) { // a small integer, as the driver divides by
            x = Number(n, 1, 0, {static_cast<int>(rng() % (radix - 1)) + 1});
        }
        SCOPED_TRACE("n " + std::to_string(n) + ", seed " + std::to_string(seed) + " trial " +
                     std::to_string(trial) + ": x " + describe(x));
        set_real(x_real.get(), x, log10_radix);

        out = garbage(n, radix);
        EXPECT_EQ(mp_inv(n, radix, x.get(), out.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
                         fft2.get()),
                  0);
        mpfr_ui_div(reference.get(), 1, x_real.get(), MPFR_RNDN);
        double off = ulps_from(out, reference.get(), log10_radix);
        worst->inv = std::max(worst->inv, off);
        EXPECT_TRUE(out.sentinels_intact());
        EXPECT_LE(off, newton_limit(radix)) << "mp_inv: " << describe(out);

        x->sign = 1;
        set_real(x_real.get(), x, log10_radix);
        out = garbage(n, radix);
        EXPECT_EQ(mp_sqrt(n, radix, x.get(), out.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
                          fft2.get()),
                  0);
        mpfr_sqrt(reference.get(), x_real.get(), MPFR_RNDN);
        off = ulps_from(out, reference.get(), log10_radix);
        worst->sqrt = std::max(worst->sqrt, off);
        EXPECT_TRUE(out.sentinels_intact());
        EXPECT_LE(off, newton_limit(radix)) << "mp_sqrt: " << describe(out);
        // tmp1 holds 1/sqrt(x) to about half the digits; only those are kept up to date.
        reciprocal_root(reference.get(), x_real.get());
        const int half = std::min(nfft / 2, n / 2);
        const double correct =
            correct_digits(head_of(tmp1, 2 * half), reference.get(), log10_radix, bits);
        worst->reciprocal_root_margin = std::min(worst->reciprocal_root_margin, correct - half);
        EXPECT_GE(correct, half - 1) << "mp_sqrt's tmp1: " << describe(tmp1);

        const int k = static_cast<int>(rng() % 20) + 1;
        SCOPED_TRACE("mp_invisqrt of " + std::to_string(k));
        out = garbage(n, radix);
        EXPECT_EQ(mp_invisqrt(n, radix, k, out.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
                              fft2.get()),
                  0);
        mpfr_set_ui(x_real.get(), static_cast<unsigned long>(k), MPFR_RNDN);
        reciprocal_root(reference.get(), x_real.get());
        off = ulps_from(out, reference.get(), log10_radix);
        worst->invisqrt = std::max(worst->invisqrt, off);
        EXPECT_TRUE(out.sentinels_intact());
        EXPECT_LE(off, newton_limit(radix)) << "mp_invisqrt: " << describe(out);
    }
}

inline void print_newton_errors(const NewtonErrors &worst) {
    std::printf("largest distance from MPFR, units in the last place: mp_inv %g, mp_sqrt %g, "
                "mp_invisqrt %g; mp_sqrt's reciprocal root right to nfft/2 + %.2f digits\n",
                worst.inv, worst.sqrt, worst.invisqrt, worst.reciprocal_root_margin);
}

} // namespace pi_fftcs_test

#endif
