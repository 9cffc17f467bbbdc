#include "fft/fftsg_h.h"

#include <fftw3.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

// The binary links with --wrap=sincos: every twiddle seed passes through here, where it is
// counted and, when an array is watched, the span of doubles rewritten since the previous
// seed is noted (the block the transform was working on).
extern "C" void __real_sincos(double x, double *s, double *c);

namespace {

struct SeedWatch {
    int seeds = 0;
    const double *array = nullptr; // watched array, or null
    std::vector<double> snapshot;
    std::vector<std::pair<int, int>> spans; // [first, last] rewritten between two seeds

    void note_rewritten_span() {
        int first = -1;
        int last = -1;
        for (int i = 0; i < static_cast<int>(snapshot.size()); ++i) {
            if (array[i] != snapshot[i]) {
                first = first < 0 ? i : first;
                last = i;
                snapshot[i] = array[i];
            }
        }
        if (first >= 0) {
            spans.emplace_back(first, last);
        }
    }
} seed_watch;

} // namespace

extern "C" void __wrap_sincos(double x, double *s, double *c) {
    ++seed_watch.seeds;
    if (seed_watch.array != nullptr) {
        seed_watch.note_rewritten_span();
    }
    __real_sincos(x, s, c);
}

namespace {

using long_complex = std::complex<long double>;

constexpr double eps = std::numeric_limits<double>::epsilon();
constexpr long double pi_l = 3.141592653589793238462643383279502884L;
constexpr double guard = 12345.0;

int log2_of(int n) {
    int l = 0;
    while ((1 << l) < n) {
        ++l;
    }
    return l;
}

int reverse_bits(int p, int bits) {
    int r = 0;
    for (int b = 0; b < bits; ++b) {
        r = (r << 1) | ((p >> b) & 1);
    }
    return r;
}

// n random doubles in [-1, 1) followed by guard values that no transform may touch.
std::vector<double> random_points(int n, std::uint64_t seed, int guards = 4) {
    std::mt19937_64 gen(seed);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    std::vector<double> a(n + guards, guard);
    for (int i = 0; i < n; ++i) {
        a[i] = dist(gen);
    }
    return a;
}

void expect_guards_intact(const std::vector<double> &a, int n) {
    for (std::size_t i = n; i < a.size(); ++i) {
        EXPECT_EQ(a[i], guard) << "guard " << i - n << " overwritten";
    }
}

// exp(2 pi i t / period) in long double for t = 0 .. period-1.
std::vector<long_complex> unit_roots(int period) {
    std::vector<long_complex> w(period);
    for (int t = 0; t < period; ++t) {
        const long double phi = 2 * pi_l * t / period;
        w[t] = {std::cos(phi), std::sin(phi)};
    }
    return w;
}

// X[k] = sum_j x[j] exp(sign 2 pi i jk / N), directly in long double.
std::vector<long_complex> direct_dft(const std::vector<double> &a, int n, int sign) {
    const int points = n / 2;
    const std::vector<long_complex> w = unit_roots(points);
    std::vector<long_complex> out(points);
    for (int k = 0; k < points; ++k) {
        long_complex sum = 0;
        for (int j = 0; j < points; ++j) {
            const int t = static_cast<int>((static_cast<long>(j) * k) % points);
            const long_complex x(a[2 * j], a[2 * j + 1]);
            sum += x * (sign >= 0 ? w[t] : std::conj(w[t]));
        }
        out[k] = sum;
    }
    return out;
}

// Kind-2 block transform X[k] = sum_j x[j] W_2N^(j(2k+1)), stored at position rev_N(k).
std::vector<long_complex> direct_kind2_bit_reversed(const std::vector<double> &a, int n) {
    const int points = n / 2, bits = log2_of(points);
    const std::vector<long_complex> w = unit_roots(2 * points);
    std::vector<long_complex> out(points);
    for (int k = 0; k < points; ++k) {
        long_complex sum = 0;
        for (int j = 0; j < points; ++j) {
            const int t = static_cast<int>((static_cast<long>(j) * (2 * k + 1)) % (2 * points));
            sum += long_complex(a[2 * j], a[2 * j + 1]) * w[t];
        }
        out[reverse_bits(k, bits)] = sum;
    }
    return out;
}

// Largest |got - want| relative to the largest |want|.
long double relative_error(const double *got, const std::vector<long_complex> &want) {
    long double err = 0, scale = 0;
    for (std::size_t k = 0; k < want.size(); ++k) {
        err = std::max(err, std::abs(long_complex(got[2 * k], got[2 * k + 1]) - want[k]));
        scale = std::max(scale, std::abs(want[k]));
    }
    return err / scale;
}

// Accuracy bound: eps per radix-2 level. Measured errors stay below a fifth of it for the
// complex transform and below half of it for the real, cosine and sine transforms.
double tolerance(int n) {
    return eps * std::max(1, log2_of(n));
}

} // namespace

