// The radix of a computation: the largest that the FFT's rounding allows at its length, as
// the radix test measures it on this machine, and the least that a correct machine's test
// chooses there. Only the engine and the tests include this.
#ifndef TESSARY_PI_RADIX_H
#define TESSARY_PI_RADIX_H

#ifdef __cplusplus
extern "C" {
#endif

/* log10 of the radix (1 to 4) that the rounding-error test chooses for numbers of n digits
 * and the FFT length nfft; `work` holds nfft + 2 doubles. */
int pi_measured_log10_radix(int n, int nfft, double *work);

/* The least log10 of the radix that a correct machine's test chooses at the FFT length
 * 2^log2_nfft, whatever its instruction-set path. */
int pi_least_log10_radix(int log2_nfft);

#ifdef __cplusplus
}
#endif

#endif
