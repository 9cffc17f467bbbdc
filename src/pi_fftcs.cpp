#include "pi_fftcs.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>

// The block layout is shared with every caller that allocates numbers.
static_assert(offsetof(mp_number, sign) == 0);
static_assert(offsetof(mp_number, exponent) == 4);
static_assert(offsetof(mp_number, digit) == 8);
static_assert(sizeof(mp_number) == 8);
static_assert(sizeof(int) == 4);

namespace {

// A magnitude is an exponent word followed directly by the digits.
inline int16_t *digits_of(int32_t *magnitude) {
    return reinterpret_cast<int16_t *>(magnitude + 1);
}
inline const int16_t *digits_of(const int32_t *magnitude) {
    return reinterpret_cast<const int16_t *>(magnitude + 1);
}

inline bool valid_radix(int radix) {
    return radix >= 2 && radix <= 32767 && radix % 2 == 0;
}

inline int sign_of(int64_t x) {
    return (x > 0) - (x < 0);
}

// Alignment shift for an exponent difference d >= 0: n or more means the
// shifted operand lies wholly past the last digit.
inline int shift_for(int64_t d, int n) {
    return static_cast<int>(std::min<int64_t>(d, n));
}

// Sign of the difference of two normalised magnitudes with exponent difference d.
int compare_magnitudes(int n, int64_t d, const int16_t *a, const int16_t *b) {
    if (d != 0) {
        return sign_of(d);
    }
    for (int i = 0; i < n; ++i) {
        if (a[i] != b[i]) {
            return sign_of(a[i] - b[i]);
        }
    }
    return 0;
}

} // namespace

// ---- Linear-time arithmetic ----

extern "C" void mp_load_0(int n, int /*radix*/, mp_number *out) {
    assert(n >= 0);
    out->sign = 0;
    out->exponent = 0;
    std::fill_n(out->digit, n, int16_t{0});
}

extern "C" void mp_load_1(int n, int /*radix*/, mp_number *out) {
    assert(n >= 1);
    out->sign = 1;
    out->exponent = 0;
    out->digit[0] = 1;
    std::fill_n(out->digit + 1, n - 1, int16_t{0});
}

extern "C" void mp_round(int n, int radix, int m, mp_number *inout) {
    assert(n >= 1 && valid_radix(radix) && m >= 0);
    if (m >= n) {
        return;
    }
    int16_t *digit = inout->digit;
    std::fill(digit + m + 1, digit + n, int16_t{0});
    const int first_dropped = digit[m];
    digit[m] = 0;
    if (2 * first_dropped < radix) {
        return;
    }
    // Add one unit in place m-1; a carry out of digit[0] leaves 1 and zeros.
    for (int i = m - 1; i >= 0; --i) {
        if (digit[i] + 1 < radix) {
            ++digit[i];
            return;
        }
        digit[i] = 0;
    }
    digit[0] = 1;
    ++inout->exponent;
}

extern "C" int mp_cmp(int n, int /*radix*/, const mp_number *in1, const mp_number *in2) {
    assert(n >= 1);
    if (in1->sign != in2->sign) {
        return in1->sign > in2->sign ? 1 : -1;
    }
    const int64_t d = int64_t{in1->exponent} - in2->exponent;
    return in1->sign * compare_magnitudes(n, d, in1->digit, in2->digit);
}

extern "C" int mp_unsgn_cmp(int n, const int32_t *in1_magnitude, const int32_t *in2_magnitude) {
    assert(n >= 1);
    const int16_t *a = digits_of(in1_magnitude);
    const int16_t *b = digits_of(in2_magnitude);
    // A zero magnitude has exponent 0, which would rank it above every
    // magnitude below 1: compare zeros by their digits instead.
    if (a[0] == 0 || b[0] == 0) {
        return (b[0] == 0) - (a[0] == 0);
    }
    return compare_magnitudes(n, int64_t{*in1_magnitude} - *in2_magnitude, a, b);
}