TEST(Cdft, MatchesDirectLongDoubleDftUpTo4096Doubles) {
    for (int n = 2; n <= 4096; n *= 2) {
        for (int sign : {1, -1}) {
            SCOPED_TRACE(testing::Message() << "n=" << n << " sign=" << sign);
            std::vector<double> a = random_points(n, 1000 + n);
            const std::vector<long_complex> want = direct_dft(a, n, sign);
            cdft(n, sign, a.data());
            EXPECT_LT(relative_error(a.data(), want), tolerance(n));
            expect_guards_intact(a, n);
        }
    }
}

TEST(Cdft, MatchesFftwFrom8192To2097152Doubles) {
    for (int n = 8192; n <= 2097152; n *= 2) {
        for (int sign : {1, -1}) {
            SCOPED_TRACE(testing::Message() << "n=" << n << " sign=" << sign);
            std::vector<double> a = random_points(n, 2000 + n);
            // Our forward transform uses exp(+2 pi i jk/N): FFTW's backward sign.
            fftw_complex *b = fftw_alloc_complex(n / 2);
            fftw_plan plan = fftw_plan_dft_1d(n / 2, b, b, sign >= 0 ? FFTW_BACKWARD : FFTW_FORWARD,
                                              FFTW_ESTIMATE);
            for (int j = 0; j < n / 2; ++j) {
                b[j][0] = a[2 * j];
                b[j][1] = a[2 * j + 1];
            }
            fftw_execute(plan);
            std::vector<long_complex> want(n / 2);
            for (int j = 0; j < n / 2; ++j) {
                want[j] = {b[j][0], b[j][1]};
            }
            fftw_destroy_plan(plan);
            fftw_free(b);

            cdft(n, sign, a.data());
            EXPECT_LT(relative_error(a.data(), want), tolerance(n));
            expect_guards_intact(a, n);
        }
    }
}

TEST(Cdft, ForwardThenBackwardScalesByThePointCount) {
    for (int n = 4; n <= 2097152; n *= 2) {
        SCOPED_TRACE(testing::Message() << "n=" << n);
        const std::vector<double> x = random_points(n, 3000 + n);
        std::vector<double> a = x;
        cdft(n, 1, a.data());
        cdft(n, -1, a.data());
        const double points = n / 2;
        double err = 0, scale = 0;
        for (int i = 0; i < n; ++i) {
            err = std::max(err, std::abs(a[i] / points - x[i]));
            scale = std::max(scale, std::abs(x[i]));
        }
        EXPECT_LT(err / scale, tolerance(n));
        expect_guards_intact(a, n);
    }
}

