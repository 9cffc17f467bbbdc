/* Tessary multi-precision arithmetic: floating-point numbers of n digits in
 * base radix (10, 100, 1000 or 10000), their linear-time operations and their
 * decimal text form.
 *
 * Every routine takes the digit count n and the radix first, then its inputs,
 * then its output. An output may be the same number as any input. Nothing
 * allocates, keeps state or reports errors beyond the documented results;
 * n >= 1, an even radix in 2 ... 32767 and normalised operands are the
 * caller's obligations (checked by assert in debug builds). */
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
 * touching out when in2 is 0. The magnitude form divides a non-zero
 * magnitude by a whole number in 1 ... 2^31 held in a double. */
int mp_idiv(int n, int radix, const mp_number *in1, int in2, mp_number *out);
void mp_unsgn_idiv(int n, double radix, const int32_t *in1_magnitude, double in2,
                   int32_t *out_magnitude);

/* out = in / 2; exact when digit[0] is 1, else the last half is dropped. */
void mp_idiv_2(int n, int radix, const mp_number *in, mp_number *out);

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
