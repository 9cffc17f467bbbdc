// Linked with -Wl,--wrap=cdft,--wrap=cftfsub_upper_half_zero,--wrap=sincos: every transform
// and every twiddle seed of the arithmetic passes through the counters below, so a routine
// that transforms more often than its contract allows fails here.
#include "pi_fftcs_product_support.h"

#include <functional>

extern "C" {
void __real_cdft(int n, int sign, double *a);
void __real_cftfsub_upper_half_zero(int n, double *a);
void __real_sincos(double x, double *s, double *c);
void __wrap_cdft(int n, int sign, double *a);
void __wrap_cftfsub_upper_half_zero(int n, double *a);
void __wrap_sincos(double x, double *s, double *c);
}

namespace {

struct Transform {
    int n;
    bool forward;
    int packed; // a forward transform's values up to the last non-zero one: digits packed
};

struct Counters {
    std::vector<Transform> transforms;
    int sincos = 0;
} counters;

} // namespace

namespace {

// The values up to the last non-zero one among the first `count`.
int values_up_to_last_non_zero(const double *a, int count) {
    while (count > 0 && a[count - 1] == 0) {
        --count;
    }
    return count;
}

} // namespace

extern "C" void __wrap_cdft(int n, int sign, double *a) {
    counters.transforms.push_back({n, sign >= 0, values_up_to_last_non_zero(a, n)});
    __real_cdft(n, sign, a);
}

// A packed operand's forward transform reads no more than its first n/2 + 2 values.
extern "C" void __wrap_cftfsub_upper_half_zero(int n, double *a) {
    counters.transforms.push_back({n, true, values_up_to_last_non_zero(a, std::min(n, n / 2 + 2))});
    __real_cftfsub_upper_half_zero(n, a);
}

extern "C" void __wrap_sincos(double x, double *s, double *c) {
    ++counters.sincos;
    __real_sincos(x, s, c);
}