TEST(Cdft, SmallLengthsAreExact) {
    for (int sign : {0, 1, -1}) {
        SCOPED_TRACE(sign);
        double two[2] = {3, -5};
        cdft(2, sign, two);
        EXPECT_EQ(two[0], 3);
        EXPECT_EQ(two[1], -5);

        double four[4] = {1, 2, 3, 5};
        cdft(4, sign, four);
        EXPECT_EQ(four[0], 4);
        EXPECT_EQ(four[1], 7);
        EXPECT_EQ(four[2], -2);
        EXPECT_EQ(four[3], -3);
    }
    // n = 8: X1 = d + i e forward and d - i e backward, X3 the other way round; the values
    // are X[k] = sum x[j] i^(jk), worked out by hand.
    const double x[8] = {1, 2, 3, 5, 7, 11, 13, 17};
    double fwd[8], bwd[8];
    std::copy(x, x + 8, fwd);
    std::copy(x, x + 8, bwd);
    cdft(8, 1, fwd);
    cdft(8, -1, bwd);
    const double want_fwd[8] = {24, 35, 6, -19, -8, -9, -18, 1};
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(fwd[i], want_fwd[i]);
    }
    EXPECT_EQ(bwd[0], fwd[0]);
    EXPECT_EQ(bwd[1], fwd[1]);
    EXPECT_EQ(bwd[2], fwd[6]);
    EXPECT_EQ(bwd[3], fwd[7]);
    EXPECT_EQ(bwd[4], fwd[4]);
    EXPECT_EQ(bwd[5], fwd[5]);
    EXPECT_EQ(bwd[6], fwd[2]);
    EXPECT_EQ(bwd[7], fwd[3]);
}

// The upper half is not read: NaN there must not reach the result, which is the forward
// transform of the zero-filled array to the bit.
TEST(CftfsubUpperHalfZero, GivesTheForwardTransformOfTheZeroFilledArray) {
    for (int n = 2; n <= 1 << 20; n *= 2) {
        SCOPED_TRACE(testing::Message() << "n=" << n);
        const int values = std::min(n, n / 2 + 2);
        std::vector<double> zero_filled = random_points(n, 5000 + n);
        std::fill(zero_filled.begin() + values, zero_filled.begin() + n, 0.0);
        std::vector<double> unread = zero_filled;
        std::fill(unread.begin() + values, unread.begin() + n, std::nan(""));
        cdft(n, 1, zero_filled.data());
        cftfsub_upper_half_zero(n, unread.data());
        EXPECT_EQ(std::memcmp(unread.data(), zero_filled.data(), n * sizeof(double)), 0);
        expect_guards_intact(unread, n);
    }
}

TEST(Cdft, ZeroSignIsForward) {
    std::vector<double> a = random_points(256, 7), b = a;
    cdft(256, 0, a.data());
    cdft(256, 1, b.data());
    EXPECT_EQ(a, b);
}

TEST(Cdft, ImpulseAndConstantGiveRootsAndASingleBin) {
    for (int n = 4; n <= 65536; n *= 2) {
        SCOPED_TRACE(testing::Message() << "n=" << n);
        const int points = n / 2;
        for (int sign : {1, -1}) {
            std::vector<double> a(n, 0.0);
            a[2] = 1;
            cdft(n, sign, a.data());
            double err = 0;
            for (int k = 0; k < points; ++k) {
                const long double phi = 2 * pi_l * k / points;
                err = std::max(err, static_cast<double>(std::abs(a[2 * k] - std::cos(phi))));
                err = std::max(err,
                               static_cast<double>(std::abs(a[2 * k + 1] - sign * std::sin(phi))));
            }
            EXPECT_LT(err, tolerance(n)) << "impulse, sign " << sign;

            std::vector<double> c(n);
            for (int j = 0; j < points; ++j) {
                c[2 * j] = 0.75;
                c[2 * j + 1] = -0.5;
            }
            cdft(n, sign, c.data());
            EXPECT_NEAR(c[0], 0.75 * points, points * tolerance(n));
            EXPECT_NEAR(c[1], -0.5 * points, points * tolerance(n));
            double rest = 0;
            for (int i = 2; i < n; ++i) {
                rest = std::max(rest, std::abs(c[i]));
            }
            EXPECT_LT(rest, points * tolerance(n)) << "constant, sign " << sign;
        }
    }
}