// Additions run from the last digit to the first and read only places at or
// above the one being written, so out may be in1 or in2.
extern "C" int mp_unexp_add(int n, int radix, int exp_diff, const int16_t *in1, const int16_t *in2,
                            int16_t *out) {
    assert(n >= 1 && valid_radix(radix) && exp_diff >= 0);
    if (exp_diff == 0 && in1[0] + in2[0] >= radix) {
        // The sum certainly gains a leading digit: write it shifted by one place
        // at once; the last digit pair contributes only its carry.
        int carry = in1[n - 1] + in2[n - 1] >= radix ? 1 : 0;
        for (int i = n - 1; i >= 1; --i) {
            const int x = in1[i - 1] + in2[i - 1] + carry;
            carry = x >= radix ? 1 : 0;
            out[i] = static_cast<int16_t>(x - carry * radix);
        }
        out[0] = 1;
        return 1;
    }

    const int s = std::min(exp_diff, n);
    int carry = 0;
    for (int i = n - 1; i >= s; --i) {
        const int x = in1[i] + in2[i - s] + carry;
        carry = x >= radix ? 1 : 0;
        out[i] = static_cast<int16_t>(x - carry * radix);
    }
    for (int i = s - 1; i >= 0; --i) {
        const int x = in1[i] + carry;
        carry = x >= radix ? 1 : 0;
        out[i] = static_cast<int16_t>(x - carry * radix);
    }
    if (carry == 0) {
        return 0;
    }
    std::copy_backward(out, out + n - 1, out + n);
    out[0] = 1;
    return 1;
}

extern "C" int mp_unexp_sub(int n, int radix, int exp_diff, const int16_t *in1, const int16_t *in2,
                            int16_t *out) {
    assert(n >= 1 && valid_radix(radix) && exp_diff >= 0);
    const int s = std::min(exp_diff, n);
    int borrow = 0;
    for (int i = n - 1; i >= s; --i) {
        const int x = in1[i] - in2[i - s] - borrow;
        borrow = x < 0 ? 1 : 0;
        out[i] = static_cast<int16_t>(x + borrow * radix);
    }
    for (int i = s - 1; i >= 0; --i) {
        const int x = in1[i] - borrow;
        borrow = x < 0 ? 1 : 0;
        out[i] = static_cast<int16_t>(x + borrow * radix);
    }
    assert(borrow == 0); // |in1| >= |in2 shifted|

    // Normalise: move the first non-zero digit to the front, filling with zeros.
    const int u =
        static_cast<int>(std::find_if(out, out + n, [](int16_t x) { return x != 0; }) - out);
    if (u == 0 || u == n) {
        return u;
    }
    std::copy(out + u, out + n, out);
    std::fill(out + n - u, out + n, int16_t{0});
    return u;
}

namespace {

// out = in1 + sign2 * |in2|, sign2 being in2's sign or its negation.
void add_signed(int n, int radix, const mp_number *in1, int32_t sign2, const mp_number *in2,
                mp_number *out) {
    assert(n >= 1 && valid_radix(radix));
    const int32_t sign1 = in1->sign;
    const int32_t exp1 = in1->exponent;
    const int32_t exp2 = in2->exponent;
    const int64_t d = int64_t{exp1} - exp2;

    if (sign1 * sign2 >= 0) {
        // Same signs, or a zero operand whose digits add as zeros: add magnitudes.
        int32_t sign = 0;
        int32_t base = 0;
        int carry = 0;
        if (sign1 == 0 || sign2 == 0) {
            sign = sign1 + sign2;
            base = exp1 + exp2; // the zero operand has exponent 0
            carry = mp_unexp_add(n, radix, 0, in1->digit, in2->digit, out->digit);
        } else if (d >= 0) {
            sign = sign1;
            base = exp1;
            carry = mp_unexp_add(n, radix, shift_for(d, n), in1->digit, in2->digit, out->digit);
        } else {
            sign = sign1;
            base = exp2;
            carry = mp_unexp_add(n, radix, shift_for(-d, n), in2->digit, in1->digit, out->digit);
        }
        out->sign = sign;
        out->exponent = sign == 0 ? 0 : base + carry;
        return;
    }

    // Opposite signs: subtract the smaller magnitude from the larger.
    const int t = compare_magnitudes(n, d, in1->digit, in2->digit);
    int32_t base = 0;
    int removed = 0;
    if (t >= 0) {
        base = exp1;
        removed = mp_unexp_sub(n, radix, shift_for(d, n), in1->digit, in2->digit, out->digit);
    } else {
        base = exp2;
        removed = mp_unexp_sub(n, radix, shift_for(-d, n), in2->digit, in1->digit, out->digit);
    }
    if (removed == n) {
        out->sign = 0;
        out->exponent = 0;
        return;
    }
    out->sign = sign1 * t;
    out->exponent = base - removed;
}

} // namespace

