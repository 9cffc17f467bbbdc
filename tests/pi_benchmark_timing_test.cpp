// The engine's timing, score and progress, through link-time seams that keep the real
// arithmetic: clock() is replaced by a fake processor clock that advances only when a
// wrapped operation or the test's callback says so, and the radix test's result can be
// replaced to force a radix, which the least radix of a correct machine can be made to allow.

#include "arithmetic/pi_fftcs.h"
#include "engine/pi_benchmark.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <ctime>
#include <vector>

extern "C" {
std::clock_t __real_clock(void);
int __real_mp_invisqrt(int, int, int, mp_number *, mp_number *, mp_number *, int, double *,
                       double *);
void __real_mp_mul(int, int, const mp_number *, const mp_number *, mp_number *, mp_number *, int,
                   double *, double *, double *);
int __real_mp_inv(int, int, const mp_number *, mp_number *, mp_number *, mp_number *, int, double *,
                  double *);
void __real_mp_add(int, int, const mp_number *, const mp_number *, mp_number *);
double __real_mp_mul_radix_test(int, int, int, double *);
int __real_pi_least_log10_radix(int);
}

namespace {

// Ticks that each wrapped operation adds to the fake clock. mp_invisqrt runs once in the
// set-up, mp_inv once in the final phase, mp_mul once per iteration and once at the end.
struct FakeClock {
    bool on = false;
    std::clock_t now = 0;
    std::clock_t setup_ticks = 0, mul_ticks = 0, final_ticks = 0;
    bool replace_radix_test = false;
    double radix_test_value = 0;
    bool every_radix_correct = false; // as at a length where a correct machine chooses 10
    // The number that the last mp_add read as its first operand: in the AGM loop's last
    // addition that is e, whose exponent the progress report's precision comes from.
    int32_t last_add_sign = 0, last_add_exponent = 0;
} fake;

} // namespace

extern "C" std::clock_t __wrap_clock(void) {
    return fake.on ? fake.now : __real_clock();
}
extern "C" int __wrap_mp_invisqrt(int n, int radix, int x, mp_number *out, mp_number *tmp1,
                                  mp_number *tmp2, int nfft, double *fft1, double *fft2) {
    fake.now += fake.setup_ticks;
    return __real_mp_invisqrt(n, radix, x, out, tmp1, tmp2, nfft, fft1, fft2);
}
extern "C" void __wrap_mp_mul(int n, int radix, const mp_number *in1, const mp_number *in2,
                              mp_number *out, mp_number *tmp, int nfft, double *d1, double *d2,
                              double *d3) {
    fake.now += fake.mul_ticks;
    __real_mp_mul(n, radix, in1, in2, out, tmp, nfft, d1, d2, d3);
}
extern "C" int __wrap_mp_inv(int n, int radix, const mp_number *in, mp_number *out, mp_number *tmp1,
                             mp_number *tmp2, int nfft, double *fft1, double *fft2) {
    fake.now += fake.final_ticks;
    return __real_mp_inv(n, radix, in, out, tmp1, tmp2, nfft, fft1, fft2);
}
extern "C" void __wrap_mp_add(int n, int radix, const mp_number *in1, const mp_number *in2,
                              mp_number *out) {
    fake.last_add_sign = in1->sign;
    fake.last_add_exponent = in1->exponent;
    __real_mp_add(n, radix, in1, in2, out);
}
extern "C" double __wrap_mp_mul_radix_test(int n, int radix, int nfft, double *d) {
    const double measured = __real_mp_mul_radix_test(n, radix, nfft, d);
    return fake.replace_radix_test ? fake.radix_test_value : measured;
}
extern "C" int __wrap_pi_least_log10_radix(int log2_nfft) {
    return fake.every_radix_correct ? 1 : __real_pi_least_log10_radix(log2_nfft);
}