TEST(Cdft, BackwardIsForwardAtNegatedIndicesFor16And32Doubles) {
    for (int n : {16, 32}) {
        SCOPED_TRACE(n);
        const int points = n / 2;
        std::vector<double> fwd = random_points(n, 40 + n), bwd = fwd;
        cdft(n, 1, fwd.data());
        cdft(n, -1, bwd.data());
        for (int k = 0; k < points; ++k) {
            SCOPED_TRACE(k);
            const int neg = (points - k) % points;
            EXPECT_EQ(bwd[2 * k], fwd[2 * neg]);
            EXPECT_EQ(bwd[2 * k + 1], fwd[2 * neg + 1]);
        }
    }
}

TEST(CftBlocks, Rec2GivesTheKind2BlockTransform) {
    for (int n : {128, 256, 512, 1024, 2048, 4096}) {
        SCOPED_TRACE(n);
        std::vector<double> a = random_points(n, 50 + n);
        const std::vector<long_complex> want = direct_kind2_bit_reversed(a, n);
        if (n <= 128) {
            cftmdl2(n, a.data());
            cftfx42(n, a.data());
        } else {
            cftrec2(n, a.data());
        }
        EXPECT_LT(relative_error(a.data(), want), tolerance(n));
        expect_guards_intact(a, n);
    }
}

TEST(CftBlocks, LevelWalkEqualsRecursionWhereItTakesExtraLevels) {
    for (int n : {2048, 4096}) {
        SCOPED_TRACE(n);
        std::vector<double> walk = random_points(n, 60 + n), rec = walk;
        const std::vector<double> x = walk;
        cftmdl1(n, walk.data());
        cftexp1(n, walk.data());
        cftrec1(n, rec.data());
        EXPECT_EQ(walk, rec);
        // Both are the kind-1 transform, in bit-reversed order.
        bitrv2(n, walk.data());
        EXPECT_LT(relative_error(walk.data(), direct_dft(x, n, 1)), tolerance(n));
    }
}

TEST(CftBlocks, Exp2LevelWalkGivesTheKind2Transform) {
    std::vector<double> a = random_points(2048, 77);
    const std::vector<long_complex> want = direct_kind2_bit_reversed(a, 2048);
    cftmdl2(2048, a.data());
    cftexp2(2048, a.data());
    EXPECT_LT(relative_error(a.data(), want), tolerance(2048));
}

// Up to lengths beyond the caches, where the reversal works in blocks.
TEST(Bitrv2, ReversesEveryIndexAndConjugatesEachElementOnce) {
    for (int n = 2; n <= 1 << 22; n *= 2) {
        SCOPED_TRACE(n);
        const int points = n / 2, bits = log2_of(points);
        std::vector<double> a(n), b(n);
        for (int p = 0; p < points; ++p) {
            a[2 * p] = b[2 * p] = p;
            a[2 * p + 1] = b[2 * p + 1] = p + 0.5;
        }
        bitrv2(n, a.data());
        bitrv2conj(n, b.data());
        // Below 8 doubles both leave the array alone.
        const double conj_sign = n < 8 ? 1 : -1;
        int mismatches = 0;
        for (int p = 0; p < points; ++p) {
            const int want = n < 8 ? p : reverse_bits(p, bits);
            mismatches += a[2 * p] != want || a[2 * p + 1] != want + 0.5;
            mismatches += b[2 * p] != want || b[2 * p + 1] != conj_sign * (want + 0.5);
        }
        EXPECT_EQ(mismatches, 0);
    }
}

