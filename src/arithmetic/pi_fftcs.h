/* Tessary multi-precision arithmetic: floating-point numbers of n digits in
 * base radix (10, 100, 1000 or 10000), their linear-time operations and their
 * decimal text form.
 *
 * Every routine takes the digit count n and the radix first, then its inputs,
 * then its output. An output may be the same number as any input. Nothing
 * allocates, keeps state or reports errors beyond the documented results;
 * n >= 1, an even radix in 2 ... 32767 and normalised operands are the
 * caller's obligations, asserted in debug builds: normalisation of every
 * whole number that a routine reads, directly or in the sums and products it
 * calls. The magnitude and digit-array kernels, which see no sign, assert only
 * their own preconditions. */
#ifndef TESSARY_PI_FFTCS_H
#define TESSARY_PI_FFTCS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One number in one caller-owned block of mp_number_size(n) bytes:
 * value = sign * sum(digit[i] * radix^(exponent - i), i = 0 ... n-1).
 * A non-zero number has digit[0] != 0; zero has sign 0, exponent 0 and all
 * digits 0. The layout is fixed: other code addresses numbers by it. */
typedef struct mp_number {
    int32_t sign;     /* 1, -1, or 0 for zero */
    int32_t exponent; /* power of radix carried by digit[0] */
    int16_t digit[];  /* n digits in 0 ... radix-1, most significant first */
} mp_number;

/* Bytes needed by a number of n >= 0 digits. */
static inline size_t mp_number_size(int n) {
    return offsetof(mp_number, digit) + (size_t)n * sizeof(int16_t);
}

/* Two views of a number used by the kernels:
 * - magnitude: the address of its exponent word (&x->exponent), which is
 *   followed directly by its n digits: the number without its sign;
 * - digit array: the address of digit[0] (x->digit). */

/* ---- Linear-time arithmetic ---- */

void mp_load_0(int n, int radix, mp_number *out);
void mp_load_1(int n, int radix, mp_number *out);

/* Rounds the magnitude to its first m digits, halves away from zero; nothing
 * happens unless m < n. The sign is not changed. */
void mp_round(int n, int radix, int m, mp_number *inout);

/* -1, 0 or 1: the sign of in1 - in2, and of |in1| - |in2| for the magnitudes. */
int mp_cmp(int n, int radix, const mp_number *in1, const mp_number *in2);
int mp_unsgn_cmp(int n, const int32_t *in1_magnitude, const int32_t *in2_magnitude);

/* out = in1 +- in2, truncated to n digits: digits of the operand with the
 * smaller exponent that fall past the other's last digit are ignored. */
void mp_add(int n, int radix, const mp_number *in1, const mp_number *in2, mp_number *out);
void mp_sub(int n, int radix, const mp_number *in1, const mp_number *in2, mp_number *out);

/* Digit-array kernels of mp_add and mp_sub; in2 is shifted right by
 * exp_diff >= 0 places before the operation.
 * mp_unexp_add returns 1 when the sum needed one more leading digit (the
 * result is then already shifted and the caller adds 1 to the exponent).
 * mp_unexp_sub needs |in1| >= |in2 shifted|; it normalises the difference and
 * returns the number of leading zeros removed (n when the difference is 0). */
int mp_unexp_add(int n, int radix, int exp_diff, const int16_t *in1, const int16_t *in2,
                 int16_t *out);
int mp_unexp_sub(int n, int radix, int exp_diff, const int16_t *in1, const int16_t *in2,
                 int16_t *out);

/* out = in1 * in2, truncated to n digits. The magnitude form takes the
 * multiplier as a whole number in 0 ... 2^31 held in a double. */
void mp_imul(int n, int radix, const mp_number *in1, int in2, mp_number *out);
void mp_unsgn_imul(int n, double radix, const int32_t *in1_magnitude, double in2,
                   int32_t *out_magnitude);

/* out = in1 / in2, truncated to n digits. mp_idiv returns 0, or -1 without
 * touching out when in2 is 0. The magnitude form divides a magnitude by a
 * whole number in 1 ... 2^31 held in a double; a zero magnitude (digit[0]
 * 0) gives zero: exponent 0 and all digits 0. */
