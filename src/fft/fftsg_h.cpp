#include "fft/fftsg_h.h"

#include "fft/fftsg_h_common.h"
#include "fft/fftsg_h_kernels.h"

#include <cassert>

// Every routine works in place on the caller's doubles. All stages and leaves compute with the
// forward sign W_M = exp(+2 pi i / M); the backward transform conjugates on the way in and out.

// ---------------------------------------------------------------------------------------------
// The kernels of the instruction-set path

extern const simd::per_path<fftsg::kernel_table> fftsg::path_kernels = {
    {TESSARY_SIMD_PATHS(SIMD_KERNELS_ADDRESS)}};

namespace {

inline const fftsg::kernel_table &active_kernels() {
    return fftsg::path_kernels.active();
}

// The lengths the public transforms accept: a power of two, and at least 2, which is one
// complex point or two real values. Debug and sanitizer builds check them at the boundary.
constexpr bool valid_length(int n) {
    return n >= 2 && (n & (n - 1)) == 0;
}

} // namespace

extern "C" {

// The path of the kernels that run, as their table names it.
const char *fft_simd_path(void) {
    return simd::name_of(active_kernels().path);
}

const char *fft_simd_note(void) {
    return simd::active_note();
}

void cftfsub(int n, double *a) {
    active_kernels().cftfsub(n, a);
}
void cftfsub_upper_half_zero(int n, double *a) {
    active_kernels().cftfsub_upper_half_zero(n, a);
}
void cftbsub(int n, double *a) {
    active_kernels().cftbsub(n, a);
}
void cftmdl1(int n, double *a) {
    active_kernels().cftmdl1(n, a);
}
void cftb1st(int n, double *a) {
    active_kernels().cftb1st(n, a);
}
void cftmdl2(int n, double *a) {
    active_kernels().cftmdl2(n, a);
}
void cftfx41(int n, double *a) {
    active_kernels().cftfx41(n, a);
}
void cftfx42(int n, double *a) {
    active_kernels().cftfx42(n, a);
}
void cftexp1(int n, double *a) {
    active_kernels().cftexp1(n, a);
}
void cftexp2(int n, double *a) {
    active_kernels().cftexp2(n, a);
}
void cftrec1(int n, double *a) {
    active_kernels().cftrec1(n, a);
}
void cftrec2(int n, double *a) {
    active_kernels().cftrec2(n, a);
}
void bitrv2(int n, double *a) {
    active_kernels().bitrv2(n, a);
}
void bitrv2conj(int n, double *a) {
    active_kernels().bitrv2conj(n, a);
}
void bitrv216(double *a) {
    active_kernels().bitrv216(a);
}
void bitrv216neg(double *a) {
    active_kernels().bitrv216neg(a);
}
void bitrv208(double *a) {
    active_kernels().bitrv208(a);
}
void bitrv208neg(double *a) {
    active_kernels().bitrv208neg(a);
}
void cftf161(double *a) {
    active_kernels().cftf161(a);
}
void cftf162(double *a) {
    active_kernels().cftf162(a);
}
void cftf081(double *a) {
    active_kernels().cftf081(a);
}
void cftf082(double *a) {
    active_kernels().cftf082(a);
}
void cftf040(double *a) {
    active_kernels().cftf040(a);
}
void cftb040(double *a) {
    active_kernels().cftb040(a);
}
void cftx020(double *a) {
    active_kernels().cftx020(a);
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

// The real-DFT and the cosine/sine twiddle walks take a fresh value every 128 indices: both keep
// the recurrence within about a hundred steps of a sincos value, so its drift stays at a few ulps.
constexpr int real_twiddle_block = 128;
constexpr int cosine_twiddle_block = 128;

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

// Index k = (n/2 - j)/2 of the walk carries 1/2 exp(2 pi i k/n) = 1/2 (sin, cos)(pi j/n).
template <bool backward> void real_split(int n, double *__restrict a) {
    assert(n >= 8);
    const double unit = pi / n;
    double s, c;
    sincos(unit, &s, &c);
    const complex step{1 - 2 * s * s, 2 * s * c}; // exp(2 pi i/n)
    const int half = n >> 1;
    // (sin, cos) of pi j/n is (cos, sin) of the rotation angle pi/2 - pi j/n.
    const auto reseed = [=](int k) {
        double s0, c0;
        sincos((half - 2 * k) * unit, &s0, &c0);
        const complex z{s0, c0};
        return twiddle_run<complex>{0.5 * z, 0.5 * (z * step)};
    };
    twiddle_walk walk(twiddle_run<complex>{{0.5, 0}, {0.5 - s * s, s * c}}, 4 * s * c, 1,
                      real_twiddle_block, (n >> 2) - 1, reseed);
    for (int k = 1; k < n >> 2; ++k) {
        walk.advance();
        real_pair_at<backward>(a, n, half - 2 * k, walk.current());
    }
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
    assert(n >= 8);
    const int m = n >> 1;
    const double unit = half_pi / n;
    const complex step = unit_complex(unit);
    const auto reseed = [=](int j) {
        const complex e = unit_complex(j * unit);
        return twiddle_run<complex>{cosine_twiddle(e), cosine_twiddle(e * step)};
    };
    twiddle_walk walk(twiddle_run<complex>{cosine_twiddle({1, 0}), cosine_twiddle(step)},
                      2 * step.im, 1, cosine_twiddle_block, m - 1, reseed);
    for (int j = 1; j < m; ++j) {
        walk.advance();
        cosine_pair_at<sine>(a, n, j, walk.current());
    }
    a[m] *= walk.following().im; // e(m) = cos(pi/4), one more step
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

} // extern "C"

namespace {

// The bins of the real DFT of n values, from the complex transform of their n/2 pairs, split
// by rftfsub: a[2k], a[2k+1] = R[k], I[k] for 0 < k < n/2, while a[0] and a[1] hold the sums of
// the even- and of the odd-indexed values, whose sum and difference are R[0] and R[n/2].
void real_dft_bins(int n, double *a) {
    if (n > 4) {
        cftfsub(n, a);
        rftfsub(n, a);
    } else if (n == 4) {
        cftfsub(n, a);
    }
}

// The inverse of real_dft_bins times n/2: the merge (rftbsub), then the backward transform.
void real_dft_bins_inverse(int n, double *a) {
    if (n > 4) {
        rftbsub(n, a);
        cftbsub(n, a);
    } else if (n == 4) {
        cftbsub(n, a);
    }
}

} // namespace

extern "C" {

void rdft(int n, int sign, double *a) {
    assert(valid_length(n) && "n: a power of two, at least 2");
    if (sign >= 0) {
        real_dft_bins(n, a);
        const double x = a[0] - a[1];
        a[0] += a[1];
        a[1] = x;
    } else {
        a[1] = 0.5 * (a[0] - a[1]);
        a[0] -= a[1];
        real_dft_bins_inverse(n, a);
    }
}

} // extern "C"

namespace {

// The DCT and DST ride on the real DFT of n values: neighbouring values are folded into the
// bins of a real sequence, and the twiddles turn the half-sample shift into a rotation. The two
// differ only in the signs of the folding (s = +1 for the cosine, -1 for the sine) and in their
// twiddle step.
template <bool sine> constexpr double fold_sign = sine ? -1.0 : 1.0;

// Backward, into bins: bin k (a[2k], a[2k+1]) takes (a[2k] + s a[2k-1], s a[2k] - a[2k-1]) for
// k > 0 and (a[0] + s a[n-1], a[0] - s a[n-1]) for k = 0. Walked downwards, so that each value
// is read before it is rewritten.
template <bool sine> void fold_into_bins(int n, double *a) {
    constexpr double s = fold_sign<sine>;
    const double x = a[n - 1];
    for (int j = n - 2; j >= 2; j -= 2) {
        a[j + 1] = s * a[j] - a[j - 1];
        a[j] += s * a[j - 1];
    }
    a[1] = a[0] - s * x;
    a[0] += s * x;
}

// Forward, out of the bins: a[2k-1] = s a[2k] - a[2k+1] and a[2k] + s a[2k+1] in place of bin k
// for k > 0, bin 0's sum in a[0] and s times its difference in a[n-1]. Walked upwards, so that
// each value is read before it is rewritten.
template <bool sine> void unfold_from_bins(int n, double *a) {
    constexpr double s = fold_sign<sine>;
    const double x = s * (a[0] - a[1]);
    a[0] += a[1];
    for (int j = 2; j < n; j += 2) {
        a[j - 1] = s * a[j] - a[j + 1];
        a[j] += s * a[j + 1];
    }
    a[n - 1] = x;
}

// The half-sample rotation: the twiddle walk from 8 values on, constants below.
template <bool sine> void half_sample_twiddles(int n, double *a) {
    if (n > 4) {
        sine ? dstsub(n, a) : dctsub(n, a);
    } else {
        sine ? dstsub4(n, a) : dctsub4(n, a);
    }
}

template <bool sine> void cosine_sine_transform(int n, int sign, double *a) {
    if (sign < 0) {
        fold_into_bins<sine>(n, a);
        real_dft_bins_inverse(n, a);
        half_sample_twiddles<sine>(n, a);
    } else {
        half_sample_twiddles<sine>(n, a);
        real_dft_bins(n, a);
        unfold_from_bins<sine>(n, a);
    }
}

// ---- dfct and dfst by halving ----
// The cosine transform of 2m + 1 values e_0 .. e_2m (dfct) splits, with the pairs e_j and
// e_(2m-j), into its odd outputs, the half-sample transform (ddct) of the m differences
// e_j - e_(2m-j), j < m, and its even outputs, the cosine transform of the m + 1 sums (the middle
// value e_m counting as its own sum). The sine transform (dfst) splits the same way, with the
// roles of sums and differences exchanged: the half-sample transform (ddst) of the sums e_j +
// e_(2m-j), 0 < j < m, with e_m, gives its odd outputs, and the sine transform of the differences
// its even outputs. Each level transforms its half-sample part and folds its other part into the
// next level, half as long; the outputs are built in bit-reversed order, even ones first, which a
// final bitrv1 puts in natural order.
//
// At the top of the level that splits a transform of length 2m, the array holds the part of the
// half-sample transform in a[0 .. m-1] and the values v_1 .. v_(m-1) of the half-length
// transform at a[2m - j]; a[2m .. n-1] hold the outputs of the levels before, in their places.

// The first fold: the half-sample part below (differences for the cosine, sums for the sine),
// the other part mirrored above, at a[n - j].
template <bool sine> void fold_halves(int n, double *a) {
    for (int j = sine ? 1 : 0; j < n / 2; ++j) {
        const double x = a[j], y = a[n - j];
        a[j] = sine ? x + y : x - y;
        a[n - j] = sine ? x - y : x + y;
    }
}

// The half-sample transform of a[0 .. m-1], in bit-reversed order: the odd outputs of the level.
template <bool sine> void odd_outputs(int m, double *a) {
    sine ? ddst(m, 1, a) : ddct(m, 1, a);
    bitrv1(m, a);
}

// Folds the pairs v_j, v_(m-j), 0 < j < m/2, of the half-length values (at a[2m - j] and
// a[m + j]) into the next level: its half-sample part to a[j], its other part to a[m - j]. The
// odd outputs that were at a[j] and a[m - j] move up to their places a[m + j] and a[2m - j].
template <bool sine> void fold_next_level(int m, double *a) {
    for (int j = 1; j < m >> 1; ++j) {
        const double o = a[2 * m - j], p = a[m + j], q = a[m - j];
        a[m + j] = a[j];
        a[2 * m - j] = q;
        a[j] = sine ? p + o : o - p;
        a[m - j] = sine ? o - p : p + o;
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

// The cosine transform holds its half-length values v_0 and v_m apart from the layout above:
// v_m in a[m], v_0 in `ends`. Their fold puts v_0 - v_m in a[0], with the next level's
// half-sample part, and keeps v_0 + v_m in `ends`. The last level, of length 1, has one odd
// output, a[0] itself, which goes to its place 1; its even outputs are ends + a[1] and
// ends - a[1], the transform's last value, a[n].
void dfct(int n, double *a) {
    assert(valid_length(n) && "n: a power of two, at least 2");
    fold_halves<false>(n, a);
    double ends = a[n];
    for (int m = n >> 1; m >= 2; m >>= 1) {
        odd_outputs<false>(m, a);
        // The odd output at 0 goes to its place m, where v_m was.
        const double middle = a[m];
        a[m] = a[0];
        a[0] = ends - middle;
        ends += middle;
        fold_next_level<false>(m, a);
        // The next level's middle value, v_(m/2), and the odd output at m/2 trade places.
        std::swap(a[m >> 1], a[m + (m >> 1)]);
    }
    const double last = a[1];
    a[1] = a[0];
    a[0] = last + ends;
    a[n] = ends - last;
    bitrv1(n, a);
}

// The sine transform's middle value joins the half-sample part as its last value, which ddst
// takes from a[0]. The last level, of length 1, has one odd output, the value a[0] itself,
// which goes to its place 1; a[0] becomes 0.
void dfst(int n, double *a) {
    assert(valid_length(n) && "n: a power of two, at least 2");
    if (n >= 4) {
        fold_halves<true>(n, a);
        a[0] = a[n >> 1];
        for (int m = n >> 1; m >= 2; m >>= 1) {
            odd_outputs<true>(m, a);
            fold_next_level<true>(m, a);
            // The odd output at 0 goes to its place m; the next level's middle value, v_(m/2),
            // to a[0], and the odd output at m/2 to its place.
            const int h = m >> 1;
            a[m] = a[0];
            a[0] = a[m + h];
            a[m + h] = a[h];
        }
    }
    const double last = n >= 4 ? a[0] : a[n >> 1];
    a[0] = 0;
    a[1] = last;
    bitrv1(n, a);
}

} // extern "C"