namespace {

// cos and sin of pi t / (2n) in long double, t taken mod 4n: every angle of the real, cosine
// and sine transforms of length n is such a multiple.
class QuarterAngles {
  public:
    explicit QuarterAngles(int n) : n4_(4 * n), c_(4 * n), s_(4 * n) {
        for (int t = 0; t < n4_; ++t) {
            const long double phi = pi_l * t / (2 * n);
            c_[t] = std::cos(phi);
            s_[t] = std::sin(phi);
        }
    }
    long double cos(long t) const { return c_[t % n4_]; }
    long double sin(long t) const { return s_[t % n4_]; }

  private:
    int n4_;
    std::vector<long double> c_, s_;
};

using real_values = std::vector<long double>;

real_values direct_rdft(const std::vector<double> &a, int n, int sign) {
    const QuarterAngles w(n);
    real_values out(n, 0);
    if (sign >= 0) {
        for (int j = 0; j < n; ++j) {
            out[0] += a[j];
            out[1] += (j % 2 ? -1 : 1) * static_cast<long double>(a[j]);
        }
        for (int k = 1; k < n / 2; ++k) {
            for (long j = 0; j < n; ++j) {
                out[2 * k] += a[j] * w.cos(4 * j * k);
                out[2 * k + 1] += a[j] * w.sin(4 * j * k);
            }
        }
    } else {
        for (long j = 0; j < n; ++j) {
            long double sum = 0.5L * (a[0] + (j % 2 ? -1 : 1) * static_cast<long double>(a[1]));
            for (int k = 1; k < n / 2; ++k) {
                sum += a[2 * k] * w.cos(4 * j * k) + a[2 * k + 1] * w.sin(4 * j * k);
            }
            out[j] = sum;
        }
    }
    return out;
}

real_values direct_ddct(const std::vector<double> &a, int n, int sign) {
    const QuarterAngles w(n);
    real_values out(n, 0);
    for (long k = 0; k < n; ++k) {
        for (long j = 0; j < n; ++j) {
            out[k] += a[j] * (sign >= 0 ? w.cos(j * (2 * k + 1)) : w.cos((2 * j + 1) * k));
        }
    }
    return out;
}

real_values direct_ddst(const std::vector<double> &a, int n, int sign) {
    const QuarterAngles w(n);
    real_values out(n, 0);
    if (sign >= 0) {
        for (long k = 0; k < n; ++k) {
            for (long j = 1; j <= n; ++j) {
                out[k] += a[j % n] * w.sin(j * (2 * k + 1));
            }
        }
    } else {
        for (long k = 1; k <= n; ++k) {
            for (long j = 0; j < n; ++j) {
                out[k % n] += a[j] * w.sin((2 * j + 1) * k);
            }
        }
    }
    return out;
}

real_values direct_dfct(const std::vector<double> &a, int n, int) {
    const QuarterAngles w(n);
    real_values out(n + 1, 0);
    for (long k = 0; k <= n; ++k) {
        for (long j = 0; j <= n; ++j) {
            out[k] += a[j] * w.cos(2 * j * k);
        }
    }
    return out;
}

real_values direct_dfst(const std::vector<double> &a, int n, int) {
    const QuarterAngles w(n);
    real_values out(n, 0);
    for (long k = 1; k < n; ++k) {
        for (long j = 1; j < n; ++j) {
            out[k] += a[j] * w.sin(2 * j * k);
        }
    }
    return out;
}

struct RealTransform {
    const char *name;
    int extra;    // values beyond n that the transform uses
    bool signed_; // has two directions
    void (*apply)(int n, int sign, double *a);
    real_values (*direct)(const std::vector<double> &a, int n, int sign);
};

const RealTransform real_transforms[] = {
    {"rdft", 0, true, rdft, direct_rdft},
    {"ddct", 0, true, ddct, direct_ddct},
    {"ddst", 0, true, ddst, direct_ddst},
    {"dfct", 1, false, [](int n, int, double *a) { dfct(n, a); }, direct_dfct},
    {"dfst", 0, false, [](int n, int, double *a) { dfst(n, a); }, direct_dfst},
};

long double relative_error(const double *got, const real_values &want) {
    long double err = 0, scale = 0;
    for (std::size_t k = 0; k < want.size(); ++k) {
        err = std::max(err, std::abs(got[k] - want[k]));
        scale = std::max(scale, std::abs(want[k]));
    }
    return err / scale;
}

} // namespace