int mp_idiv(int n, int radix, const mp_number *in1, int in2, mp_number *out);
void mp_unsgn_idiv(int n, double radix, const int32_t *in1_magnitude, double in2,
                   int32_t *out_magnitude);

/* out = in / 2; exact when digit[0] is 1, else the last half is dropped. */
void mp_idiv_2(int n, int radix, const mp_number *in, mp_number *out);

/* ---- FFT multiplication ----
 *
 * An FFT work array is nfft + 2 doubles (nfft a power of two >= 2):
 *   d[0]          exponent cell: the exponent of the packed operand, after a
 *                 product the sum of the operands' exponents;
 *   d[1 .. nfft]  data part: packed values, then their transform as nfft/2
 *                 interleaved complex numbers (cdft's layout);
 *   d[nfft + 1]   lead cell: sign * leading digit of the operand, after a
 *                 product the product of the lead cells.
 * An operand holds at most nfft/2 + 1 digits: its leading digit, the next
 * digit plus a carry and then balanced digits in -radix/2 ... radix/2 - 1.
 * "Frequency form" is the data part after the forward transform and the
 * real-to-complex split; such an array can be multiplied again without a new
 * forward transform. A backward-transformed product holds nfft/2 times the
 * terms of the cyclic convolution, term nfft wrapped onto term 0. */

/* Packs in's digits from position shift on (at most nfft/2 + 1 of them) into d. */
void mp_mul_i2d(int n, int radix, int nfft, int shift, const mp_number *in, double *d);

/* Converts the product terms in d into out's first n digits with exact carry
 * release, rebuilding the wrapped term from the lead cell. Digits from n on
 * are left untouched; d is no longer a valid product afterwards. */
void mp_mul_d2i(int n, int radix, int nfft, double *d, mp_number *out);

/* Frequency-domain products of work arrays; the result is transformed back
 * unless stated otherwise.
 *   cmul:        d2 <- d1 * d2; d1 left in frequency form.
 *   cmul_nt_d1:  the same with d1 already in frequency form (read only).
 *   cmul_nt_d2:  the same with d2 already in frequency form; d1 left in it.
 *   cmul_nt_out: d2 <- d1 * d2 left as product bins; d1 left in frequency form.
 *   cmul_nt_d1_add: d3 (product bins) += d1 (frequency form) * d2, then d3 is
 *                transformed back; d2 left in frequency form, d3's exponent
 *                cell untouched.
 *   csqu:        d1 <- d1^2.
 *   csqu_nt_d1:  d1 <- d1^2 with d1 already in frequency form.
 *   csqu_save_d1: d2 <- d1^2; d1 left in frequency form. */
void mp_mul_cmul(int nfft, double *d1, double *d2);
void mp_mul_cmul_nt_d1(int nfft, const double *d1, double *d2);
void mp_mul_cmul_nt_d2(int nfft, double *d1, double *d2);
void mp_mul_cmul_nt_out(int nfft, double *d1, double *d2);
void mp_mul_cmul_nt_d1_add(int nfft, const double *d1, double *d2, double *d3);
void mp_mul_csqu(int nfft, double *d1);
void mp_mul_csqu_nt_d1(int nfft, double *d1);
void mp_mul_csqu_save_d1(int nfft, double *d1, double *d2);

/* Bin-pair kernels on data parts (nfft > 2): the centre bin and the pairs
 * (j, nfft - j) of a real transform, split into frequency form, multiplied
 * and merged back for the backward transform. Names say which operand is
 * already in frequency form (nt_in1, nt_in2, nt_in) and which result stays
 * as product bins (nt_out). */
void mp_mul_rcmul(int nfft, double *a, double *b);
void mp_mul_rcmul_nt_in1(int nfft, const double *a, double *b);
void mp_mul_rcmul_nt_in2(int nfft, double *a, double *b);
void mp_mul_rcmul_nt_out(int nfft, double *a, double *b);
void mp_mul_rcmul_nt_in1_add(int nfft, const double *a, double *b, double *sum);
void mp_mul_rcsqu(int nfft, double *a);
void mp_mul_rcsqu_nt_in(int nfft, double *a);
void mp_mul_rcsqu_save(int nfft, double *a, double *b);

