// Internal to the arithmetic: the carry release of the conversion back, shared by pi_fftcs.cpp
// and the lane kernels of pi_fftcs_release.cpp, portable and in AVX2 registers. Everything but
// the records and the kernel tables has internal linkage, so that each translation unit keeps
// the copies compiled for its own instruction set.
#ifndef TESSARY_PI_FFTCS_RELEASE_H
#define TESSARY_PI_FFTCS_RELEASE_H

#include "fft/simd_path.h"

#include <cassert>
#include <cmath>
#include <cstdint>

namespace mp_release {

// The records passed between translation units have no member functions: an inline member
// compiled for AVX2 could be the copy the linker keeps for the portable code.

// The carry release between two digits: the carry with its +0.5 guard already added, and
// the carry two places up, held back one step. This pair is all that one digit passes to the
// next.
struct carry_state {
    double guarded_carry, held;
};

// The constants of one conversion back: the scale 2/nfft of the terms, 1/radix^2 and radix.
struct digit_release {
    double f, rr, radix;
};

// The digits are released in lanes, adjacent runs of digits that run side by side (see
// release_carries in pi_fftcs.cpp).
constexpr int carry_lanes = 8;
constexpr int lane_checkpoints = 64; // states kept per lane for the catch-up

// The side-by-side run of the lanes: lane l releases the digits top[l], top[l] - 1, ...,
// top[l] - length + 1 from state[l], keeps its state after each of its first
// lane_checkpoints digits in checkpoint[l], and leaves its final state in state[l].
// length >= lane_checkpoints.
using lanes_kernel = void(const digit_release &release, const double *term,
                          const int (&top)[carry_lanes], int length, int16_t *digit,
                          carry_state (&state)[carry_lanes],
                          carry_state (&checkpoint)[carry_lanes][lane_checkpoints]);

// A lane kernel and the instruction set it was compiled for. Each path's arithmetic table
// names the one it runs (pi_fftcs_kernels.cpp).
struct lanes_table {
    simd::path path;
    lanes_kernel *release_lanes;
};

namespace baseline {
extern const lanes_table lanes; // one digit of each lane in turn
}
namespace avx2 {
extern const lanes_table lanes; // four lanes per register, in two registers
}

namespace {

inline bool same_state(const carry_state &a, const carry_state &b) {
    return a.guarded_carry == b.guarded_carry && a.held == b.held;
}

// trunc by the processor's truncating conversion, for |x| < 2^63: without SSE4.1, std::trunc
// compiles to a range test, a branch and a sign fix-up around the same conversion, all on the
// carry chains. It gives +0 where trunc gives -0; every caller adds the result to a non-zero
// value, multiplies and adds it, or stores it as an integer, so no result changes.
inline double truncate(double x) {
    assert(std::fabs(x) < 0x1p62);
    return static_cast<double>(static_cast<int64_t>(x));
}

// truncate(x) - 1, with the subtraction done before the conversion back to double.
inline double truncate_minus_one(double x) {
    assert(std::fabs(x) < 0x1p62);
    return static_cast<double>(static_cast<int64_t>(x) - 1);
}

// The truncations of one digit, on one double.
struct scalar_truncation {
    static double truncate(double x) { return mp_release::truncate(x); }
    static double truncate_minus_one(double x) { return mp_release::truncate_minus_one(x); }
};

// One digit of the carry release (see mp_mul_d2i): from the state and the digit's term, the
// digit (as a double) and the state passed on. guarded_carry = tv + (held + 0.5) equals
// (tv + held) + 0.5 exactly (whole and half numbers far below 2^52) and takes one addition
// less on the chain from digit to digit.
// The same operations run on a double or on a vector of lanes, with the truncations of
// Truncation. Each is exact or correctly rounded, so a lane gives the digit a double gives on
// every instruction set, as long as no multiplication and addition are fused.
template <class Truncation, class T>
inline T release_step(const digit_release &r, T &guarded_carry, T &held, T term) {
    const T x = guarded_carry + r.f * term;
    const T u = x * r.rr;
    const T next_held = Truncation::truncate_minus_one(u);
    const T v = (u - next_held) * r.radix;
    const T tv = Truncation::truncate(v);
    guarded_carry = tv + (held + 0.5);
    held = next_held;
    return (v - tv) * r.radix;
}

inline int16_t release_digit(const digit_release &r, carry_state &s, double term) {
    return static_cast<int16_t>(release_step<scalar_truncation>(r, s.guarded_carry, s.held, term));
}

// The schedule of every lanes_kernel: step(k) releases digit top[l] - k of every lane l, and
// state_of(l) is lane l's state, kept after each of the first lane_checkpoints steps.
template <class Step, class StateOf>
inline void run_lanes(int length, Step step, StateOf state_of,
                      carry_state (&checkpoint)[carry_lanes][lane_checkpoints]) {
    for (int k = 0; k < lane_checkpoints; ++k) {
        step(k);
        for (int l = 0; l < carry_lanes; ++l) {
            checkpoint[l][k] = state_of(l);
        }
    }
    for (int k = lane_checkpoints; k < length; ++k) {
        step(k);
    }
}

} // namespace
} // namespace mp_release

#endif
