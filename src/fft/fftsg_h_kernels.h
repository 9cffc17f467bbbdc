// Internal to the FFT package: the table of the complex-transform kernels of one instruction-set
// path, in the public signatures. fftsg_h_kernels.cpp is compiled once per path and defines its
// table as fftsg::<path>::kernels; the public functions in fftsg_h.cpp run the active path's.
#ifndef TESSARY_FFTSG_H_KERNELS_H
#define TESSARY_FFTSG_H_KERNELS_H

#include "fft/simd_path.h"

namespace fftsg {

struct kernel_table {
    simd::path path; // the path the kernels were compiled for
    void (*cftfsub)(int n, double *a);
    void (*cftfsub_upper_half_zero)(int n, double *a);
    void (*cftbsub)(int n, double *a);
    void (*cftmdl1)(int n, double *a);
    void (*cftb1st)(int n, double *a);
    void (*cftmdl2)(int n, double *a);
    void (*cftfx41)(int n, double *a);
    void (*cftfx42)(int n, double *a);
    void (*cftexp1)(int n, double *a);
    void (*cftexp2)(int n, double *a);
    void (*cftrec1)(int n, double *a);
    void (*cftrec2)(int n, double *a);
    void (*bitrv2)(int n, double *a);
    void (*bitrv2conj)(int n, double *a);
    void (*bitrv216)(double *a);
    void (*bitrv216neg)(double *a);
    void (*bitrv208)(double *a);
    void (*bitrv208neg)(double *a);
    void (*cftf161)(double *a);
    void (*cftf162)(double *a);
    void (*cftf081)(double *a);
    void (*cftf082)(double *a);
    void (*cftf040)(double *a);
    void (*cftb040)(double *a);
    void (*cftx020)(double *a);
};

TESSARY_SIMD_PATHS(SIMD_DECLARE_KERNELS)

// Every path's table: path_kernels.of(p) is path p's own, path_kernels.active() the one this
// process runs.
extern const simd::per_path<kernel_table> path_kernels;

} // namespace fftsg

#endif
