// Shared by the FFT product tests: work arrays, the radix rule, operands of
// every shape the products split differently, and GMP comparisons that need
// no decimal text of the (long) results.
#ifndef TESSARY_PI_FFTCS_PRODUCT_SUPPORT_H
#define TESSARY_PI_FFTCS_PRODUCT_SUPPORT_H

#include "pi_fftcs_test_support.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace pi_fftcs_test {

// An FFT work array of nfft + 2 doubles.
class Work {
  public:
    explicit Work(int nfft) : cells_(static_cast<size_t>(nfft) + 2, 0.0) {}
    double *get() { return cells_.data(); }

  private:
    std::vector<double> cells_;
};

// The driver's rule: the radix test in radix 10 plus a length allowance,
// compared with 0.4 after scaling to each candidate radix. Returns the
// largest accepted log10 radix; every smaller one is accepted too.
inline double radix_rule_error(int nfft) {
    const int n = nfft + 2;
    Work work(nfft);
    const uint32_t hundred_n = 100u * static_cast<uint32_t>(n);
    return mp_mul_radix_test(n, 10, nfft, work.get()) +
           2.220446049250313e-16 * static_cast<double>(hundred_n / 4);
}

inline int radix_rule_pick(double err) {
    return err * 100 >= 0.4 ? 1 : err * 1e4 >= 0.4 ? 2 : err * 1e6 >= 0.4 ? 3 : 4;
}

// Operand shapes: where the split index falls and how the packed values look.
enum class number_shape {
    random,       // every digit random
    head_only,    // digits past the first nfft/2 + 1 all zero: empty trailing part
    gap,          // zeros right after the head, then random digits
    all_max,      // radix-1 everywhere: carries through every digit
    balanced_max, // packs to -radix/2 everywhere: the largest convolution terms
};

inline const char *shape_name(number_shape s) {
    switch (s) {
    case number_shape::random:
        return "random";
    case number_shape::head_only:
        return "head only";
    case number_shape::gap:
        return "gap";
    case number_shape::all_max:
        return "all radix-1";
    case number_shape::balanced_max:
        return "balanced extreme";
    }
    return "?";
}

inline Number shaped_number(int n, int nfft, int radix, number_shape shape, std::mt19937_64 &rng,
                            int digits_used = -1) {
    const int h = nfft / 2 + 1;
    if (digits_used < 0) {
        digits_used = n;
    }
    auto digit = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::vector<int> d(n, 0);
    for (int i = 0; i < digits_used && i < n; ++i) {
        switch (shape) {
        case number_shape::random:
            d[i] = digit(0, radix - 1);
            break;
        case number_shape::head_only:
            d[i] = i < h ? digit(0, radix - 1) : 0;
            break;
        case number_shape::gap:
            d[i] = i < h ? digit(0, radix - 1) : i < h + 1 + (h + 2) / 3 ? 0 : digit(0, radix - 1);
            break;
        case number_shape::all_max:
            d[i] = radix - 1;
            break;
        case number_shape::balanced_max:
            d[i] = i + 1 == std::min(digits_used, n) ? radix / 2 : radix / 2 - 1;
            break;
        }
    }
    if (d[0] == 0) {
        d[0] = digit(1, radix - 1);
    }
    const int sign = digit(0, 1) != 0 ? 1 : -1;
    return Number(n, sign, digit(-5, 5), d);
}

// A number whose digits, sign and exponent are garbage, to stand for an
// output block that held something else before.
inline Number garbage(int n, int radix) {
    std::vector<int> d(n, radix - 1);
    return Number(n, -1, 12345, d);
}

inline Exact product(const Exact &a, const Exact &b) {
    return {a.mantissa * b.mantissa, a.scale + b.scale};
}

// The leading part that packing takes: the first min(nfft/2 + 1, n) digits.
inline Number head_of(const Number &x, int nfft) {
    Number head = x;
    for (int i = nfft / 2 + 1; i < x.n(); ++i) {
        head->digit[i] = 0;
    }
    return head;
}

inline Exact difference(const Number &result, const Exact &exact, int log10_radix) {
    return sum(exact_of(result, log10_radix), {-exact.mantissa, exact.scale}, log10_radix);
}

