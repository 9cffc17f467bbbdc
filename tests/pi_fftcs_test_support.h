// Shared by the pi_fftcs tests: owned numbers with sentinels, a GMP oracle and
// random operands.
#ifndef TESSARY_PI_FFTCS_TEST_SUPPORT_H
#define TESSARY_PI_FFTCS_TEST_SUPPORT_H

#include "arithmetic/pi_fftcs.h"

#include <gmpxx.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace pi_fftcs_test {

inline int radix_of(int log10_radix) {
    int radix = 1;
    for (int i = 0; i < log10_radix; ++i) {
        radix *= 10;
    }
    return radix;
}

// A number block of n digits followed by two sentinel digits that no routine
// may touch.
class Number {
  public:
    static constexpr int16_t sentinel = 0x5a5a; // above every radix in use

    explicit Number(int n) : n_(n), words_((mp_number_size(n + 2) + 3) / 4, 0) {
        get()->digit[n] = sentinel;
        get()->digit[n + 1] = sentinel;
    }
    Number(int n, int32_t sign, int32_t exponent, const std::vector<int> &digits) : Number(n) {
        get()->sign = sign;
        get()->exponent = exponent;
        for (int i = 0; i < n; ++i) {
            get()->digit[i] =
                static_cast<int16_t>(i < static_cast<int>(digits.size()) ? digits[i] : 0);
        }
    }

    int n() const { return n_; }
    mp_number *get() { return reinterpret_cast<mp_number *>(words_.data()); }
    const mp_number *get() const { return reinterpret_cast<const mp_number *>(words_.data()); }
    mp_number *operator->() { return get(); }
    const mp_number *operator->() const { return get(); }
    bool sentinels_intact() const {
        return get()->digit[n_] == sentinel && get()->digit[n_ + 1] == sentinel;
    }

  private:
    int n_;
    std::vector<int32_t> words_;
};

inline std::string describe(const Number &x) {
    std::ostringstream s;
    s << "sign " << x->sign << ", exponent " << x->exponent << ", digits";
    for (int i = 0; i < x.n() && i < 8; ++i) {
        s << ' ' << x->digit[i];
    }
    if (x.n() > 8) {
        s << " ...";
    }
    return s.str();
}

// Sign, exponent, every digit and the sentinels.
inline ::testing::AssertionResult same_number(const Number &actual, const Number &expected) {
    if (!actual.sentinels_intact()) {
        return ::testing::AssertionFailure() << "sentinel past the last digit overwritten";
    }
    if (actual->sign != expected->sign || actual->exponent != expected->exponent) {
        return ::testing::AssertionFailure()
               << "got " << describe(actual) << "; expected " << describe(expected);
    }
    for (int i = 0; i < expected.n(); ++i) {
        if (actual->digit[i] != expected->digit[i]) {
            return ::testing::AssertionFailure()
                   << "digit " << i << " is " << actual->digit[i] << ", expected "
                   << expected->digit[i] << " (" << describe(expected) << ")";
        }
    }
    return ::testing::AssertionSuccess();
}

// Exact value mantissa * radix^scale, computed by GMP.
struct Exact {
    mpz_class mantissa;
    long scale = 0;
};

inline mpz_class power_of_ten(unsigned long e) {
    mpz_class p;
    mpz_ui_pow_ui(p.get_mpz_t(), 10, e);
    return p;
}

inline Exact exact_of(const Number &x, int log10_radix) {
    std::string text;
    for (int i = 0; i < x.n(); ++i) {
        std::string d = std::to_string(x->digit[i]);
        text += std::string(log10_radix - d.size(), '0') + d;
    }
    Exact e{mpz_class(text, 10), static_cast<long>(x->exponent) - (x.n() - 1)};
    e.mantissa *= x->sign;
    return e;
}

// Brings a to scale s <= a.scale without loss.
inline Exact rescaled_down(const Exact &a, long s, int log10_radix) {
    return {a.mantissa * power_of_ten(static_cast<unsigned long>((a.scale - s) * log10_radix)), s};
}

// Truncates the magnitude of a to whole units of radix^s (s >= a.scale),
// or returns a when it has no places below that.
inline Exact truncated_to_unit(const Exact &a, long s, int log10_radix) {
    if (s <= a.scale) {
        return a;
    }
    mpz_class q;
    mpz_tdiv_q(q.get_mpz_t(), a.mantissa.get_mpz_t(),
               power_of_ten(static_cast<unsigned long>((s - a.scale) * log10_radix)).get_mpz_t());
    return {q, s};
}

inline Exact sum(const Exact &a, const Exact &b, int log10_radix) {
    const long s = std::min(a.scale, b.scale);
    return {rescaled_down(a, s, log10_radix).mantissa + rescaled_down(b, s, log10_radix).mantissa,
            s};
}

