#include "engine/pi_radix.h"

#include "arithmetic/pi_fftcs.h"

#include <cfloat>
#include <cstdint>

// The largest radix whose FFT rounding error, measured on a worst-case square in radix 10
// and scaled by 100 per step up, stays below 0.4. The allowance grows with the length; it is
// formed in 64 bits so that no length can wrap it.
extern "C" int pi_measured_log10_radix(int n, int nfft, double *work) {
    const auto allowance = static_cast<double>(std::uint64_t{100} * static_cast<unsigned>(n) / 4);
    const double err = mp_mul_radix_test(n, 10, nfft, work) + DBL_EPSILON * allowance;
    if (err * 100 >= 0.4) {
        return 1;
    }
    if (err * 10000 >= 0.4) {
        return 2;
    }
    if (err * 1000000 >= 0.4) {
        return 3;
    }
    return 4;
}

// The test's error is a property of the length and of the transforms' rounding, which differs
// a little between the instruction-set paths. Measured on each path at every length from 2
// to 2^29: up to 2^23 the error scaled to radix 10000 is at most 0.19 (against the limit 0.4),
// so every path chooses 10000; at 2^24 it is 0.37 to 0.56 and the paths differ; from 2^25 on
// every path chooses 1000, the error scaled to radix 100 at most 0.18.
extern "C" int pi_least_log10_radix(int log2_nfft) {
    return log2_nfft <= 23 ? 4 : 3;
}
