// The lane kernels of the carry release: compiled plainly, the portable one that releases one
// digit of each lane in turn; compiled for AVX2 (on the paths that have it), the lanes in AVX2
// registers, with contraction to FMA off: every lane then computes exactly what the portable
// kernel computes for the same digit.
#include "arithmetic/pi_fftcs_release.h"

#ifndef __AVX2__

namespace mp_release::baseline {
namespace {

void release_lanes(const digit_release &release, const double *term, const int (&top)[carry_lanes],
                   int length, int16_t *__restrict digit, carry_state (&lane)[carry_lanes],
                   carry_state (&checkpoint)[carry_lanes][lane_checkpoints]) {
    run_lanes(
        length,
        [&](int k) {
            for (int l = 0; l < carry_lanes; ++l) {
                digit[top[l] - k] = release_digit(release, lane[l], term[top[l] - k]);
            }
        },
        [&](int l) { return lane[l]; }, checkpoint);
}

} // namespace

extern const lanes_table lanes = {simd::path::baseline, release_lanes};

} // namespace mp_release::baseline

#else

#include <immintrin.h>

namespace mp_release::avx2 {
namespace {

// Four lanes per register, in two registers: two independent chains of four lanes. One
// 8-lane AVX-512 register was slower: its single chain waits on every step's latency.
using lane_vector = __m256d;

inline lane_vector truncated(lane_vector x) {
    return _mm256_round_pd(x, _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
}

struct vector_truncation {
    static lane_vector truncate(lane_vector x) { return truncated(x); }
    static lane_vector truncate_minus_one(lane_vector x) { return truncated(x) - 1.0; }
};

constexpr int lanes_per_vector = sizeof(lane_vector) / sizeof(double);
constexpr int vectors = carry_lanes / lanes_per_vector;
static_assert(carry_lanes % lanes_per_vector == 0);

using digit_lanes = int32_t __attribute__((vector_size(lanes_per_vector * sizeof(int32_t))));

// The lanes' states, lane l in element l % lanes_per_vector of vector l / lanes_per_vector.
struct lane_states {
    lane_vector guarded_carry[vectors], held[vectors];

    carry_state operator[](int l) const {
        const int g = l / lanes_per_vector, e = l % lanes_per_vector;
        return {guarded_carry[g][e], held[g][e]};
    }
    void set(int l, carry_state s) {
        const int g = l / lanes_per_vector, e = l % lanes_per_vector;
        guarded_carry[g][e] = s.guarded_carry;
        held[g][e] = s.held;
    }
};

// Digit top[l] - k of every lane. The terms are gathered element by element, which keeps
// each load a plain one, and the digits stored the same way.
inline void release_step_of_lanes(const digit_release &release, const double *term,
                                  const int (&top)[carry_lanes], int k, int16_t *digit,
                                  lane_states &lanes) {
#pragma GCC unroll 2
    for (int g = 0; g < vectors; ++g) {
        const int *lane_top = top + g * lanes_per_vector;
        lane_vector t;
#pragma GCC unroll 8
        for (int e = 0; e < lanes_per_vector; ++e) {
            t[e] = term[lane_top[e] - k];
        }
        const digit_lanes d = __builtin_convertvector(
            release_step<vector_truncation>(release, lanes.guarded_carry[g], lanes.held[g], t),
            digit_lanes);
#pragma GCC unroll 8
        for (int e = 0; e < lanes_per_vector; ++e) {
            digit[lane_top[e] - k] = static_cast<int16_t>(d[e]);
        }
    }
}

void release_lanes(const digit_release &release, const double *term, const int (&top)[carry_lanes],
                   int length, int16_t *__restrict digit, carry_state (&state)[carry_lanes],
                   carry_state (&checkpoint)[carry_lanes][lane_checkpoints]) {
    lane_states lanes;
    for (int l = 0; l < carry_lanes; ++l) {
        lanes.set(l, state[l]);
    }
    run_lanes(
        length, [&](int k) { release_step_of_lanes(release, term, top, k, digit, lanes); },
        [&](int l) { return lanes[l]; }, checkpoint);
    for (int l = 0; l < carry_lanes; ++l) {
        state[l] = lanes[l];
    }
}

} // namespace

extern const lanes_table lanes = {simd::path::avx2, release_lanes};

} // namespace mp_release::avx2

#endif