TEST(RealTransforms, MatchDirectLongDoubleSumsUpTo4096) {
    for (const RealTransform &t : real_transforms) {
        for (int n = 2; n <= 4096; n *= 2) {
            for (int sign : {1, -1}) {
                if (sign < 0 && !t.signed_) {
                    continue;
                }
                SCOPED_TRACE(testing::Message() << t.name << " n=" << n << " sign=" << sign);
                std::vector<double> a = random_points(n + t.extra, 5000 + n);
                const real_values want = t.direct(a, n, sign);
                t.apply(n, sign, a.data());
                if (t.name == std::string("dfst")) {
                    EXPECT_EQ(a[0], 0);
                }
                EXPECT_LT(relative_error(a.data(), want), tolerance(n));
                expect_guards_intact(a, n + t.extra);
            }
        }
    }
}

TEST(RealTransforms, InverseRelationsScaleByHalfTheLengthUpTo2To18) {
    // Each round trip multiplies by n/2; dfct halves its end values and ddct/ddst their first
    // value between the two directions.
    for (const RealTransform &t : real_transforms) {
        for (int n = 2; n <= 262144; n *= 2) {
            const int len = n + t.extra;
            const std::vector<double> x = random_points(len, 6000 + n);
            std::vector<std::vector<double>> results;
            const std::string name = t.name;
            if (name == "rdft") {
                std::vector<double> a = x;
                rdft(n, 1, a.data());
                rdft(n, -1, a.data());
                results.push_back(a);
            } else if (name == "ddct" || name == "ddst") {
                for (int first : {-1, 1}) {
                    std::vector<double> a = x;
                    if (first > 0) {
                        a[0] *= 0.5;
                    }
                    t.apply(n, first, a.data());
                    if (first < 0) {
                        a[0] *= 0.5;
                    }
                    t.apply(n, -first, a.data());
                    results.push_back(a);
                }
            } else {
                std::vector<double> a = x;
                for (int round = 0; round < 2; ++round) {
                    if (name == "dfct") {
                        a[0] *= 0.5;
                        a[n] *= 0.5;
                    }
                    t.apply(n, 1, a.data());
                }
                results.push_back(a);
            }
            for (const std::vector<double> &a : results) {
                SCOPED_TRACE(testing::Message() << t.name << " n=" << n);
                double err = 0;
                const int from = name == "dfst" ? 1 : 0;
                for (int i = from; i < len; ++i) {
                    err = std::max(err, std::abs(a[i] / (n / 2) - x[i]));
                }
                EXPECT_LT(err, 2 * tolerance(n)) << "two transforms of rounding";
                expect_guards_intact(a, len);
            }
        }
    }
}

TEST(RealTransforms, TwoValueCasesAreExact) {
    double r[2] = {3, 5};
    rdft(2, 1, r);
    EXPECT_EQ(r[0], 8);
    EXPECT_EQ(r[1], -2);
    rdft(2, -1, r);
    EXPECT_EQ(r[0], 3);
    EXPECT_EQ(r[1], 5);

    double c[3] = {2, 3, 7};
    dfct(2, c);
    EXPECT_EQ(c[0], 12);
    EXPECT_EQ(c[1], -5);
    EXPECT_EQ(c[2], 6);

    double s[2] = {9, 4};
    dfst(2, s);
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[1], 4);
}

