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

/* Unnormalised complex DFT of n/2 points in a[0 .. n-1], n a power of two >= 2 (asserted in
 * debug builds, as by every transform below).
 * sign >= 0: X[k] = sum x[j] exp(+2 pi i jk/N); sign < 0: exp(-2 pi i jk/N). */
void cdft(int n, int sign, double *a);

/* The instruction-set path the transforms run on, as their kernel table names it: "baseline",
 * "avx2" (AVX2 with FMA) or "avx512" (AVX-512 F, DQ and VL), chosen once per process: the
 * fastest one the processor supports, or the one named by the environment variable
 * TESSARY_SIMD. A name the build does not know, or a path the processor lacks, falls back to
 * the fastest path; fft_simd_note then returns an English text saying so (otherwise null).
 * Paths may round transforms differently in their last bits. */
const char *fft_simd_path(void);
const char *fft_simd_note(void);

/* Direction drivers: the forward and backward transforms of n/2 points. */
void cftfsub(int n, double *a);
void cftbsub(int n, double *a);

/* The forward transform of an array whose values from a[n/2 + 2] on are zero: they are taken as
 * zero and not read, so the caller need not write them. The result is cftfsub's on the
 * zero-filled array, bit for bit. (The arithmetic's packed operands end by a[n/2].) */
void cftfsub_upper_half_zero(int n, double *a);

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

/* Transforms of n real values, n a power of two >= 2; none of them scales.
 * rdft, sign >= 0: a[2k] = R[k] = sum a[j] cos(2 pi jk/n), a[2k+1] = I[k] = sum a[j] sin(..)
 *   for 0 < k < n/2, a[0] = R[0], a[1] = R[n/2]; sign < 0 is the inverse times n/2.
 * ddct, sign >= 0: C[k] = sum a[j] cos(pi j(k+1/2)/n); sign < 0: sum a[j] cos(pi (j+1/2)k/n).
 * ddst, sign >= 0: S[k] = sum_{j=1..n} A[j] sin(pi j(k+1/2)/n) with A[n] = a[0];
 *   sign < 0: S[k] = sum a[j] sin(pi (j+1/2)k/n), k = 1..n, with S[n] stored in a[0].
 * dfct: C[k] = sum_{j=0..n} a[j] cos(pi jk/n) on the n+1 values a[0..n].
 * dfst: S[k] = sum_{j=1..n-1} a[j] sin(pi jk/n); a[0] is ignored and set to 0. */
void rdft(int n, int sign, double *a);
void ddct(int n, int sign, double *a);
void ddst(int n, int sign, double *a);
void dfct(int n, double *a);
void dfst(int n, double *a);

/* Helpers of the real transforms: the split of a complex transform into a real DFT
 * (rftfsub) and its inverse (rftbsub), the cosine and sine twiddle steps (dctsub, dstsub; the
 * ...4 variants for n <= 4), and the bit reversal of n real values. */
void rftfsub(int n, double *a);
void rftbsub(int n, double *a);
void dctsub(int n, double *a);
void dstsub(int n, double *a);
void dctsub4(int n, double *a);
void dstsub4(int n, double *a);
void bitrv1(int n, double *a);

#ifdef __cplusplus
}
#endif

#endif
