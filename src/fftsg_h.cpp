#include "fftsg_h.h"

#include <algorithm>
#include <cassert>
#include <math.h>
#include <utility>

// Every routine works in place on the caller's doubles. All stages and leaves compute with the
// forward sign W_M = exp(+2 pi i / M); the backward transform conjugates on the way in and out.

namespace {

constexpr double half_pi = 1.5707963267948966;
constexpr double cos_pi_4 = 0.7071067811865476;
constexpr double cos_pi_8 = 0.9238795325112867;
constexpr double sin_pi_8 = 0.3826834323650898;
constexpr double cos_pi_16 = 0.9807852804032304;
constexpr double sin_pi_16 = 0.19509032201612828;
constexpr double cos_3pi_16 = 0.8314696123025452;
constexpr double sin_3pi_16 = 0.5555702330196022;

// A twiddle block spans 128 doubles (64 complex indices): after that many recurrence steps
// the stage takes a fresh value from sincos, so the recurrence's rounding drift, which grows
// with the number of steps from the last exact seed, stays within a few ulps.
constexpr int twiddle_block = 128;

struct complex {
    double re, im;
};

// The arithmetic on complex values runs on pairs of doubles, in one vector register where the
// target has one (the compiler leaves the plain two-field formulas scalar). Each component is
// computed with the operations of the scalar formula: a - b as a + (-b), a product's two terms
// summed in either order, signs set by multiplying with exact +-1. So the transform's results
// are the same to the bit as with scalar code.
using double_pair = double __attribute__((vector_size(16)));

inline double_pair pack(complex x) {
    return double_pair{x.re, x.im};
}
inline complex unpack(double_pair v) {
    return {v[0], v[1]};
}
inline double_pair swap(double_pair v) {
    return __builtin_shufflevector(v, v, 1, 0);
}
inline double_pair broadcast_re(double_pair v) {
    return __builtin_shufflevector(v, v, 0, 0);
}
inline double_pair broadcast_im(double_pair v) {
    return __builtin_shufflevector(v, v, 1, 1);
}

inline complex operator+(complex x, complex y) {
    return unpack(pack(x) + pack(y));
}
inline complex operator-(complex x, complex y) {
    return unpack(pack(x) - pack(y));
}
// (x.re w.re - x.im w.im, x.im w.re + x.re w.im)
inline complex operator*(complex x, complex w) {
    const double_pair v = pack(x);
    return unpack(v * double_pair{w.re, w.re} + swap(v) * double_pair{-w.im, w.im});
}
inline complex times_i(complex x) {
    return unpack(swap(pack(x)) * double_pair{-1, 1});
}
// zeta = exp(i pi/4) and i zeta = exp(3i pi/4), each with two multiplications.
inline complex times_zeta(complex x) {
    const double_pair v = pack(x);
    return unpack(cos_pi_4 * (broadcast_re(v) + broadcast_im(v) * double_pair{-1, 1}));
}
inline complex times_i_zeta(complex x) {
    const double_pair v = pack(x);
    return unpack(double_pair{-cos_pi_4, cos_pi_4} *
                  (broadcast_re(v) + broadcast_im(v) * double_pair{1, -1}));
}
inline complex swapped(complex w) {
    return {w.im, w.re};
}
inline complex swapped_negated(complex w) {
    return {-w.im, -w.re};
}

inline complex load(const double *__restrict a, int j) {
    return {a[j], a[j + 1]};
}
inline complex load_conj(const double *__restrict a, int j) {
    return {a[j], -a[j + 1]};
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
// Twiddles of the radix-4 stages

// z(k+1) = z(k-1) + 2i sin(phi) z(k): exact for z(k) = exp(i k phi). Overwrites z(k-1).
inline void twiddle_step(complex &prev, complex cur, double two_sin_phi) {
    prev.re -= two_sin_phi * cur.im;
    prev.im += two_sin_phi * cur.re;
}

// exp(3i phi) from exp(i phi) = (c, s): cos 3phi = c - 4s^2 c, sin 3phi = 4sc^2 - s.
inline complex triple_angle(complex w) {
    const double q = 4 * w.im * w.re;
    return {w.re - q * w.im, q * w.re - w.im};
}

struct twiddle_pair {
    complex even, odd;
};

// Even and odd running twiddles from an exact start value: start and start * step.
inline twiddle_pair seed_pair(complex start, complex step) {
    return {start, start * step};
}

// Fresh exp(i angle) and exp(i angle) * step from sincos.
inline twiddle_pair reseed(double angle, complex step) {
    double s, c;
    sincos(angle, &s, &c);
    return seed_pair({c, s}, step);
}

// ---------------------------------------------------------------------------------------------
// Radix-4 butterflies on four complex values, forward sign

// Kind-1: (u+v, u-v, (s+it) w1, (s-it) w3) with u, v, s, t the sums and differences of the
// halves; w1 = w3 = 1 gives the 4-point DFT in bit-reversed order.
inline void butterfly1(complex &x0, complex &x1, complex &x2, complex &x3) {
    const complex u = x0 + x2, v = x1 + x3, s = x0 - x2, it = times_i(x1 - x3);
    x0 = u + v;
    x1 = u - v;
    x2 = s + it;
    x3 = s - it;
}
inline void butterfly1(complex &x0, complex &x1, complex &x2, complex &x3, complex w1, complex w3) {
    const complex u = x0 + x2, v = x1 + x3, s = x0 - x2, it = times_i(x1 - x3);
    x0 = u + v;
    x1 = u - v;
    x2 = (s + it) * w1;
    x3 = (s - it) * w3;
}

// Kind-2: with p = x0 + i x2, q = x1 + i x3, m = x0 - i x2, r = x1 - i x3:
// (w1 p + z1 q, w1 p - z1 q, w3 m + z3 r, w3 m - z3 r), where z1 = zeta w1 and z3 = i zeta w3.
// Without twiddles it is the odd-frequency 4-point DFT in bit-reversed order.
inline void butterfly2(complex &x0, complex &x1, complex &x2, complex &x3) {
    const complex i2 = times_i(x2), i3 = times_i(x3);
    const complex p = x0 + i2, q = times_zeta(x1 + i3);
    const complex m = x0 - i2, r = times_i_zeta(x1 - i3);
    x0 = p + q;
    x1 = p - q;
    x2 = m + r;
    x3 = m - r;
}
inline void butterfly2(complex &x0, complex &x1, complex &x2, complex &x3, complex w1, complex z1,
                       complex w3, complex z3) {
    const complex i2 = times_i(x2), i3 = times_i(x3);
    const complex p = (x0 + i2) * w1, q = (x1 + i3) * z1;
    const complex m = (x0 - i2) * w3, r = (x1 - i3) * z3;
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
// Radix-4 stages on a block of n doubles: quarter m = n/4 doubles, half quarter mh = n/8.
// Index j (in doubles) covers the four points j, j+m, j+2m, j+3m.

template <bool conjugate_input> inline complex load_input(const double *__restrict a, int j) {
    return conjugate_input ? load_conj(a, j) : load(a, j);
}

// Loads the points j, j+m, j+2m, j+3m, applies `butterfly` to them and stores them back.
template <bool conjugate_input = false, class Butterfly>
inline void at_quarters(double *__restrict a, int j, int m, Butterfly butterfly) {
    complex x0 = load_input<conjugate_input>(a, j);
    complex x1 = load_input<conjugate_input>(a, j + m);
    complex x2 = load_input<conjugate_input>(a, j + 2 * m);
    complex x3 = load_input<conjugate_input>(a, j + 3 * m);
    butterfly(x0, x1, x2, x3);
    store(a, j, x0);
    store(a, j + m, x1);
    store(a, j + 2 * m, x2);
    store(a, j + 3 * m, x3);
}

template <bool conjugate_input>
inline void stage1_at(double *__restrict a, int j, int m, complex w1, complex w3) {
    at_quarters<conjugate_input>(a, j, m, [w1, w3](auto &...x) { butterfly1(x..., w1, w3); });
}

// Kind-1 stage: twiddles W_N^k and W_N^3k. The mirror index Q-k uses W^(Q-k) = i conj(W^k)
// and W^(3(Q-k)) = -i conj(W^3k), so twiddles are generated only up to the middle H = Q/2.
template <bool conjugate_input> void stage1(int n, double *__restrict a) {
    assert(n >= 64);
    const int mh = n >> 3;
    const int m = 2 * mh;
    const double unit = half_pi / m;
    double sn, cs;
    sincos(2 * unit, &sn, &cs);
    const complex step{cs, sn};
    const complex step3 = triple_angle(step);
    const double d1 = 2 * sn, d3 = 2 * step3.im;
    complex e1{1, 0}, o1 = step, e3{1, 0}, o3 = step3;

    at_quarters<conjugate_input>(a, 0, m, [](auto &...x) { butterfly1(x...); });
    for (int i = 0;;) {
        const int i0 = std::min(i + twiddle_block, mh - 4);
        for (int j = i + 2; j < i0; j += 4) {
            stage1_at<conjugate_input>(a, j, m, o1, o3);
            twiddle_step(e1, o1, d1);
            twiddle_step(e3, o3, d3);
            stage1_at<conjugate_input>(a, j + 2, m, e1, e3);
            stage1_at<conjugate_input>(a, m - j, m, swapped(o1), swapped_negated(o3));
            stage1_at<conjugate_input>(a, m - j - 2, m, swapped(e1), swapped_negated(e3));
            twiddle_step(o1, e1, d1);
            twiddle_step(o3, e3, d3);
        }
        if (i + twiddle_block >= mh - 4) {
            break;
        }
        const twiddle_pair seed = reseed(i0 * unit, step);
        e1 = seed.even;
        o1 = seed.odd;
        e3 = triple_angle(e1);
        o3 = triple_angle(o1);
        i = i0;
    }
    // Middle of the quarter: H-1, its mirror H+1, and H with W^H = exp(i pi/4).
    stage1_at<conjugate_input>(a, mh - 2, m, o1, o3);
    stage1_at<conjugate_input>(a, mh + 2, m, swapped(o1), swapped_negated(o3));
    const double w = e1.re - d1 * o1.im;
    stage1_at<conjugate_input>(a, mh, m, {w, w}, {-w, w});
}

// Running twiddles of the kind-2 stage at one index: W^k, zeta W^k, W^3k, i zeta W^3k.
struct stage2_twiddles {
    complex w1, z1, w3, z3;
};

inline stage2_twiddles stage2_from(complex w1, complex w3) {
    return {w1, times_zeta(w1), w3, times_i_zeta(w3)};
}

inline void twiddle_step(stage2_twiddles &prev, const stage2_twiddles &cur, double d1, double d3) {
    twiddle_step(prev.w1, cur.w1, d1);
    twiddle_step(prev.z1, cur.z1, d1);
    twiddle_step(prev.w3, cur.w3, d3);
    twiddle_step(prev.z3, cur.z3, d3);
}

inline void stage2_at(double *__restrict a, int j, int m, complex w1, complex z1, complex w3,
                      complex z3) {
    at_quarters(a, j, m, [=](auto &...x) { butterfly2(x..., w1, z1, w3, z3); });
}

inline void stage2_at(double *__restrict a, int j, int m, const stage2_twiddles &t) {
    stage2_at(a, j, m, t.w1, t.z1, t.w3, t.z3);
}

// The mirror Q-k: W^(Q-k) = zeta conj(W^k), zeta W^(Q-k) = i conj(W^k),
// W^(3(Q-k)) = i zeta conj(W^3k), i zeta W^(3(Q-k)) = -i conj(W^3k).
inline void stage2_mirror_at(double *__restrict a, int j, int m, const stage2_twiddles &t) {
    stage2_at(a, j, m, swapped(t.z1), swapped(t.w1), swapped_negated(t.z3), swapped_negated(t.w3));
}
} // namespace

extern "C" {

void cftmdl1(int n, double *a) {
    stage1<false>(n, a);
}

void cftb1st(int n, double *a) {
    stage1<true>(n, a);
}

// Kind-2 stage: W = W_2N. Quarters 0..3 then need block transforms of kinds 1, 2, 1, 2.
void cftmdl2(int n, double *__restrict a) {
    assert(n >= 64);
    const int mh = n >> 3;
    const int m = 2 * mh;
    const double unit = half_pi / (4 * mh);
    double sn, cs;
    sincos(2 * unit, &sn, &cs);
    const complex step{cs, sn};
    const complex step3 = triple_angle(step);
    const double d1 = 2 * sn, d3 = 2 * step3.im;
    stage2_twiddles even = stage2_from({1, 0}, {1, 0}), odd = stage2_from(step, step3);

    at_quarters(a, 0, m, [](auto &...x) { butterfly2(x...); });
    for (int i = 0;;) {
        const int i0 = std::min(i + twiddle_block, mh - 4);
        for (int j = i + 2; j < i0; j += 4) {
            stage2_at(a, j, m, odd);
            twiddle_step(even, odd, d1, d3);
            stage2_at(a, j + 2, m, even);
            stage2_mirror_at(a, m - j, m, odd);
            stage2_mirror_at(a, m - j - 2, m, even);
            twiddle_step(odd, even, d1, d3);
        }
        if (i + twiddle_block >= mh - 4) {
            break;
        }
        const twiddle_pair seed = reseed(i0 * unit, step);
        even = stage2_from(seed.even, triple_angle(seed.even));
        odd = stage2_from(seed.odd, triple_angle(seed.odd));
        i = i0;
    }
    stage2_at(a, mh - 2, m, odd);
    stage2_mirror_at(a, mh + 2, m, odd);
    // At H = N/8: W^H = exp(i pi/8); zeta W^H = W^3H = exp(3i pi/8); i zeta W^3H = -W^H.
    const complex w{even.w1.re - d1 * odd.w1.im, even.w1.im + d1 * odd.w1.re};
    stage2_at(a, mh, m, w, swapped(w), swapped(w), {-w.re, -w.im});
}

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

// Kind-1, 8 points: stage with W_8, then 2-point quarters of kinds 1, 2, 1, 1.
void cftf081(double *__restrict a) {
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
void cftf082(double *__restrict a) {
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
void cftf161(double *__restrict a) {
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
void cftf162(double *__restrict a) {
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

void cftfx41(int n, double *a) {
    if (n == 128) {
        cftf161(a);
        cftf162(a + 32);
        cftf161(a + 64);
        cftf161(a + 96);
    } else {
        cftf081(a);
        cftf082(a + 16);
        cftf081(a + 32);
        cftf081(a + 48);
    }
}

void cftfx42(int n, double *a) {
    if (n == 128) {
        cftf161(a);
        cftf162(a + 32);
        cftf161(a + 64);
        cftf162(a + 96);
    } else {
        cftf081(a);
        cftf082(a + 16);
        cftf081(a + 32);
        cftf082(a + 48);
    }
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
// within one block of at most 512 doubles. The last quarter is the loop's next round.
void cftrec1(int n, double *a) {
    for (;;) {
        cftmdl1(n, a);
        if (n <= 512) {
            cftexp1(n, a);
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

void cftrec2(int n, double *a) {
    for (;;) {
        cftmdl2(n, a);
        if (n <= 512) {
            cftexp2(n, a);
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

} // extern "C"

// ---------------------------------------------------------------------------------------------
// Bit reversal

namespace {

// Next value of a counter that counts in reversed bit order; top is the highest bit.
inline int reversed_increment(int r, int top) {
    int h = top;
    r ^= h;
    while (r < h) {
        h >>= 1;
        r ^= h;
    }
    return r;
}

// Exchanges elements p and q (element indices; an element is `width` doubles), conjugating
// both when asked.
template <int width, bool conjugate> inline void exchange(double *__restrict a, int p, int q) {
    p *= width;
    q *= width;
    for (int i = 0; i < width; ++i) {
        const double x = a[p + i], y = a[q + i];
        const bool negate = conjugate && i == 1;
        a[p + i] = negate ? -y : y;
        a[q + i] = negate ? -x : x;
    }
}

// Moves element e to rev(e) for `count` elements, count a power of two. An index is split as
// (t, mid, l): top bit, middle bits, low bit; its reversal is (l, rev(mid), t). A pair of
// middle values mid != rev(mid) gives four exchanges, one for each choice of t and l; for
// mid = rev(mid) only (0, mid, 1) and (1, mid, 0) move, while (0, mid, 0) and (1, mid, 1) stay
// (and are conjugated in place if asked).
// The middle values are walked in tiles, mid = (h, c, lo) with h and lo of up to two bits and
// rev(mid) = (rev lo, rev c, rev h), so that one tile touches only a few short runs of memory
// (measured: up to twice as fast as a plain walk; larger tiles were slower). A centre c is
// visited only when c <= rev(c): for c < rev(c) every exchange of the tile is done there; for
// c = rev(c) the tile pairs with itself and each pair is taken once.
template <int width, bool conjugate> void bit_reverse(int count, double *__restrict a) {
    if (count < 4) {
        return;
    }
    int middle_bits = 0;
    while ((4 << middle_bits) < count) {
        ++middle_bits;
    }
    const int tile_bits = std::min(2, middle_bits / 2);
    const int tile = 1 << tile_bits;
    const int centres = 1 << (middle_bits - 2 * tile_bits);
    const int high_shift = middle_bits - tile_bits;
    const int half = count >> 1;
    for (int c = 0, rc = 0; c < centres; ++c, rc = reversed_increment(rc, centres >> 1)) {
        if (c > rc) {
            continue;
        }
        for (int h = 0, rh = 0; h < tile; ++h, rh = reversed_increment(rh, tile >> 1)) {
            for (int lo = 0, rl = 0; lo < tile; ++lo, rl = reversed_increment(rl, tile >> 1)) {
                const int mid = (h << high_shift) | (c << tile_bits) | lo;
                const int rev = (rl << high_shift) | (rc << tile_bits) | rh;
                const int p = 2 * mid, q = 2 * rev;
                if (c < rc || mid < rev) {
                    exchange<width, conjugate>(a, p, q);
                    exchange<width, conjugate>(a, p + half + 1, q + half + 1);
                    exchange<width, conjugate>(a, p + 1, q + half);
                    exchange<width, conjugate>(a, p + half, q + 1);
                } else if (mid == rev) {
                    exchange<width, conjugate>(a, p + 1, p + half);
                    if (conjugate) {
                        a[width * p + 1] = -a[width * p + 1];
                        a[width * (p + half + 1) + 1] = -a[width * (p + half + 1) + 1];
                    }
                }
            }
        }
    }
}

} // namespace

extern "C" {

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

} // extern "C"

// ---------------------------------------------------------------------------------------------
// Drivers

namespace {

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

// The forward and backward drivers by size. Backward is conj(F(conj x)): the first stage reads
// the conjugate and the final permutation conjugates; the small sizes read the forward result
// at negated indices instead.
template <bool backward> void complex_transform(int n, double *a) {
    if (n > 32) {
        backward ? cftb1st(n, a) : cftmdl1(n, a);
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

// The lengths the public transforms accept: a power of two, and at least 2, which is one
// complex point or two real values. Debug and sanitizer builds check them at the boundary.
constexpr bool valid_length(int n) {
    return n >= 2 && (n & (n - 1)) == 0;
}

} // namespace

extern "C" {

void cftfsub(int n, double *a) {
    complex_transform<false>(n, a);
}

void cftbsub(int n, double *a) {
    complex_transform<true>(n, a);
}

void cdft(int n, int sign, double *a) {
    assert(valid_length(n) && "n: a power of two, at least 2");
    if (sign < 0) {
        cftbsub(n, a);
    } else {
        cftfsub(n, a);
    }
}

} // extern "C"

// ---------------------------------------------------------------------------------------------
// Real, cosine and sine transforms, built on the complex drivers

namespace {

constexpr double pi = 3.141592653589793;

// The real-DFT twiddles run over j in blocks of 256 doubles (128 twiddles from one seed), the
// cosine/sine twiddles over j in blocks of 128: both keep the recurrence within about a hundred
// steps of a sincos value, so its drift stays at a few ulps.
constexpr int real_twiddle_block = 256;
constexpr int cosine_twiddle_block = 128;

inline complex halved(complex z) {
    return {0.5 * z.re, 0.5 * z.im};
}

// Splits the complex transform of n/2 points into the real DFT of n values (forward) or merges
// it back (backward), pairing index j with k = n - j. The running twiddle at j holds
// (1/2 - wr, wi) = 1/2 (sin(pi j/n), cos(pi j/n)), a rotation by 2 pi/n per step down in j.
template <bool backward> inline void real_pair_at(double *__restrict a, int n, int j, complex z) {
    const int k = n - j;
    const double wr = 0.5 - z.re, wi = z.im;
    const double xr = a[j] - a[k], xi = a[j + 1] + a[k + 1];
    const double yr = backward ? wr * xr + wi * xi : wr * xr - wi * xi;
    const double yi = backward ? wr * xi - wi * xr : wr * xi + wi * xr;
    a[j] -= yr;
    a[j + 1] -= yi;
    a[k] += yr;
    a[k + 1] -= yi;
}

template <bool backward> void real_split(int n, double *__restrict a) {
    assert(n >= 8);
    const double unit = pi / n;
    double s, c;
    sincos(unit, &s, &c);
    const double d = 4 * s * c; // 2 sin(2 pi/n)
    const complex step{1 - 2 * s * s, 2 * s * c};
    complex even{0.5, 0}, odd{0.5 - s * s, s * c}; // at j = n/2 and n/2 - 2
    for (int i = n >> 1;;) {
        const int i0 = std::max(i, real_twiddle_block + 4) - real_twiddle_block;
        for (int j = i - 4; j >= i0; j -= 4) {
            real_pair_at<backward>(a, n, j + 2, odd);
            twiddle_step(even, odd, d);
            real_pair_at<backward>(a, n, j, even);
            twiddle_step(odd, even, d);
        }
        if (i <= real_twiddle_block + 4) {
            break;
        }
        // (sin, cos) of pi i0/n is (cos, sin) of the rotation angle pi/2 - pi i0/n.
        double s0, c0;
        sincos(i0 * unit, &s0, &c0);
        const twiddle_pair seed = seed_pair({s0, c0}, step);
        even = halved(seed.even);
        odd = halved(seed.odd);
        i = i0;
    }
    real_pair_at<backward>(a, n, 2, odd);
}

// The cosine/sine twiddles e(j) = (cos + sin)/2 and f(j) = (cos - sin)/2 of pi j/(2n) form the
// rotating value f + i e = (1 + i)/2 exp(i pi j/(2n)), so they follow the same recurrence.
inline complex cosine_twiddle(complex w) {
    return {0.5 * (w.re - w.im), 0.5 * (w.re + w.im)};
}

template <bool sine> inline void cosine_pair_at(double *__restrict a, int n, int j, complex z) {
    const double f = z.re, e = z.im;
    const double x = a[j], y = a[n - j];
    if (sine) {
        a[j] = e * y - f * x;
        a[n - j] = f * y + e * x;
    } else {
        a[j] = f * x + e * y;
        a[n - j] = e * x - f * y;
    }
}

template <bool sine> void cosine_twiddles(int n, double *__restrict a) {
    assert(n >= 4);
    const int m = n >> 1;
    const double unit = half_pi / n;
    double s, c;
    sincos(unit, &s, &c);
    const complex step{c, s};
    const double d = 2 * s;
    complex even = cosine_twiddle({1, 0}), odd = cosine_twiddle(step);
    for (int i = 0;;) {
        const int i0 = std::min(i + cosine_twiddle_block, m - 2);
        for (int j = i + 2; j <= i0; j += 2) {
            cosine_pair_at<sine>(a, n, j - 1, odd);
            twiddle_step(even, odd, d);
            cosine_pair_at<sine>(a, n, j, even);
            twiddle_step(odd, even, d);
        }
        if (i + cosine_twiddle_block >= m - 2) {
            break;
        }
        const twiddle_pair seed = reseed(i0 * unit, step);
        even = cosine_twiddle(seed.even);
        odd = cosine_twiddle(seed.odd);
        i = i0;
    }
    cosine_pair_at<sine>(a, n, m - 1, odd);
    a[m] *= even.im + d * odd.re; // e(m) = cos(pi/4), one more step
}

// n <= 4: e(1), f(1) of pi/8 and e(m) = cos(pi/4) as constants.
template <bool sine> void cosine_twiddles_small(int n, double *__restrict a) {
    if (n == 4) {
        cosine_pair_at<sine>(a, 4, 1, {0.2705980500730985, 0.6532814824381883});
    }
    a[n >> 1] *= cos_pi_4;
}

} // namespace

extern "C" {

void bitrv1(int n, double *a) {
    bit_reverse<1, false>(n, a);
}

void rftfsub(int n, double *a) {
    real_split<false>(n, a);
}

void rftbsub(int n, double *a) {
    real_split<true>(n, a);
}

void dctsub(int n, double *a) {
    cosine_twiddles<false>(n, a);
}

void dstsub(int n, double *a) {
    cosine_twiddles<true>(n, a);
}

void dctsub4(int n, double *a) {
    cosine_twiddles_small<false>(n, a);
}

void dstsub4(int n, double *a) {
    cosine_twiddles_small<true>(n, a);
}

void rdft(int n, int sign, double *a) {
    assert(valid_length(n) && "n: a power of two, at least 2");
    if (sign >= 0) {
        if (n > 4) {
            cftfsub(n, a);
            rftfsub(n, a);
        } else if (n == 4) {
            cftfsub(n, a);
        }
        const double x = a[0] - a[1];
        a[0] += a[1];
        a[1] = x;
    } else {
        a[1] = 0.5 * (a[0] - a[1]);
        a[0] -= a[1];
        if (n > 4) {
            rftbsub(n, a);
            cftbsub(n, a);
        } else if (n == 4) {
            cftbsub(n, a);
        }
    }
}

} // extern "C"

namespace {

// The DCT and DST ride on the real DFT of n values: neighbouring values are folded into sums
// and differences, the twiddles turn the half-sample shift into a rotation. The two differ
// only in the signs of the folding (s = +1 for the cosine, -1 for the sine) and in their
// twiddle step.
template <bool sine> void cosine_sine_transform(int n, int sign, double *a) {
    constexpr double s = sine ? -1.0 : 1.0;
    const auto twiddles = sine ? dstsub : dctsub;
    const auto twiddles_small = sine ? dstsub4 : dctsub4;
    if (sign < 0) {
        const double x = a[n - 1];
        for (int j = n - 2; j >= 2; j -= 2) {
            a[j + 1] = s * a[j] - a[j - 1];
            a[j] += s * a[j - 1];
        }
        a[1] = a[0] - s * x;
        a[0] += s * x;
        if (n > 4) {
            rftbsub(n, a);
            cftbsub(n, a);
            twiddles(n, a);
        } else {
            if (n == 4) {
                cftbsub(n, a);
            }
            twiddles_small(n, a);
        }
    } else {
        if (n > 4) {
            twiddles(n, a);
            cftfsub(n, a);
            rftfsub(n, a);
        } else {
            twiddles_small(n, a);
            if (n == 4) {
                cftfsub(n, a);
            }
        }
        const double x = s * (a[0] - a[1]);
        a[0] += a[1];
        for (int j = 2; j < n; j += 2) {
            a[j - 1] = s * a[j] - a[j + 1];
            a[j] += s * a[j + 1];
        }
        a[n - 1] = x;
    }
}

} // namespace

extern "C" {

void ddct(int n, int sign, double *a) {
    assert(valid_length(n) && "n: a power of two, at least 2");
    cosine_sine_transform<false>(n, sign, a);
}

void ddst(int n, int sign, double *a) {
    assert(valid_length(n) && "n: a power of two, at least 2");
    cosine_sine_transform<true>(n, sign, a);
}

// Cosine transform of n+1 values by halving: the even part of the data is a DCT of half the
// length (ddct, then bitrv1 for natural order), the odd part recurses; the outputs interleave
// and a final bitrv1 puts them in order.
void dfct(int n, double *a) {
    assert(valid_length(n) && "n: a power of two, at least 2");
    for (int j = 0; j < n / 2; ++j) {
        const double x = a[j], y = a[n - j];
        a[j] = x - y;
        a[n - j] = x + y;
    }
    double t = a[n];
    if (n >= 4) {
        int m = n >> 1, h;
        for (;;) {
            ddct(m, 1, a);
            bitrv1(m, a);
            const double g = a[m];
            a[m] = a[0];
            a[0] = t - g;
            t += g;
            h = m >> 1;
            if (m < 4) {
                break;
            }
            for (int j = 1; j < h; ++j) {
                const double o = a[2 * m - j], p = a[m + j], q = a[m - j];
                a[m + j] = a[j];
                a[2 * m - j] = q;
                a[j] = o - p;
                a[m - j] = p + o;
            }
            std::swap(a[h], a[m + h]);
            m = h;
        }
        std::swap(a[h], a[m + h]);
    }
    const double w = a[1];
    a[1] = a[0];
    a[0] = w + t;
    a[n] = t - w;
    bitrv1(n, a);
}

// Sine transform of n-1 values, by the same halving with ddst.
void dfst(int n, double *a) {
    assert(valid_length(n) && "n: a power of two, at least 2");
    double v;
    if (n >= 4) {
        for (int j = 1; j < n / 2; ++j) {
            const double x = a[j], y = a[n - j];
            a[j] = x + y;
            a[n - j] = x - y;
        }
        a[0] = a[n >> 1];
        for (int m = n >> 1;;) {
            ddst(m, 1, a);
            bitrv1(m, a);
            const int h = m >> 1;
            for (int j = 1; j < h; ++j) {
                const double g = a[2 * m - j], p = a[m + j], q = a[m - j];
                a[m + j] = a[j];
                a[2 * m - j] = q;
                a[j] = p + g;
                a[m - j] = g - p;
            }
            a[m] = a[0];
            a[0] = a[m + h];
            a[m + h] = a[h];
            if (m < 4) {
                break;
            }
            m = h;
        }
        v = a[0];
    } else {
        v = a[n >> 1];
    }
    a[0] = 0;
    a[1] = v;
    bitrv1(n, a);
}

} // extern "C"