// Sentinels, sign and normalisation of a result meant to equal `exact`.
inline ::testing::AssertionResult well_formed(const Number &result, const Exact &exact) {
    if (!result.sentinels_intact()) {
        return ::testing::AssertionFailure() << "sentinel past the last digit overwritten";
    }
    if (sgn(exact.mantissa) != result->sign) {
        return ::testing::AssertionFailure()
               << "sign " << result->sign << " (" << describe(result) << ")";
    }
    if (result->sign == 0 ? result->exponent != 0 : result->digit[0] == 0) {
        return ::testing::AssertionFailure() << "not normalised: " << describe(result);
    }
    return ::testing::AssertionSuccess();
}

inline ::testing::AssertionResult equals_exactly(const Number &result, const Exact &exact,
                                                 int log10_radix) {
    if (auto formed = well_formed(result, exact); !formed) {
        return formed;
    }
    if (difference(result, exact, log10_radix).mantissa != 0) {
        return ::testing::AssertionFailure() << "not the exact value: " << describe(result);
    }
    return ::testing::AssertionSuccess();
}

// Within `limit` units of its own last place of the exact value. Records the
// largest distance seen (rounded down to whole units) in *worst.
inline ::testing::AssertionResult close_to(const Number &result, const Exact &exact,
                                           int log10_radix, double limit, double *worst) {
    if (auto formed = well_formed(result, exact); !formed) {
        return formed;
    }
    const Exact diff = difference(result, exact, log10_radix);
    const long last_place = static_cast<long>(result->exponent) - (result.n() - 1);
    mpz_class units = abs(diff.mantissa);
    if (diff.scale < last_place) {
        mpz_tdiv_q(units.get_mpz_t(), units.get_mpz_t(),
                   power_of_ten(static_cast<unsigned long>((last_place - diff.scale) * log10_radix))
                       .get_mpz_t());
    }
    const double off = units > 1000000000 ? 1e9 : units.get_d();
    *worst = std::max(*worst, off);
    if (off > limit) {
        return ::testing::AssertionFailure()
               << "off by " << off << " units in the last place (" << describe(result) << ")";
    }
    return ::testing::AssertionSuccess();
}

// Largest distances from the exact value seen, in units of the last place.
struct ProductErrors {
    double mul = 0, squ = 0, mulhf = 0, squhf = 0;
};

// Distances from the exact product allowed, in units of the last place. The
// full products leave out the product of the trailing parts: with 2p >= n it
// stays below radix units. Their cross sum is converted with its last digit up
// to one place above the result's, so its rounding, or the cut of that digit
// when a carry lengthens it, costs below radix units more; the final addition
// truncates (below one unit). Operands with trailing parts of radix-1 digits
// reach 2 radix - 1 units below the truncated product.
inline double full_product_limit(int radix) {
    return 2 * radix + 1;
}
constexpr double half_full_product_limit = 3;