/* The instruction-set path that the arithmetic's own loops run on (the bin-pair kernels, the
 * carry settling, the carry release), as their table names it: the path that the transforms
 * run on (fft_simd_path). */
const char *mp_simd_path(void);

/* Twice the worst distance from whole numbers of the terms of a worst-case
 * square of min(n, nfft/2 + 1) digits in d: 0 ... 1, used to choose the radix. */
double mp_mul_radix_test(int n, int radix, int nfft, double *d);
/* The worst distance from whole numbers of the product terms in d (a
 * backward-transformed product); changes the lead cell as mp_mul_d2i does. */
double mp_mul_d2i_test(int radix, int nfft, double *d);

/* ---- Full and half-precision products ----
 *
 * With h = nfft/2 + 1, x_hi is x's first min(h, n) digits and x_lo the next
 * up to h digits from the split index, x's first non-zero digit at or after
 * position h. tmp must be distinct from every other argument; d1, d2, d3 are
 * distinct work arrays. A "kept transform" is an operand's leading part left
 * in frequency form in d1 by one routine for a later one.
 *   mp_mul:    in1 * in2 to n digits (hi*hi + hi*lo + lo*hi); keeps in2_hi in d2.
 *   mp_squ:    in^2 to n digits.
 *   mp_mulhf:  in1_hi * in2 to n digits; keeps in1_hi in d1.
 *   mp_mulhf_use_in1fft: X * in2 with X kept in d1 (unchanged).
 *   mp_squhf_use_infft:  X * in with X = in_hi kept in d1 (used up).
 *   mp_mulh:   in1_hi * in2_hi, exact for n >= nfft + 2; keeps in1_hi in d1.
 *   mp_mulh_use_in1fft:  X * (in2 from its first non-zero digit at or after
 *              position shift, up to h digits), X kept in d1 (unchanged).
 *   mp_squh:   in_hi^2.
 *   mp_squh_save_infft:  in_hi^2; keeps in_hi in d1.
 *   mp_squh_use_in1fft:  X^2 with X kept in d1 (used up).
 * Precision for n = nfft + 2: mp_mul and mp_squ leave out the product of the
 * trailing parts and convert the cross sum with its last digit up to one
 * place above the result's, so they differ from the exact product by less
 * than 2 radix + 2 units of the result's last place (operands with trailing
 * parts of radix-1 digits come within one unit of that). mp_mulhf and its
 * variants are within 3 units of in1_hi * in2; mp_mulh and mp_squh are
 * exact. */
void mp_mul(int n, int radix, const mp_number *in1, const mp_number *in2, mp_number *out,
            mp_number *tmp, int nfft, double *d1, double *d2, double *d3);
void mp_squ(int n, int radix, const mp_number *in, mp_number *out, mp_number *tmp, int nfft,
            double *d1, double *d2);
void mp_mulhf(int n, int radix, const mp_number *in1, const mp_number *in2, mp_number *out,
              mp_number *tmp, int nfft, double *d1, double *d2);
void mp_mulhf_use_in1fft(int n, int radix, const double *d1, const mp_number *in2, mp_number *out,
                         mp_number *tmp, int nfft, double *d2);
void mp_squhf_use_infft(int n, int radix, double *d1, const mp_number *in, mp_number *out,
                        mp_number *tmp, int nfft, double *d2);
void mp_mulh(int n, int radix, const mp_number *in1, const mp_number *in2, mp_number *out, int nfft,
             double *d1, double *d2);
void mp_mulh_use_in1fft(int n, int radix, const double *d1, int shift, const mp_number *in2,
                        mp_number *out, int nfft, double *d2);
void mp_squh(int n, int radix, const mp_number *in, mp_number *out, int nfft, double *d1);
void mp_squh_save_infft(int n, int radix, const mp_number *in, mp_number *out, int nfft, double *d1,
                        double *d2);
void mp_squh_use_in1fft(int n, int radix, double *d1, mp_number *out, int nfft);

