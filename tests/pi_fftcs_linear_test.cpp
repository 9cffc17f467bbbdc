#include "pi_fftcs_test_support.h"

#include <climits>

extern "C" size_t pi_fftcs_number_size_from_c(int n);

namespace {

using namespace pi_fftcs_test;

// The driver allocates 2 * nfft + 12 bytes for nfft + 2 digits, from C or C++.
TEST(MpNumberSize, CountsTheHeaderAndTwoBytesPerDigit) {
    EXPECT_EQ(mp_number_size(1), 10u);
    EXPECT_EQ(mp_number_size(2097154), 2u * 2097152 + 12);
    EXPECT_EQ(pi_fftcs_number_size_from_c(2097154), mp_number_size(2097154));
}

using binary_op = void (*)(int, int, const mp_number *, const mp_number *, mp_number *);

// Runs op with a separate output, with the output in in1's and in in2's block,
// and with one block as both inputs and the output.
void expect_every_aliasing(binary_op op, int radix, const Number &a, const Number &b,
                           const Number &expected, const Number &expected_self) {
    const int n = a.n();
    Number out(n);
    op(n, radix, a.get(), b.get(), out.get());
    EXPECT_TRUE(same_number(out, expected)) << "separate output";
    Number in1 = a;
    op(n, radix, in1.get(), b.get(), in1.get());
    EXPECT_TRUE(same_number(in1, expected)) << "output in in1";
    Number in2 = b;
    op(n, radix, a.get(), in2.get(), in2.get());
    EXPECT_TRUE(same_number(in2, expected)) << "output in in2";
    Number self = a;
    op(n, radix, self.get(), self.get(), self.get());
    EXPECT_TRUE(same_number(self, expected_self)) << "one block for all three";
}

// a +- b: the operand with the larger exponent fixes the last place kept,
// the other loses its digits past it, and the sum is cut to n digits.
Number add_oracle(const Number &a, const Number &b, bool subtract, int log10_radix) {
    Exact x = exact_of(a, log10_radix);
    Exact y = exact_of(b, log10_radix);
    if (subtract) {
        y.mantissa = -y.mantissa;
    }
    if (a->sign == 0 || b->sign == 0) {
        return truncated(a->sign == 0 ? y : x, a.n(), log10_radix);
    }
    const long unit = std::max(x.scale, y.scale);
    return truncated(sum(truncated_to_unit(x, unit, log10_radix),
                         truncated_to_unit(y, unit, log10_radix), log10_radix),
                     a.n(), log10_radix);
}

class MpLinear : public MpTest {};

TEST_P(MpLinear, AddAndSubMatchGmpWithEveryAliasing) {
    Operands gen(n(), log10_radix(), seed());
    for (int trial = 0; trial < trials(); ++trial) {
        const auto [a, b] = gen.pair();
        SCOPED_TRACE("trial " + std::to_string(trial) + ": a " + describe(a) + "; b " +
                     describe(b));
        for (const bool subtract : {false, true}) {
            SCOPED_TRACE(subtract ? "mp_sub" : "mp_add");
            expect_every_aliasing(subtract ? mp_sub : mp_add, radix(), a, b,
                                  add_oracle(a, b, subtract, log10_radix()),
                                  add_oracle(a, a, subtract, log10_radix()));
        }
    }
}

TEST_P(MpLinear, CmpAndUnsignedCmpMatchGmp) {
    Operands gen(n(), log10_radix(), seed());
    for (int trial = 0; trial < trials(); ++trial) {
        const auto [a, b] = gen.pair();
        SCOPED_TRACE("trial " + std::to_string(trial) + ": a " + describe(a) + "; b " +
                     describe(b));
        const Exact x = exact_of(a, log10_radix());
        const Exact y = exact_of(b, log10_radix());
        const Exact difference = sum(x, {-y.mantissa, y.scale}, log10_radix());
        EXPECT_EQ(mp_cmp(n(), radix(), a.get(), b.get()), sgn(difference.mantissa));
        EXPECT_EQ(mp_cmp(n(), radix(), a.get(), a.get()), 0);
        const Exact magnitude_difference =
            sum({abs(x.mantissa), x.scale}, {-abs(y.mantissa), y.scale}, log10_radix());
        EXPECT_EQ(mp_unsgn_cmp(n(), &a->exponent, &b->exponent),
                  sgn(magnitude_difference.mantissa));
    }
}

TEST_P(MpLinear, ImulMatchesGmpForMultipliersUpToTheIntRange) {
    Operands gen(n(), log10_radix(), seed());
    const int multipliers[] = {
        0, 1, -1, 2, -3, radix() - 1, radix(), -radix() - 1, INT_MAX, INT_MIN + 1, INT_MIN, 0};
    for (int trial = 0; trial < trials(); ++trial) {
        Number a = trial % 10 == 0 ? Number(n(), 0, 0, {}) : gen.number(gen.uniform(-3, 3));
        for (int multiplier : multipliers) {
            if (multiplier == 0 && trial % 2 == 1) {
                multiplier = gen.uniform(INT_MIN, INT_MAX);
            }
            SCOPED_TRACE("trial " + std::to_string(trial) + ": " + describe(a) + " times " +
                         std::to_string(multiplier));
            Exact x = exact_of(a, log10_radix());
            x.mantissa *= multiplier;
            const Number expected = truncated(x, n(), log10_radix());
            Number out(n());
            mp_imul(n(), radix(), a.get(), multiplier, out.get());
            EXPECT_TRUE(same_number(out, expected)) << "separate output";
            Number inout = a;
            mp_imul(n(), radix(), inout.get(), multiplier, inout.get());
            EXPECT_TRUE(same_number(inout, expected)) << "output in in1";
        }
    }
}

TEST_P(MpLinear, IdivMatchesGmpForDivisorsUpToTheIntRange) {
    Operands gen(n(), log10_radix(), seed());
    const int divisors[] = {1,       -1,          2,       3,           -7,      radix() - 1,
                            radix(), radix() + 1, INT_MAX, INT_MIN + 1, INT_MIN, 0};
    for (int trial = 0; trial < trials(); ++trial) {
        Number a = trial % 10 == 0 ? Number(n(), 0, 0, {}) : gen.number(gen.uniform(-3, 3));
        for (int divisor : divisors) {
            if (divisor == 0) {
                divisor = gen.uniform(INT_MIN, INT_MAX) | 1;
            }
            SCOPED_TRACE("trial " + std::to_string(trial) + ": " + describe(a) + " / " +
                         std::to_string(divisor));
            // Enough extra places that the quotient has n digits before truncation.
            const long extra = n() + 12;
            Exact x = exact_of(a, log10_radix());
            x.mantissa *= power_of_ten(static_cast<unsigned long>(extra * log10_radix()));
            mpz_tdiv_q_ui(x.mantissa.get_mpz_t(), x.mantissa.get_mpz_t(),
                          static_cast<unsigned long>(std::abs(static_cast<long>(divisor))));
            x.mantissa *= divisor < 0 ? -1 : 1;
            x.scale -= extra;
            const Number expected = truncated(x, n(), log10_radix());
            Number out(n());
            EXPECT_EQ(mp_idiv(n(), radix(), a.get(), divisor, out.get()), 0);
            EXPECT_TRUE(same_number(out, expected)) << "separate output";
            Number inout = a;
            EXPECT_EQ(mp_idiv(n(), radix(), inout.get(), divisor, inout.get()), 0);
            EXPECT_TRUE(same_number(inout, expected)) << "output in in1";
        }
        // Division by zero reports -1 and leaves the output as it was.
        Number untouched = gen.number(5);
        const Number before = untouched;
        EXPECT_EQ(mp_idiv(n(), radix(), a.get(), 0, untouched.get()), -1);
        EXPECT_TRUE(same_number(untouched, before));
    }
}

TEST_P(MpLinear, Idiv2MatchesGmp) {
    Operands gen(n(), log10_radix(), seed());
    for (int trial = 0; trial < trials(); ++trial) {
        Number a = trial % 10 == 0 ? Number(n(), 0, 0, {}) : gen.number(gen.uniform(-3, 3));
        SCOPED_TRACE("trial " + std::to_string(trial) + ": " + describe(a));
        Exact x = exact_of(a, log10_radix());
        x.mantissa = x.mantissa * radix() / 2; // exact: the radix is even
        x.scale -= 1;
        const Number expected = truncated(x, n(), log10_radix());
        Number out(n());
        mp_idiv_2(n(), radix(), a.get(), out.get());
        EXPECT_TRUE(same_number(out, expected)) << "separate output";
        mp_idiv_2(n(), radix(), a.get(), a.get());
        EXPECT_TRUE(same_number(a, expected)) << "output in in";
    }
}

TEST_P(MpLinear, RoundMatchesGmpHalvesAwayFromZero) {
    Operands gen(n(), log10_radix(), seed());
    for (int trial = 0; trial < trials(); ++trial) {
        const int m =
            std::max(1, std::vector<int>{1, 2, n() / 2 + 1, n() - 1, n(), n() + 2}[trial % 6]);
        Number a = trial % 10 == 0 ? Number(n(), 0, 0, {}) : gen.number(gen.uniform(-3, 3));
        if (m >= 1 && m < n() && a->sign != 0 && trial % 3 == 0) {
            a->digit[m] =
                static_cast<int16_t>(radix() / 2 - trial % 2); // at or just below the half
        }
        SCOPED_TRACE("trial " + std::to_string(trial) + ": m " + std::to_string(m) + ", " +
                     describe(a));
        Exact x = exact_of(a, log10_radix());
        if (m >= 1 && m < n()) {
            const mpz_class unit =
                power_of_ten(static_cast<unsigned long>((n() - m) * log10_radix()));
            mpz_class kept = abs(x.mantissa) / unit;
            if (2 * (abs(x.mantissa) - kept * unit) >= unit) {
                kept += 1;
            }
            x.mantissa = sgn(x.mantissa) * kept * unit;
        }
        const Number expected = truncated(x, n(), log10_radix());
        mp_round(n(), radix(), m, a.get());
        EXPECT_TRUE(same_number(a, expected));
    }
}

INSTANTIATE_MP_TEST(MpLinear);

// Small cases worked by hand in radix 10.
TEST(MpLinearExamples, WorkedCasesInRadixTen) {
    using radix_digits = std::vector<int>;
    Number out(4);
    mp_add(4, 10, Number(4, 1, 0, radix_digits{9, 9, 9, 9}).get(),
           Number(4, 1, -3, radix_digits{1}).get(), out.get());
    EXPECT_TRUE(same_number(out, Number(4, 1, 1, radix_digits{1, 0, 0, 0})))
        << "carry through every digit";
    mp_add(4, 10, Number(4, 1, 0, radix_digits{5, 0, 0, 1}).get(),
           Number(4, 1, 0, radix_digits{5, 0, 0, 9}).get(), out.get());
    EXPECT_TRUE(same_number(out, Number(4, 1, 1, radix_digits{1, 0, 0, 1})))
        << "leading carry known at once";
    mp_sub(4, 10, Number(4, 1, 0, radix_digits{1}).get(),
           Number(4, 1, -1, radix_digits{9, 9, 9, 9}).get(), out.get());
    EXPECT_TRUE(same_number(out, Number(4, 1, -3, radix_digits{1, 0, 0, 0})))
        << "shifted operand cut";
    mp_add(4, 10, Number(4, -1, 2, radix_digits{3, 1, 4, 1}).get(),
           Number(4, 1, 2, radix_digits{3, 1, 4, 1}).get(), out.get());
    EXPECT_TRUE(same_number(out, Number(4, 0, 0, radix_digits{}))) << "x + -x";

    EXPECT_EQ(mp_cmp(1, 10, Number(1, -1, 0, radix_digits{2}).get(),
                     Number(1, -1, 0, radix_digits{3}).get()),
              1);
    EXPECT_EQ(
        mp_cmp(1, 10, Number(1, 0, 0, radix_digits{}).get(), Number(1, 0, 0, radix_digits{}).get()),
        0);
    EXPECT_EQ(mp_cmp(1, 10, Number(1, 0, 0, radix_digits{}).get(),
                     Number(1, -1, 0, radix_digits{5}).get()),
              1);
    const Number zero(1, 0, 0, radix_digits{});
    const Number half(1, 1, -1, radix_digits{5});
    EXPECT_EQ(mp_unsgn_cmp(1, &zero->exponent, &half->exponent), -1) << "|0| < |0.5|";
    EXPECT_EQ(mp_unsgn_cmp(1, &half->exponent, &zero->exponent), 1);
    EXPECT_EQ(mp_unsgn_cmp(1, &zero->exponent, &zero->exponent), 0);

    Number two(2);
    mp_load_1(2, 10, two.get());
    mp_imul(2, 10, two.get(), 999, two.get());
    EXPECT_TRUE(same_number(two, Number(2, 1, 2, radix_digits{9, 9})))
        << "carry replaces every digit";

    mp_load_1(4, 10, out.get());
    EXPECT_EQ(mp_idiv(4, 10, out.get(), 3, out.get()), 0);
    EXPECT_TRUE(same_number(out, Number(4, 1, -1, radix_digits{3, 3, 3, 3})));

    // A zero magnitude divides to zero (its leading partial dividend never reaches the divisor).
    Number quotient = Number(4, 1, 7, radix_digits{9, 9, 9, 9});
    const Number zero_magnitude(4, 1, 3, radix_digits{});
    mp_unsgn_idiv(4, 10, &zero_magnitude->exponent, 3, &quotient->exponent);
    EXPECT_EQ(quotient->exponent, 0);
    EXPECT_EQ(std::vector<int>(quotient->digit, quotient->digit + 4), radix_digits(4, 0));

    Number three(3);
    mp_idiv_2(3, 10, Number(3, 1, 0, radix_digits{1}).get(), three.get());
    EXPECT_TRUE(same_number(three, Number(3, 1, -1, radix_digits{5, 0, 0})));
    mp_idiv_2(3, 10, Number(3, 1, 0, radix_digits{3}).get(), three.get());
    EXPECT_TRUE(same_number(three, Number(3, 1, 0, radix_digits{1, 5, 0})));

    Number r(4, 1, 0, radix_digits{1, 9, 9, 5});
    mp_round(4, 10, 2, r.get());
    EXPECT_TRUE(same_number(r, Number(4, 1, 0, radix_digits{2, 0, 0, 0})));
    r = Number(4, -1, 0, radix_digits{9, 9, 5, 0});
    mp_round(4, 10, 2, r.get());
    EXPECT_TRUE(same_number(r, Number(4, -1, 1, radix_digits{1, 0, 0, 0})));
    r = Number(4, 1, 3, radix_digits{4, 9, 9, 9});
    mp_round(4, 10, 0, r.get());
    EXPECT_TRUE(same_number(r, Number(4, 1, 3, radix_digits{}))) << "m = 0 below the half";

    mp_load_0(4, 10, out.get());
    EXPECT_TRUE(same_number(out, Number(4, 0, 0, radix_digits{})));
}

} // namespace

