// Internal to the FFT package: what the transform kernels (compiled once per instruction set,
// see fftsg_h_kernels.cpp) share with the public entry points and the real transforms.
//
// Everything below has internal linkage on purpose: each translation unit is compiled for its
// own instruction set and must keep its own copies, or the linker could hand an AVX-512 copy of
// a helper to the baseline code.
#ifndef TESSARY_FFTSG_H_COMMON_H
#define TESSARY_FFTSG_H_COMMON_H

#include "fft/twiddle_walk.h"

#include <algorithm>
#include <bit>
#include <math.h>
#include <utility>

namespace {

constexpr double half_pi = 1.5707963267948966;
constexpr double cos_pi_4 = 0.7071067811865476;

struct complex {
    double re, im;
};

// The arithmetic on complex values runs on pairs of doubles, in one vector register where the
// target has one (the compiler leaves the plain two-field formulas scalar). Each component is
// computed with the operations of the scalar formula: a - b as a + (-b), a product's two terms
// summed in either order, signs set by multiplying with exact +-1. So on the baseline path
// the results are the same to the bit as with scalar code.
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
inline complex operator*(double s, complex x) {
    return unpack(s * pack(x));
}
inline complex times_i(complex x) {
    return unpack(swap(pack(x)) * double_pair{-1, 1});
}

// ---------------------------------------------------------------------------------------------
// Twiddles

// exp(i angle) from sincos.
inline complex unit_complex(double angle) {
    double s, c;
    sincos(angle, &s, &c);
    return {c, s};
}

// ---------------------------------------------------------------------------------------------
// Bit reversal

// log2 of a power of two.
inline int log2_of(int count) {
    return std::countr_zero(static_cast<unsigned>(count));
}

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

// An element of a permutation: one real value (width 1) or one complex value (width 2), which
// moves as one pair of doubles and is conjugated when asked (multiplying by -1 negates exactly).
template <int width, bool conjugate> inline auto load_element(const double *__restrict from) {
    static_assert(width == 1 || width == 2);
    if constexpr (width == 1) {
        return *from;
    } else {
        double_pair x;
        __builtin_memcpy(&x, from, sizeof x);
        return conjugate ? x * double_pair{1, -1} : x;
    }
}
template <class Element> inline void store_element(double *__restrict to, Element x) {
    __builtin_memcpy(to, &x, sizeof x);
}

// Exchanges elements p and q (element indices; an element is `width` doubles), conjugating
// both when asked.
template <int width, bool conjugate> inline void exchange(double *__restrict a, int p, int q) {
    const auto x = load_element<width, conjugate>(a + width * p);
    const auto y = load_element<width, conjugate>(a + width * q);
    store_element(a + width * p, y);
    store_element(a + width * q, x);
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
template <int width, bool conjugate> void bit_reverse_tiled(int count, double *__restrict a) {
    const int middle_bits = log2_of(count) - 2;
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

// Bit reversal for arrays well beyond the caches, where the tiled walk's short runs each cost a
// miss (measured: 2^20 complex values took up to ten times as long as 2^19 when other programs
// shared the cache). An index is split as (r, mid, c) with r and c of block_bits bits; its
// reversal is (rev c, rev mid, rev r). So the block of mid (block_side rows r of block_side
// consecutive elements c) and the block of rev(mid) are each other's transposes, with rows and
// columns in reversed order. Both blocks are copied to buffers, which have no cache-set
// conflicts, and written back from there, so that memory is only read and written in whole
// rows.
constexpr int block_bits = 5;
constexpr int block_side = 1 << block_bits;
constexpr int min_blocked_count = 1 << 19; // measured: no faster below

template <int width, bool conjugate> void bit_reverse_blocked(int count, double *__restrict a) {
    using block = double[block_side][block_side][width];
    const int middles = count >> (2 * block_bits);
    const int row_stride = width * (count >> block_bits);
    int reversed[block_side];
    for (int i = 0, r = 0; i < block_side; ++i, r = reversed_increment(r, block_side >> 1)) {
        reversed[i] = r;
    }
    const auto row_of = [=](int mid, int r) {
        return a + r * row_stride + width * (mid << block_bits);
    };
    const auto load = [&](int mid, block &b) {
        for (int r = 0; r < block_side; ++r) {
            std::copy_n(row_of(mid, r), block_side * width, &b[r][0][0]);
        }
    };
    // Element (r, c) of the block of mid comes from element (rev c, rev r) of the other block.
    const auto store_transposed = [&](int mid, const block &b) {
        for (int r = 0; r < block_side; ++r) {
            double *row = row_of(mid, r);
            for (int c = 0; c < block_side; ++c) {
                store_element(row + width * c,
                              load_element<width, conjugate>(b[reversed[c]][reversed[r]]));
            }
        }
    };
    alignas(64) block own, partner;
    for (int mid = 0, rev = 0; mid < middles; ++mid, rev = reversed_increment(rev, middles >> 1)) {
        if (mid > rev) {
            continue;
        }
        load(mid, own);
        if (mid < rev) {
            load(rev, partner);
            store_transposed(rev, own);
            store_transposed(mid, partner);
        } else {
            store_transposed(mid, own);
        }
    }
}

template <int width, bool conjugate> void bit_reverse(int count, double *__restrict a) {
    if (count >= min_blocked_count) {
        bit_reverse_blocked<width, conjugate>(count, a);
    } else if (count >= 4) {
        bit_reverse_tiled<width, conjugate>(count, a);
    }
}

} // namespace

#endif