extern "C" void mp_add(int n, int radix, const mp_number *in1, const mp_number *in2,
                       mp_number *out) {
    add_signed(n, radix, in1, in2->sign, in2, out);
}

extern "C" void mp_sub(int n, int radix, const mp_number *in1, const mp_number *in2,
                       mp_number *out) {
    add_signed(n, radix, in1, -in2->sign, in2, out);
}

// Products and quotients are exact in doubles: every value stays below 2^47,
// and the +0.5 guard keeps x/radix (x/divisor) clear of whole numbers by more
// than the rounding of the multiplication by the reciprocal, so truncation
// gives the exact quotient and remainder.
extern "C" void mp_unsgn_imul(int n, double radix, const int32_t *in1_magnitude, double in2,
                              int32_t *out_magnitude) {
    assert(n >= 1 && in2 >= 0 && in2 <= 2147483648.0);
    const int16_t *in = digits_of(in1_magnitude);
    int16_t *out = digits_of(out_magnitude);
    const int32_t exponent = *in1_magnitude;
    const double r = 1 / radix;

    // The carry stays below in2, so it fits an int.
    int carry = 0;
    for (int i = n - 1; i >= 0; --i) {
        const double x = in2 * in[i] + carry + 0.5;
        const double q = std::trunc(x * r);
        carry = static_cast<int>(q);
        out[i] = static_cast<int16_t>(x - radix * q);
    }
    if (carry == 0) {
        *out_magnitude = exponent;
        return;
    }

    // The carry becomes k new leading digits; the last k digits drop off.
    // (A carry of more than n digits keeps only its leading n.)
    int16_t carry_digits[32]; // least significant first; radix >= 2, carry < 2^31
    int k = 0;
    for (double c = carry; c > 0; ++k) {
        const double x = c + 0.5;
        const double q = std::trunc(x * r);
        carry_digits[k] = static_cast<int16_t>(x - radix * q);
        c = q;
    }
    *out_magnitude = exponent + k;
    if (k < n) {
        std::copy_backward(out, out + n - k, out + n);
    }
    for (int j = std::max(0, k - n); j < k; ++j) {
        out[k - 1 - j] = carry_digits[j];
    }
}

extern "C" void mp_imul(int n, int radix, const mp_number *in1, int in2, mp_number *out) {
    assert(n >= 1 && valid_radix(radix));
    const int32_t sign = in2 > 0 ? in1->sign : in2 < 0 ? -in1->sign : 0;
    mp_unsgn_imul(n, radix, &in1->exponent, std::fabs(static_cast<double>(in2)), &out->exponent);
    out->sign = sign;
    if (sign == 0) {
        out->exponent = 0;
    }
}

