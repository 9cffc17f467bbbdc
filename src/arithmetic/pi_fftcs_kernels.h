// Internal to the arithmetic: its loops that are compiled once per instruction-set path (see
// pi_fftcs_kernels.cpp), the bin-pair kernels of the FFT products and the carry settling of
// additions, subtractions, packing and halving, with the carry release of the conversion back.
// Each path's table is mp_kernels::<path>::kernels; pi_fftcs.cpp runs the active path's.
#ifndef TESSARY_PI_FFTCS_KERNELS_H
#define TESSARY_PI_FFTCS_KERNELS_H

#include "fft/simd_path.h"

#include <cstdint>

namespace mp_release {
struct lanes_table;
}

namespace mp_kernels {

struct kernel_table {
    simd::path path; // the path the loops were compiled for

    // The bin-pair kernels, in the signatures of mp_mul_rcmul ... mp_mul_rcsqu_save.
    void (*rcmul)(int nfft, double *a, double *b);
    void (*rcmul_nt_in1)(int nfft, const double *a, double *b);
    void (*rcmul_nt_in2)(int nfft, double *a, double *b);
    void (*rcmul_nt_out)(int nfft, double *a, double *b);
    void (*rcmul_nt_in1_add)(int nfft, const double *a, double *b, double *sum);
    void (*rcsqu)(int nfft, double *a);
    void (*rcsqu_nt_in)(int nfft, double *a);
    void (*rcsqu_save)(int nfft, double *a, double *b);

    // Places count-1 down to 0 of out get a[i] + b[i], or a[i] - b[i], with the carry (or
    // borrow) `carry` entering place count-1, each digit in 0 ... radix-1; they return the
    // carry leaving place 0. out may be a or b, or lie at a higher address in the same array
    // (terms are read at indices up to the one written).
    int (*add_places)(int count, int radix, int carry, const int16_t *a, const int16_t *b,
                      int16_t *out);
    int (*subtract_places)(int count, int radix, const int16_t *a, const int16_t *b, int16_t *out);
    // Places count-1 down to 0 of v get the digits in balanced form, -radix/2 ... radix/2 - 1;
    // returns the carry leaving place 0.
    int (*balance_places)(int count, int radix, const int16_t *digit, double *v);
    // out[i] = (in[i] + radix * (the parity of in[i-1])) / 2, with `half` as the parity before
    // in[0]; returns the parity of in[count-1]. out may be in, or lie below it.
    int (*halve_places)(int count, int radix, int half, const int16_t *in, int16_t *out);

    // The lanes of the carry release (pi_fftcs_release.h).
    const mp_release::lanes_table *release;
};

TESSARY_SIMD_PATHS(SIMD_DECLARE_KERNELS)

// Every path's table: path_kernels.of(p) is path p's own, path_kernels.active() the one this
// process runs.
extern const simd::per_path<kernel_table> path_kernels;

namespace {

// The carry a place passes on when its digit must lie in [low, low + radix): t, the place's
// value with the carry it received, lies within one radix of that range.
inline int carry_of(int t, int low, int radix) {
    return (t >= low + radix) - (t < low);
}

} // namespace
} // namespace mp_kernels

#endif
