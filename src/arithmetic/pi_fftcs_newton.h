// Internal to the arithmetic: the length schedule of the Newton drivers (mp_inv, mp_sqrt,
// mp_invisqrt), a template over the step so that tests can run it with steps of their own.
#ifndef TESSARY_PI_FFTCS_NEWTON_H
#define TESSARY_PI_FFTCS_NEWTON_H

#include "arithmetic/pi_fftcs.h"

#include <algorithm>
#include <cstdint>

namespace mp_newton {

// From the start length up to nfft, doubling after each step unless the step gained too few
// digits. A step that returned prc had about 2 prc correct digits afterwards: the length is
// repeated when that is under two thirds of its n_l - 2 digits, and once, at the first length
// reaching nfft/8, when it is at most all of them. A correct step repeats a length once at
// most; arithmetic that never gains precision (a faulty processor) moves on after max_repeats,
// so that the computation ends and its check finds the wrong digits.
constexpr int max_repeats = 4;

// step(n_l, length) runs one Newton step at `length` with n_l digits and returns its prc.
template <class Step> void run_schedule(int n, int radix, int nfft, Step step) {
    int length = mp_get_nfft_init(radix, nfft);
    int strict_factor = 8;
    int repeats = 0;
    do {
        const int n_l = std::min(length + 2, n);
        const int prc = step(n_l, length);
        bool repeat = false;
        if (strict_factor * int64_t{length} >= nfft) {
            strict_factor = 0;
            repeat = 2 * prc <= n_l - 2;
        } else {
            repeat = 3 * prc < n_l - 2;
        }
        if (repeat && ++repeats <= max_repeats) {
            continue;
        }
        repeats = 0;
        length *= 2;
    } while (length <= nfft);
}

} // namespace mp_newton

#endif