// Long division; it runs upwards and reads only places at or after the one
// being written, so out may be in1.
extern "C" void mp_unsgn_idiv(int n, double radix, const int32_t *in1_magnitude, double in2,
                              int32_t *out_magnitude) {
    const int16_t *in = digits_of(in1_magnitude);
    int16_t *out = digits_of(out_magnitude);
    assert(n >= 1 && in2 >= 1 && in2 <= 2147483648.0 && in[0] > 0);

    // Leading partial dividend: the first digits whose value reaches the
    // divisor; places past the end count as zeros.
    double lead = 0;
    int taken = 0;
    do {
        lead = lead * radix + (taken < n ? in[taken] : 0);
        ++taken;
    } while (lead < in2 - 0.5);
    const int last_taken = taken - 1;
    *out_magnitude = *in1_magnitude - last_taken;

    const double r = 1 / in2;
    double x = lead + 0.5;
    double q = std::trunc(x * r);
    out[0] = static_cast<int16_t>(q);
    int remainder = static_cast<int>(x - in2 * q); // below in2, so it fits an int

    const int p = std::min(last_taken, n - 1);
    for (int i = 1; i < n - p; ++i) {
        x = remainder * radix + 0.5 + in[p + i];
        q = std::trunc(x * r);
        out[i] = static_cast<int16_t>(q);
        remainder = static_cast<int>(x - in2 * q);
    }
    for (int i = std::max(1, n - p); i < n; ++i) {
        x = remainder * radix + 0.5;
        q = std::trunc(x * r);
        out[i] = static_cast<int16_t>(q);
        remainder = static_cast<int>(x - in2 * q);
    }
}

extern "C" int mp_idiv(int n, int radix, const mp_number *in1, int in2, mp_number *out) {
    assert(n >= 1 && valid_radix(radix));
    if (in2 == 0) {
        return -1;
    }
    const int32_t sign = in2 > 0 ? in1->sign : -in1->sign;
    if (sign == 0) {
        mp_load_0(n, radix, out);
        return 0;
    }
    mp_unsgn_idiv(n, radix, &in1->exponent, std::fabs(static_cast<double>(in2)), &out->exponent);
    out->sign = sign;
    return 0;
}

// Halving with an even radix is exact digit by digit; a leading 1 becomes a
// leading radix/2 one place lower, so that the result stays normalised.
extern "C" void mp_idiv_2(int n, int radix, const mp_number *in, mp_number *out) {
    assert(n >= 1 && valid_radix(radix));
    const int s = in->digit[0] == 1 ? 1 : 0;
    out->sign = in->sign;
    out->exponent = in->exponent - s;
    int half = s;
    for (int i = 0; i < n - s; ++i) {
        const int x = in->digit[i + s] + (half != 0 ? radix : 0);
        out->digit[i] = static_cast<int16_t>(x / 2);
        half = x % 2;
    }
    if (s == 1) {
        out->digit[n - 1] = static_cast<int16_t>(half != 0 ? radix / 2 : 0);
    }
}

// ---- Decimal text ----

