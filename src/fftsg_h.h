/* Tessary FFT package: an in-place split-radix transform of a power-of-two
 * number of complex points interleaved in an array of doubles. Twiddle
 * factors come from sincos and a short recurrence; there are no tables, no
 * work areas and no allocation.
 *
 * Notation: W_M = exp(+2 pi i / M). A block of N points is in bit-reversed
 * order when position p holds the value with index rev_N(p). The kind-1
 * transform of a block is X[k] = sum x[j] W_N^(jk), the kind-2 transform is
 * X[k] = sum x[j] W_2N^(j(2k+1)); both are left in bit-reversed order.
 * Lengths n are counted in doubles (twice the number of points). */
#ifndef TESSARY_FFTSG_H_H
#define TESSARY_FFTSG_H_H

#ifdef __cplusplus
extern "C" {
#endif

/* Unnormalised complex DFT of n/2 points in a[0 .. n-1], n a power of two.
 * sign >= 0: X[k] = sum x[j] exp(+2 pi i jk/N); sign < 0: exp(-2 pi i jk/N). */
void cdft(int n, int sign, double *a);

/* Direction drivers: the forward and backward transforms of n/2 points. */
void cftfsub(int n, double *a);
void cftbsub(int n, double *a);

/* Radix-4 stages (n >= 64): kind-1, kind-1 on the conjugated block, kind-2. */
void cftmdl1(int n, double *a);
void cftb1st(int n, double *a);
void cftmdl2(int n, double *a);

/* Leaf groups after a stage of n = 64 or 128 doubles: quarters of kinds
 * 1,2,1,1 (after cftmdl1) and 1,2,1,2 (after cftmdl2). */
void cftfx41(int n, double *a);
void cftfx42(int n, double *a);

/* Completion of a block after its stage: iterative (blocks up to 512 doubles)
 * and recursive (cftrec1/cftrec2 apply their own stage first). */
void cftexp1(int n, double *a);
void cftexp2(int n, double *a);
void cftrec1(int n, double *a);
void cftrec2(int n, double *a);

/* Bit-reversal permutations of n/2 complex elements, without tables. */
void bitrv2(int n, double *a);
void bitrv2conj(int n, double *a);
void bitrv216(double *a);
void bitrv216neg(double *a);
void bitrv208(double *a);
void bitrv208neg(double *a);

/* Leaf kernels with constant twiddles. */
void cftf161(double *a);
void cftf162(double *a);
void cftf081(double *a);
void cftf082(double *a);
void cftf040(double *a);
void cftb040(double *a);
void cftx020(double *a);

#ifdef __cplusplus
}
#endif

#endif