namespace {

using namespace pi_fftcs_test;

struct Count {
    int forward = 0;
    int backward = 0;
    bool operator==(const Count &) const = default;
};

std::ostream &operator<<(std::ostream &os, const Count &c) {
    return os << c.forward << " forward + " << c.backward << " backward";
}

// Transforms made by `call`, all of which must have length nfft.
Count count_transforms(int nfft, const std::function<void()> &call) {
    counters.transforms.clear();
    call();
    Count c;
    for (const Transform &t : counters.transforms) {
        EXPECT_EQ(t.n, nfft);
        ++(t.forward ? c.forward : c.backward);
    }
    return c;
}

struct Expected {
    const char *routine;
    Count count;
    std::function<void()> call;
};

TEST(TransformCounts, ProductsMakeExactlyTheirTransforms) {
    for (const int nfft : {2, 16, 1024}) {
        for (const number_shape shape : {number_shape::random, number_shape::head_only}) {
            SCOPED_TRACE("nfft " + std::to_string(nfft) + ", " + shape_name(shape));
            const int n = nfft + 2;
            std::mt19937_64 rng(nfft);
            const Number a = shaped_number(n, nfft, 100, shape, rng);
            const Number b = shaped_number(n, nfft, 100, shape, rng);
            Number out(n), tmp(n);
            Work w1(nfft), w2(nfft), w3(nfft);
            double *d1 = w1.get(), *d2 = w2.get(), *d3 = w3.get();
            // In this order, so that each routine that uses d1 finds what it needs.
            const Expected table[] = {
                {"mp_mul",
                 {4, 2},
                 [&] { mp_mul(n, 100, a.get(), b.get(), out.get(), tmp.get(), nfft, d1, d2, d3); }},
                {"mp_squ",
                 {2, 2},
                 [&] { mp_squ(n, 100, a.get(), out.get(), tmp.get(), nfft, d1, d2); }},
                {"mp_mulhf",
                 {3, 2},
                 [&] { mp_mulhf(n, 100, a.get(), b.get(), out.get(), tmp.get(), nfft, d1, d2); }},
                {"mp_mulhf_use_in1fft",
                 {2, 2},
                 [&] { mp_mulhf_use_in1fft(n, 100, d1, b.get(), out.get(), tmp.get(), nfft, d2); }},
                {"mp_squhf_use_infft",
                 {1, 2},
                 [&] { mp_squhf_use_infft(n, 100, d1, a.get(), out.get(), tmp.get(), nfft, d2); }},
                {"mp_mulh",
                 {2, 1},
                 [&] { mp_mulh(n, 100, a.get(), b.get(), out.get(), nfft, d1, d2); }},
                {"mp_mulh_use_in1fft",
                 {1, 1},
                 [&] { mp_mulh_use_in1fft(n, 100, d1, 3, b.get(), out.get(), nfft, d2); }},
                {"mp_squh", {1, 1}, [&] { mp_squh(n, 100, a.get(), out.get(), nfft, d1); }},
                {"mp_squh_save_infft",
                 {1, 1},
                 [&] { mp_squh_save_infft(n, 100, a.get(), out.get(), nfft, d1, d2); }},
                {"mp_squh_use_in1fft",
                 {0, 1},
                 [&] { mp_squh_use_in1fft(n, 100, d1, out.get(), nfft); }},
            };
            for (const Expected &e : table) {
                EXPECT_EQ(count_transforms(nfft, e.call), e.count) << e.routine;
            }
        }
    }
}

TEST(TransformCounts, WrappersTransformOnlyWhatIsNotInFrequencyForm) {
    const int nfft = 64;
    Work d1(nfft), d2(nfft), d3(nfft);
    auto count = [&](const std::function<void()> &call) { return count_transforms(nfft, call); };
    EXPECT_EQ(count([&] { mp_mul_cmul(nfft, d1.get(), d2.get()); }), (Count{2, 1}));
    EXPECT_EQ(count([&] { mp_mul_cmul_nt_d1(nfft, d1.get(), d2.get()); }), (Count{1, 1}));
    EXPECT_EQ(count([&] { mp_mul_cmul_nt_d2(nfft, d1.get(), d2.get()); }), (Count{1, 1}));
    EXPECT_EQ(count([&] { mp_mul_cmul_nt_out(nfft, d1.get(), d2.get()); }), (Count{2, 0}));
    EXPECT_EQ(count([&] { mp_mul_cmul_nt_d1_add(nfft, d1.get(), d2.get(), d3.get()); }),
              (Count{1, 1}));
    EXPECT_EQ(count([&] { mp_mul_csqu(nfft, d1.get()); }), (Count{1, 1}));
    EXPECT_EQ(count([&] { mp_mul_csqu_nt_d1(nfft, d1.get()); }), (Count{0, 1}));
    EXPECT_EQ(count([&] { mp_mul_csqu_save_d1(nfft, d1.get(), d2.get()); }), (Count{1, 1}));
}

// One sincos per kernel call and one more per further block of 128 bin pairs.
TEST(TransformCounts, KernelsSeedTheirTwiddlesOncePer128Pairs) {
    for (const int nfft : {4, 8, 512, 1024, 2048, 1 << 16}) {
        SCOPED_TRACE("nfft " + std::to_string(nfft));
        const int pairs = nfft / 4 - 1;
        const int expected = std::max(1, (pairs + 127) / 128);
        Work a(nfft), b(nfft), c(nfft);
        const std::function<void()> kernels[] = {
            [&] { mp_mul_rcmul(nfft, a.get() + 1, b.get() + 1); },
            [&] { mp_mul_rcmul_nt_in1(nfft, a.get() + 1, b.get() + 1); },
            [&] { mp_mul_rcmul_nt_in2(nfft, a.get() + 1, b.get() + 1); },
            [&] { mp_mul_rcmul_nt_out(nfft, a.get() + 1, b.get() + 1); },
            [&] { mp_mul_rcmul_nt_in1_add(nfft, a.get() + 1, b.get() + 1, c.get() + 1); },
            [&] { mp_mul_rcsqu(nfft, a.get() + 1); },
            [&] { mp_mul_rcsqu_nt_in(nfft, a.get() + 1); },
            [&] { mp_mul_rcsqu_save(nfft, a.get() + 1, b.get() + 1); },
        };
        for (size_t k = 0; k < std::size(kernels); ++k) {
            counters.sincos = 0;
            kernels[k]();
            EXPECT_EQ(counters.sincos, expected) << "kernel " << k;
        }
    }
}

// ---- Newton iterations ----

using transform_trace = std::vector<std::pair<int, bool>>; // (length, forward) per transform

transform_trace trace_of(const std::function<void()> &call) {
    counters.transforms.clear();
    call();
    transform_trace t;
    for (const Transform &x : counters.transforms) {
        t.emplace_back(x.n, x.forward);
    }
    return t;
}

void append(transform_trace &t, int length, std::initializer_list<bool> directions) {
    for (const bool forward : directions) {
        t.emplace_back(length, forward);
    }
}

constexpr bool fwd = true; // a forward transform in a trace
constexpr bool bwd = false;

// Transforms of one step at length L. The reciprocal keeps x's transform for
// both later products; the reciprocal root keeps y's from the square; the
// square root squares s's kept transform and reuses r's from the previous
// step when that step ran at half this length.
void append_inv_step(transform_trace &t, int length) {
    append(t, length, {fwd, fwd, bwd, fwd, bwd, fwd, bwd});
}
void append_invisqrt_step(transform_trace &t, int length) {
    append(t, length, {fwd, bwd, fwd, bwd});
}
void append_sqrt_step(transform_trace &t, int length, int kept_length) {
    const int q = std::max(length / 2, 2);
    if (kept_length == q) {
        append(t, q, {bwd});
    } else {
        append(t, q, {fwd, bwd});
    }
    append(t, length, {fwd, fwd, bwd, bwd, fwd, fwd, bwd});
}

TEST(TransformCounts, NewtonStepsReuseTheirKeptTransforms) {
    const int nfft = 256;
    const int n = nfft + 2;
    Work fft1(nfft), fft2(nfft);
    Number in(n, 1, 0, {3, 1, 4, 1, 5, 9, 2, 6}), x(n), tmp1(n), tmp2(n), rev(n);
    transform_trace expected;

    mp_inv_init(n, 10, in.get(), x.get());
    append_inv_step(expected, nfft);
    EXPECT_EQ(trace_of([&] {
                  mp_inv_newton(n, 10, in.get(), x.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
                                fft2.get());
              }),
              expected);

    expected.clear();
    mp_invisqrt_init(n, 10, 8, x.get());
    append_invisqrt_step(expected, nfft);
    EXPECT_EQ(trace_of([&] {
                  mp_invisqrt_newton(n, 10, 8, x.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
                                     fft2.get());
              }),
              expected);

    // Without a kept transform the square root transforms r afresh; a step
    // at twice the length then reuses what this one kept.
    mp_sqrt_init(n, 10, in.get(), x.get(), rev.get());
    int kept = 0;
    expected.clear();
    append_sqrt_step(expected, nfft / 2, 0);
    EXPECT_EQ(trace_of([&] {
                  mp_sqrt_newton(nfft / 2 + 2, 10, in.get(), x.get(), rev.get(), tmp1.get(),
                                 nfft / 2, fft1.get(), fft2.get(), &kept);
              }),
              expected);
    EXPECT_EQ(kept, nfft / 2);
    expected.clear();
    append_sqrt_step(expected, nfft, nfft / 2);
    EXPECT_EQ(trace_of([&] {
                  mp_sqrt_newton(n, 10, in.get(), x.get(), rev.get(), tmp1.get(), nfft, fft1.get(),
                                 fft2.get(), &kept);
              }),
              expected);
    EXPECT_EQ(kept, nfft);
}

// The lengths repeated in a schedule.
int repeats_in(const std::vector<int> &lengths) {
    int repeats = 0;
    for (size_t i = 1; i < lengths.size(); ++i) {
        repeats += lengths[i] == lengths[i - 1];
    }
    return repeats;
}

// The lengths of the steps in the trace of a driver whose steps make `per_step` transforms each.
std::vector<int> step_lengths(const transform_trace &t, size_t per_step) {
    std::vector<int> lengths;
    for (size_t i = 0; i < t.size(); i += per_step) {
        lengths.push_back(t[i].first);
    }
    return lengths;
}

// A square root step starts with r^2 at half its length, from its kept transform (one
// backward transform) or afresh (forward and backward), then makes seven at its own length.
std::vector<int> sqrt_step_lengths(const transform_trace &t) {
    std::vector<int> lengths;
    for (size_t i = t.empty() || t[0].second == bwd ? 1 : 2; i < t.size();) {
        lengths.push_back(t[i].first);
        i += 7;
        i += i < t.size() && t[i].second == fwd ? 2 : 1;
    }
    return lengths;
}

// A driver's steps, seen from outside: the lengths read from its transforms (`lengths_of`), of
// which its transforms are exactly those of steps at these lengths (`steps_at`), running from
// the first length to nfft, each the same as the one before or twice it; and its digits, which
// the public steps give when run at these lengths (`step`, from the same start value).
struct Driver {
    const char *name;
    std::function<void()> run;
    std::function<std::vector<int>(const transform_trace &)> lengths_of;
    std::function<transform_trace(const std::vector<int> &)> steps_at;
    std::function<void()> start;
    std::function<void(int n_l, int length)> step;
};

// Checks a driver and returns the lengths of its steps.
std::vector<int> expect_driver_runs_its_steps(int radix, int nfft, const Driver &d,
                                              const Number &out, const Number &replay) {
    SCOPED_TRACE(d.name);
    const transform_trace trace = trace_of(d.run);
    const std::vector<int> lengths = d.lengths_of(trace);
    EXPECT_EQ(trace, d.steps_at(lengths));
    EXPECT_FALSE(lengths.empty());
    if (lengths.empty()) {
        return lengths;
    }
    EXPECT_EQ(lengths.front(), mp_get_nfft_init(radix, nfft));
    EXPECT_EQ(lengths.back(), nfft);
    for (size_t i = 1; i < lengths.size(); ++i) {
        EXPECT_TRUE(lengths[i] == lengths[i - 1] || lengths[i] == 2 * lengths[i - 1]);
    }
    d.start();
    for (const int length : lengths) {
        d.step(std::min(length + 2, out.n()), length);
    }
    EXPECT_TRUE(same_number(out, replay));
    return lengths;
}

// The three drivers against their steps; returns the lengths the square root repeated.
int expect_drivers_run_their_steps(int nfft, int log10_radix, const Number &in) {
    const int radix = radix_of(log10_radix);
    const int n = in.n();
    Work fft1(nfft), fft2(nfft);
    Number out(n), tmp1(n), tmp2(n), replay(n), replay_tmp1(n), replay_tmp2(n);
    const int start = std::min(mp_get_nfft_init(radix, nfft) + 2, n);
    int kept = 0;
    const auto steps_of = [](void (*append_step)(transform_trace &, int)) {
        return [append_step](const std::vector<int> &lengths) {
            transform_trace t;
            for (const int length : lengths) {
                append_step(t, length);
            }
            return t;
        };
    };
    const Driver drivers[] = {
        {"mp_inv",
         [&] {
             mp_inv(n, radix, in.get(), out.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
                    fft2.get());
         },
         [](const transform_trace &t) { return step_lengths(t, 7); }, steps_of(append_inv_step),
         [&] { mp_inv_init(start, radix, in.get(), replay.get()); },
         [&](int n_l, int length) {
             mp_inv_newton(n_l, radix, in.get(), replay.get(), replay_tmp1.get(), replay_tmp2.get(),
                           length, fft1.get(), fft2.get());
         }},
        {"mp_invisqrt",
         [&] {
             mp_invisqrt(n, radix, 8, out.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
                         fft2.get());
         },
         [](const transform_trace &t) { return step_lengths(t, 4); },
         steps_of(append_invisqrt_step), [&] { mp_invisqrt_init(start, radix, 8, replay.get()); },
         [&](int n_l, int length) {
             mp_invisqrt_newton(n_l, radix, 8, replay.get(), replay_tmp1.get(), replay_tmp2.get(),
                                length, fft1.get(), fft2.get());
         }},
        // Each square root step keeps r's transform at its length for the next one.
        {"mp_sqrt",
         [&] {
             mp_sqrt(n, radix, in.get(), out.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
                     fft2.get());
         },
         sqrt_step_lengths,
         [](const std::vector<int> &lengths) {
             transform_trace t;
             int kept_length = 0;
             for (const int length : lengths) {
                 append_sqrt_step(t, length, kept_length);
                 kept_length = length;
             }
             return t;
         },
         [&] {
             mp_sqrt_init(start, radix, in.get(), replay.get(), replay_tmp1.get());
             kept = 0;
         },
         [&](int n_l, int length) {
             mp_sqrt_newton(n_l, radix, in.get(), replay.get(), replay_tmp1.get(),
                            replay_tmp2.get(), length, fft1.get(), fft2.get(), &kept);
         }},
    };
    std::vector<int> lengths;
    for (const Driver &d : drivers) {
        lengths = expect_driver_runs_its_steps(radix, nfft, d, out, replay);
    }
    return repeats_in(lengths); // the square root's, the last
}

// Also with fewer digits than the transforms hold.
TEST(TransformCounts, NewtonDriversFollowTheirSchedule) {
    for (const int nfft : {2, 4, 64, 1 << 12}) {
        for (int n = nfft <= 64 ? 2 : nfft + 2; n <= nfft + 2; ++n) {
            for (const int log10_radix : {1, 4}) {
                SCOPED_TRACE("nfft " + std::to_string(nfft) + ", n " + std::to_string(n) +
                             ", radix " + std::to_string(radix_of(log10_radix)));
                std::mt19937_64 rng(nfft + n);
                Number in =
                    shaped_number(n, nfft, radix_of(log10_radix), number_shape::random, rng);
                in->sign = 1;
                expect_drivers_run_their_steps(nfft, log10_radix, in);
            }
        }
    }
}

// After a repeated length the square root's next step transforms r afresh:
// the transform kept by the step before has the wrong length. The start value
// of sqrt(0.0147515) in radix 10 at nfft 4 is one digit short, so its first
// length runs twice.
TEST(TransformCounts, SquareRootAfterARepeatedLength) {
    const Number in(6, 1, -2, {1, 4, 7, 5, 1, 5});
    EXPECT_EQ(expect_drivers_run_their_steps(4, 1, in), 1);
}

// With fewer digits than the length holds, a step's corrections need only n_h
// of them: the residual and the products that finish it pack at most n_h
// digits, while the operand whose transform squares the square root's s packs
// all of the rounded s.
std::vector<int> packed_by(const std::function<void()> &call) {
    counters.transforms.clear();
    call();
    std::vector<int> packed;
    for (const Transform &t : counters.transforms) {
        if (t.forward) {
            packed.push_back(t.packed);
        }
    }
    return packed;
}

TEST(TransformCounts, NewtonCorrectionsPackOnlyTheHalfPrecisionDigits) {
    const int nfft = 64;
    const int h = nfft / 2 + 1;
    for (const int n : {24, 40, 50}) {
        SCOPED_TRACE("n " + std::to_string(n));
        const int n_h = std::max(n / 2 + 1, n - h);
        std::mt19937_64 rng(n);
        Number in = shaped_number(n, nfft, 10, number_shape::random, rng);
        in->sign = 1;
        Work fft1(nfft), fft2(nfft);
        Number x(n), rev(n), tmp1(n), tmp2(n);

        mp_inv_init(n, 10, in.get(), x.get());
        std::vector<int> packed = packed_by([&] {
            mp_inv_newton(n, 10, in.get(), x.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
                          fft2.get());
        });
        ASSERT_EQ(packed.size(), 4u);
        EXPECT_LE(packed[3], n_h) << "x times the residual";

        mp_invisqrt_init(n, 10, 8, x.get());
        packed = packed_by([&] {
            mp_invisqrt_newton(n, 10, 8, x.get(), tmp1.get(), tmp2.get(), nfft, fft1.get(),
                               fft2.get());
        });
        ASSERT_EQ(packed.size(), 2u);
        EXPECT_LE(packed[1], n_h) << "y times the residual";

        mp_sqrt_init(n, 10, in.get(), x.get(), rev.get());
        int kept = 0;
        packed = packed_by([&] {
            mp_sqrt_newton(n, 10, in.get(), x.get(), rev.get(), tmp1.get(), nfft, fft1.get(),
                           fft2.get(), &kept);
        });
        // r^2 at half the length, s and r^2, r and the residual.
        ASSERT_EQ(packed.size(), 5u);
        EXPECT_LE(packed[0], n_h) << "r";
        EXPECT_GT(packed[1], n_h) << "s, rounded to nfft/2 + 1 digits";
        EXPECT_LE(packed[2], n_h) << "r^2";
        EXPECT_LE(packed[3], n_h) << "r";
        EXPECT_LE(packed[4], n_h) << "the residual";
    }
}

} // namespace
