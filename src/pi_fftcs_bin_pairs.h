// Internal to the arithmetic: the bin-pair kernels of the FFT products, compiled once per
// instruction set (see pi_fftcs_bin_pairs.cpp). The public mp_mul_rc... routines run the
// table of the path the transforms chose.
#ifndef TESSARY_PI_FFTCS_BIN_PAIRS_H
#define TESSARY_PI_FFTCS_BIN_PAIRS_H

namespace mp_bin_pairs {

// The kernels in the signatures of mp_mul_rcmul ... mp_mul_rcsqu_save.
struct kernel_table {
    void (*rcmul)(int nfft, double *a, double *b);
    void (*rcmul_nt_in1)(int nfft, const double *a, double *b);
    void (*rcmul_nt_in2)(int nfft, double *a, double *b);
    void (*rcmul_nt_out)(int nfft, double *a, double *b);
    void (*rcmul_nt_in1_add)(int nfft, const double *a, double *b, double *sum);
    void (*rcsqu)(int nfft, double *a);
    void (*rcsqu_nt_in)(int nfft, double *a);
    void (*rcsqu_save)(int nfft, double *a, double *b);
};

extern const kernel_table kernels_baseline;
#ifdef TESSARY_MP_X86_PATHS
extern const kernel_table kernels_avx2;   // AVX2 with FMA
extern const kernel_table kernels_avx512; // AVX-512 F/DQ/VL
#endif

} // namespace mp_bin_pairs

#endif