// A length that is not a power of two of at least 2 stops at the boundary in builds with
// assertions (rdft(12, ...) wrote past the array before); Release builds do not check.
TEST(FftLengthDeathTest, WrongLengthsAbortWithAnAssertion) {
#ifdef NDEBUG
    GTEST_SKIP() << "assertions are off in this build";
#else
    std::vector<double> a(64, 1.0);
    for (int n : {-8, 0, 1, 6, 12, 48}) {
        SCOPED_TRACE(n);
        EXPECT_DEATH(cdft(n, 1, a.data()), "n: a power of two, at least 2");
        for (const RealTransform &t : real_transforms) {
            SCOPED_TRACE(t.name);
            EXPECT_DEATH(t.apply(n, 1, a.data()), "n: a power of two, at least 2");
        }
    }
#endif
}

TEST(Bitrv1, ReversesEveryIndex) {
    for (int n = 1; n <= 1 << 21; n *= 2) {
        SCOPED_TRACE(n);
        std::vector<double> a(n);
        for (int p = 0; p < n; ++p) {
            a[p] = p;
        }
        bitrv1(n, a.data());
        int mismatches = 0;
        for (int p = 0; p < n; ++p) {
            mismatches += a[p] != reverse_bits(p, log2_of(n));
        }
        EXPECT_EQ(mismatches, 0);
    }
}

namespace {

int seeds_of(void (*routine)(int, double *), int n) {
    std::vector<double> a = random_points(n, 90 + n);
    seed_watch.seeds = 0;
    routine(n, a.data());
    return seed_watch.seeds;
}

int ceil_div(int a, int b) {
    return (a + b - 1) / b;
}

} // namespace

// The twiddle recurrence drifts with every step from its last sincos value, so each routine
// takes a fresh seed per block of twiddles: the radix-4 stages every 128 doubles of the n/8 - 4
// they walk, the real-DFT split every 256 of n/2 - 4, the cosine and sine steps every 128 of
// n/2 - 2. Fewer seeds would let the drift grow unseen by the accuracy tests' bounds.
TEST(TwiddleSeeds, OnePerBlockOfTwiddles) {
    for (int n = 64; n <= 1 << 16; n *= 2) {
        SCOPED_TRACE(n);
        const int stage = ceil_div(n / 8 - 4, 128);
        EXPECT_EQ(seeds_of(cftmdl1, n), stage) << "cftmdl1";
        EXPECT_EQ(seeds_of(cftb1st, n), stage) << "cftb1st";
        EXPECT_EQ(seeds_of(cftmdl2, n), stage) << "cftmdl2";
        EXPECT_EQ(seeds_of(rftfsub, n), ceil_div(n / 2 - 4, 256)) << "rftfsub";
        EXPECT_EQ(seeds_of(rftbsub, n), ceil_div(n / 2 - 4, 256)) << "rftbsub";
        EXPECT_EQ(seeds_of(dctsub, n), ceil_div(n / 2 - 2, 128)) << "dctsub";
        EXPECT_EQ(seeds_of(dstsub, n), ceil_div(n / 2 - 2, 128)) << "dstsub";
    }
}

// The recursion goes depth first down to blocks of at most 512 doubles and finishes each
// before touching the next, so the inner levels stay within one small block: every stage that
// works inside a single 512-double block follows the stages of the blocks before it.
TEST(Cdft, FinishesEachBlockOf512DoublesBeforeTheNext) {
    for (int n = 1024; n <= 1 << 16; n *= 2) {
        for (const int sign : {1, -1}) {
            SCOPED_TRACE(testing::Message() << "n=" << n << " sign=" << sign);
            std::vector<double> a = random_points(n, 95 + n, 0);
            seed_watch.snapshot = a;
            seed_watch.spans.clear();
            seed_watch.array = a.data();
            cdft(n, sign, a.data());
            seed_watch.array = nullptr;
            int block = 0;
            int small_spans = 0;
            for (const auto &[first, last] : seed_watch.spans) {
                if (first / 512 != last / 512) {
                    continue; // a stage over a larger block
                }
                ++small_spans;
                EXPECT_GE(first / 512, block) << "doubles " << first << " to " << last;
                block = first / 512;
            }
            EXPECT_GE(small_spans, n / 512) << "every block was worked on by its own stages";
        }
    }
}
