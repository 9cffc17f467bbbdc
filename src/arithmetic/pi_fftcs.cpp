#include "arithmetic/pi_fftcs.h"

#include "arithmetic/pi_fftcs_kernels.h"
#include "arithmetic/pi_fftcs_newton.h"
#include "arithmetic/pi_fftcs_release.h"
#include "fft/fftsg_h.h"

#include <algorithm>
#include <cassert>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <math.h>

// The block layout is shared with every caller that allocates numbers.
static_assert(offsetof(mp_number, sign) == 0);
static_assert(offsetof(mp_number, exponent) == 4);
static_assert(offsetof(mp_number, digit) == 8);
static_assert(sizeof(mp_number) == 8);
static_assert(sizeof(int) == 4);

// The arithmetic follows the one choice of path that the transforms follow.
extern const simd::per_path<mp_kernels::kernel_table> mp_kernels::path_kernels = {
    {TESSARY_SIMD_PATHS(SIMD_KERNELS_ADDRESS)}};

namespace {

using namespace mp_release;
using mp_kernels::carry_of;

inline const mp_kernels::kernel_table &active_kernels() {
    return mp_kernels::path_kernels.active();
}

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

// A number as every routine takes it: zero (sign 0, exponent 0, every digit 0) or a sign of
// +-1 with a leading digit in 1 ... radix-1. Only a zero's digits are read past the first.
inline bool is_normalised(int n, int radix, const mp_number *x) {
    if (x->sign == 0) {
        return x->exponent == 0 &&
               std::all_of(x->digit, x->digit + n, [](int16_t d) { return d == 0; });
    }
    return (x->sign == 1 || x->sign == -1) && x->digit[0] >= 1 && x->digit[0] < radix;
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

// Places last down to 0 of in1 plus only the carry entering place last (0, 1 or -1): it
// travels while the digits overflow, and above that out takes in1's digits unchanged.
int carry_through(int last, int radix, int carry, const int16_t *in1, int16_t *out) {
    int j = last;
    for (; j >= 0 && carry != 0; --j) {
        const int x = in1[j] + carry;
        carry = carry_of(x, 0, radix);
        out[j] = static_cast<int16_t>(x - radix * carry);
    }
    if (out != in1) {
        std::copy(in1, in1 + j + 1, out);
    }
    return carry;
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
    assert(n >= 1 && valid_radix(radix) && m >= 0 && is_normalised(n, radix, inout));
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
    if (carry_through(m - 1, radix, 1, digit, digit) != 0) {
        digit[0] = 1;
        ++inout->exponent;
    }
}

extern "C" int mp_cmp(int n, [[maybe_unused]] int radix, const mp_number *in1,
                      const mp_number *in2) {
    assert(n >= 1 && is_normalised(n, radix, in1) && is_normalised(n, radix, in2));
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

// Additions read only indices up to the one being written, so out may be in1 or in2.
extern "C" int mp_unexp_add(int n, int radix, int exp_diff, const int16_t *in1, const int16_t *in2,
                            int16_t *out) {
    assert(n >= 1 && valid_radix(radix) && exp_diff >= 0);
    if (exp_diff == 0 && in1[0] + in2[0] >= radix) {
        // The sum certainly gains a leading digit: write it shifted by one place
        // at once; the last digit pair contributes only its carry.
        const int carry = carry_of(in1[n - 1] + in2[n - 1], 0, radix);
        active_kernels().add_places(n - 1, radix, carry, in1, in2, out + 1);
        out[0] = 1;
        return 1;
    }

    const int s = std::min(exp_diff, n);
    int carry = active_kernels().add_places(n - s, radix, 0, in1 + s, in2, out + s);
    carry = carry_through(s - 1, radix, carry, in1, out);
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
    const int borrow = active_kernels().subtract_places(n - s, radix, in1 + s, in2, out + s);
    [[maybe_unused]] const int carry = carry_through(s - 1, radix, borrow, in1, out);
    assert(carry == 0); // |in1| >= |in2 shifted|

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
    assert(is_normalised(n, radix, in1) && is_normalised(n, radix, in2));
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
        const double q = truncate(x * r);
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
        const double q = truncate(x * r);
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
    assert(n >= 1 && valid_radix(radix) && is_normalised(n, radix, in1));
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
    assert(n >= 1 && in2 >= 1 && in2 <= 2147483648.0);
    // A zero magnitude has no leading partial dividend to find: its quotient is zero.
    if (in[0] == 0) {
        *out_magnitude = 0;
        std::fill_n(out, n, int16_t{0});
        return;
    }

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
    double q = truncate(x * r);
    out[0] = static_cast<int16_t>(q);
    int remainder = static_cast<int>(x - in2 * q); // below in2, so it fits an int

    const int p = std::min(last_taken, n - 1);
    for (int i = 1; i < n - p; ++i) {
        x = remainder * radix + 0.5 + in[p + i];
        q = truncate(x * r);
        out[i] = static_cast<int16_t>(q);
        remainder = static_cast<int>(x - in2 * q);
    }
    for (int i = std::max(1, n - p); i < n; ++i) {
        x = remainder * radix + 0.5;
        q = truncate(x * r);
        out[i] = static_cast<int16_t>(q);
        remainder = static_cast<int>(x - in2 * q);
    }
}

extern "C" int mp_idiv(int n, int radix, const mp_number *in1, int in2, mp_number *out) {
    assert(n >= 1 && valid_radix(radix) && is_normalised(n, radix, in1));
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
    assert(n >= 1 && valid_radix(radix) && is_normalised(n, radix, in));
    const int s = in->digit[0] == 1 ? 1 : 0;
    out->sign = in->sign;
    out->exponent = in->exponent - s;
    const int half = active_kernels().halve_places(n - s, radix, s, in->digit + s, out->digit);
    if (s == 1) {
        out->digit[n - 1] = static_cast<int16_t>(half != 0 ? radix / 2 : 0);
    }
}

// ---- FFT multiplication ----

namespace {

// Cells of a work array around its data part.
inline int lead_cell(int nfft) {
    return nfft + 1;
}
constexpr int exponent_cell = 0;

constexpr double epsilon = 2.220446049250313e-16; // 2^-52

inline bool valid_nfft(int nfft) {
    return nfft >= 2 && (nfft & (nfft - 1)) == 0;
}

inline void forward_transform(int nfft, double *d) {
    cdft(nfft, 1, d + 1);
}
inline void backward_transform(int nfft, double *d) {
    cdft(nfft, -1, d + 1);
}

// The DC cells hold (E, O), the sums of the even- and the odd-indexed packed
// values: E + O and E - O are the real bins 0 and nfft/2, which multiply as
// plain numbers and re-pack the same way.
inline void dc_product(const double *d1, const double *d2, double *out) {
    const double e1 = d1[1], o1 = d1[2], e2 = d2[1], o2 = d2[2];
    out[1] = e1 * e2 + o1 * o2;
    out[2] = e1 * o2 + o1 * e2;
}
inline void dc_product_add(const double *d1, const double *d2, double *sum) {
    const double e1 = d1[1], o1 = d1[2], e2 = d2[1], o2 = d2[2];
    sum[1] += e1 * e2 + o1 * o2;
    sum[2] += e1 * o2 + o1 * e2;
}
inline void dc_square(const double *d, double *out) {
    const double e = d[1], o = d[2];
    out[1] = e * e + o * o;
    out[2] = 2 * e * o;
}

// The values of a work array that packing writes and the forward transform of a packed
// operand reads: v[0] ... v[nfft/2 + 1], of which the last is always 0 (see `forward`).
inline int packed_values(int nfft) {
    return std::min(nfft, nfft / 2 + 2);
}

// Packed values: v[0] the leading digit, v[1] the next digit plus a carry,
// then balanced digits -radix/2 ... radix/2 - 1 from the end, so that the
// convolution terms stay near (nfft/2) (radix/2)^2 at worst. The sign travels
// in the lead cell only. Writes v[0] ... v[packed_values(nfft) - 1]; the rest of
// the data part is left as it was.
void pack_operand(int n, int radix, int nfft, int shift, const mp_number *in, double *d) {
    assert(valid_radix(radix) && valid_nfft(nfft) && shift >= 0 && is_normalised(n, radix, in));
    const int16_t *digit = in->digit + (shift < n ? shift : 0);
    const int lead = shift < n ? digit[0] : 0;
    const int k = shift < n ? std::min(nfft / 2 + 1, n - shift) : 0;
    double *__restrict v = d + 1;

    d[lead_cell(nfft)] = in->sign * lead;
    std::fill(v + k, v + packed_values(nfft), 0.0);
    if (k >= 2) {
        const int carry = active_kernels().balance_places(k - 2, radix, digit + 2, v + 2);
        v[1] = digit[1] + carry;
    }
    if (k >= 1) {
        v[0] = lead;
    }
    d[exponent_cell] = static_cast<double>(in->exponent) - shift;
}

} // namespace

extern "C" void mp_mul_i2d(int n, int radix, int nfft, int shift, const mp_number *in, double *d) {
    pack_operand(n, radix, nfft, shift, in, d);
    std::fill(d + 1 + packed_values(nfft), d + 1 + nfft, 0.0);
}

namespace {

// Each digit waits for the state of the less significant one after it, so one chain of
// conversions and multiplications bounds the speed. The digits are therefore released in
// lanes, adjacent runs of digits that run side by side: the lane of the last digits starts
// from the true state, every other lane from a guess (the state after the last few terms of
// the run that follows it, started from zero).
// When the lanes are done, the true state runs on into each lane in turn and rewrites its
// digits until it equals the state the lane had at the same place; from there on the lane's
// digits are the ones a single chain gives, because a digit depends on nothing but the state
// and its term. A carry's difference shrinks by a factor radix per digit, so the true state
// usually meets the lane's within two or three digits.
constexpr int lane_warm_up = 16;     // terms the guess of a lane's start state runs through
constexpr int min_lane_digits = 128; // shorter runs go in one chain
static_assert(min_lane_digits >= lane_checkpoints);

// Releases the digits from, from - 1, ..., to in one chain from `state` (term[i] for digit i),
// and leaves in `state` the state after digit `to`.
inline void release_chain(const digit_release &release, const double *term, int from, int to,
                          int16_t *__restrict digit, carry_state &state) {
    for (int i = from; i >= to; --i) {
        digit[i] = release_digit(release, state, term[i]);
    }
}

// The guess of the state entering digit `top`: the state after the lane_warm_up terms above it,
// released from no carry at all.
carry_state guessed_state(const digit_release &release, const double *term, int top) {
    carry_state guess{0.5, 0};
    for (int i = top + lane_warm_up; i > top; --i) {
        release_digit(release, guess, term[i]);
    }
    return guess;
}

// The true state `exact` enters a lane at its top and rewrites its digits until it equals the
// lane's own state after the same digit, one of its checkpoints: from there on the lane's digits
// are the single chain's, and so is its final state `lane_end`. A lane that it does not meet
// within its checkpoints is released again down to `bottom`. Returns the true state after
// digit `bottom`.
carry_state catch_up(const digit_release &release, const double *term, int top, int bottom,
                     const carry_state (&checkpoint)[lane_checkpoints], const carry_state &lane_end,
                     carry_state exact, int16_t *__restrict digit) {
    for (int k = 0; k < lane_checkpoints; ++k) {
        digit[top - k] = release_digit(release, exact, term[top - k]);
        if (same_state(exact, checkpoint[k])) {
            return lane_end;
        }
    }
    release_chain(release, term, top - lane_checkpoints, bottom, digit, exact);
    return exact;
}

// Releases the digits last, last - 1, ..., 1 from their terms (term[i] for digit i) and
// leaves in `state` the state after digit 1.
void release_carries(const digit_release &release, const double *term, int last,
                     int16_t *__restrict digit, carry_state &state) {
    const int length = last / carry_lanes;
    if (length < min_lane_digits) {
        release_chain(release, term, last, 1, digit, state);
        return;
    }
    // Lane l runs from top[l] down to top[l] - length + 1, from the true state (lane 0) or a
    // guess; the last lane runs on down to 1. Afterwards lane[l] is the state after the lane's
    // last digit as the lane computed it, which is the true one for lane 0.
    int top[carry_lanes];
    carry_state lane[carry_lanes];
    for (int l = 0; l < carry_lanes; ++l) {
        top[l] = last - l * length;
        lane[l] = l == 0 ? state : guessed_state(release, term, top[l]);
    }
    carry_state checkpoint[carry_lanes][lane_checkpoints];
    active_kernels().release->release_lanes(release, term, top, length, digit, lane, checkpoint);
    release_chain(release, term, top[carry_lanes - 1] - length, 1, digit, lane[carry_lanes - 1]);

    carry_state exact = lane[0];
    for (int l = 1; l < carry_lanes; ++l) {
        const int bottom = l == carry_lanes - 1 ? 1 : top[l] - length + 1;
        exact = catch_up(release, term, top[l], bottom, checkpoint[l], lane[l], exact, digit);
    }
    state = exact;
}

// The product's term 0 and what goes with it.
struct leading_term {
    double product; // the signed product of the operands' leading digits, from the lead cell
    double term0;   // term 0 at transform scale: exactly nfft/2 |product|
    int shift;      // 1 when the leading digits multiply to two digits, else 0
};

// Term 0 is exactly the product of the leading digits, which the lead cell carried beside the
// transform; what the transform put in cell 1 beside it is the wrapped term nfft, which goes
// to the lead cell. With a two-digit product, digit i takes term i - 1: digit 0 then comes from
// carries alone.
leading_term unwrap_term0(int radix, int nfft, double *__restrict cell) {
    const double product = cell[lead_cell(nfft)];
    const double term0 = nfft * 0.5 * std::fabs(product);
    cell[lead_cell(nfft)] = cell[1] - term0;
    cell[1] = term0;
    return {product, term0, std::fabs(product) + 0.5 >= radix ? 1 : 0};
}

// The state entering the last digit, from the terms from cell `first` on, which have no digit
// of their own and only matter through their carry: their sum, weighted by radix^-k while the
// weight is at least 2^-52, is split as the carry into the last digit and the one held back.
carry_state tail_state(const digit_release &release, double r, const double *__restrict cell,
                       int first, int nfft) {
    double tail = 0;
    double weight = 1;
    for (int j = first; j <= nfft + 1 && weight >= epsilon; ++j, weight *= r) {
        tail += cell[j] * weight;
    }
    const double u = (tail * release.f + 0.5) * release.rr;
    const double held = truncate_minus_one(u); // carry two places up, added one step later
    const double carry = truncate((u - held) * release.radix + 0.5);
    return {carry + 0.5, held};
}

// Digit 0 from its own scaled term with its +0.5 guard (`lead_part`: only the guard when the
// term went to digit 1) and the state after digit 1. Returns what digit 0 passes on: a digit of
// its own above it.
double release_top_digit(const digit_release &release, double r, double lead_part,
                         const carry_state &state, int16_t *__restrict digit) {
    const double x = lead_part + (state.guarded_carry - 0.5) + release.radix * state.held;
    const double above = truncate(x * r);
    digit[0] = static_cast<int16_t>(x - release.radix * above);
    return above;
}

} // namespace

// Term t of the product sits in cell t + 1 at scale nfft/2. Digit i takes
// cell i + 1 - shift (see unwrap_term0). Each scaled term x (with the carry)
// is split as x = radix^2 P' + radix tv + digit with P' = trunc(x/radix^2) - 1,
// so that v = x/radix - radix P' lies in (0, 2 radix) for terms of either
// sign: tv goes to the next digit, P' to the one after. Every double stays
// far below 2^53, and the +0.5 guards absorb the transform's rounding.
extern "C" void mp_mul_d2i(int n, int radix, int nfft, double *d, mp_number *out) {
    assert(n >= 1 && valid_radix(radix) && valid_nfft(nfft));
    const double r = 1.0 / radix;
    const digit_release release{2.0 / nfft, r * r, static_cast<double>(radix)};
    double *__restrict cell = d;
    int16_t *__restrict digit = out->digit;

    const leading_term lead = unwrap_term0(radix, nfft, cell);
    // The digits that have terms; the others are zero.
    const int produced = std::min(n, nfft + 1 + lead.shift);
    std::fill(digit + produced, digit + n, int16_t{0});

    carry_state state = tail_state(release, r, cell, produced + 1 - lead.shift, nfft);
    release_carries(release, cell + 1 - lead.shift, produced - 1, digit, state);
    const double above = release_top_digit(
        release, r, lead.shift == 1 ? 0.5 : release.f * lead.term0 + 0.5, state, digit);

    // Places the leading digit lies above the sum of the operands' exponents: one for a
    // two-digit leading product, one more for a digit that the carries pushed above it.
    int places = lead.shift;
    if (above >= 1) {
        std::copy_backward(digit, digit + n - 1, digit + n);
        digit[0] = static_cast<int16_t>(above);
        places = lead.shift + 1;
    }
    out->exponent = static_cast<int32_t>(std::floor(cell[exponent_cell] + places + 0.5));
    out->sign = lead.product > 0.5 ? 1 : -1;
    if (digit[0] == 0) {
        out->sign = 0;
        out->exponent = 0;
    }
}

// ---- Bin-pair kernels ----
// Each visits the centre bin and every pair (j, nfft - j); they run on the path the transforms
// chose (pi_fftcs_kernels.cpp). Bins 0 and nfft/2 are the DC pair, left to the wrappers.

extern "C" void mp_mul_rcmul(int nfft, double *a, double *b) {
    assert(valid_nfft(nfft) && nfft > 2 && a != b);
    active_kernels().rcmul(nfft, a, b);
}

extern "C" void mp_mul_rcmul_nt_in1(int nfft, const double *a, double *b) {
    assert(valid_nfft(nfft) && nfft > 2 && a != b);
    active_kernels().rcmul_nt_in1(nfft, a, b);
}

extern "C" void mp_mul_rcmul_nt_in2(int nfft, double *a, double *b) {
    assert(valid_nfft(nfft) && nfft > 2 && a != b);
    active_kernels().rcmul_nt_in2(nfft, a, b);
}

extern "C" void mp_mul_rcmul_nt_out(int nfft, double *a, double *b) {
    assert(valid_nfft(nfft) && nfft > 2 && a != b);
    active_kernels().rcmul_nt_out(nfft, a, b);
}

extern "C" void mp_mul_rcmul_nt_in1_add(int nfft, const double *a, double *b, double *sum) {
    assert(valid_nfft(nfft) && nfft > 2 && a != b && b != sum && a != sum);
    active_kernels().rcmul_nt_in1_add(nfft, a, b, sum);
}

extern "C" void mp_mul_rcsqu(int nfft, double *a) {
    assert(valid_nfft(nfft) && nfft > 2);
    active_kernels().rcsqu(nfft, a);
}

extern "C" void mp_mul_rcsqu_nt_in(int nfft, double *a) {
    assert(valid_nfft(nfft) && nfft > 2);
    active_kernels().rcsqu_nt_in(nfft, a);
}

extern "C" void mp_mul_rcsqu_save(int nfft, double *a, double *b) {
    assert(valid_nfft(nfft) && nfft > 2 && a != b);
    active_kernels().rcsqu_save(nfft, a, b);
}

extern "C" const char *mp_simd_path(void) {
    return simd::name_of(active_kernels().path);
}

// ---- Transform wrappers ----
// Forward transforms of the operands not yet in frequency form, exponents
// added, DC pair and bin pairs multiplied, lead cells multiplied, and the
// result transformed back.

namespace {

// d2 <- d1 * d2 in frequency form, the bin pairs by `pair_kernel`.
template <class D1, class PairKernel>
inline void multiply_spectra(int nfft, D1 *d1, double *d2, PairKernel pair_kernel) {
    d2[exponent_cell] += d1[exponent_cell];
    dc_product(d1, d2, d2);
    if (nfft > 2) {
        pair_kernel(nfft, d1 + 1, d2 + 1);
    }
    d2[lead_cell(nfft)] *= d1[lead_cell(nfft)];
}

// d <- d^2 in frequency form, the bin pairs by `pair_kernel`.
inline void square_spectrum(int nfft, double *d, void (*pair_kernel)(int, double *)) {
    d[exponent_cell] *= 2;
    dc_square(d, d);
    if (nfft > 2) {
        pair_kernel(nfft, d + 1);
    }
    d[lead_cell(nfft)] *= d[lead_cell(nfft)];
}

// How the operands to transform forward were filled: any way (the public wrappers), or by
// pack_operand, whose values after v[nfft/2 + 1] the transform takes as zero without reading
// them. Both give the same spectrum, to the bit.
enum class operands { any, packed };

template <operands kind> inline void forward(int nfft, double *d) {
    if constexpr (kind == operands::packed) {
        cftfsub_upper_half_zero(nfft, d + 1);
    } else {
        forward_transform(nfft, d);
    }
}

template <operands kind> void cmul(int nfft, double *d1, double *d2) {
    assert(valid_nfft(nfft) && d1 != d2);
    forward<kind>(nfft, d1);
    forward<kind>(nfft, d2);
    multiply_spectra(nfft, d1, d2, mp_mul_rcmul);
    backward_transform(nfft, d2);
}

template <operands kind> void cmul_nt_d1(int nfft, const double *d1, double *d2) {
    assert(valid_nfft(nfft) && d1 != d2);
    forward<kind>(nfft, d2);
    multiply_spectra(nfft, d1, d2, mp_mul_rcmul_nt_in1);
    backward_transform(nfft, d2);
}

template <operands kind> void cmul_nt_d2(int nfft, double *d1, double *d2) {
    assert(valid_nfft(nfft) && d1 != d2);
    forward<kind>(nfft, d1);
    multiply_spectra(nfft, d1, d2, mp_mul_rcmul_nt_in2);
    backward_transform(nfft, d2);
}

template <operands kind> void cmul_nt_out(int nfft, double *d1, double *d2) {
    assert(valid_nfft(nfft) && d1 != d2);
    forward<kind>(nfft, d1);
    forward<kind>(nfft, d2);
    multiply_spectra(nfft, d1, d2, mp_mul_rcmul_nt_out);
}

template <operands kind> void cmul_nt_d1_add(int nfft, const double *d1, double *d2, double *d3) {
    assert(valid_nfft(nfft) && d1 != d2 && d2 != d3 && d1 != d3);
    forward<kind>(nfft, d2);
    dc_product_add(d1, d2, d3);
    if (nfft > 2) {
        mp_mul_rcmul_nt_in1_add(nfft, d1 + 1, d2 + 1, d3 + 1);
    }
    d3[lead_cell(nfft)] += d1[lead_cell(nfft)] * d2[lead_cell(nfft)];
    backward_transform(nfft, d3);
}

template <operands kind> void csqu(int nfft, double *d1) {
    assert(valid_nfft(nfft));
    forward<kind>(nfft, d1);
    square_spectrum(nfft, d1, mp_mul_rcsqu);
    backward_transform(nfft, d1);
}

template <operands kind> void csqu_save_d1(int nfft, double *d1, double *d2) {
    assert(valid_nfft(nfft) && d1 != d2);
    forward<kind>(nfft, d1);
    d2[exponent_cell] = 2 * d1[exponent_cell];
    dc_square(d1, d2);
    if (nfft > 2) {
        mp_mul_rcsqu_save(nfft, d1 + 1, d2 + 1);
    }
    d2[lead_cell(nfft)] = d1[lead_cell(nfft)] * d1[lead_cell(nfft)];
    backward_transform(nfft, d2);
}

} // namespace

extern "C" void mp_mul_cmul(int nfft, double *d1, double *d2) {
    cmul<operands::any>(nfft, d1, d2);
}

extern "C" void mp_mul_cmul_nt_d1(int nfft, const double *d1, double *d2) {
    cmul_nt_d1<operands::any>(nfft, d1, d2);
}

extern "C" void mp_mul_cmul_nt_d2(int nfft, double *d1, double *d2) {
    cmul_nt_d2<operands::any>(nfft, d1, d2);
}

extern "C" void mp_mul_cmul_nt_out(int nfft, double *d1, double *d2) {
    cmul_nt_out<operands::any>(nfft, d1, d2);
}

extern "C" void mp_mul_cmul_nt_d1_add(int nfft, const double *d1, double *d2, double *d3) {
    cmul_nt_d1_add<operands::any>(nfft, d1, d2, d3);
}

extern "C" void mp_mul_csqu(int nfft, double *d1) {
    csqu<operands::any>(nfft, d1);
}

extern "C" void mp_mul_csqu_nt_d1(int nfft, double *d1) {
    assert(valid_nfft(nfft));
    square_spectrum(nfft, d1, mp_mul_rcsqu_nt_in);
    backward_transform(nfft, d1);
}

extern "C" void mp_mul_csqu_save_d1(int nfft, double *d1, double *d2) {
    csqu_save_d1<operands::any>(nfft, d1, d2);
}

// Worst distance of the scaled terms (with carries, as the conversion
// releases them) from whole numbers; the wrapped term is rebuilt first.
extern "C" double mp_mul_d2i_test(int radix, int nfft, double *d) {
    assert(valid_radix(radix));
    if (nfft <= 0) {
        return 0;
    }
    const double dradix = radix;
    const double rr = (1.0 / radix) * (1.0 / radix);
    const double f = 1.0 / nfft;
    d[lead_cell(nfft)] = d[1] - std::fabs(nfft * 0.5 * d[lead_cell(nfft)]);
    double carry = 0;
    double held = 0;
    double worst = 0;
    for (int i = nfft + 1; i >= 2; --i) {
        const double x = carry + 0.5 + f * (2 * d[i]);
        const double u = x * rr;
        const double next_held = std::trunc(u) - 1;
        const double v = (u - next_held) * dradix;
        const double y = (v - std::trunc(v)) * dradix;
        worst = std::max(worst, std::fabs((y - 0.5) - std::trunc(y)));
        carry = std::trunc(v) + held;
        held = next_held;
    }
    return worst;
}

// The worst case: every packed value at the top of its range, all of one sign,
// so that every convolution term is as large as packing allows.
extern "C" double mp_mul_radix_test(int n, int radix, int nfft, double *d) {
    assert(valid_radix(radix) && valid_nfft(nfft));
    const int k = nfft / 2 < n ? nfft / 2 + 1 : n;
    d[lead_cell(nfft)] = radix - 1;
    std::fill(d + std::max(k + 1, 1), d + 1 + packed_values(nfft), 0.0);
    if (k >= 3) {
        std::fill(d + 3, d + k + 1, static_cast<double>((radix + 1) / 2));
    }
    d[2] = radix;
    d[1] = radix - 1;
    d[exponent_cell] = 0;
    csqu<operands::packed>(nfft, d);
    return 2 * mp_mul_d2i_test(radix, nfft, d);
}

// ---- Full and half-precision products ----

namespace {

// The first position p >= from where either number has a non-zero digit, or
// max(from, n) when there is none.
int split_index(int n, int from, const mp_number *a, const mp_number *b) {
    for (int p = from; p < n; ++p) {
        if (a->digit[p] != 0 || b->digit[p] != 0) {
            return p;
        }
    }
    return std::max(from, n);
}

// Digits a partial product needs: enough to reach the last digit of the sum.
inline int partial_digits(int n, int p) {
    return std::max(n - p, n / 2 + 1);
}

// Converts a partial product to its first e digits and clears the rest of the
// n digits, which the following mp_add reads whatever out held before.
void convert_partial(int n, int e, int radix, int nfft, double *d, mp_number *out) {
    assert(e >= 1 && e <= n);
    mp_mul_d2i(e, radix, nfft, d, out);
    std::fill(out->digit + e, out->digit + n, int16_t{0});
}

} // namespace

// The trailing parts share one split index p, so both cross products carry
// the exponent in1.exponent + in2.exponent - p and add in frequency form before
// one backward transform. lo*lo lies about 2p >= nfft + 2 places below the
// leading product, outside the n digits kept.
extern "C" void mp_mul(int n, int radix, const mp_number *in1, const mp_number *in2, mp_number *out,
                       mp_number *tmp, int nfft, double *d1, double *d2, double *d3) {
    assert(n >= 1 && valid_radix(radix) && valid_nfft(nfft));
    assert(d1 != d2 && d2 != d3 && d1 != d3);
    assert(tmp != in1 && tmp != in2 && tmp != out);
    assert(is_normalised(n, radix, in1) && is_normalised(n, radix, in2));
    const int h = nfft / 2 + 1;
    const int p = split_index(n, h, in1, in2);

    pack_operand(n, radix, nfft, 0, in1, d1);
    pack_operand(n, radix, nfft, p, in2, d3);
    cmul_nt_out<operands::packed>(nfft, d1, d3); // d3: bins of in1_hi * in2_lo

    pack_operand(n, radix, nfft, 0, in2, d2);
    cmul_nt_d2<operands::packed>(nfft, d2, d1); // d1: in1_hi * in2_hi; d2 keeps in2_hi
    mp_mul_d2i(n, radix, nfft, d1, tmp);

    pack_operand(n, radix, nfft, p, in1, d1);
    cmul_nt_d1_add<operands::packed>(nfft, d2, d1, d3); // d3 += in2_hi * in1_lo
    convert_partial(n, partial_digits(n, p), radix, nfft, d3, out);
    mp_add(n, radix, out, tmp, out);
}

// in^2 = in_hi^2 + 2 in_hi in_lo; the doubling is done on the converted cross
// product, which costs no transform.
extern "C" void mp_squ(int n, int radix, const mp_number *in, mp_number *out, mp_number *tmp,
                       int nfft, double *d1, double *d2) {
    assert(n >= 1 && valid_radix(radix) && valid_nfft(nfft) && d1 != d2);
    assert(tmp != in && tmp != out && is_normalised(n, radix, in));
    const int p = split_index(n, nfft / 2 + 1, in, in);
    const int e = partial_digits(n, p);

    pack_operand(n, radix, nfft, 0, in, d1);
    pack_operand(n, radix, nfft, p, in, d2);
    cmul<operands::packed>(nfft, d1, d2);
    convert_partial(n, e, radix, nfft, d2, tmp);
    mp_add(e, radix, tmp, tmp, tmp);

    mp_mul_csqu_nt_d1(nfft, d1);
    mp_mul_d2i(n, radix, nfft, d1, out);
    mp_add(n, radix, out, tmp, out);
}

// Only in1's leading part enters: the result is in1_hi * in2 to n digits.
extern "C" void mp_mulhf(int n, int radix, const mp_number *in1, const mp_number *in2,
                         mp_number *out, mp_number *tmp, int nfft, double *d1, double *d2) {
    assert(n >= 1 && valid_radix(radix) && valid_nfft(nfft) && d1 != d2);
    assert(tmp != in1 && tmp != in2 && tmp != out);
    assert(is_normalised(n, radix, in1) && is_normalised(n, radix, in2));
    const int p = split_index(n, nfft / 2 + 1, in2, in2);

    pack_operand(n, radix, nfft, 0, in1, d1);
    pack_operand(n, radix, nfft, 0, in2, d2);
    cmul<operands::packed>(nfft, d1, d2);
    mp_mul_d2i(n, radix, nfft, d2, tmp);

    pack_operand(n, radix, nfft, p, in2, d2);
    cmul_nt_d1<operands::packed>(nfft, d1, d2);
    convert_partial(n, partial_digits(n, p), radix, nfft, d2, out);
    mp_add(n, radix, out, tmp, out);
}

extern "C" void mp_mulhf_use_in1fft(int n, int radix, const double *d1, const mp_number *in2,
                                    mp_number *out, mp_number *tmp, int nfft, double *d2) {
    assert(n >= 1 && valid_radix(radix) && valid_nfft(nfft) && d1 != d2);
    assert(tmp != in2 && tmp != out && is_normalised(n, radix, in2));
    const int p = split_index(n, nfft / 2 + 1, in2, in2);

    pack_operand(n, radix, nfft, 0, in2, d2);
    cmul_nt_d1<operands::packed>(nfft, d1, d2);
    mp_mul_d2i(n, radix, nfft, d2, tmp);

    pack_operand(n, radix, nfft, p, in2, d2);
    cmul_nt_d1<operands::packed>(nfft, d1, d2);
    convert_partial(n, partial_digits(n, p), radix, nfft, d2, out);
    mp_add(n, radix, out, tmp, out);
}

// With X = in_hi kept in d1: X * in = X^2 + X * in_lo, the cross term once.
extern "C" void mp_squhf_use_infft(int n, int radix, double *d1, const mp_number *in,
                                   mp_number *out, mp_number *tmp, int nfft, double *d2) {
    assert(n >= 1 && valid_radix(radix) && valid_nfft(nfft) && d1 != d2);
    assert(tmp != in && tmp != out && is_normalised(n, radix, in));
    const int p = split_index(n, nfft / 2 + 1, in, in);

    pack_operand(n, radix, nfft, p, in, d2);
    cmul_nt_d1<operands::packed>(nfft, d1, d2);
    convert_partial(n, partial_digits(n, p), radix, nfft, d2, tmp);

    mp_mul_csqu_nt_d1(nfft, d1);
    mp_mul_d2i(n, radix, nfft, d1, out);
    mp_add(n, radix, out, tmp, out);
}

extern "C" void mp_mulh(int n, int radix, const mp_number *in1, const mp_number *in2,
                        mp_number *out, int nfft, double *d1, double *d2) {
    assert(n >= 1 && valid_radix(radix) && valid_nfft(nfft) && d1 != d2);
    assert(is_normalised(n, radix, in1) && is_normalised(n, radix, in2));
    pack_operand(n, radix, nfft, 0, in1, d1);
    pack_operand(n, radix, nfft, 0, in2, d2);
    cmul<operands::packed>(nfft, d1, d2);
    mp_mul_d2i(n, radix, nfft, d2, out);
}

// Digits before shift do not take part; leading zeros from there on are
// skipped so that the packed part starts with a non-zero digit.
extern "C" void mp_mulh_use_in1fft(int n, int radix, const double *d1, int shift,
                                   const mp_number *in2, mp_number *out, int nfft, double *d2) {
    assert(n >= 1 && valid_radix(radix) && valid_nfft(nfft) && d1 != d2 && shift >= 0);
    assert(is_normalised(n, radix, in2));
    const int p = split_index(n, shift, in2, in2);
    pack_operand(n, radix, nfft, p, in2, d2);
    cmul_nt_d1<operands::packed>(nfft, d1, d2);
    mp_mul_d2i(n, radix, nfft, d2, out);
}

extern "C" void mp_squh(int n, int radix, const mp_number *in, mp_number *out, int nfft,
                        double *d1) {
    assert(n >= 1 && valid_radix(radix) && valid_nfft(nfft) && is_normalised(n, radix, in));
    pack_operand(n, radix, nfft, 0, in, d1);
    csqu<operands::packed>(nfft, d1);
    mp_mul_d2i(n, radix, nfft, d1, out);
}

extern "C" void mp_squh_save_infft(int n, int radix, const mp_number *in, mp_number *out, int nfft,
                                   double *d1, double *d2) {
    assert(n >= 1 && valid_radix(radix) && valid_nfft(nfft) && d1 != d2);
    assert(is_normalised(n, radix, in));
    pack_operand(n, radix, nfft, 0, in, d1);
    csqu_save_d1<operands::packed>(nfft, d1, d2);
    mp_mul_d2i(n, radix, nfft, d2, out);
}

extern "C" void mp_squh_use_in1fft(int n, int radix, double *d1, mp_number *out, int nfft) {
    assert(n >= 1 && valid_radix(radix) && valid_nfft(nfft));
    mp_mul_csqu_nt_d1(nfft, d1);
    mp_mul_d2i(n, radix, nfft, d1, out);
}

// ---- Newton iterations ----

// Horner from the last digit: v = v/radix + digit, each step one fused
// multiply-add with 1/radix.
extern "C" double mp_unexp_mp2d(int n, int radix, const int16_t *digits) {
    assert(valid_radix(radix));
    const double r = 1.0 / radix;
    double v = 0;
    for (int k = n - 1; k >= 0; --k) {
        v = std::fma(v, r, digits[k]);
    }
    return v;
}

extern "C" void mp_unexp_d2mp(int n, int radix, double value, int16_t *digits) {
    assert(valid_radix(radix) && value >= 0);
    double v = value;
    for (int k = 0; k < n; ++k) {
        const double t = std::trunc(v);
        if (t >= radix) {
            // Rounded up to radix: saturate; v stays radix from here on.
            digits[k] = static_cast<int16_t>(radix - 1);
            v = radix;
        } else {
            digits[k] = static_cast<int16_t>(t);
        }
        v = (v - digits[k]) * radix;
    }
}

// Doubles the length until radix^L carries a double's 52 bits.
extern "C" int mp_get_nfft_init(int radix, int nfft_max) {
    assert(valid_radix(radix));
    int length = 1;
    double power = radix; // radix^length
    do {
        power *= power;
        length *= 2;
    } while (power * epsilon < 1 && length < nfft_max);
    return length;
}

namespace {

// Scales a positive double m into [1, radix) by whole powers of the radix,
// lowering *exponent by one for each. Only a malformed number, which a machine
// that computes wrongly can make, gives an m that is not positive and finite;
// such an m is taken as 1, so that the computation still ends (rather than
// scaling forever) and its check reports the wrong digits.
inline double scaled_up(double m, int radix, int32_t *exponent) {
    if (!std::isfinite(m) || m <= 0) {
        return 1;
    }
    while (m < 1) {
        m *= radix;
        --*exponent;
    }
    return m;
}

} // namespace

extern "C" void mp_inv_init(int n, int radix, const mp_number *in, mp_number *out) {
    assert(n >= 1 && valid_radix(radix) && in->sign != 0 && in != out);
    // 1/in = (1/h) radix^-exponent with 1/h in (1/radix, 1].
    int32_t exponent = -in->exponent;
    const double m = scaled_up(1 / mp_unexp_mp2d(n, radix, in->digit), radix, &exponent);
    out->sign = in->sign;
    out->exponent = exponent;
    mp_unexp_d2mp(n, radix, m, out->digit);
}

extern "C" void mp_sqrt_init(int n, int radix, const mp_number *in, mp_number *out,
                             mp_number *out_rev) {
    assert(n >= 1 && valid_radix(radix) && in->sign > 0 && in != out && out != out_rev);
    // in = h radix^E: an odd E lends one radix to the mantissa.
    const int32_t e = in->exponent;
    const double h = mp_unexp_mp2d(n, radix, in->digit);
    double s = (e & 1) != 0 ? std::sqrt(h * radix) : std::sqrt(h);
    int32_t exponent = e >> 1; // floor(E/2)
    s = scaled_up(s, radix, &exponent);
    out->sign = 1;
    out->exponent = exponent;
    mp_unexp_d2mp(n, radix, s, out->digit);

    int32_t rev_exponent = -exponent;
    const double m = scaled_up(1 / s, radix, &rev_exponent);
    out_rev->sign = 1;
    out_rev->exponent = rev_exponent;
    mp_unexp_d2mp(n, radix, m, out_rev->digit);
}

extern "C" void mp_invisqrt_init(int n, int radix, int x, mp_number *out) {
    assert(n >= 1 && valid_radix(radix) && x >= 1);
    int32_t exponent = 0;
    const double m = scaled_up(std::sqrt(1.0 / x), radix, &exponent);
    out->sign = 1;
    out->exponent = exponent;
    mp_unexp_d2mp(n, radix, m, out->digit);
}

// x <- x + x (1 - in x). The residual's exponent tells how many digits of x
// were right; x needs only its leading half, and the fresh digits sit below
// position shift, so in's digits from there on finish the product in x_hi.
extern "C" int mp_inv_newton(int n, int radix, const mp_number *in, mp_number *inout,
                             mp_number *tmp1, mp_number *tmp2, int nfft, double *fft1,
                             double *fft2) {
    assert(n >= 1 && n <= nfft + 2 && valid_radix(radix) && valid_nfft(nfft));
    assert(in != inout && tmp1 != tmp2 && fft1 != fft2);
    const int shift = nfft / 2 + 1;
    const int n_h = std::max(n - shift, n / 2 + 1);

    mp_round(n, radix, shift, inout);
    mp_mulh(n, radix, inout, in, tmp1, nfft, fft1, fft2); // fft1 keeps x_hi
    mp_load_1(n, radix, tmp2);
    mp_sub(n, radix, tmp2, tmp1, tmp2);
    mp_mulh_use_in1fft(n, radix, fft1, shift, in, tmp1, nfft, fft2);
    mp_sub(n_h, radix, tmp2, tmp1, tmp2);
    const int prc = tmp2->sign == 0 ? nfft + 1 : -tmp2->exponent;

    mp_mulh_use_in1fft(n_h, radix, fft1, 0, tmp2, tmp2, nfft, fft2);
    mp_add(n, radix, inout, tmp2, inout);
    return prc;
}

// Coupled step for s ~ sqrt(in) and r ~ 1/s: r <- r + r (1 - s r) at half
// precision, then s <- s + r (in - s^2)/2. The transform of s from the
// product s r is squared for in - s^2, and the transform of the rounded r
// stays in fft1 for the next step, whose r^2 at this length reuses it.
extern "C" int mp_sqrt_newton(int n, int radix, const mp_number *in, mp_number *inout,
                              mp_number *inout_rev, mp_number *tmp, int nfft, double *fft1,
                              double *fft2, int *n_fft1) {
    assert(n >= 1 && n <= nfft + 2 && valid_radix(radix) && valid_nfft(nfft));
    assert(in != inout && inout != inout_rev && tmp != inout && tmp != inout_rev);
    assert(fft1 != fft2 && n_fft1 != nullptr);
    const int half = nfft / 2;
    const int shift = half + 1;
    const int q = std::max(half, 2);
    const int n_h = std::max(n / 2 + 1, n - shift);

    // r^2 at half the length; r is already rounded so when the last step left it.
    mp_round(n_h, radix, q / 2 + 1, inout_rev);
    if (*n_fft1 == q) {
        mp_squh_use_in1fft(n_h, radix, fft1, tmp, q);
    } else {
        mp_squh(n_h, radix, inout_rev, tmp, q, fft1);
    }
    // s r: the whole rounded s is packed, for fft1 keeps its transform for s^2; r^2 has
    // only n_h digits. (For n = nfft + 2 both packings hold nfft/2 + 1 digits.)
    mp_round(n, radix, shift, inout);
    pack_operand(n, radix, nfft, 0, inout, fft1);
    pack_operand(n_h, radix, nfft, 0, tmp, fft2);
    cmul<operands::packed>(nfft, fft1, fft2); // fft1 keeps s_hi
    mp_mul_d2i(n_h, radix, nfft, fft2, tmp);
    mp_sub(n_h, radix, inout_rev, tmp, tmp);
    mp_add(n_h, radix, inout_rev, tmp, inout_rev);

    mp_squh_use_in1fft(n, radix, fft1, tmp, nfft);
    mp_sub(n, radix, in, tmp, tmp);
    // Correct digits of s: the places between in and its residual, one more
    // when the residual's leading digit is the smaller.
    const int prc = tmp->sign == 0
                        ? nfft + 1
                        : (in->exponent - tmp->exponent) + (tmp->digit[0] < in->digit[0] ? 1 : 0);

    mp_round(n_h, radix, shift, inout_rev);
    mp_mulh(n_h, radix, inout_rev, tmp, tmp, nfft, fft1, fft2); // fft1 keeps r_hi
    *n_fft1 = nfft;
    mp_idiv_2(n_h, radix, tmp, tmp);
    mp_add(n, radix, inout, tmp, inout);
    return prc;
}

// y <- y + y (1 - x y^2)/2; the transform of y from the square finishes the
// correction.
extern "C" int mp_invisqrt_newton(int n, int radix, int x, mp_number *inout, mp_number *tmp1,
                                  mp_number *tmp2, int nfft, double *fft1, double *fft2) {
    assert(n >= 1 && n <= nfft + 2 && valid_radix(radix) && valid_nfft(nfft));
    assert(inout != tmp1 && inout != tmp2 && tmp1 != tmp2 && fft1 != fft2);
    const int shift = nfft / 2 + 1;
    const int n_h = std::max(n - shift, n / 2 + 1);

    mp_round(n, radix, shift, inout);
    mp_squh_save_infft(n, radix, inout, tmp1, nfft, fft1, fft2); // fft1 keeps y_hi
    mp_imul(n, radix, tmp1, x, tmp1);
    mp_load_1(n, radix, tmp2);
    mp_sub(n, radix, tmp2, tmp1, tmp2);
    const int prc = tmp2->sign == 0 ? nfft + 1 : -tmp2->exponent;

    mp_mulh_use_in1fft(n_h, radix, fft1, 0, tmp2, tmp2, nfft, fft2);
    mp_idiv_2(n_h, radix, tmp2, tmp2);
    mp_add(n, radix, inout, tmp2, inout);
    return prc;
}

namespace {

inline int start_digits(int n, int radix, int nfft) {
    return std::min(mp_get_nfft_init(radix, nfft) + 2, n);
}

} // namespace

extern "C" int mp_inv(int n, int radix, const mp_number *in, mp_number *out, mp_number *tmp1,
                      mp_number *tmp2, int nfft, double *fft1, double *fft2) {
    assert(n >= 2 && n <= nfft + 2 && valid_radix(radix) && valid_nfft(nfft));
    assert(in != out && tmp1 != tmp2 && fft1 != fft2);
    if (in->sign == 0) {
        return -1;
    }
    mp_inv_init(start_digits(n, radix, nfft), radix, in, out);
    mp_newton::run_schedule(n, radix, nfft, [&](int n_l, int length) {
        return mp_inv_newton(n_l, radix, in, out, tmp1, tmp2, length, fft1, fft2);
    });
    return 0;
}

// tmp1 carries 1/sqrt(in) through the steps and keeps it at the end.
extern "C" int mp_sqrt(int n, int radix, const mp_number *in, mp_number *out, mp_number *tmp1,
                       mp_number *tmp2, int nfft, double *fft1, double *fft2) {
    assert(n >= 2 && n <= nfft + 2 && valid_radix(radix) && valid_nfft(nfft));
    assert(in != out && tmp1 != tmp2 && fft1 != fft2);
    if (in->sign < 0) {
        return -1;
    }
    if (in->sign == 0) {
        mp_load_0(n, radix, out);
        return 0;
    }
    mp_sqrt_init(start_digits(n, radix, nfft), radix, in, out, tmp1);
    int n_fft1 = 0;
    mp_newton::run_schedule(n, radix, nfft, [&](int n_l, int length) {
        return mp_sqrt_newton(n_l, radix, in, out, tmp1, tmp2, length, fft1, fft2, &n_fft1);
    });
    return 0;
}

extern "C" int mp_invisqrt(int n, int radix, int x, mp_number *out, mp_number *tmp1,
                           mp_number *tmp2, int nfft, double *fft1, double *fft2) {
    assert(n >= 2 && n <= nfft + 2 && valid_radix(radix) && valid_nfft(nfft));
    assert(out != tmp1 && tmp1 != tmp2 && fft1 != fft2);
    if (x < 1) {
        return -1;
    }
    mp_invisqrt_init(start_digits(n, radix, nfft), radix, x, out);
    mp_newton::run_schedule(n, radix, nfft, [&](int n_l, int length) {
        return mp_invisqrt_newton(n_l, radix, x, out, tmp1, tmp2, length, fft1, fft2);
    });
    return 0;
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

inline int radix_of(int log10_radix) {
    int radix = 1;
    for (int i = 0; i < log10_radix; ++i) {
        radix *= 10;
    }
    return radix;
}

// Division rounded toward minus infinity.
inline int64_t floor_div(int64_t a, int64_t b) {
    return a / b - (a % b != 0 && (a < 0) != (b < 0));
}

// The scanner: what the packer needs to know of a numeral.
struct numeral {
    int32_t sign;
    const char *digits; // the significant digits, from the first that counts
    int64_t exponent;   // decimal exponent of the first significant digit
};

// Leading spaces and the sign: '-' gives -1; '+', or no sign at all, +1.
const char *scan_sign(const char *c, int32_t &sign) {
    while (*c == ' ') {
        ++c;
    }
    sign = *c == '-' ? -1 : 1;
    if (*c == '+' || *c == '-') {
        ++c;
    }
    return c;
}

// Leading zeros, and the spaces among them.
const char *skip_leading_zeros(const char *c) {
    while (*c == ' ' || *c == '0') {
        ++c;
    }
    return c;
}

// The exponent after the first exponent letter anywhere from c on; 0 when there is none.
int64_t scan_exponent(const char *c) {
    for (; *c != '\0'; ++c) {
        if (is_exponent_letter(*c)) {
            return read_exponent(c + 1);
        }
    }
    return 0;
}

// Digits from c up to the point or the end of the digits, spaces not counted: the places
// between the first significant digit of a whole part and the units.
int64_t count_whole_places(const char *c) {
    int64_t count = 0;
    for (; is_decimal_digit(*c) || *c == ' '; ++c) {
        if (*c != ' ') {
            count = std::min(count + 1, exponent_limit);
        }
    }
    return count;
}

// After a leading point: each zero (spaces skipped) puts the first significant digit one
// place lower. Returns where that digit's part of the text begins.
const char *scan_fraction_zeros(const char *c, int64_t &exponent) {
    for (; *c == '0' || *c == ' '; ++c) {
        if (*c == '0') {
            exponent = saturate(exponent - 1);
        }
    }
    return c;
}

numeral scan_numeral(const char *text) {
    numeral x{};
    const char *c = skip_leading_zeros(scan_sign(text, x.sign));
    x.exponent = scan_exponent(c);
    if (*c == '.') {
        --x.exponent;
        c = scan_fraction_zeros(c + 1, x.exponent);
    } else if (*c != '\0') {
        x.exponent += count_whole_places(c + 1);
    }
    x.digits = c;
    return x;
}

// The packer: n radix digits of log10_radix decimal digits each from the text at c, the first
// radix digit taking first_places (1 ... log10_radix) of them. Spaces and points are skipped
// and any other character ends the digits: the last radix digit's missing places are zeros,
// the digits after it zero. Decimal digits past the n-th radix digit are dropped unrounded.
void pack_digits(int n, int log10_radix, const char *c, int first_places, int16_t *digit) {
    int k = 0;
    int acc = 0;
    int places_left = first_places - 1; // in digit[k] after the one just read
    for (;; ++c) {
        if (*c == ' ' || *c == '.') {
            continue;
        }
        if (!is_decimal_digit(*c)) {
            break;
        }
        acc = 10 * acc + (*c - '0');
        if (places_left > 0) {
            --places_left;
            continue;
        }
        if (k == n) {
            return; // truncation: the rest of the text is ignored
        }
        digit[k++] = static_cast<int16_t>(acc);
        acc = 0;
        places_left = log10_radix - 1;
    }
    if (k < n) {
        for (int i = 0; i <= places_left; ++i) {
            acc *= 10;
        }
        digit[k] = static_cast<int16_t>(acc);
        std::fill(digit + k + 1, digit + n, int16_t{0});
    }
}

} // namespace

extern "C" void mp_sscanf(int n, int log10_radix, const char *text, mp_number *out) {
    assert(n >= 1 && log10_radix >= 1 && log10_radix <= 4 && text != nullptr);
    const numeral x = scan_numeral(text);
    // The radix digit that holds the first significant digit, and how many of the decimal
    // digits it takes.
    const int64_t radix_exponent = floor_div(x.exponent, log10_radix);
    const int first_places = static_cast<int>(x.exponent - log10_radix * radix_exponent) + 1;
    out->sign = x.sign;
    out->exponent = static_cast<int32_t>(std::clamp<int64_t>(radix_exponent, INT32_MIN, INT32_MAX));
    pack_digits(n, log10_radix, x.digits, first_places, out->digit);
    // A leading zero digit makes the number zero. A second point among the
    // leading zeros (".0.05") lets zeros reach digit[0] ahead of later
    // non-zero digits, so clear them all: zero must have only zero digits.
    if (out->digit[0] == 0) {
        out->sign = 0;
        out->exponent = 0;
        std::fill(out->digit, out->digit + n, int16_t{0});
    }
}

extern "C" void mp_sprintf(int n, int log10_radix, const mp_number *in, char *out) {
    assert(n >= 1 && log10_radix >= 1 && log10_radix <= 4);
    assert(is_normalised(n, radix_of(log10_radix), in));
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
