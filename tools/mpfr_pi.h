// MPFR's digits of pi as a plain digit string "31415...", for the reference table's
// program and the tests.
#ifndef TESSARY_DATA_MPFR_PI_H
#define TESSARY_DATA_MPFR_PI_H

#include <mpfr.h>

#include <cmath>
#include <cstddef>
#include <memory>
#include <string>

// "3" followed by the first `decimals` decimals of pi, truncated; empty should MPFR's
// text not start with one whole digit.
inline std::string mpfr_pi_digits(int decimals) {
    const auto bits = static_cast<mpfr_prec_t>(std::ceil((decimals + 32) * 3.3219280948873623));
    mpfr_t pi;
    mpfr_init2(pi, bits);
    mpfr_const_pi(pi, MPFR_RNDN);
    mpfr_exp_t exponent = 0;
    std::unique_ptr<char, decltype(&mpfr_free_str)> text(
        mpfr_get_str(nullptr, &exponent, 10, static_cast<std::size_t>(decimals) + 16, pi,
                     MPFR_RNDZ),
        mpfr_free_str);
    mpfr_clear(pi);
    if (exponent != 1) {
        return {};
    }
    return std::string(text.get(), static_cast<std::size_t>(decimals) + 1);
}

#endif