inline long floor_div(long a, long b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

// The n-digit number whose magnitude is |a| truncated to n radix digits.
inline Number truncated(const Exact &a, int n, int log10_radix) {
    if (a.mantissa == 0) {
        return Number(n, 0, 0, {});
    }
    std::string text = mpz_class(abs(a.mantissa)).get_str(10);
    const long lead = static_cast<long>(text.size()) - 1 + a.scale * log10_radix;
    const long exponent = floor_div(lead, log10_radix);
    const long first_digits = lead - exponent * log10_radix + 1;
    text.insert(0, std::string(log10_radix - first_digits, '0'));
    text.resize(static_cast<size_t>(n) * log10_radix, '0');
    std::vector<int> digits(n);
    for (int i = 0; i < n; ++i) {
        digits[i] = std::stoi(text.substr(static_cast<size_t>(i) * log10_radix, log10_radix));
    }
    return Number(n, sgn(a.mantissa), static_cast<int32_t>(exponent), digits);
}

// Random operands: mostly random digits, and the shapes that make carries or
// borrows run through every digit.
class Operands {
  public:
    Operands(int n, int log10_radix, uint64_t seed)
        : n_(n), radix_(radix_of(log10_radix)), rng_(seed) {}

    int uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

    Number number(int32_t exponent) {
        std::vector<int> digits(n_);
        switch (uniform(0, 5)) {
        case 0: // radix-1 everywhere
            std::fill(digits.begin(), digits.end(), radix_ - 1);
            break;
        case 1: // a power of the radix
            digits[0] = 1;
            break;
        case 2: // a few leading digits, then zeros
            for (int i = 0; i < n_ && i < 3; ++i) {
                digits[i] = uniform(0, radix_ - 1);
            }
            break;
        default:
            for (int &d : digits) {
                d = uniform(0, radix_ - 1);
            }
        }
        if (digits[0] == 0) {
            digits[0] = uniform(1, radix_ - 1);
        }
        return Number(n_, uniform(0, 1) != 0 ? 1 : -1, exponent, digits);
    }

    // Exponent differences: equal, adjacent, around n and far beyond it.
    int exponent_gap() {
        const int gaps[] = {0, 0, 0, 1, 2, n_ - 1, n_, n_ + 1, 3 * n_ + 5, uniform(0, n_ + 2)};
        const int gap = gaps[uniform(0, 9)];
        return uniform(0, 1) != 0 ? gap : -gap;
    }

    // A pair of operands; sometimes a zero, an equal or a nearly equal magnitude.
    std::pair<Number, Number> pair() {
        Number a = number(uniform(-3, 3));
        const int kind = uniform(0, 9);
        if (kind == 0) {
            return {a, Number(n_, 0, 0, {})};
        }
        if (kind == 1) {
            return {Number(n_, 0, 0, {}), a};
        }
        if (kind <= 3) { // same digits, perhaps differing in the last few
            Number b = a;
            b->sign = uniform(0, 1) != 0 ? 1 : -1;
            for (int i = std::max(1, n_ - uniform(0, 3)); i < n_; ++i) {
                b->digit[i] = static_cast<int16_t>(uniform(0, radix_ - 1));
            }
            return {a, b};
        }
        return {a, number(a->exponent + exponent_gap())};
    }

  private:
    int n_;
    int radix_;
    std::mt19937_64 rng_;
};

// Radix (as log10) and length.
class MpTest : public ::testing::TestWithParam<std::tuple<int, int>> {
  protected:
    int log10_radix() const { return std::get<0>(GetParam()); }
    int radix() const { return radix_of(log10_radix()); }
    int n() const { return std::get<1>(GetParam()); }
    uint64_t seed() const { return 1000u * log10_radix() + n(); }
    // Fewer random cases for long numbers, so that the run stays short.
    int trials() const { return n() <= 16 ? 300 : n() <= 100 ? 80 : 10; }
};

inline std::string mp_test_name(const ::testing::TestParamInfo<std::tuple<int, int>> &info) {
    return "radix" + std::to_string(radix_of(std::get<0>(info.param))) + "_n" +
           std::to_string(std::get<1>(info.param));
}

#define INSTANTIATE_MP_TEST(suite)                                                                 \
    INSTANTIATE_TEST_SUITE_P(RadixAndLength, suite,                                                \
                             ::testing::Combine(::testing::Values(1, 2, 3, 4),                     \
                                                ::testing::Values(1, 2, 3, 5, 16, 100, 2500)),     \
                             ::pi_fftcs_test::mp_test_name)

} // namespace pi_fftcs_test

#endif
