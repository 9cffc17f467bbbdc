// The arithmetic's loops that are compiled once per instruction-set path (see the list in
// src/CMakeLists.txt) into the namespace mp_kernels::<path>, with the path's table at the end.
//
// In the bin-pair kernels a group of `lanes` consecutive pairs is held as two vectors, the real
// and the imaginary parts of its bins, so that every formula runs lane by lane without
// shuffles. The baseline has one lane of plain doubles and computes the scalar formulas bit for
// bit; the wider paths may round differently in the last bits (and fuse multiplications and
// additions). The carry settling is integer arithmetic, exact on every path; the compiler
// vectorises its blocks for the path's registers.
#include "arithmetic/pi_fftcs_kernels.h"

#include "arithmetic/pi_fftcs_release.h"
#include "fft/twiddle_walk.h"

#include <algorithm>
#include <cstddef>
#include <math.h>
#include <utility>

#ifndef SIMD_PATH // the plain compile is the baseline
#define SIMD_PATH baseline
#define SIMD_REGISTER_BITS 128
#endif

namespace mp_kernels::SIMD_PATH {
namespace {

// ---- Carry settling ----

// Places a pass stages at a time: small enough to stay in registers and L1, large enough
// that its loops vectorise.
constexpr int settle_block = 64;

// Writes out[j] = term(j) + the carry from place j + 1 - radix * the carry of place j, for
// j = count - 1 down to 0, with `carry` entering place count - 1; returns the carry leaving
// place 0. A carry seldom travels past one place, so a block first takes each place's carry
// from its own term alone, which has no chain from place to place and vectorises; that guess
// is right for the whole block exactly when every digit it gives lies in range, and a block
// where one does not is redone place by place. A block reads all its terms before it writes,
// and later blocks read lower indices only, so out may be an array that term(j) reads at
// indices up to j.
template <class Out, class Term>
int settle_carries(int count, int low, int radix, int carry, Term term, Out *out) {
    for (int top = count - 1; top >= 0; top -= settle_block) {
        const int bottom = std::max(0, top - settle_block + 1);
        const int size = top - bottom + 1;
        int t[settle_block];
        int c[settle_block + 1];
        int digit[settle_block];
        for (int k = 0; k < size; ++k) {
            t[k] = term(bottom + k);
            c[k] = carry_of(t[k], low, radix);
        }
        c[size] = carry;
        int out_of_range = 0;
        for (int k = 0; k < size; ++k) {
            digit[k] = t[k] - radix * c[k] + c[k + 1];
            out_of_range |= digit[k] < low || digit[k] >= low + radix;
        }
        if (out_of_range == 0) {
            carry = c[0];
        } else {
            for (int k = size - 1; k >= 0; --k) {
                const int x = t[k] + carry;
                carry = carry_of(x, low, radix);
                digit[k] = x - radix * carry;
            }
        }
        std::copy(digit, digit + size, out + bottom);
    }
    return carry;
}

int add_places(int count, int radix, int carry, const int16_t *a, const int16_t *b, int16_t *out) {
    return settle_carries(
        count, 0, radix, carry, [=](int i) { return a[i] + b[i]; }, out);
}

int subtract_places(int count, int radix, const int16_t *a, const int16_t *b, int16_t *out) {
    return settle_carries(
        count, 0, radix, 0, [=](int i) { return a[i] - b[i]; }, out);
}

int balance_places(int count, int radix, const int16_t *digit, double *v) {
    return settle_carries(
        count, -radix / 2, radix, 0, [=](int i) { return int{digit[i]}; }, v);
}

// The radix is even, so the unit a digit passes on is its own parity: nothing chains from
// digit to digit, and blocks vectorise. Each block reads its digits before it writes.
int halve_places(int count, int radix, int half, const int16_t *in, int16_t *out) {
    for (int i = 0; i < count; i += settle_block) {
        const int size = std::min(settle_block, count - i);
        int digit[settle_block];
        int unit[settle_block + 1];
        unit[0] = half;
        for (int k = 0; k < size; ++k) {
            digit[k] = in[i + k];
            unit[k + 1] = digit[k] & 1;
        }
        for (int k = 0; k < size; ++k) {
            out[i + k] = static_cast<int16_t>((digit[k] + unit[k] * radix) >> 1);
        }
        half = unit[size];
    }
    return half;
}

// ---- Bin-pair kernels ----

// A double to a lane in the registers of the path; the baseline's 128 bits hold one pair, so
// that its results are the scalar formulas'.
constexpr int lanes = SIMD_REGISTER_BITS > 128 ? SIMD_REGISTER_BITS / 64 : 1;
static_assert(lanes == 1 || lanes == 2 || lanes == 4 || lanes == 8);

// The real or the imaginary parts of `count` bins: a double, or a vector of `count` doubles.
// (GCC drops a vector_size that depends on a template parameter, hence one line per size.)
template <int count> struct parts_of;
template <> struct parts_of<1> { using type = double; };
template <> struct parts_of<2> { using type = double __attribute__((vector_size(16))); };
template <> struct parts_of<4> { using type = double __attribute__((vector_size(32))); };
template <> struct parts_of<8> { using type = double __attribute__((vector_size(64))); };
template <int count> using parts = typename parts_of<count>::type;

// `count` bins, the c-th in lane c.
template <int count> struct bins { parts<count> re, im; };

template <int count> inline bins<count> operator+(bins<count> x, bins<count> y) {
    return {x.re + y.re, x.im + y.im};
}
template <int count> inline bins<count> operator*(bins<count> x, bins<count> y) {
    return {x.re * y.re - x.im * y.im, x.re * y.im + x.im * y.re};
}
template <int count> inline bins<count> operator*(double s, bins<count> x) {
    return {s * x.re, s * x.im};
}
template <int count> inline bins<count> times_i(bins<count> x) {
    return {-x.im, x.re};
}

// A real sequence of nfft values is transformed as nfft/2 complex values z; with Z its
// transform, the real transform's bins j and K = nfft - j are
//   X_j = (Z_j + conj Z_K)/2 + w_j (Z_j - conj Z_K)/2 with w_j = -i exp(+i j theta),
// which is what split computes in place from the pair (Z_j, Z_K), with
// wr = 0.5 - 0.5 sin(j theta), wi = 0.5 cos(j theta), theta = pi/nfft.
// merge is its inverse (up to the factor the backward transform supplies).
template <int count> struct twiddle { parts<count> wr, wi; };

// Bins j and K = nfft - j of `count` pairs.
template <int count> struct bin_pair { bins<count> j, k; };

// Bin by bin.
template <int count>
inline bin_pair<count> operator+(const bin_pair<count> &x, const bin_pair<count> &y) {
    return {x.j + y.j, x.k + y.k};
}
template <int count>
inline bin_pair<count> operator*(const bin_pair<count> &x, const bin_pair<count> &y) {
    return {x.j * y.j, x.k * y.k};
}

template <int count> inline void split(bin_pair<count> &x, twiddle<count> w) {
    const parts<count> xr = x.j.re - x.k.re;
    const parts<count> xi = x.j.im + x.k.im;
    const parts<count> yr = w.wr * xr - w.wi * xi;
    const parts<count> yi = w.wi * xr + w.wr * xi;
    x.j.re -= yr;
    x.j.im -= yi;
    x.k.re += yr;
    x.k.im -= yi;
}

template <int count> inline void merge(bin_pair<count> &x, twiddle<count> w) {
    const parts<count> xr = x.j.re - x.k.re;
    const parts<count> xi = x.j.im + x.k.im;
    const parts<count> yr = w.wr * xr + w.wi * xi;
    const parts<count> yi = w.wr * xi - w.wi * xr;
    x.j.re -= yr;
    x.j.im -= yi;
    x.k.re += yr;
    x.k.im -= yi;
}

// Between the 2 count doubles of `count` bins as they lie in memory (re, im, re, im, ...),
// loaded as two vectors, and their parts. `descending` gives lane 0 the bin at the highest
// address.
template <int count, bool descending> struct memory_order {
    using vector = parts<count>;
    // Position in memory of part p (0 re, 1 im) of lane c, and the inverse.
    static constexpr size_t position(size_t c, size_t p) {
        return 2 * (descending ? count - 1 - c : c) + p;
    }
    static constexpr size_t part_index(size_t position) {
        const size_t bin = position / 2;
        return position % 2 * count + (descending ? count - 1 - bin : bin);
    }
    template <size_t... c>
    static bins<count> unzip(vector v0, vector v1, std::index_sequence<c...>) {
        return {__builtin_shufflevector(v0, v1, position(c, 0)...),
                __builtin_shufflevector(v0, v1, position(c, 1)...)};
    }
    template <size_t... e>
    static void zip(bins<count> x, vector &v0, vector &v1, std::index_sequence<e...>) {
        v0 = __builtin_shufflevector(x.re, x.im, part_index(e)...);
        v1 = __builtin_shufflevector(x.re, x.im, part_index(e + count)...);
    }
};

// `count` bins from the double at index `first` on.
template <int count, bool descending> inline bins<count> load_bins(const double *x, int first) {
    if constexpr (count == 1) {
        return {x[first], x[first + 1]};
    } else {
        parts<count> v0, v1;
        __builtin_memcpy(&v0, x + first, sizeof v0);
        __builtin_memcpy(&v1, x + first + count, sizeof v1);
        return memory_order<count, descending>::unzip(v0, v1, std::make_index_sequence<count>{});
    }
}

template <int count, bool descending>
inline void store_bins(double *x, int first, bins<count> value) {
    if constexpr (count == 1) {
        x[first] = value.re;
        x[first + 1] = value.im;
    } else {
        parts<count> v0, v1;
        memory_order<count, descending>::zip(value, v0, v1, std::make_index_sequence<count>{});
        __builtin_memcpy(x + first, &v0, sizeof v0);
        __builtin_memcpy(x + first + count, &v1, sizeof v1);
    }
}

// The pairs (j - 2c, K + 2c), c = 0 ... count-1, with their twiddles.
template <int count> struct pair_at {
    int j, k;
    twiddle<count> w;

    bin_pair<count> load(const double *x) const {
        return {load_bins<count, true>(x, j - 2 * (count - 1)), load_bins<count, false>(x, k)};
    }
    void store(double *x, const bin_pair<count> &p) const {
        store_bins<count, true>(x, j - 2 * (count - 1), p.j);
        store_bins<count, false>(x, k, p.k);
    }
};

// The pairs of x split and stored back, so that x is left in spectrum form.
template <int count> inline bin_pair<count> split_stored(double *x, const pair_at<count> &at) {
    bin_pair<count> p = at.load(x);
    split(p, at.w);
    at.store(x, p);
    return p;
}

constexpr double pi = 3.141592653589793;
// The twiddle walk takes a fresh value from sincos every 128 pairs, which keeps the twiddles
// within a few ulps (the radix test sees the effect).
constexpr int pairs_per_seed = 128;

// `count` values as the lanes of one group.
template <int count> inline bins<count> lanes_of(const bins<1> *z) {
    if constexpr (count == 1) {
        return z[0];
    } else {
        bins<count> group;
        for (int c = 0; c < count; ++c) {
            group.re[c] = z[c].re;
            group.im[c] = z[c].im;
        }
        return group;
    }
}

// Calls pair_op(pair_at) for the pairs k = 0, 1, ..., nfft/4 - 1, `count` at a time: the bins
// j = nfft/2 - 2k and nfft - j. Pair 0 is the centre bin (j = K = nfft/2), whose twiddle is
// exactly 0: split and merge leave it as it is, so it is multiplied as is. Step k of the walk
// carries z(k) = (0.5 - wr, wi) = 1/2 exp(2ik theta); the first 2 count steps come from the
// scalar recurrence, and a reseed at k multiplies z(k) from sincos by their powers.
template <int count, class PairOp> void walk_pairs(int nfft, PairOp pair_op) {
    const double theta = pi / nfft;
    double s = 0;
    double c = 0;
    sincos(theta, &s, &c);
    const int half = nfft / 2;
    bins<1> z[2 * count] = {{0.5, 0}, {0.5 - s * s, s * c}};
    for (int m = 2; m < 2 * count; ++m) {
        z[m] = z[m - 2];
        twiddle_step(z[m], z[m - 1], 4 * s * c);
    }
    bins<1> powers[2 * count]; // exp(2im theta) = 2 z(m)
    for (int m = 0; m < 2 * count; ++m) {
        powers[m] = 2 * z[m];
    }
    // (sin, cos) of j theta is (cos, sin) of the walk's angle pi/2 - j theta.
    const auto reseed = [=](int k) {
        double sj = 0;
        double cj = 0;
        sincos((half - 2 * k) * theta, &sj, &cj);
        const bins<1> zk{0.5 * sj, 0.5 * cj};
        bins<1> group[2 * count];
        for (int m = 0; m < 2 * count; ++m) {
            group[m] = zk * powers[m];
        }
        return twiddle_run<bins<count>>{lanes_of<count>(group), lanes_of<count>(group + count)};
    };
    twiddle_walk walk(twiddle_run<bins<count>>{lanes_of<count>(z), lanes_of<count>(z + count)},
                      4 * z[count].im, count, pairs_per_seed, nfft / 4 - 1, reseed);
    for (int k = 0; k < nfft / 4; k += count, walk.advance()) {
        const bins<count> &zk = walk.current();
        pair_op(pair_at<count>{half - 2 * k, half + 2 * k, {0.5 - zk.re, zk.im}});
    }
}

// Whole groups of `lanes` pairs where there are enough pairs, else one pair at a time.
template <class PairOp> inline void for_each_bin_pair(int nfft, PairOp pair_op) {
    if (nfft / 4 >= lanes) {
        walk_pairs<lanes>(nfft, pair_op);
    } else {
        walk_pairs<1>(nfft, pair_op);
    }
}

// The kernels differ only in which arrays are split, which product is formed and whether the
// result is merged.

// b's pairs, split first unless b already holds a spectrum, times x, merged and stored back.
template <bool split_b, int count>
inline void multiply_into(double *b, const pair_at<count> &at, const bin_pair<count> &x) {
    auto y = at.load(b);
    if constexpr (split_b) {
        split(y, at.w);
    }
    y = y * x;
    merge(y, at.w);
    at.store(b, y);
}

void rcmul(int nfft, double *a, double *b) {
    for_each_bin_pair(nfft,
                      [=](const auto &at) { multiply_into<true>(b, at, split_stored(a, at)); });
}

void rcmul_nt_in1(int nfft, const double *a, double *b) {
    for_each_bin_pair(nfft, [=](const auto &at) { multiply_into<true>(b, at, at.load(a)); });
}

void rcmul_nt_in2(int nfft, double *a, double *b) {
    for_each_bin_pair(nfft,
                      [=](const auto &at) { multiply_into<false>(b, at, split_stored(a, at)); });
}

void rcmul_nt_out(int nfft, double *a, double *b) {
    for_each_bin_pair(nfft, [=](const auto &at) {
        const auto x = split_stored(a, at);
        auto y = at.load(b);
        split(y, at.w);
        at.store(b, y * x);
    });
}

void rcmul_nt_in1_add(int nfft, const double *a, double *b, double *sum) {
    for_each_bin_pair(nfft, [=](const auto &at) {
        const auto x = at.load(a);
        const auto y = split_stored(b, at);
        auto s = at.load(sum);
        s = s + x * y;
        merge(s, at.w);
        at.store(sum, s);
    });
}

void rcsqu(int nfft, double *a) {
    for_each_bin_pair(nfft, [=](const auto &at) {
        auto x = at.load(a);
        split(x, at.w);
        x = x * x;
        merge(x, at.w);
        at.store(a, x);
    });
}

void rcsqu_nt_in(int nfft, double *a) {
    for_each_bin_pair(nfft, [=](const auto &at) {
        auto x = at.load(a);
        x = x * x;
        merge(x, at.w);
        at.store(a, x);
    });
}

void rcsqu_save(int nfft, double *a, double *b) {
    for_each_bin_pair(nfft, [=](const auto &at) {
        const auto x = split_stored(a, at);
        auto y = x * x;
        merge(y, at.w);
        at.store(b, y);
    });
}

} // namespace

extern const kernel_table kernels = {
    .path = simd::path::SIMD_PATH,
    .rcmul = rcmul,
    .rcmul_nt_in1 = rcmul_nt_in1,
    .rcmul_nt_in2 = rcmul_nt_in2,
    .rcmul_nt_out = rcmul_nt_out,
    .rcmul_nt_in1_add = rcmul_nt_in1_add,
    .rcsqu = rcsqu,
    .rcsqu_nt_in = rcsqu_nt_in,
    .rcsqu_save = rcsqu_save,
    .add_places = add_places,
    .subtract_places = subtract_places,
    .balance_places = balance_places,
    .halve_places = halve_places,
// The carry release runs its lanes in AVX2 registers wherever the path has AVX2 (one AVX-512
// register was slower: its lanes form a single chain), else one digit of each lane in turn.
#ifdef __AVX2__
    .release = &mp_release::avx2::lanes,
#else
    .release = &mp_release::baseline::lanes,
#endif
};

} // namespace mp_kernels::SIMD_PATH