namespace {

inline bool is_decimal_digit(char c) {
    return c >= '0' && c <= '9';
}

inline bool is_exponent_letter(char c) {
    return c == 'e' || c == 'E' || c == 'd' || c == 'D';
}

// White space as a "%d" conversion skips it.
inline bool is_scanf_space(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Decimal exponents are kept in 64 bits and saturate here, so that an
// exponent of any length plus a digit count of any text cannot overflow.
constexpr int64_t exponent_limit = int64_t{1} << 61;

inline int64_t saturate(int64_t x) {
    return std::clamp(x, -exponent_limit, exponent_limit);
}

// The signed decimal integer after an exponent letter, read as "%d" reads it
// (leading white space, optional sign, at least one digit) but saturating
// instead of overflowing; 0 when there is none.
int64_t read_exponent(const char *text) {
    while (is_scanf_space(*text)) {
        ++text;
    }
    const bool negative = *text == '-';
    if (*text == '+' || *text == '-') {
        ++text;
    }
    if (!is_decimal_digit(*text)) {
        return 0;
    }
    int64_t value = 0;
    for (; is_decimal_digit(*text); ++text) {
        value = value >= exponent_limit / 10 ? exponent_limit : value * 10 + (*text - '0');
    }
    return negative ? -value : value;
}

// Division rounded toward minus infinity.
inline int64_t floor_div(int64_t a, int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

} // namespace

extern "C" void mp_sscanf(int n, int log10_radix, const char *text, mp_number *out) {
    assert(n >= 1 && log10_radix >= 1 && log10_radix <= 4 && text != nullptr);
    const char *c = text;
    while (*c == ' ') {
        ++c;
    }
    out->sign = 1;
    if (*c == '+' || *c == '-') {
        out->sign = *c == '-' ? -1 : 1;
        ++c;
    }
    while (*c == ' ' || *c == '0') {
        ++c;
    }

    int64_t x = 0;
    for (const char *e = c; *e != '\0'; ++e) {
        if (is_exponent_letter(*e)) {
            x = read_exponent(e + 1);
            break;
        }
    }

    // p: decimal exponent of the first significant digit.
    int64_t p = x;
    if (*c == '.') {
        p = x - 1;
        for (++c; *c == '0' || *c == ' '; ++c) {
            if (*c == '0') {
                p = saturate(p - 1);
            }
        }
    } else if (*c != '\0') {
        int64_t count = 0;
        for (const char *d = c + 1; is_decimal_digit(*d) || *d == ' '; ++d) {
            if (*d != ' ') {
                count = std::min(count + 1, exponent_limit);
            }
        }
        p = x + count;
    }

    const int64_t radix_exponent = floor_div(p, log10_radix);
    out->exponent = static_cast<int32_t>(std::clamp<int64_t>(radix_exponent, INT32_MIN, INT32_MAX));
    // The first radix digit takes r + 1 decimal digits, every later one log10_radix.
    int r = static_cast<int>(p - log10_radix * radix_exponent);

    int16_t *digit = out->digit;
    int k = 0;
    int acc = 0;
    for (;; ++c) {
        if (*c == ' ' || *c == '.') {
            continue;
        }
        if (is_decimal_digit(*c)) {
            acc = 10 * acc + (*c - '0');
            if (r > 0) {
                --r;
                continue;
            }
            if (k >= n) {
                break; // truncation: the rest of the text is ignored
            }
            digit[k++] = static_cast<int16_t>(acc);
            acc = 0;
            r = log10_radix - 1;
            continue;
        }
        // End of the digits: the last radix digit's missing places are zeros.
        for (int i = 0; i <= r; ++i) {
            acc *= 10;
        }
        if (k < n) {
            digit[k] = static_cast<int16_t>(acc);
            std::fill(digit + k + 1, digit + n, int16_t{0});
        }
        break;
    }
    // A leading zero digit makes the number zero. A second point among the
    // leading zeros (".0.05") lets zeros reach digit[0] ahead of later
    // non-zero digits, so clear them all: zero must have only zero digits.
    if (digit[0] == 0) {
        out->sign = 0;
        out->exponent = 0;
        std::fill(digit, digit + n, int16_t{0});
    }
}

extern "C" void mp_sprintf(int n, int log10_radix, const mp_number *in, char *out) {
    assert(n >= 1 && log10_radix >= 1 && log10_radix <= 4);
    if (in->sign < 0) {
        *out++ = '-';
    }

    // Leading digit: its first significant decimal digit, the point, the rest.
    char lead[4] = {'0', '0', '0', '0'};
    int value = in->digit[0];
    for (int i = log10_radix - 1; i >= 0; --i) {
        lead[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    int s = 0; // 0-based place of the first non-zero decimal digit
    while (s < log10_radix - 1 && lead[s] == '0') {
        ++s;
    }
    *out++ = lead[s];
    *out++ = '.';
    out = std::copy(lead + s + 1, lead + log10_radix, out);

    for (int k = 1; k < n; ++k) {
        value = in->digit[k];
        for (int i = log10_radix - 1; i >= 0; --i) {
            out[i] = static_cast<char>('0' + value % 10);
            value /= 10;
        }
        out += log10_radix;
    }

    // In 64 bits: log10_radix * exponent may leave the int range. It still
    // fits the 11 characters that the buffer size allows for it.
    const int64_t exponent = int64_t{log10_radix} * in->exponent + (log10_radix - 1 - s);
    char digits[24];
    char *end = std::to_chars(digits, digits + sizeof digits, exponent).ptr;
    *out++ = 'e';
    out = std::copy(digits, end, out);
    *out = '\0';
}