/* ---- Newton iterations ----
 *
 * Reciprocal, square root and reciprocal square root of a small integer by
 * Newton steps whose FFT length doubles from a double-precision start value
 * up to nfft (a length is repeated when a step gained too few digits). in,
 * out, the scratch numbers tmp1 and tmp2 and the work arrays fft1 and fft2
 * must all be distinct; n <= nfft + 2.
 *   mp_inv:      out = 1/in; -1 with out untouched when in is zero.
 *   mp_sqrt:     out = sqrt(in), and tmp1 = 1/sqrt(in) to about half the
 *                digits; -1 with out untouched when in is negative.
 *   mp_invisqrt: out = 1/sqrt(x); -1 with out untouched when x < 1.
 * The steps return the number of leading digits in which the approximation
 * they were given was already right (nfft + 1 when its residual vanished). */
int mp_inv(int n, int radix, const mp_number *in, mp_number *out, mp_number *tmp1, mp_number *tmp2,
           int nfft, double *fft1, double *fft2);
int mp_sqrt(int n, int radix, const mp_number *in, mp_number *out, mp_number *tmp1, mp_number *tmp2,
            int nfft, double *fft1, double *fft2);
int mp_invisqrt(int n, int radix, int x, mp_number *out, mp_number *tmp1, mp_number *tmp2, int nfft,
                double *fft1, double *fft2);

/* One step at FFT length nfft on n digits. mp_sqrt_newton improves inout
 * (about sqrt(in)) and inout_rev (about 1/inout) together; *n_fft1 is the
 * length of the transform of inout_rev kept in fft1 by the previous step (0
 * for none) and is updated for the next one. */
int mp_inv_newton(int n, int radix, const mp_number *in, mp_number *inout, mp_number *tmp1,
                  mp_number *tmp2, int nfft, double *fft1, double *fft2);
int mp_sqrt_newton(int n, int radix, const mp_number *in, mp_number *inout, mp_number *inout_rev,
                   mp_number *tmp, int nfft, double *fft1, double *fft2, int *n_fft1);
int mp_invisqrt_newton(int n, int radix, int x, mp_number *inout, mp_number *tmp1, mp_number *tmp2,
                       int nfft, double *fft1, double *fft2);

/* The first FFT length of the iterations: the smallest power of two L >= 2
 * with radix^L >= 2^52, or the first one reaching nfft_max. */
int mp_get_nfft_init(int radix, int nfft_max);

/* Start values in double precision, written into the first n digits of the
 * targets (later digits are left as they are): 1/in; sqrt(in) and
 * 1/sqrt(in); 1/sqrt(x). */
void mp_inv_init(int n, int radix, const mp_number *in, mp_number *out);
void mp_sqrt_init(int n, int radix, const mp_number *in, mp_number *out, mp_number *out_rev);
void mp_invisqrt_init(int n, int radix, int x, mp_number *out);

/* The mantissa of n digits as a double in [1, radix) for a normalised
 * number, and n digits of a double in [0, radix); a value that reaches radix
 * saturates every digit from there on at radix - 1. */
double mp_unexp_mp2d(int n, int radix, const int16_t *digits);
void mp_unexp_d2mp(int n, int radix, double value, int16_t *digits);

/* ---- Decimal text ---- */

/* Reads a decimal number such as "  -1 234.5e-3" into out (radix
 * 10^log10_radix, log10_radix in 1 ... 4), truncating digits that do not fit.
 * Spaces anywhere in the digits are ignored; 'e', 'E', 'd' or 'D' introduces
 * the exponent; text that is not a number reads as zero. An exponent beyond
 * the int range saturates, and a radix exponent beyond it is clamped to
 * INT32_MIN ... INT32_MAX. */
void mp_sscanf(int n, int log10_radix, const char *text, mp_number *out);

/* Writes in as "-d.ddd...e<exponent>" with every digit, into a buffer of at
 * least n * log10_radix + 15 characters. */
void mp_sprintf(int n, int log10_radix, const mp_number *in, char *out);

#ifdef __cplusplus
}
#endif

#endif
