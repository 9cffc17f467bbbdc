#include "pi_fftcs_test_support.h"

#include <climits>

namespace {

using namespace pi_fftcs_test;
using radix_digits = std::vector<int>;

Number read(int n, int log10_radix, const char *text) {
    Number x(n);
    mp_sscanf(n, log10_radix, text, x.get());
    return x;
}

// Printed into a buffer of exactly the documented size, followed by sentinels.
std::string print(const Number &x, int log10_radix) {
    const size_t size = static_cast<size_t>(x.n()) * log10_radix + 15;
    std::string buffer(size + 4, '#');
    mp_sprintf(x.n(), log10_radix, x.get(), buffer.data());
    EXPECT_EQ(buffer.substr(size), "####") << "wrote past the buffer";
    return buffer.substr(0, buffer.find('\0'));
}

TEST(MpSscanf, ReadsWorkedExamples) {
    EXPECT_TRUE(same_number(read(3, 4, "0.625"), Number(3, 1, -1, radix_digits{6250})));
    EXPECT_TRUE(same_number(read(3, 4, "1"), Number(3, 1, 0, radix_digits{1})));
    EXPECT_TRUE(same_number(read(3, 4, "12.5"), Number(3, 1, 0, radix_digits{12, 5000})));
    EXPECT_TRUE(same_number(read(5, 1, "  -000.00125e3"), Number(5, -1, 0, radix_digits{1, 2, 5})));
    EXPECT_TRUE(same_number(read(3, 2, "1 234.5"), Number(3, 1, 1, radix_digits{12, 34, 50})));
    EXPECT_TRUE(same_number(read(2, 1, "5e"), Number(2, 1, 0, radix_digits{5})));
    EXPECT_TRUE(same_number(read(2, 1, "5E+1"), Number(2, 1, 1, radix_digits{5})));
    EXPECT_TRUE(same_number(read(2, 3, "-7d-4"), Number(2, -1, -2, radix_digits{700})));
    EXPECT_TRUE(same_number(read(2, 1, "25D 1"), Number(2, 1, 2, radix_digits{2, 5})))
        << "%d skips spaces";
    EXPECT_TRUE(same_number(read(3, 1, "98765"), Number(3, 1, 4, radix_digits{9, 8, 7})))
        << "not rounded";
    EXPECT_TRUE(same_number(read(2, 2, ". 0 05"), Number(2, 1, -2, radix_digits{50})));
    EXPECT_TRUE(same_number(read(2, 2, "0.0 .5"), Number(2, 1, -1, radix_digits{5})))
        << "later points skipped";
    // Only the space character is skipped: a leading tab or newline is not a digit.
    for (const char *zero :
         {"0", "", "   ", "-0", "+000.000", "abc", "-.e5", "0e7", ".0.05", "\t5", " \n5", "-\t5"}) {
        SCOPED_TRACE(zero);
        EXPECT_TRUE(same_number(read(4, 2, zero), Number(4, 0, 0, radix_digits{})));
    }
}

// Exponents that do not fit an int saturate instead of overflowing; a radix
// exponent that fits is still exact, one that does not is clamped.
TEST(MpSscanf, HugeExponentsSaturateInsteadOfOverflowing) {
    EXPECT_TRUE(same_number(read(2, 1, "1e2147483647"), Number(2, 1, INT_MAX, radix_digits{1})));
    EXPECT_TRUE(same_number(read(2, 1, "1e-2147483648"), Number(2, 1, INT_MIN, radix_digits{1})));
    EXPECT_TRUE(
        same_number(read(2, 4, "12e2147483647"), Number(2, 1, 1 << 29, radix_digits{1, 2000})));
    EXPECT_TRUE(same_number(read(2, 4, "0.5e-2147483648"),
                            Number(2, 1, -(1 << 29) - 1, radix_digits{5000})));
    EXPECT_TRUE(same_number(read(2, 2, "7e4294967298"), Number(2, 1, INT_MAX, radix_digits{7})));
    struct Case {
        const char *text;
        int log10_radix;
        int32_t sign, exponent;
    };
    const Case clamped[] = {
        {"12e2147483647", 1, 1, INT_MAX},
        {"-3e99999999999999999999999", 4, -1, INT_MAX},
        {"0.07e-99999999999999999999", 3, 1, INT_MIN},
        {".0000e-9223372036854775808", 2, 0, 0},
        {"0.00999e-2147483647", 1, 1, INT_MIN},
    };
    for (const Case &c : clamped) {
        SCOPED_TRACE(c.text);
        const Number x = read(3, c.log10_radix, c.text);
        EXPECT_EQ(x->sign, c.sign);
        EXPECT_EQ(x->exponent, c.exponent);
        EXPECT_EQ(x->digit[0] != 0, c.sign != 0);
    }
}

TEST(MpSprintf, WritesWorkedExamples) {
    EXPECT_EQ(print(Number(2, 1, -1, radix_digits{6250, 0}), 4), "6.2500000e-1");
    EXPECT_EQ(print(Number(2, 1, 3, radix_digits{12, 34}), 4), "1.20034e13");
    EXPECT_EQ(print(Number(3, -1, -2, radix_digits{5, 0, 9}), 1), "-5.09e-2");
    EXPECT_EQ(print(Number(3, 0, 0, radix_digits{}), 2), "0.0000e0");
    // The largest exponents still fit the buffer.
    EXPECT_EQ(print(Number(1, -1, INT_MIN, radix_digits{1}), 4), "-1.e-8589934592");
    EXPECT_EQ(print(Number(1, 1, INT_MAX, radix_digits{9999}), 4), "9.999e8589934591");
}

class MpDecimal : public MpTest {
  protected:
    Number random_number(Operands &gen) {
        return gen.uniform(0, 9) == 0 ? Number(n(), 0, 0, {}) : gen.number(gen.uniform(-50, 50));
    }
};

// The expected text from GMP's decimal digits of the mantissa.
TEST_P(MpDecimal, SprintfMatchesGmpDecimalDigits) {
    Operands gen(n(), log10_radix(), seed());
    for (int trial = 0; trial < trials(); ++trial) {
        const Number x = random_number(gen);
        SCOPED_TRACE("trial " + std::to_string(trial) + ": " + describe(x));
        std::string expected;
        if (x->sign == 0) {
            expected = std::string("0.")
                           .append(static_cast<size_t>(n() - 1) * log10_radix(), '0')
                           .append("e0");
        } else {
            const Exact e = exact_of(x, log10_radix());
            const std::string digits = mpz_class(abs(e.mantissa)).get_str(10);
            const long exponent = static_cast<long>(digits.size()) - 1 + e.scale * log10_radix();
            expected = std::string(x->sign < 0 ? "-" : "")
                           .append(digits, 0, 1)
                           .append(".")
                           .append(digits, 1)
                           .append("e")
                           .append(std::to_string(exponent));
        }
        EXPECT_EQ(print(x, log10_radix()), expected);
    }
}

TEST_P(MpDecimal, RoundTripsNumberTextNumberText) {
    Operands gen(n(), log10_radix(), seed());
    for (int trial = 0; trial < trials(); ++trial) {
        const Number x = random_number(gen);
        SCOPED_TRACE("trial " + std::to_string(trial) + ": " + describe(x));
        const std::string text = print(x, log10_radix());
        const Number back = read(n(), log10_radix(), text.c_str());
        EXPECT_TRUE(same_number(back, x));
        EXPECT_EQ(print(back, log10_radix()), text);
    }
}

// Random numerals with signs, leading zeros, spaces and exponent letters,
// against GMP's value of the plain numeral cut to n radix digits.
TEST_P(MpDecimal, SscanfMatchesGmpOnDecoratedTexts) {
    Operands gen(n(), log10_radix(), seed());
    const int decimal_digits = n() * log10_radix();
    for (int trial = 0; trial < trials(); ++trial) {
        auto digit_string = [&](int length) {
            std::string s;
            for (int i = 0; i < length; ++i) {
                s += static_cast<char>('0' + gen.uniform(0, 9));
            }
            return s;
        };
        auto spaced = [&](const std::string &s) {
            std::string out;
            for (char c : s) {
                out += c;
                if (gen.uniform(0, 7) == 0) {
                    out += ' ';
                }
            }
            return out;
        };
        const std::string whole =
            std::string(gen.uniform(0, 3), '0') + digit_string(gen.uniform(0, decimal_digits + 3));
        const std::string fraction = std::string(gen.uniform(0, 1) * gen.uniform(0, 5), '0') +
                                     digit_string(gen.uniform(0, 8));
        const int exponent =
            gen.uniform(0, 2) == 0 ? 0 : gen.uniform(-3 * decimal_digits, 3 * decimal_digits);
        const int sign = gen.uniform(0, 2) == 0 ? -1 : 1;

        std::string text = std::string(gen.uniform(0, 2), ' ');
        text += sign < 0 ? "-" : gen.uniform(0, 1) == 0 ? "+" : "";
        text += spaced(whole);
        if (!fraction.empty() || gen.uniform(0, 1) == 0) {
            text += '.';
            text += spaced(fraction);
        }
        if (exponent != 0 || gen.uniform(0, 3) == 0) {
            text += "eEdD"[gen.uniform(0, 3)];
            text += exponent >= 0 && gen.uniform(0, 1) == 0 ? "+" : "";
            text += std::to_string(exponent);
        }
        SCOPED_TRACE("trial " + std::to_string(trial) + ": '" + text + "'");

        // value = sign * (whole fraction) * 10^(exponent - |fraction|), in radix units.
        const std::string all = whole + fraction;
        mpz_class mantissa(all.find_first_not_of('0') == std::string::npos ? "0" : all, 10);
        long decimal_scale = exponent - static_cast<long>(fraction.size());
        const long shift = ((decimal_scale % log10_radix()) + log10_radix()) % log10_radix();
        mantissa *= sign * power_of_ten(static_cast<unsigned long>(shift));
        const Exact value{mantissa, (decimal_scale - shift) / log10_radix()};
        EXPECT_TRUE(same_number(read(n(), log10_radix(), text.c_str()),
                                truncated(value, n(), log10_radix())));
    }
}

INSTANTIATE_MP_TEST(MpDecimal);

} // namespace
