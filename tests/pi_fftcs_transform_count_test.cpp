// Linked with -Wl,--wrap=cdft,--wrap=sincos: every transform and every
// twiddle seed of the arithmetic passes through the counters below, so a
// routine that transforms more often than its contract allows fails here.
#include "pi_fftcs_product_support.h"

#include <functional>

extern "C" {
void __real_cdft(int n, int sign, double *a);
void __real_sincos(double x, double *s, double *c);
void __wrap_cdft(int n, int sign, double *a);
void __wrap_sincos(double x, double *s, double *c);
}

namespace {

struct Transform {
    int n;
    bool forward;
};

struct Counters {
    std::vector<Transform> transforms;
    int sincos = 0;
} counters;

} // namespace

extern "C" void __wrap_cdft(int n, int sign, double *a) {
    counters.transforms.push_back({n, sign >= 0});
    __real_cdft(n, sign, a);
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

TEST(TransformCounts, ProductsMakeExactlyTheirTransforms) {
    for (const int nfft : {2, 16, 1024}) {
        for (const Shape shape : {Shape::random, Shape::head_only}) {
            SCOPED_TRACE("nfft " + std::to_string(nfft) + ", " + shape_name(shape));
            const int n = nfft + 2;
            std::mt19937_64 rng(nfft);
            const Number a = shaped_number(n, nfft, 100, shape, rng);
            const Number b = shaped_number(n, nfft, 100, shape, rng);
            Number out(n), tmp(n);
            Work d1(nfft), d2(nfft), d3(nfft);
            auto count = [&](const std::function<void()> &call) {
                return count_transforms(nfft, call);
            };
            EXPECT_EQ(count([&] {
                          mp_mul(n, 100, a.get(), b.get(), out.get(), tmp.get(), nfft, d1.get(),
                                 d2.get(), d3.get());
                      }),
                      (Count{4, 2}))
                << "mp_mul";
            EXPECT_EQ(count([&] {
                          mp_squ(n, 100, a.get(), out.get(), tmp.get(), nfft, d1.get(), d2.get());
                      }),
                      (Count{2, 2}))
                << "mp_squ";
            EXPECT_EQ(count([&] {
                          mp_mulhf(n, 100, a.get(), b.get(), out.get(), tmp.get(), nfft, d1.get(),
                                   d2.get());
                      }),
                      (Count{3, 2}))
                << "mp_mulhf";
            EXPECT_EQ(count([&] {
                          mp_mulhf_use_in1fft(n, 100, d1.get(), b.get(), out.get(), tmp.get(), nfft,
                                              d2.get());
                      }),
                      (Count{2, 2}))
                << "mp_mulhf_use_in1fft";
            EXPECT_EQ(count([&] {
                          mp_squhf_use_infft(n, 100, d1.get(), a.get(), out.get(), tmp.get(), nfft,
                                             d2.get());
                      }),
                      (Count{1, 2}))
                << "mp_squhf_use_infft";
            EXPECT_EQ(count([&] {
                          mp_mulh(n, 100, a.get(), b.get(), out.get(), nfft, d1.get(), d2.get());
                      }),
                      (Count{2, 1}))
                << "mp_mulh";
            EXPECT_EQ(count([&] {
                          mp_mulh_use_in1fft(n, 100, d1.get(), 3, b.get(), out.get(), nfft,
                                             d2.get());
                      }),
                      (Count{1, 1}))
                << "mp_mulh_use_in1fft";
            EXPECT_EQ(count([&] { mp_squh(n, 100, a.get(), out.get(), nfft, d1.get()); }),
                      (Count{1, 1}))
                << "mp_squh";
            EXPECT_EQ(count([&] {
                          mp_squh_save_infft(n, 100, a.get(), out.get(), nfft, d1.get(), d2.get());
                      }),
                      (Count{1, 1}))
                << "mp_squh_save_infft";
            EXPECT_EQ(count([&] { mp_squh_use_in1fft(n, 100, d1.get(), out.get(), nfft); }),
                      (Count{0, 1}))
                << "mp_squh_use_in1fft";
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

} // namespace
