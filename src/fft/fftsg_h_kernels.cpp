// The complex-transform kernels, compiled once per instruction-set path (see the list in
// src/CMakeLists.txt) into the namespace fftsg::<path>, with the path's table at the end. The
// radix-4 stages hold `lanes` consecutive complex values in one register: one on the
// baseline, two in 256 bits, four in 512 bits. A leaf that fits in four such registers runs in
// them; the others stay on pairs of doubles.
#include "fft/fftsg_h_kernels.h"
#include "fft/fftsg_h_common.h"

#include <cassert>
#include <utility>

#ifndef SIMD_PATH // the plain compile is the baseline
#define SIMD_PATH baseline
#define SIMD_REGISTER_BITS 128
#endif

namespace fftsg::SIMD_PATH {
namespace {

using ::twiddle_step;

constexpr double cos_pi_8 = 0.9238795325112867;
constexpr double sin_pi_8 = 0.3826834323650898;
constexpr double cos_pi_16 = 0.9807852804032304;
constexpr double sin_pi_16 = 0.19509032201612828;
constexpr double cos_3pi_16 = 0.8314696123025452;
constexpr double sin_3pi_16 = 0.5555702330196022;

// A stage's twiddle block: 64 complex indices (128 doubles). After that many recurrence steps
// the stage takes a fresh value from sincos, so the recurrence's rounding drift stays within a
// few ulps.
constexpr int twiddle_block = 64;

// ---------------------------------------------------------------------------------------------
// `lanes` consecutive complex values in one register, re and im interleaved as in memory

constexpr int lanes = SIMD_REGISTER_BITS / 128;
static_assert(lanes == 1 || lanes == 2 || lanes == 4);
constexpr int lane_doubles = 2 * lanes;
using lane_vector = double __attribute__((vector_size(8 * lane_doubles)));
using lane_indices = std::make_index_sequence<lane_doubles>;

struct points {
    lane_vector v;
};

// Permutations of the doubles of one or two registers, by index d = 0 .. lane_doubles - 1.
template <size_t... d> inline lane_vector swap_re_im(lane_vector v, std::index_sequence<d...>) {
    return __builtin_shufflevector(v, v, (d ^ 1)...);
}
template <size_t... d> inline lane_vector repeat_re(lane_vector v, std::index_sequence<d...>) {
    return __builtin_shufflevector(v, v, (d & ~size_t{1})...);
}
template <size_t... d> inline lane_vector repeat_im(lane_vector v, std::index_sequence<d...>) {
    return __builtin_shufflevector(v, v, (d | 1)...);
}
template <size_t... d> inline lane_vector reverse(lane_vector v, std::index_sequence<d...>) {
    return __builtin_shufflevector(v, v, (lane_doubles - 1 - d)...);
}
template <size_t... d>
inline lane_vector shift_one(lane_vector v, lane_vector w, std::index_sequence<d...>) {
    return __builtin_shufflevector(v, w, (d + 2)...);
}
// Even doubles (the real parts) from v, odd ones (the imaginary parts) from w.
template <size_t... d>
inline lane_vector interleave(lane_vector v, lane_vector w, std::index_sequence<d...>) {
    return __builtin_shufflevector(v, w, (d % 2 == 0 ? d : d + lane_doubles)...);
}

// (re, im) in every lane.
inline lane_vector repeated(double re, double im) {
    lane_vector v;
    for (int d = 0; d < lane_doubles; d += 2) {
        v[d] = re;
        v[d + 1] = im;
    }
    return v;
}

inline points operator+(points x, points y) {
    return {x.v + y.v};
}
inline points operator-(points x, points y) {
    return {x.v - y.v};
}
inline points operator-(points x) {
    return {-x.v};
}
inline points operator*(double s, points x) {
    return {s * x.v};
}
// Lane by lane, with the operations of the scalar formula (see complex's operator*).
inline points operator*(points x, points w) {
    return {x.v * repeat_re(w.v, lane_indices{}) +
            swap_re_im(x.v, lane_indices{}) * (repeat_im(w.v, lane_indices{}) * repeated(-1, 1))};
}
inline points times_i(points x) {
    return {swap_re_im(x.v, lane_indices{}) * repeated(-1, 1)};
}
// zeta = exp(i pi/4) and i zeta = exp(3i pi/4), each with two multiplications.
inline points times_zeta(points x) {
    return {cos_pi_4 *
            (repeat_re(x.v, lane_indices{}) + repeat_im(x.v, lane_indices{}) * repeated(-1, 1))};
}
inline points times_i_zeta(points x) {
    return {repeated(-cos_pi_4, cos_pi_4) *
            (repeat_re(x.v, lane_indices{}) + repeat_im(x.v, lane_indices{}) * repeated(1, -1))};
}
// exp(3i phi) from exp(i phi) = (c, s) in every lane: cos 3phi = c - 4s^2 c, sin 3phi = 4sc^2 - s.
inline points triple_angle(points w) {
    const lane_vector c = repeat_re(w.v, lane_indices{}), s = repeat_im(w.v, lane_indices{});
    const lane_vector q = 4 * s * c;
    return {interleave(c - q * s, q * c - s, lane_indices{})};
}
// The lanes in reverse order, each with re and im exchanged: the twiddles of mirror indices.
inline points mirrored(points x) {
    return {reverse(x.v, lane_indices{})};
}
// The values one index on: lanes 1 .. of x, then lane 0 of y.
inline points shifted_one(points x, points y) {
    return {shift_one(x.v, y.v, lane_indices{})};
}

inline points load_points(const double *__restrict a, int j) {
    points x;
    __builtin_memcpy(&x.v, a + j, sizeof x.v);
    return x;
}
inline points load_points_conj(const double *__restrict a, int j) {
    return {load_points(a, j).v * repeated(1, -1)};
}
inline void store(double *__restrict a, int j, points x) {
    __builtin_memcpy(a + j, &x.v, sizeof x.v);
}

// Complex values on their own (the leaves), through the one-lane formulas.
inline complex times_zeta(complex x) {
    return unpack(cos_pi_4 *
                  (__builtin_shufflevector(pack(x), pack(x), 0, 0) +
                   __builtin_shufflevector(pack(x), pack(x), 1, 1) * double_pair{-1, 1}));
}
inline complex times_i_zeta(complex x) {
    return unpack(double_pair{-cos_pi_4, cos_pi_4} *
                  (__builtin_shufflevector(pack(x), pack(x), 0, 0) +
                   __builtin_shufflevector(pack(x), pack(x), 1, 1) * double_pair{1, -1}));
}

inline complex load(const double *__restrict a, int j) {
    return {a[j], a[j + 1]};
}
inline void store(double *__restrict a, int j, complex x) {
    a[j] = x.re;
    a[j + 1] = x.im;
}

// The points of a leaf block, held in registers between one load and one store.
template <int count> struct leaf_points {
    complex p[count];
    explicit leaf_points(const double *__restrict a) {
        for (int k = 0; k < count; ++k) {
            p[k] = load(a, 2 * k);
        }
    }
    complex &operator[](int k) { return p[k]; }
    void store_to(double *__restrict a) const {
        for (int k = 0; k < count; ++k) {
            store(a, 2 * k, p[k]);
        }
    }
};

// ---------------------------------------------------------------------------------------------
// Radix-4 butterflies on four complex values (or four groups of lanes), forward sign

// Kind-1: (u+v, u-v, (s+it) w1, (s-it) w3) with u, v, s, t the sums and differences of the
// halves; w1 = w3 = 1 gives the 4-point DFT in bit-reversed order.
template <class T> inline void butterfly1(T &x0, T &x1, T &x2, T &x3) {
    const T u = x0 + x2, v = x1 + x3, s = x0 - x2, it = times_i(x1 - x3);
    x0 = u + v;
    x1 = u - v;
    x2 = s + it;
    x3 = s - it;
}
template <class T> inline void butterfly1(T &x0, T &x1, T &x2, T &x3, T w1, T w3) {
    const T u = x0 + x2, v = x1 + x3, s = x0 - x2, it = times_i(x1 - x3);
    x0 = u + v;
    x1 = u - v;
    x2 = (s + it) * w1;
    x3 = (s - it) * w3;
}

// Kind-2: with p = x0 + i x2, q = x1 + i x3, m = x0 - i x2, r = x1 - i x3:
// (w1 p + z1 q, w1 p - z1 q, w3 m + z3 r, w3 m - z3 r), where z1 = zeta w1 and z3 = i zeta w3.
// Without twiddles it is the odd-frequency 4-point DFT in bit-reversed order.
template <class T> inline void butterfly2(T &x0, T &x1, T &x2, T &x3) {
    const T i2 = times_i(x2), i3 = times_i(x3);
    const T p = x0 + i2, q = times_zeta(x1 + i3);
    const T m = x0 - i2, r = times_i_zeta(x1 - i3);
    x0 = p + q;
    x1 = p - q;
    x2 = m + r;
    x3 = m - r;
}
template <class T> inline void butterfly2(T &x0, T &x1, T &x2, T &x3, T w1, T z1, T w3, T z3) {
    const T i2 = times_i(x2), i3 = times_i(x3);
    const T p = (x0 + i2) * w1, q = (x1 + i3) * z1;
    const T m = (x0 - i2) * w3, r = (x1 - i3) * z3;
    x0 = p + q;
    x1 = p - q;
    x2 = m + r;
    x3 = m - r;
}

// Two-point kinds: (x0 + x1, x0 - x1) and the odd frequencies (x0 + i x1, x0 - i x1).
inline void butterfly1(complex &x0, complex &x1) {
    const complex t = x0 - x1;
    x0 = x0 + x1;
    x1 = t;
}
inline void butterfly2(complex &x0, complex &x1) {
    const complex it = times_i(x1);
    x1 = x0 - it;
    x0 = x0 + it;
}

// ---------------------------------------------------------------------------------------------
// Radix-4 stages on a block of n doubles: quarter m = n/4 doubles, Q = n/8 points, H = Q/2.
// Position j (in doubles) covers the points j, j+m, j+2m, j+3m, `lanes` of each.

// The twiddles W^k and W^3k of `lanes` consecutive indices, and their recurrence factors.
struct stage_twiddles {
    points w1, w3;
};
struct stage_factors {
    double d1, d3;
};
inline void twiddle_step(stage_twiddles &prev, const stage_twiddles &cur, stage_factors d) {
    twiddle_step(prev.w1, cur.w1, d.d1);
    twiddle_step(prev.w3, cur.w3, d.d3);
}

// The values lane_value(c) in the lanes c, filled element by element: the compiler folds
// constant ones into a constant and keeps computed ones in registers (a copy through memory
// would wait for the stores of the separate values).
template <class LaneValue> inline points from_lanes(LaneValue lane_value) {
    lane_vector v;
#pragma GCC unroll 16
    for (int c = 0; c < lanes; ++c) {
        const complex w = lane_value(c);
        v[2 * c] = w.re;
        v[2 * c + 1] = w.im;
    }
    return {v};
}

inline points gathered(const complex *z) {
    return from_lanes([z](int c) { return z[c]; });
}

// The walk of W^k and W^3k, W = exp(i theta), over k = 0 .. H in groups of `lanes`. A reseed
// at k multiplies exp(i k theta) from sincos into W^0 .. W^(2 lanes - 1), and W^3k is formed
// from W^k by the triple-angle formula, so each reseed costs one sincos.
inline auto stage_walk(double theta, int half) {
    complex powers[2 * lanes];
    powers[0] = {1, 0};
    powers[1] = unit_complex(theta);
    for (int p = 2; p < 2 * lanes; ++p) {
        powers[p] = powers[p - 2];
        twiddle_step(powers[p], powers[p - 1], 2 * powers[1].im);
    }
    const points first = gathered(powers), second = gathered(powers + lanes);
    const auto with_triples = [](points x, points y) {
        return twiddle_run<stage_twiddles>{{x, triple_angle(x)}, {y, triple_angle(y)}};
    };
    const auto reseed = [=](int k) {
        const complex e = unit_complex(k * theta);
        const points e_lanes{repeated(e.re, e.im)};
        return with_triples(e_lanes * first, e_lanes * second);
    };
    const points step = gathered(powers + lanes);
    const stage_factors factors{2 * step.v[1], 2 * triple_angle(step).v[1]};
    return twiddle_walk(with_triples(first, second), factors, lanes, twiddle_block, half, reseed);
}

// How a stage reads its block: as it is, conjugated, or with the points after the middle one
// (2Q, the first of the third quarter) taken as zero and not read.
enum class input { plain, conjugated, upper_half_zero };

// The point at a in lane 0, zeros in the other lanes.
inline points first_point_alone(const double *__restrict a) {
    return from_lanes([=](int c) { return c == 0 ? load(a, 0) : complex{0, 0}; });
}

// The points at j, j+m, j+2m and j+3m: `lanes` consecutive ones of each quarter.
struct quarter_points {
    points x0, x1, x2, x3;
};

template <input kind>
inline quarter_points load_quarters(const double *__restrict a, int j, int m) {
    if constexpr (kind == input::conjugated) {
        return {load_points_conj(a, j), load_points_conj(a, j + m), load_points_conj(a, j + 2 * m),
                load_points_conj(a, j + 3 * m)};
    } else if constexpr (kind == input::upper_half_zero) {
        // Of the third quarter only its first point, 2Q, may be non-zero.
        return {load_points(a, j), load_points(a, j + m),
                j == 0 ? first_point_alone(a + 2 * m) : points{}, points{}};
    } else {
        return {load_points(a, j), load_points(a, j + m), load_points(a, j + 2 * m),
                load_points(a, j + 3 * m)};
    }
}

inline void store_quarters(double *__restrict a, int j, int m, const quarter_points &x) {
    store(a, j, x.x0);
    store(a, j + m, x.x1);
    store(a, j + 2 * m, x.x2);
    store(a, j + 3 * m, x.x3);
}

// The kind-1 butterflies of the quarter points at j, with the twiddles W^k and W^3k.
template <input kind>
inline void kind1_at(double *__restrict a, int j, int m, points w1, points w3) {
    quarter_points x = load_quarters<kind>(a, j, m);
    butterfly1(x.x0, x.x1, x.x2, x.x3, w1, w3);
    store_quarters(a, j, m, x);
}

// The kind-2 butterflies of the quarter points at j, with W^k, zeta W^k, W^3k and i zeta W^3k.
inline void kind2_at(double *__restrict a, int j, int m, points w1, points z1, points w3,
                     points z3) {
    quarter_points x = load_quarters<input::plain>(a, j, m);
    butterfly2(x.x0, x.x1, x.x2, x.x3, w1, z1, w3, z3);
    store_quarters(a, j, m, x);
}

// A group of `lanes` indices k, k+1, ... of a quarter, and its mirror group Q-k-lanes ..
// Q-k-1, whose twiddles are those of k+lanes .. k+1 read in reverse order: so the twiddles are
// generated only up to the middle H, and the groups and their mirrors cover all Q indices.
struct stage_group {
    int j, mirror_j;         // the positions of both, in doubles
    stage_twiddles twiddles; // W^k and W^3k of the group
    stage_twiddles one_on;   // the twiddles of k+1 .. k+lanes, the mirror's in reverse order
};

// Calls visit(group) for the groups k = 0, lanes, ... below H of a block of n doubles.
template <class Visit> inline void for_each_group(int n, double theta, Visit visit) {
    assert(n >= 64);
    const int m = n >> 2, half = n >> 4;
    auto walk = stage_walk(theta, half);
    for (int k = 0; k < half; k += lanes, walk.advance()) {
        const stage_twiddles &t = walk.current(), &u = walk.following();
        visit(stage_group{2 * k,
                          m - 2 * k - lane_doubles,
                          t,
                          {shifted_one(t.w1, u.w1), shifted_one(t.w3, u.w3)}});
    }
}

// Kind-1 stage: twiddles W_N^k and W_N^3k. The mirror index Q-k uses W^(Q-k) = i conj(W^k)
// and W^(3(Q-k)) = -i conj(W^3k).
template <input kind> void stage1(int n, double *__restrict a) {
    const int m = n >> 2;
    for_each_group(n, 2 * (half_pi / m), [=](const stage_group &g) {
        kind1_at<kind>(a, g.j, m, g.twiddles.w1, g.twiddles.w3);
        kind1_at<kind>(a, g.mirror_j, m, mirrored(g.one_on.w1), -mirrored(g.one_on.w3));
    });
}

// Kind-2 stage: W = W_2N, with zeta W^k and i zeta W^3k beside W^k and W^3k. The mirror Q-k:
// W^(Q-k) = zeta conj(W^k), zeta W^(Q-k) = i conj(W^k), W^(3(Q-k)) = i zeta conj(W^3k),
// i zeta W^(3(Q-k)) = -i conj(W^3k). Quarters 0..3 then need blocks of kinds 1, 2, 1, 2.
void stage2(int n, double *__restrict a) {
    const int m = n >> 2;
    for_each_group(n, 2 * (half_pi / (n >> 1)), [=](const stage_group &g) {
        const points w1 = g.twiddles.w1, w3 = g.twiddles.w3;
        kind2_at(a, g.j, m, w1, times_zeta(w1), w3, times_i_zeta(w3));
        const points v1 = g.one_on.w1, v3 = g.one_on.w3;
        kind2_at(a, g.mirror_j, m, mirrored(times_zeta(v1)), mirrored(v1),
                 -mirrored(times_i_zeta(v3)), -mirrored(v3));
    });
}

void cftmdl1(int n, double *a) {
    stage1<input::plain>(n, a);
}

void cftb1st(int n, double *a) {
    stage1<input::conjugated>(n, a);
}

void cftmdl2(int n, double *a) {
    stage2(n, a);
}

void cftrec1(int n, double *a);
void cftrec2(int n, double *a);

// ---------------------------------------------------------------------------------------------
// Leaf kernels: straight-line networks with constant twiddles

void cftx020(double *__restrict a) {
    complex x0 = load(a, 0), x1 = load(a, 2);
    butterfly1(x0, x1);
    store(a, 0, x0);
    store(a, 2, x1);
}

void cftf040(double *__restrict a) {
    complex x0 = load(a, 0), x1 = load(a, 2), x2 = load(a, 4), x3 = load(a, 6);
    butterfly1(x0, x1, x2, x3);
    store(a, 0, x0);
    store(a, 2, x2);
    store(a, 4, x1);
    store(a, 6, x3);
}

void cftb040(double *__restrict a) {
    complex x0 = load(a, 0), x1 = load(a, 2), x2 = load(a, 4), x3 = load(a, 6);
    butterfly1(x0, x1, x2, x3);
    store(a, 0, x0);
    store(a, 2, x3);
    store(a, 4, x1);
    store(a, 6, x2);
}

// In registers, a leaf's points fill count / lanes of them, and the leaf runs as radix-2
// steps of decimation in frequency: for d = count/2, ..., 2, 1 the pairs (k, k + d) of
// each group of 2d points become (x_k + x_(k+d), (x_k - x_(k+d)) W_2d^k). The results stay in
// place, which is the bit-reversed order of the leaves. A kind-2 leaf first multiplies point j
// by W_(2 count)^j. Where d is below `lanes`, the partners share a register.

// W_32^j = exp(i pi j/16), j = 0 .. 15: every twiddle of a leaf of up to 16 points.
constexpr complex root32[16] = {
    {1, 0},
    {cos_pi_16, sin_pi_16},
    {cos_pi_8, sin_pi_8},
    {cos_3pi_16, sin_3pi_16},
    {cos_pi_4, cos_pi_4},
    {sin_3pi_16, cos_3pi_16},
    {sin_pi_8, cos_pi_8},
    {sin_pi_16, cos_pi_16},
    {0, 1},
    {-sin_pi_16, cos_pi_16},
    {-sin_pi_8, cos_pi_8},
    {-sin_3pi_16, cos_3pi_16},
    {-cos_pi_4, cos_pi_4},
    {-cos_3pi_16, sin_3pi_16},
    {-cos_pi_8, sin_pi_8},
    {-cos_pi_16, sin_pi_16},
};

// W_m^k (m divides 32).
inline complex root(int m, int k) {
    return root32[k % m * (32 / m)];
}

// W_m^k in each lane c, with k = first + c.
inline points roots(int m, int first) {
    return from_lanes([=](int c) { return root(m, first + c); });
}

// Lane c ^ d of v in lane c, and b in the lanes c with bit d set, a in the others.
template <int d, size_t... k>
inline lane_vector partners(lane_vector v, std::index_sequence<k...>) {
    return __builtin_shufflevector(v, v, (k ^ (2 * d))...);
}
template <int d, size_t... k>
inline lane_vector upper_from(lane_vector a, lane_vector b, std::index_sequence<k...>) {
    return __builtin_shufflevector(a, b, ((k / 2 & d) != 0 ? k + lane_doubles : k)...);
}

// One radix-2 step at distance d on the registers of a leaf.
template <int d, int registers> inline void radix2_step(points (&x)[registers]) {
    if constexpr (d >= lanes) {
        constexpr int apart = d / lanes;
#pragma GCC unroll 16
        for (int r = 0; r < registers; ++r) {
            if ((r & apart) == 0) {
                const points sum = x[r] + x[r + apart];
                x[r + apart] = (x[r] - x[r + apart]) * roots(2 * d, r * lanes);
                x[r] = sum;
            }
        }
    } else {
        // Lanes c with bit d clear keep their sums; the others take W_2d^(c mod d).
        const points w = from_lanes([](int c) {
            return (c & d) != 0 ? root(2 * d, c % d) : complex{1, 0};
        });
#pragma GCC unroll 16
        for (points &v : x) {
            const points t{partners<d>(v.v, lane_indices{})};
            v = points{upper_from<d>((v + t).v, (t - v).v, lane_indices{})};
            if constexpr (d > 1) {
                v = v * w;
            }
        }
    }
}

// The steps at distances d, d/2, ..., 1.
template <int d, int registers> inline void radix2_steps(points (&x)[registers]) {
    radix2_step<d>(x);
    if constexpr (d > 1) {
        radix2_steps<d / 2>(x);
    }
}

template <int count, bool kind2> void radix2_leaf(double *__restrict a) {
    constexpr int registers = count / lanes;
    points x[registers];
#pragma GCC unroll 16
    for (int r = 0; r < registers; ++r) {
        x[r] = load_points(a, r * lane_doubles);
        if (kind2) {
            x[r] = x[r] * roots(2 * count, r * lanes);
        }
    }
    radix2_steps<count / 2>(x);
#pragma GCC unroll 16
    for (int r = 0; r < registers; ++r) {
        store(a, r * lane_doubles, x[r]);
    }
}

// Kind-1, 8 points: stage with W_8, then 2-point quarters of kinds 1, 2, 1, 1.
void cftf081_pairs(double *__restrict a) {
    leaf_points<8> x(a);
    butterfly1(x[0], x[2], x[4], x[6]);
    {
        const complex u = x[1] + x[5], v = x[3] + x[7], s = x[1] - x[5], it = times_i(x[3] - x[7]);
        x[1] = u + v;
        x[3] = u - v;
        x[5] = times_zeta(s + it);
        x[7] = times_i_zeta(s - it);
    }
    butterfly1(x[0], x[1]);
    butterfly2(x[2], x[3]);
    butterfly1(x[4], x[5]);
    butterfly1(x[6], x[7]);
    x.store_to(a);
}

// Kind-2, 8 points: stage with W_16, then 2-point quarters of kinds 1, 2, 1, 2.
void cftf082_pairs(double *__restrict a) {
    leaf_points<8> x(a);
    butterfly2(x[0], x[2], x[4], x[6]);
    butterfly2(x[1], x[3], x[5], x[7], {cos_pi_8, sin_pi_8}, {sin_pi_8, cos_pi_8},
               {sin_pi_8, cos_pi_8}, {-cos_pi_8, -sin_pi_8});
    butterfly1(x[0], x[1]);
    butterfly2(x[2], x[3]);
    butterfly1(x[4], x[5]);
    butterfly2(x[6], x[7]);
    x.store_to(a);
}

// Kind-1, 16 points: stage with W_16, then 4-point quarters of kinds 1, 2, 1, 1.
void cftf161_pairs(double *__restrict a) {
    leaf_points<16> x(a);
    butterfly1(x[0], x[4], x[8], x[12]);
    butterfly1(x[1], x[5], x[9], x[13], {cos_pi_8, sin_pi_8}, {sin_pi_8, cos_pi_8});
    {
        const complex u = x[2] + x[10], v = x[6] + x[14], s = x[2] - x[10],
                      it = times_i(x[6] - x[14]);
        x[2] = u + v;
        x[6] = u - v;
        x[10] = times_zeta(s + it);
        x[14] = times_i_zeta(s - it);
    }
    butterfly1(x[3], x[7], x[11], x[15], {sin_pi_8, cos_pi_8}, {-cos_pi_8, -sin_pi_8});
    butterfly1(x[0], x[1], x[2], x[3]);
    butterfly2(x[4], x[5], x[6], x[7]);
    butterfly1(x[8], x[9], x[10], x[11]);
    butterfly1(x[12], x[13], x[14], x[15]);
    x.store_to(a);
}

// Kind-2, 16 points: stage with W_32, then 4-point quarters of kinds 1, 2, 1, 2.
void cftf162_pairs(double *__restrict a) {
    leaf_points<16> x(a);
    butterfly2(x[0], x[4], x[8], x[12]);
    butterfly2(x[1], x[5], x[9], x[13], {cos_pi_16, sin_pi_16}, {sin_3pi_16, cos_3pi_16},
               {cos_3pi_16, sin_3pi_16}, {-cos_pi_16, sin_pi_16});
    butterfly2(x[2], x[6], x[10], x[14], {cos_pi_8, sin_pi_8}, {sin_pi_8, cos_pi_8},
               {sin_pi_8, cos_pi_8}, {-cos_pi_8, -sin_pi_8});
    butterfly2(x[3], x[7], x[11], x[15], {cos_3pi_16, sin_3pi_16}, {sin_pi_16, cos_pi_16},
               {-sin_pi_16, cos_pi_16}, {-sin_3pi_16, -cos_3pi_16});
    butterfly1(x[0], x[1], x[2], x[3]);
    butterfly2(x[4], x[5], x[6], x[7]);
    butterfly1(x[8], x[9], x[10], x[11]);
    butterfly2(x[12], x[13], x[14], x[15]);
    x.store_to(a);
}

// A leaf that fits in four registers runs in them; on more, the radix-2 steps' extra
// multiplications cost more than they save, and the leaf stays on pairs of doubles.
template <int count, bool kind2, void (*on_pairs)(double *)> void leaf(double *__restrict a) {
    if constexpr (count <= 4 * lanes) {
        radix2_leaf<count, kind2>(a);
    } else {
        on_pairs(a);
    }
}
void cftf081(double *__restrict a) {
    leaf<8, false, cftf081_pairs>(a);
}
void cftf082(double *__restrict a) {
    leaf<8, true, cftf082_pairs>(a);
}
void cftf161(double *__restrict a) {
    leaf<16, false, cftf161_pairs>(a);
}
void cftf162(double *__restrict a) {
    leaf<16, true, cftf162_pairs>(a);
}

// The leaves of a block of 4 q doubles after its stage: quarters of kinds 1, 2, 1, and 2 for a
// kind-2 block, 1 for a kind-1 block.
template <void (*leaf1)(double *), void (*leaf2)(double *), int q, bool kind2_block>
inline void four_leaves(double *a) {
    leaf1(a);
    leaf2(a + q);
    leaf1(a + 2 * q);
    kind2_block ? leaf2(a + 3 * q) : leaf1(a + 3 * q);
}

// Blocks of 128 doubles end in 16-point leaves, blocks of 64 in 8-point ones.
template <bool kind2_block> void block_leaves(int n, double *a) {
    if (n == 128) {
        four_leaves<cftf161, cftf162, 32, kind2_block>(a);
    } else {
        four_leaves<cftf081, cftf082, 16, kind2_block>(a);
    }
}

void cftfx41(int n, double *a) {
    block_leaves<false>(n, a);
}

void cftfx42(int n, double *a) {
    block_leaves<true>(n, a);
}

// ---------------------------------------------------------------------------------------------
// Completion of blocks after their first stage. Within a block of n doubles, a kind-1 stage
// leaves quarters of kinds 1, 2, 1, 1 and a kind-2 stage quarters of kinds 1, 2, 1, 2.

// Level by level over sub-blocks of l doubles: those at k + j are kind 2, all others kind 1.
void cftexp1(int n, double *a) {
    int l = n >> 2;
    for (; l > 128; l >>= 2) {
        for (int k = l; k < n; k <<= 2) {
            for (int j = k - l; j < n; j += 4 * k) {
                cftmdl1(l, a + j);
                cftmdl2(l, a + k + j);
                cftmdl1(l, a + 2 * k + j);
            }
        }
        cftmdl1(l, a + n - l);
    }
    for (int k = l; k < n; k <<= 2) {
        for (int j = k - l; j < n; j += 4 * k) {
            cftmdl1(l, a + j);
            cftfx41(l, a + j);
            cftmdl2(l, a + k + j);
            cftfx42(l, a + k + j);
            cftmdl1(l, a + 2 * k + j);
            cftfx41(l, a + 2 * k + j);
        }
    }
    cftmdl1(l, a + n - l);
    cftfx41(l, a + n - l);
}

// The two halves of a kind-2 block share one pattern of kinds; each level is walked in both.
void cftexp2(int n, double *a) {
    const int m = n >> 1;
    int l = n >> 2;
    for (; l > 128; l >>= 2) {
        for (int k = l; k < m; k <<= 2) {
            for (int j = k - l; j < m; j += 2 * k) {
                cftmdl1(l, a + j);
                cftmdl1(l, a + m + j);
            }
            for (int j = 2 * k - l; j < m; j += 4 * k) {
                cftmdl2(l, a + j);
                cftmdl2(l, a + m + j);
            }
        }
    }
    for (int k = l; k < m; k <<= 2) {
        for (int j = k - l; j < m; j += 2 * k) {
            cftmdl1(l, a + j);
            cftfx41(l, a + j);
            cftmdl1(l, a + m + j);
            cftfx41(l, a + m + j);
        }
        for (int j = 2 * k - l; j < m; j += 4 * k) {
            cftmdl2(l, a + j);
            cftfx42(l, a + j);
            cftmdl2(l, a + m + j);
            cftfx42(l, a + m + j);
        }
    }
}

// Depth first: each quarter is finished before the next is touched, so the inner levels work
// within one block of at most 512 doubles. The quarters are of kinds 1, 2, 1 and the block's
// own kind; the last one is the loop's next round.
template <void (*stage)(int, double *), void (*completion)(int, double *)>
void recurse(int n, double *a) {
    for (;;) {
        stage(n, a);
        if (n <= 512) {
            completion(n, a);
            return;
        }
        const int m = n >> 2;
        cftrec1(m, a);
        cftrec2(m, a + m);
        cftrec1(m, a + 2 * m);
        a += 3 * m;
        n = m;
    }
}

void cftrec1(int n, double *a) {
    recurse<cftmdl1, cftexp1>(n, a);
}

void cftrec2(int n, double *a) {
    recurse<cftmdl2, cftexp2>(n, a);
}

// ---------------------------------------------------------------------------------------------
// Bit reversal

void bitrv2(int n, double *a) {
    bit_reverse<2, false>(n >> 1, a);
}

void bitrv2conj(int n, double *a) {
    bit_reverse<2, true>(n >> 1, a);
}

void bitrv216(double *a) {
    exchange<2, false>(a, 1, 8);
    exchange<2, false>(a, 2, 4);
    exchange<2, false>(a, 3, 12);
    exchange<2, false>(a, 5, 10);
    exchange<2, false>(a, 7, 14);
    exchange<2, false>(a, 11, 13);
}

void bitrv208(double *a) {
    exchange<2, false>(a, 1, 4);
    exchange<2, false>(a, 3, 6);
}

// Position k takes element rev_16((16 - k) mod 16): the forward 16-point kernel's output read
// at negated frequencies.
void bitrv216neg(double *__restrict a) {
    const complex x1 = load(a, 2), x2 = load(a, 4), x3 = load(a, 6), x4 = load(a, 8);
    const complex x5 = load(a, 10), x6 = load(a, 12), x7 = load(a, 14), x8 = load(a, 16);
    const complex x9 = load(a, 18), x10 = load(a, 20), x11 = load(a, 22), x12 = load(a, 24);
    const complex x13 = load(a, 26), x14 = load(a, 28), x15 = load(a, 30);
    store(a, 2, x15);
    store(a, 4, x7);
    store(a, 6, x11);
    store(a, 8, x3);
    store(a, 10, x13);
    store(a, 12, x5);
    store(a, 14, x9);
    store(a, 16, x1);
    store(a, 18, x14);
    store(a, 20, x6);
    store(a, 22, x10);
    store(a, 24, x2);
    store(a, 26, x12);
    store(a, 28, x4);
    store(a, 30, x8);
}

// Position k takes element rev_8((8 - k) mod 8).
void bitrv208neg(double *__restrict a) {
    const complex x1 = load(a, 2), x2 = load(a, 4), x3 = load(a, 6), x4 = load(a, 8);
    const complex x5 = load(a, 10), x6 = load(a, 12), x7 = load(a, 14);
    store(a, 2, x7);
    store(a, 4, x3);
    store(a, 6, x5);
    store(a, 8, x1);
    store(a, 10, x6);
    store(a, 12, x2);
    store(a, 14, x4);
}

// ---------------------------------------------------------------------------------------------
// Drivers

// After the first stage of a block of more than 32 doubles: its quarters, kinds 1, 2, 1, 1.
void finish_kind1(int n, double *a) {
    if (n > 512) {
        const int m = n >> 2;
        cftrec1(m, a);
        cftrec2(m, a + m);
        cftrec1(m, a + 2 * m);
        cftrec1(m, a + 3 * m);
    } else if ((n >> 2) > 32) {
        cftexp1(n, a);
    } else {
        cftfx41(n, a);
    }
}

// The drivers by size, the first stage reading the block as `kind` says. Backward (conjugated
// input) is conj(F(conj x)): the first stage reads the conjugate and the final permutation
// conjugates; the small sizes read the forward result at negated indices instead. An upper half
// taken as zero enters the first stage as constants, so the result is the same to the bit as on
// the zero-filled array; the small sizes fill it and run so.
template <input kind> void complex_transform(int n, double *a) {
    constexpr bool backward = kind == input::conjugated;
    if (kind == input::upper_half_zero && n <= 32) {
        std::fill(a + std::min(n, n / 2 + 2), a + n, 0.0);
    }
    if (n > 32) {
        stage1<kind>(n, a);
        finish_kind1(n, a);
        backward ? bitrv2conj(n, a) : bitrv2(n, a);
    } else if (n == 32) {
        cftf161(a);
        backward ? bitrv216neg(a) : bitrv216(a);
    } else if (n > 8) {
        cftf081(a);
        backward ? bitrv208neg(a) : bitrv208(a);
    } else if (n == 8) {
        backward ? cftb040(a) : cftf040(a);
    } else if (n == 4) {
        cftx020(a);
    }
}

void cftfsub(int n, double *a) {
    complex_transform<input::plain>(n, a);
}

void cftfsub_upper_half_zero(int n, double *a) {
    complex_transform<input::upper_half_zero>(n, a);
}

void cftbsub(int n, double *a) {
    complex_transform<input::conjugated>(n, a);
}

} // namespace

extern const kernel_table kernels = {
    .path = simd::path::SIMD_PATH,
    .cftfsub = cftfsub,
    .cftfsub_upper_half_zero = cftfsub_upper_half_zero,
    .cftbsub = cftbsub,
    .cftmdl1 = cftmdl1,
    .cftb1st = cftb1st,
    .cftmdl2 = cftmdl2,
    .cftfx41 = cftfx41,
    .cftfx42 = cftfx42,
    .cftexp1 = cftexp1,
    .cftexp2 = cftexp2,
    .cftrec1 = cftrec1,
    .cftrec2 = cftrec2,
    .bitrv2 = bitrv2,
    .bitrv2conj = bitrv2conj,
    .bitrv216 = bitrv216,
    .bitrv216neg = bitrv216neg,
    .bitrv208 = bitrv208,
    .bitrv208neg = bitrv208neg,
    .cftf161 = cftf161,
    .cftf162 = cftf162,
    .cftf081 = cftf081,
    .cftf082 = cftf082,
    .cftf040 = cftf040,
    .cftb040 = cftb040,
    .cftx020 = cftx020,
};

} // namespace fftsg::SIMD_PATH
