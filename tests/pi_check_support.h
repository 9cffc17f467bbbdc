// Checked computations whose finished value a test can corrupt and whose radix it can
// force. The binary links with -Wl,--wrap=mp_idiv,--wrap=mp_mul_radix_test: the driver's
// last operation (the division that leaves pi) goes through a wrapper that applies
// `corrupt`, and the radix test through one that reports a forcing error. Include it in
// one source file per binary.
#ifndef TESSARY_TESTS_PI_CHECK_SUPPORT_H
#define TESSARY_TESTS_PI_CHECK_SUPPORT_H

#include "arithmetic/pi_fftcs.h"
#include "engine/pi_benchmark.h"
#include "engine/pi_reference_table.h"

#include <cstdint>
#include <functional>

extern "C" {
int __real_mp_idiv(int n, int radix, const mp_number *in1, int in2, mp_number *out);
int __wrap_mp_idiv(int n, int radix, const mp_number *in1, int in2, mp_number *out);
double __real_mp_mul_radix_test(int n, int radix, int nfft, double *d);
double __wrap_mp_mul_radix_test(int n, int radix, int nfft, double *d);
}

namespace {

// Changes the finished value of pi (n digits in base radix) when set.
std::function<void(mp_number *pi, int radix)> corrupt;
// 1 to 4 forces that log10_radix; 0 leaves the choice to the real test.
int forced_log10_radix = 0;

} // namespace

extern "C" int __wrap_mp_idiv(int n, int radix, const mp_number *in1, int in2, mp_number *out) {
    const int status = __real_mp_idiv(n, radix, in1, in2, out);
    if (corrupt) {
        corrupt(out, radix);
    }
    return status;
}

extern "C" double __wrap_mp_mul_radix_test(int n, int radix, int nfft, double *d) {
    // Errors that the radix rule maps to radix 10, 100, 1000 and 10000.
    const double forcing_error[] = {0, 5e-3, 1e-3, 1e-5, 0};
    const double real = __real_mp_mul_radix_test(n, radix, nfft, d);
    return forced_log10_radix == 0 ? real : forcing_error[forced_log10_radix];
}

namespace {

using pi_reference::block_decimals;

struct checked_run {
    pi_result result{};
    pi_check check{};
};

// One checked computation with `log10_radix` forced (0: the machine's) and the finished
// value changed by `change`.
checked_run compute(int digits, int log10_radix, std::function<void(mp_number *, int)> change) {
    forced_log10_radix = log10_radix;
    corrupt = std::move(change);
    checked_run o;
    pi_calculate_checked(digits, &o.result, nullptr, nullptr, &o.check);
    forced_log10_radix = 0;
    corrupt = nullptr;
    return o;
}

} // namespace

#endif
