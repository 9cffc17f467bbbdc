#include "pi_fftcs_newton_support.h"

#include "arithmetic/pi_fftcs_newton.h"

#include <algorithm>
#include <cstdio>
#include <map>

namespace {

using namespace pi_fftcs_test;

// 1/x, sqrt(x) and 1/sqrt(k) against MPFR at every length up to 2^18 and
// every radix the rule accepts there.
TEST(MpNewton, MatchMpfrAtEveryLengthAndAcceptedRadix) {
    NewtonErrors worst;
    for (int nfft = 4; nfft <= 1 << 18; nfft *= 2) {
        const int trials = nfft <= 64 ? 20 : nfft <= 4096 ? 5 : nfft <= 1 << 15 ? 2 : 1;
        for_each_accepted_radix(nfft, [&](int log10_radix) {
            check_newton(nfft, nfft + 2, log10_radix, 104729u * nfft + log10_radix, trials, &worst);
        });
    }
    print_newton_errors(worst);
}

// Fewer digits than the transforms could hold: every count from 2 to nfft + 2.
TEST(MpNewton, MatchMpfrAtEveryDigitCountUpToTheTransformLength) {
    NewtonErrors worst;
    for (const int nfft : {32, 1024}) {
        for_each_accepted_radix(nfft, [&](int log10_radix) {
            for (int n = 2; n <= nfft + 2; ++n) {
                check_newton(nfft, n, log10_radix, 7u * n + log10_radix, nfft <= 32 ? 4 : 1,
                             &worst);
            }
        });
    }
    print_newton_errors(worst);
}

// Zero and negative arguments are refused without touching out; the square
// root of zero is zero.
TEST(MpNewton, RefusedArgumentsLeaveOutUntouched) {
    const int nfft = 16;
    const int n = nfft + 2;
    Work fft1(nfft), fft2(nfft);
    Number out = garbage(n, 10000), tmp1(n), tmp2(n);
    const Number before = out;
    const Number zero(n, 0, 0, {});
    const Number negative(n, -1, 2, {7, 1});

    EXPECT_EQ(mp_inv(n, 10000, zero.get(), out.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
                     fft2.get()),
              -1);
    EXPECT_EQ(mp_sqrt(n, 10000, negative.get(), out.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
                      fft2.get()),
              -1);
    for (const int x : {0, -1, -8}) {
        EXPECT_EQ(mp_invisqrt(n, 10000, x, out.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
                              fft2.get()),
                  -1);
    }
    EXPECT_TRUE(same_number(out, before));

    EXPECT_EQ(mp_sqrt(n, 10000, zero.get(), out.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
                      fft2.get()),
              0);
    EXPECT_TRUE(same_number(out, zero));
}

// Known values in radix 10000 (digits checked with MPFR): 1/3, sqrt(50000) from an
// odd exponent, 1/sqrt(8) as the pi driver starts it.
TEST(MpNewton, KnownLeadingDigits) {
    const int nfft = 64;
    const int n = nfft + 2;
    Work fft1(nfft), fft2(nfft);
    Number out(n), tmp1(n), tmp2(n);
    auto leading = [&](int count) { return std::vector<int>(out->digit, out->digit + count); };

    const Number three(n, 1, 0, {3});
    mp_inv(n, 10000, three.get(), out.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(), fft2.get());
    EXPECT_EQ(out->sign, 1);
    EXPECT_EQ(out->exponent, -1);
    EXPECT_EQ(leading(n - 1), std::vector<int>(n - 1, 3333));

    const Number fifty_thousand(n, 1, 1, {5});
    mp_sqrt(n, 10000, fifty_thousand.get(), out.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
            fft2.get());
    EXPECT_EQ(out->exponent, 0);
    EXPECT_EQ(leading(4), (std::vector<int>{223, 6067, 9774, 9978}));
    // tmp1 keeps 1/sqrt(50000) = 0.0044721359549995793928...
    EXPECT_EQ(tmp1->exponent, -1);
    EXPECT_EQ(std::vector<int>(tmp1->digit, tmp1->digit + 4),
              (std::vector<int>{44, 7213, 5954, 9995}));

    mp_invisqrt(n, 10000, 8, out.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(), fft2.get());
    EXPECT_EQ(out->exponent, -1);
    EXPECT_EQ(leading(5), (std::vector<int>{3535, 5339, 593, 2737, 6220}));
}

// A step returns how many leading digits its approximation had right: the
// exponent of the residual, or nfft + 1 when the residual vanishes.
TEST(MpNewton, StepsReportThePrecisionTheyWereGiven) {
    const int nfft = 16;
    const int n = nfft + 2;
    Work fft1(nfft), fft2(nfft);
    Number tmp1(n), tmp2(n);

    const Number three(n, 1, 0, {3});
    Number x(n, 1, -1, {3, 3, 3, 3}); // 0.3333: 1 - 3x = 1e-4
    EXPECT_EQ(mp_inv_newton(n, 10, three.get(), x.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
                            fft2.get()),
              4);
    EXPECT_EQ(x->exponent, -1);
    EXPECT_EQ(std::vector<int>(x->digit, x->digit + 8), std::vector<int>(8, 3));

    const Number two(n, 1, 0, {2});
    Number half(n, 1, -1, {5});
    EXPECT_EQ(mp_inv_newton(n, 10, two.get(), half.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
                            fft2.get()),
              nfft + 1);
    EXPECT_TRUE(same_number(half, Number(n, 1, -1, {5})));

    Number y(n, 1, -1, {5});
    EXPECT_EQ(
        mp_invisqrt_newton(n, 10, 4, y.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(), fft2.get()),
        nfft + 1);
    EXPECT_TRUE(same_number(y, Number(n, 1, -1, {5})));

    // The square root counts the places between in and in - s^2, one more when the residual's
    // leading digit is below in's: 9 - 2.9999^2 = 0.00059999 gives 5, 2 - 1.414^2 = 0.000604
    // gives 4.
    struct Root {
        Number in, s, r;
        int prc;
    };
    const Root roots[] = {
        {Number(n, 1, 0, {9}), Number(n, 1, 0, {2, 9, 9, 9, 9}), Number(n, 1, -1, {3, 3, 3, 3, 4}),
         5},
        {Number(n, 1, 0, {2}), Number(n, 1, 0, {1, 4, 1, 4}), Number(n, 1, -1, {7, 0, 7, 2}), 4},
    };
    for (const Root &root : roots) {
        Number s = root.s, r = root.r;
        int kept = 0;
        EXPECT_EQ(mp_sqrt_newton(n, 10, root.in.get(), s.get(), r.get(), tmp1.get(), nfft,
                                 fft1.get(), fft2.get(), &kept),
                  root.prc)
            << describe(root.in);
    }

    const Number four(n, 1, 0, {4});
    Number s(n, 1, 0, {2}), r(n, 1, -1, {5});
    int kept = 0;
    EXPECT_EQ(mp_sqrt_newton(n, 10, four.get(), s.get(), r.get(), tmp1.get(), nfft, fft1.get(),
                             fft2.get(), &kept),
              nfft + 1);
    EXPECT_TRUE(same_number(s, Number(n, 1, 0, {2})));
}

// ---- The drivers' length schedule, run with steps that report chosen precisions ----

struct ScheduledStep {
    int length, n_l;
    bool operator==(const ScheduledStep &) const = default;
};

std::ostream &operator<<(std::ostream &os, const ScheduledStep &s) {
    return os << s.length << " (" << s.n_l << " digits)";
}

// The steps that the schedule runs for n digits at nfft (radix 10000: the first length is 4)
// when the runs at a length report the precisions listed for it, in turn, and full precision
// (n_l) once the list is used up.
std::vector<ScheduledStep> schedule(int n, int nfft, std::map<int, std::vector<int>> precisions) {
    std::vector<ScheduledStep> steps;
    mp_newton::run_schedule(n, 10000, nfft, [&](int n_l, int length) {
        steps.push_back({length, n_l});
        std::vector<int> &left = precisions[length];
        if (left.empty()) {
            return n_l;
        }
        const int prc = left.front();
        left.erase(left.begin());
        return prc;
    });
    return steps;
}

// The lengths the steps ran at, in order.
std::vector<int> lengths_of(const std::vector<ScheduledStep> &steps) {
    std::vector<int> lengths;
    for (const ScheduledStep &s : steps) {
        lengths.push_back(s.length);
    }
    return lengths;
}

// The doubling lengths from 4 to nfft, with `extra` more runs of the lengths named.
std::vector<int> doubling(int nfft, std::map<int, int> extra = {}) {
    std::vector<int> lengths;
    for (int length = 4; length <= nfft; length *= 2) {
        lengths.insert(lengths.end(), 1 + extra[length], length);
    }
    return lengths;
}

TEST(MpNewtonSchedule, LengthsDoubleFromTheStartToNfftWithTwoDigitsToSpare) {
    EXPECT_EQ(schedule(1026, 1024, {}), (std::vector<ScheduledStep>{{4, 6},
                                                                    {8, 10},
                                                                    {16, 18},
                                                                    {32, 34},
                                                                    {64, 66},
                                                                    {128, 130},
                                                                    {256, 258},
                                                                    {512, 514},
                                                                    {1024, 1026}}));
    // Fewer digits than the transforms hold: n_l stops at n.
    const std::vector<ScheduledStep> steps = schedule(300, 1024, {});
    EXPECT_EQ(lengths_of(steps), doubling(1024));
    EXPECT_EQ(steps[6], (ScheduledStep{256, 258}));
    EXPECT_EQ(steps[7], (ScheduledStep{512, 300}));
}

// A length runs again when its step had under a third of its n_l - 2 digits right; at the
// first length that reaches nfft/8 (128 here), and only at its first run, when it had at most
// half of them right. Each case sits at the edge of its rule.
TEST(MpNewtonSchedule, ALengthRunsAgainWhenItsStepFellShort) {
    struct Case {
        const char *what;
        int n;
        std::map<int, std::vector<int>> precisions;
        std::map<int, int> extra_runs;
    };
    const Case cases[] = {
        {"a third of 16: 3 * 5 < 16", 1026, {{16, {5}}}, {{16, 1}}},
        {"a third of 16: 3 * 6 >= 16", 1026, {{16, {6}}}, {}},
        {"a third of 900: 3 * 299 < 900", 902, {{1024, {299}}}, {{1024, 1}}},
        {"a third of 900: 3 * 300 = 900", 902, {{1024, {300}}}, {}},
        {"half of 128 at nfft/8: 2 * 64 = 128", 1026, {{128, {64}}}, {{128, 1}}},
        {"half of 128 at nfft/8: 2 * 65 > 128", 1026, {{128, {65}}}, {}},
        {"half only at the first run of nfft/8", 1026, {{128, {64, 64}}}, {{128, 1}}},
        {"half only at nfft/8: 2 * 128 = 256 at nfft/4", 1026, {{256, {128}}}, {}},
        {"a third below nfft/8: 3 * 21 < 64", 1026, {{64, {21}}}, {{64, 1}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(lengths_of(schedule(c.n, 1024, c.precisions)), doubling(1024, c.extra_runs));
    }
}

// The repeat bound at its value: a length whose step falls short four times in a row runs five
// times, and so does one that would need more; the count starts afresh at every length, and
// arithmetic that never gains precision still reaches nfft.
TEST(MpNewtonSchedule, ALengthRunsAtMostFourTimesMore) {
    const std::vector<int> short4(4, 0), short5(5, 0);
    EXPECT_EQ(lengths_of(schedule(1026, 1024, {{16, short4}})), doubling(1024, {{16, 4}}));
    EXPECT_EQ(lengths_of(schedule(1026, 1024, {{16, short5}})), doubling(1024, {{16, 4}}));
    EXPECT_EQ(lengths_of(schedule(1026, 1024, {{16, short4}, {32, short4}})),
              doubling(1024, {{16, 4}, {32, 4}}));
    std::map<int, std::vector<int>> never;
    std::map<int, int> four_more;
    for (int length = 4; length <= 1024; length *= 2) {
        never[length] = std::vector<int>(10, 0);
        four_more[length] = 4;
    }
    EXPECT_EQ(lengths_of(schedule(1026, 1024, never)), doubling(1024, four_more));
}

TEST(MpNewtonStart, FirstLengthCarriesADouble) {
    EXPECT_EQ(mp_get_nfft_init(10, 1 << 21), 16);
    EXPECT_EQ(mp_get_nfft_init(100, 1 << 21), 8);
    EXPECT_EQ(mp_get_nfft_init(1000, 1 << 21), 8);
    EXPECT_EQ(mp_get_nfft_init(10000, 1 << 21), 4);
    // Below the natural start: the first doubling that reaches nfft_max.
    EXPECT_EQ(mp_get_nfft_init(10, 2), 2);
    EXPECT_EQ(mp_get_nfft_init(10, 1), 2);
    EXPECT_EQ(mp_get_nfft_init(10, 8), 8);
    EXPECT_EQ(mp_get_nfft_init(100, 4), 4);
    EXPECT_EQ(mp_get_nfft_init(10000, 2), 2);
}

// Each Horner step v = v/radix + digit is one fused multiply-add with the double nearest
// 1/radix: MPFR's correctly rounded fma at 53 bits gives the same double.
TEST(MpNewtonStart, MantissaIsHornerByFusedMultiplyAdds) {
    std::mt19937_64 rng(2024);
    mpfr_t v, r;
    mpfr_init2(v, 53);
    mpfr_init2(r, 53);
    for (const int radix : {10, 100, 1000, 10000}) {
        mpfr_set_d(r, 1.0 / radix, MPFR_RNDN);
        for (int trial = 0; trial < 200; ++trial) {
            const int n = 2 + trial % 7;
            std::vector<int16_t> digits(n);
            for (int16_t &d : digits) {
                d = static_cast<int16_t>(rng() % radix);
            }
            digits[0] = static_cast<int16_t>(1 + rng() % (radix - 1));
            mpfr_set_zero(v, 1);
            for (int k = n - 1; k >= 0; --k) {
                mpfr_t d;
                mpfr_init2(d, 53);
                mpfr_set_si(d, digits[k], MPFR_RNDN);
                mpfr_fma(v, v, r, d, MPFR_RNDN);
                mpfr_clear(d);
            }
            SCOPED_TRACE("radix " + std::to_string(radix) + ", trial " + std::to_string(trial));
            EXPECT_EQ(mp_unexp_mp2d(n, radix, digits.data()), mpfr_get_d(v, MPFR_RNDN));
        }
    }
    mpfr_clear(v);
    mpfr_clear(r);
}

TEST(MpNewtonStart, DoubleConversionsAndSaturation) {
    const int16_t digits[] = {1, 2, 5};
    EXPECT_EQ(mp_unexp_mp2d(3, 10, digits), 1.25);
    EXPECT_EQ(mp_unexp_mp2d(0, 10, digits), 0);
    const int16_t big[] = {9999, 5000};
    EXPECT_EQ(mp_unexp_mp2d(2, 10000, big), 9999.5);

    int16_t out[5];
    mp_unexp_d2mp(3, 10, 3.25, out);
    EXPECT_EQ(std::vector<int>(out, out + 3), (std::vector<int>{3, 2, 5}));
    mp_unexp_d2mp(5, 10, 10.0, out);
    EXPECT_EQ(std::vector<int>(out, out + 5), std::vector<int>(5, 9));
    mp_unexp_d2mp(4, 100, 250.5, out);
    EXPECT_EQ(std::vector<int>(out, out + 4), std::vector<int>(4, 99));
}

// Start values fill only their first n0 digits (the rest stays as it was).
TEST(MpNewtonStart, StartValuesFromDoubles) {
    const int n = 10;
    const int n0 = 6;
    auto digits = [](const Number &x, int count) {
        return std::vector<int>(x->digit, x->digit + count);
    };
    const Number three(n, -1, 2, {3});
    Number out(n, 0, 0, std::vector<int>(n, 7));
    mp_inv_init(n0, 10000, three.get(), out.get());
    EXPECT_EQ(out->sign, -1);
    EXPECT_EQ(out->exponent, -3);
    EXPECT_EQ(digits(out, 3), (std::vector<int>{3333, 3333, 3333}));
    EXPECT_EQ(std::vector<int>(out->digit + n0, out->digit + n), std::vector<int>(n - n0, 7));

    // sqrt(5 * 10000): the odd exponent lends a radix to the mantissa.
    const Number fifty_thousand(n, 1, 1, {5});
    Number rev(n);
    mp_sqrt_init(n0, 10000, fifty_thousand.get(), out.get(), rev.get());
    EXPECT_EQ(out->sign, 1);
    EXPECT_EQ(out->exponent, 0);
    EXPECT_EQ(digits(out, 3), (std::vector<int>{223, 6067, 9774}));
    EXPECT_EQ(rev->sign, 1);
    EXPECT_EQ(rev->exponent, -1);
    EXPECT_EQ(digits(rev, 3), (std::vector<int>{44, 7213, 5954}));

    // An even negative exponent: sqrt(4e-4) = 2e-2.
    const Number small(n, 1, -4, {4});
    mp_sqrt_init(n0, 10, small.get(), out.get(), rev.get());
    EXPECT_EQ(out->exponent, -2);
    EXPECT_EQ(digits(out, 3), (std::vector<int>{2, 0, 0}));
    EXPECT_EQ(rev->exponent, 1);
    EXPECT_EQ(digits(rev, 3), (std::vector<int>{5, 0, 0}));

    mp_invisqrt_init(n0, 10000, 8, out.get());
    EXPECT_EQ(out->sign, 1);
    EXPECT_EQ(out->exponent, -1);
    EXPECT_EQ(digits(out, 3), (std::vector<int>{3535, 5339, 593}));
}

// A machine that computes wrongly can hand the start values a malformed number, one whose
// digits make a negative or zero mantissa. They still end, with digits in range.
TEST(MpNewtonStart, MalformedNumbersStillGiveStartValuesInRange) {
#ifndef NDEBUG
    GTEST_SKIP() << "with assertions on, malformed numbers stop at the first check";
#endif
    const int n = 4;
    const int radix = 10000;
    const auto in_range = [&](const Number &x) {
        return std::all_of(x->digit, x->digit + n, [&](int d) { return d >= 0 && d < radix; });
    };
    for (const int lead : {-3, 0}) {
        SCOPED_TRACE(lead);
        const Number malformed(n, 1, 0, {lead});
        Number out(n);
        Number rev(n);
        mp_inv_init(n, radix, malformed.get(), out.get());
        EXPECT_TRUE(in_range(out));
        mp_sqrt_init(n, radix, malformed.get(), out.get(), rev.get());
        EXPECT_TRUE(in_range(out));
        EXPECT_TRUE(in_range(rev));
    }
}

} // namespace