namespace {

using namespace pi_fftcs_test;

// A number in any radix as mantissa * radix^scale, for the radices that are not powers of ten.
struct Value {
    mpz_class mantissa;
    long scale = 0;
};

mpz_class power(int radix, long e) {
    mpz_class p;
    mpz_ui_pow_ui(p.get_mpz_t(), static_cast<unsigned long>(radix), static_cast<unsigned long>(e));
    return p;
}

Value value_of(const Number &x, int radix) {
    Value v{0, static_cast<long>(x->exponent) - (x.n() - 1)};
    for (int i = 0; i < x.n(); ++i) {
        v.mantissa = v.mantissa * radix + x->digit[i];
    }
    v.mantissa *= x->sign;
    return v;
}

// |v| cut to whole units of radix^unit (unit >= v.scale), keeping the sign.
Value cut_to_unit(const Value &v, long unit, int radix) {
    if (unit <= v.scale) {
        return v;
    }
    mpz_class q;
    mpz_tdiv_q(q.get_mpz_t(), v.mantissa.get_mpz_t(), power(radix, unit - v.scale).get_mpz_t());
    return {q, unit};
}

// The n-digit number whose magnitude is |v| cut to n digits.
Number number_of(const Value &v, int n, int radix) {
    if (v.mantissa == 0) {
        return Number(n, 0, 0, {});
    }
    std::vector<int> digits; // least significant first
    for (mpz_class m = abs(v.mantissa); m != 0; m /= radix) {
        digits.push_back(static_cast<int>(mpz_class(m % radix).get_si()));
    }
    const long exponent = v.scale + static_cast<long>(digits.size()) - 1;
    std::vector<int> leading(digits.rbegin(), digits.rend());
    leading.resize(n, 0);
    return Number(n, sgn(v.mantissa), static_cast<int32_t>(exponent), leading);
}

Value plus(const Value &a, const Value &b, int radix) {
    const long s = std::min(a.scale, b.scale);
    return {a.mantissa * power(radix, a.scale - s) + b.mantissa * power(radix, b.scale - s), s};
}

// The linear-time routines for every even radix a digit holds, one random case each, at
// lengths from 1 to 13 digits.
TEST(MpLinearRadices, EveryEvenRadixMatchesGmp) {
    const int lengths[] = {1, 2, 3, 5, 13};
    for (int radix = 2; radix <= 32766; radix += 2) {
        const int n = lengths[(radix / 2) % 5];
        std::mt19937_64 rng(radix);
        auto uniform = [&](int lo, int hi) {
            return std::uniform_int_distribution<int>(lo, hi)(rng);
        };
        auto random_number = [&](int32_t exponent) {
            std::vector<int> digits(n);
            for (int &d : digits) {
                d = uniform(0, radix - 1);
            }
            digits[0] = uniform(1, radix - 1);
            return Number(n, uniform(0, 1) != 0 ? 1 : -1, exponent, digits);
        };
        const Number a = random_number(uniform(-3, 3));
        const Number b = random_number(a->exponent + uniform(-n - 1, n + 1));
        SCOPED_TRACE("radix " + std::to_string(radix) + ", a " + describe(a) + "; b " +
                     describe(b));
        const Value x = value_of(a, radix), y = value_of(b, radix);
        Number out(n);

        // Sums: each operand cut at the last place of the one with the larger exponent.
        const long unit = std::max(x.scale, y.scale);
        for (const bool subtract : {false, true}) {
            const Value y_signed{subtract ? Value{-y.mantissa, y.scale} : y};
            const Number expected = number_of(
                plus(cut_to_unit(x, unit, radix), cut_to_unit(y_signed, unit, radix), radix), n,
                radix);
            (subtract ? mp_sub : mp_add)(n, radix, a.get(), b.get(), out.get());
            EXPECT_TRUE(same_number(out, expected)) << (subtract ? "mp_sub" : "mp_add");
        }

        const int factor = uniform(-100000, 100000);
        mp_imul(n, radix, a.get(), factor, out.get());
        EXPECT_TRUE(same_number(out, number_of({x.mantissa * factor, x.scale}, n, radix)))
            << "mp_imul by " << factor;

        const int divisor = uniform(1, 100000) * (uniform(0, 1) != 0 ? 1 : -1);
        const long extra = n + 18; // places enough for n quotient digits in radix 2
        mpz_class quotient = x.mantissa * power(radix, extra);
        mpz_tdiv_q_ui(quotient.get_mpz_t(), quotient.get_mpz_t(),
                      static_cast<unsigned long>(std::abs(divisor)));
        EXPECT_EQ(mp_idiv(n, radix, a.get(), divisor, out.get()), 0);
        EXPECT_TRUE(same_number(
            out, number_of({divisor < 0 ? -quotient : quotient, x.scale - extra}, n, radix)))
            << "mp_idiv by " << divisor;

        mp_idiv_2(n, radix, a.get(), out.get());
        EXPECT_TRUE(same_number(out, number_of({x.mantissa * (radix / 2), x.scale - 1}, n, radix)))
            << "mp_idiv_2";
    }
}

} // namespace