namespace {

struct Report {
    int step;
    int precision_digits;
    double iteration_seconds;
    int nprc; // -exponent of e (n when e is zero) when the report was made
};

struct Computation {
    std::clock_t callback_ticks = 0; // processor time the callback itself spends
    int n = 0;
    std::vector<Report> reports;
};

void record(int step, int precision_digits, void *data, double iteration_seconds) {
    auto *run = static_cast<Computation *>(data);
    const int nprc = fake.last_add_sign == 0 ? run->n : -fake.last_add_exponent;
    run->reports.push_back({step, precision_digits, iteration_seconds, nprc});
    fake.now += run->callback_ticks;
}

// nfft of a request, as the engine sizes it.
int nfft_for(int digits) {
    int nfft = 2;
    while (nfft < digits / 4) {
        nfft *= 2;
    }
    return nfft;
}

class PiTiming : public ::testing::Test {
  protected:
    void SetUp() override { fake = FakeClock{}; }
    void TearDown() override { fake = FakeClock{}; }

    pi_result compute(int digits, Computation &run) {
        run.n = nfft_for(digits) + 2;
        pi_result r{};
        fake.on = true;
        pi_calculate_with_progress(digits, &r, record, &run);
        fake.on = false;
        return r;
    }
};

// Score of D digits in T seconds, worked out from its definition in long double.
double expected_score(int digits, long double seconds) {
    const long double t = std::log2(static_cast<long double>(digits));
    return static_cast<double>(std::ceil(t * t * digits * 5.663691143091034e-7L / seconds));
}

TEST_F(PiTiming, CountsSetUpIterationsAndFinalPhaseButNotTheCallback) {
    fake.setup_ticks = 70000;
    fake.mul_ticks = 3000;
    fake.final_ticks = 500000;
    Computation run;
    run.callback_ticks = 9000000; // nine seconds in the callback must not count
    const pi_result r = compute(1000, run);
    ASSERT_EQ(r.success, 1);
    const auto iterations = static_cast<long>(run.reports.size());
    ASSERT_GE(iterations, 1);
    // Every iteration's one product, and the final phase's product and reciprocal.
    const double expected = (70000 + 3000 * (iterations + 1) + 500000) * 1e-6;
    EXPECT_DOUBLE_EQ(r.time_seconds, expected);
    for (const Report &report : run.reports) {
        SCOPED_TRACE(report.step);
        EXPECT_DOUBLE_EQ(report.iteration_seconds, 3000 * 1e-6);
    }
}

TEST_F(PiTiming, ScoreIsRoundedUpFromTheComputedDigitCount) {
    // 1000 digits compute 4 * 256 = 1024: in 1.432 ms that scores ceil(40.50...) = 41, where
    // the requested 1000 would give ceil(39.28...) = 40.
    fake.setup_ticks = 1432;
    Computation run;
    pi_result r = compute(1000, run);
    ASSERT_EQ(r.success, 1);
    EXPECT_EQ(r.digits, 1024);
    EXPECT_DOUBLE_EQ(r.time_seconds, 0.001432);
    EXPECT_EQ(r.score, expected_score(1024, 0.001432L));
    EXPECT_EQ(r.score, 41);

    // A radix forced down to 10 computes only nfft digits, and the score uses those.
    fake.replace_radix_test = true;
    fake.every_radix_correct = true;
    fake.radix_test_value = 1;
    fake.setup_ticks = 1000;
    Computation radix10;
    r = compute(1000, radix10);
    ASSERT_EQ(r.success, 1);
    EXPECT_EQ(r.digits, 256);
    EXPECT_EQ(r.score, expected_score(256, 0.001L)); // ceil(9.279...)
    EXPECT_EQ(r.score, 10);
}

TEST_F(PiTiming, ZeroMeasuredTimeScoresZeroButSucceeds) {
    Computation run;
    const pi_result r = compute(1000, run);
    EXPECT_EQ(r.success, 1);
    EXPECT_EQ(r.time_seconds, 0);
    EXPECT_EQ(r.score, 0);
    EXPECT_STREQ(r.error_message, "");
}

// The radix test's result plus an allowance of 2^-52 per quarter of 100 n, scaled by 100
// per step up, is compared with 0.4: at the limit the smaller radix is taken.
TEST_F(PiTiming, RadixRuleTakesTheAllowanceAndTheLimitItself) {
    const int digits = 1000;
    const int nfft = nfft_for(digits);
    const double allowance = DBL_EPSILON * (100.0 * (nfft + 2) / 4);
    fake.replace_radix_test = true;
    fake.every_radix_correct = true;
    struct Case {
        double value;
        int digits; // log10_radix * nfft
    };
    // A value at which the sum times 100 is exactly 0.4: search from 0.004 - allowance.
    double at_limit = 0.004 - allowance;
    while ((at_limit + allowance) * 100 < 0.4) {
        at_limit = std::nextafter(at_limit, 1.0);
    }
    while ((at_limit + allowance) * 100 > 0.4) {
        at_limit = std::nextafter(at_limit, 0.0);
    }
    ASSERT_EQ((at_limit + allowance) * 100, 0.4);
    const Case cases[] = {
        {at_limit, nfft},                      // exactly at the limit: radix 10
        {0.004 - allowance / 2, nfft},         // over the limit only with the allowance
        {0.00004 - allowance / 2, 2 * nfft},   // the same one step up: radix 100
        {0.0000004 - allowance / 2, 3 * nfft}, // and radix 1000
        {0.0000004 - 2 * allowance, 4 * nfft}, // below every limit: radix 10000
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        fake.radix_test_value = c.value;
        Computation run;
        const pi_result r = compute(digits, run);
        ASSERT_EQ(r.success, 1);
        EXPECT_EQ(r.digits, c.digits);
    }
}

void keep_digits(const mp_number *pi, int n, int, void *data) {
    static_cast<std::vector<std::int16_t> *>(data)->assign(pi->digit, pi->digit + n);
}

// A radix test replaced by one that chooses what the real one does changes nothing.
TEST_F(PiTiming, ForcingTheCorrectMachinesRadixChangesNoDigitAndNoScore) {
    fake.setup_ticks = 2500;
    fake.mul_ticks = 700;
    std::vector<pi_result> results;
    std::vector<std::vector<std::int16_t>> values;
    for (const bool forced : {false, true}) {
        SCOPED_TRACE(forced);
        fake.replace_radix_test = forced; // an error of 0 chooses radix 10000
        pi_result r{};
        std::vector<std::int16_t> digits;
        fake.on = true;
        pi_calculate_value(100000, &r, nullptr, nullptr, keep_digits, &digits);
        fake.on = false;
        ASSERT_EQ(r.success, 1);
        results.push_back(r);
        values.push_back(digits);
    }
    EXPECT_EQ(results[1].digits, results[0].digits);
    EXPECT_EQ(results[1].time_seconds, results[0].time_seconds);
    EXPECT_EQ(results[1].score, results[0].score);
    EXPECT_GT(results[0].score, 0);
    EXPECT_EQ(values[1], values[0]);
}

// Each report carries its step, 1, 2, ..., and 4 * log10_radix * nprc digits with nprc the
// number of leading zero digits of e; the loop stops at the first report with 4 nprc > n.
TEST_F(PiTiming, ProgressReportsFollowTheConvergenceOfE) {
    for (const int digits : {1, 12, 1000, 5000, 100000}) {
        SCOPED_TRACE(digits);
        Computation run;
        const pi_result r = compute(digits, run);
        ASSERT_EQ(r.success, 1);
        const int nfft = run.n - 2;
        const int log10_radix = r.digits / nfft;
        ASSERT_FALSE(run.reports.empty());
        EXPECT_EQ(static_cast<int>(run.reports.size()), pi_estimate_iterations(digits));
        for (size_t i = 0; i < run.reports.size(); ++i) {
            const Report &report = run.reports[i];
            SCOPED_TRACE(report.step);
            EXPECT_EQ(report.step, static_cast<int>(i) + 1);
            EXPECT_EQ(report.precision_digits, 4 * log10_radix * report.nprc);
            const bool last = i + 1 == run.reports.size();
            EXPECT_EQ(4 * report.nprc > run.n, last);
        }
    }
}

} // namespace