// Every product and square of shaped random operands against GMP at one
// length and radix, with output blocks that held garbage before and, every
// other trial, the output in an input's block. mp_mulh and mp_squh are exact.
inline void check_products(int nfft, int log10_radix, uint64_t seed, int trials,
                           ProductErrors *worst) {
    const int radix = radix_of(log10_radix);
    const int n = nfft + 2;
    const int h = nfft / 2 + 1;
    const int l = log10_radix;
    std::mt19937_64 rng(seed);
    Work d1(nfft), d2(nfft), d3(nfft);
    constexpr number_shape shapes[] = {number_shape::random, number_shape::head_only,
                                       number_shape::gap, number_shape::all_max,
                                       number_shape::balanced_max};
    for (int trial = 0; trial < trials; ++trial) {
        const number_shape sa = shapes[trial % 5];
        const number_shape sb = shapes[(trial + trial / 5 + 1) % 5];
        const int used = trial % 3 == 2 ? std::uniform_int_distribution<int>(1, h)(rng) : n;
        Number a = shaped_number(n, nfft, radix, sa, rng, used);
        Number b = trial % 7 == 6 ? Number(n, 0, 0, {}) : shaped_number(n, nfft, radix, sb, rng);
        const bool aliased = trial % 2 == 1;
        SCOPED_TRACE("seed " + std::to_string(seed) + " trial " + std::to_string(trial) + ": " +
                     shape_name(sa) + " " + describe(a) + " times " + shape_name(sb) + " " +
                     describe(b) + (aliased ? ", output aliased" : ""));
        const Exact ea = exact_of(a, l);
        const Exact eb = exact_of(b, l);
        const Exact ea_hi = exact_of(head_of(a, nfft), l);
        const Exact eb_hi = exact_of(head_of(b, nfft), l);
        Number tmp = garbage(n, radix);

        Number out = aliased ? b : garbage(n, radix);
        mp_mulh(n, radix, a.get(), aliased ? out.get() : b.get(), out.get(), nfft, d1.get(),
                d2.get());
        EXPECT_TRUE(equals_exactly(out, product(ea_hi, eb_hi), l)) << "mp_mulh";

        out = aliased ? a : garbage(n, radix);
        mp_squh(n, radix, aliased ? out.get() : a.get(), out.get(), nfft, d1.get());
        EXPECT_TRUE(equals_exactly(out, product(ea_hi, ea_hi), l)) << "mp_squh";

        out = aliased ? b : garbage(n, radix);
        mp_mul(n, radix, a.get(), aliased ? out.get() : b.get(), out.get(), tmp.get(), nfft,
               d1.get(), d2.get(), d3.get());
        EXPECT_TRUE(close_to(out, product(ea, eb), l, full_product_limit(radix), &worst->mul))
            << "mp_mul";

        out = aliased ? a : garbage(n, radix);
        tmp = garbage(n, radix);
        mp_squ(n, radix, aliased ? out.get() : a.get(), out.get(), tmp.get(), nfft, d1.get(),
               d2.get());
        EXPECT_TRUE(close_to(out, product(ea, ea), l, full_product_limit(radix), &worst->squ))
            << "mp_squ";

        out = aliased ? b : garbage(n, radix);
        tmp = garbage(n, radix);
        mp_mulhf(n, radix, a.get(), aliased ? out.get() : b.get(), out.get(), tmp.get(), nfft,
                 d1.get(), d2.get());
        EXPECT_TRUE(close_to(out, product(ea_hi, eb), l, half_full_product_limit, &worst->mulhf))
            << "mp_mulhf";

        // d1 now keeps a_hi: a_hi * a to full length with one forward transform.
        out = aliased ? a : garbage(n, radix);
        tmp = garbage(n, radix);
        mp_squhf_use_infft(n, radix, d1.get(), aliased ? out.get() : a.get(), out.get(), tmp.get(),
                           nfft, d2.get());
        EXPECT_TRUE(close_to(out, product(ea_hi, ea), l, half_full_product_limit, &worst->squhf))
            << "mp_squhf_use_infft";
    }
}

// Runs check(log10_radix) for every radix the rule accepts at nfft.
template <class Check> void for_each_accepted_radix(int nfft, Check check) {
    const int largest = radix_rule_pick(radix_rule_error(nfft));
    for (int log10_radix = 1; log10_radix <= largest; ++log10_radix) {
        SCOPED_TRACE("nfft " + std::to_string(nfft) + ", radix " +
                     std::to_string(radix_of(log10_radix)));
        check(log10_radix);
    }
}

// check_products at every length nfft = first, 2 first, ..., last and every radix the rule
// accepts there, with trials_at(nfft) trials each; prints the largest distances seen.
template <class Trials> void check_products_up_to(int first, int last, Trials trials_at) {
    ProductErrors worst;
    for (int nfft = first; nfft <= last; nfft *= 2) {
        for_each_accepted_radix(nfft, [&](int log10_radix) {
            check_products(nfft, log10_radix, 7919u * nfft + log10_radix, trials_at(nfft), &worst);
        });
    }
    std::printf("largest distance from the exact product, units in the last place: mp_mul %g, "
                "mp_squ %g, mp_mulhf %g, mp_squhf_use_infft %g\n",
                worst.mul, worst.squ, worst.mulhf, worst.squhf);
}

} // namespace pi_fftcs_test

#endif
