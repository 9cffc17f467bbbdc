// The check of every computation against the engine's reference of pi: no false alarm at
// any size or radix, the first wrong digit named, and the reference against MPFR.

#include "pi_check_support.h"
#include "pi_reference.h"

#include <malloc.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

// A processor whose transforms go wrong: when set, every transform of 128 doubles or more
// comes out with one value off. The binary also links with -Wl,--wrap=cdft.
bool faulty_transforms = false;

// When set, every product by an integer comes out with the wrong sign. The binary also
// links with -Wl,--wrap=mp_imul.
bool negative_integer_products = false;

} // namespace

extern "C" int __real_mp_imul(int n, int radix, const mp_number *in1, int in2, mp_number *out);
extern "C" int __wrap_mp_imul(int n, int radix, const mp_number *in1, int in2, mp_number *out) {
    const int status = __real_mp_imul(n, radix, in1, in2, out);
    if (negative_integer_products) {
        out->sign = -out->sign;
    }
    return status;
}

extern "C" void __real_cdft(int n, int sign, double *a);
extern "C" void __wrap_cdft(int n, int sign, double *a) {
    __real_cdft(n, sign, a);
    if (faulty_transforms && n >= 128) {
        a[n / 2 + 1] += n;
    }
}

namespace {

TEST(PiCheck, PassesCorrectComputationsOfEverySizeAndRadix) {
    for (int log10_radix = 1; log10_radix <= 4; ++log10_radix) {
        for (int log2_nfft = 1; log2_nfft <= 16; ++log2_nfft) {
            const int digits = log10_radix << log2_nfft;
            SCOPED_TRACE(testing::Message() << digits << " digits, radix 10^" << log10_radix);
            const checked_run o = compute(4 << log2_nfft, log10_radix, nullptr);
            ASSERT_EQ(o.result.success, 1);
            EXPECT_EQ(o.result.digits, digits);
            EXPECT_STREQ(o.result.error_message, "");
            EXPECT_EQ(o.check.first_wrong_digit, 0);
            EXPECT_LE(o.check.verified_digits, std::max(0, digits - 16));
            EXPECT_GE(o.check.verified_digits, std::max(0, digits - 16 - 3 * log10_radix));
            if (digits >= 1024) {
                EXPECT_GE(o.check.verified_digits, 0.98 * digits);
            }
        }
    }
}

// Forced radix 10^k at a length of 2^14: several whole blocks and a partial one.
TEST(PiCheck, NamesTheFirstWrongDigitExactlyWhereverItIs) {
    for (int log10_radix = 1; log10_radix <= 4; ++log10_radix) {
        const int checked = compute(1 << 16, log10_radix, nullptr).check.verified_digits;
        const int last_full_block = checked / block_decimals * block_decimals;
        for (const int position : {1, checked / 2, block_decimals, block_decimals + 1,
                                   last_full_block - block_decimals + 1, last_full_block,
                                   last_full_block + 1, checked}) {
            SCOPED_TRACE(testing::Message()
                         << "decimal " << position << ", radix 10^" << log10_radix);
            const checked_run o = compute_with_wrong_decimals(1 << 16, log10_radix, {position});
            EXPECT_EQ(o.result.success, 0);
            EXPECT_EQ(o.result.score, 0);
            EXPECT_EQ(o.result.digits, log10_radix << 14);
            EXPECT_EQ(o.check.first_wrong_digit, position);
            EXPECT_EQ(o.check.verified_digits, position - 1);
        }
        SCOPED_TRACE(log10_radix);
        const checked_run past = compute_with_wrong_decimals(1 << 16, log10_radix, {checked + 1});
        EXPECT_EQ(past.result.success, 1) << "the unchecked places are the rounding's";
    }
}

TEST(PiCheck, TheBenchmarkSizeIsCheckedToItsLastSixteenDigits) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "a computation of 2^21 takes minutes under the sanitizers; the check's "
                    "code runs there on the long computation below";
#endif
    const checked_run o = compute(pi_benchmark_digits, 0, nullptr);
    ASSERT_EQ(o.result.success, 1);
    EXPECT_EQ(o.result.digits, pi_benchmark_digits);
    EXPECT_EQ(o.check.verified_digits, pi_benchmark_digits - 16);
    EXPECT_EQ(o.check.unchecked_digits, 0);
}

// A length of 2^17: the last whole block and the partial one of a long computation.
TEST(PiCheck, NamesAWrongDigitInTheLastBlocksOfALongComputation) {
    constexpr int digits = 1 << 19;
    constexpr int checked = digits - 16;
    constexpr int last_full_block = checked / block_decimals * block_decimals;
    for (const int position : {last_full_block - 1000, checked - 1000}) {
        SCOPED_TRACE(position);
        const checked_run o = compute_with_wrong_decimals(digits, 0, {position});
        EXPECT_EQ(o.result.success, 0);
        EXPECT_EQ(o.check.first_wrong_digit, position);
        EXPECT_EQ(o.check.verified_digits, position - 1);
        EXPECT_EQ(o.check.arithmetic_error, 1);
    }
}

TEST(PiCheck, WritesThePositionWithThousandsSeparators) {
    const checked_run middle = compute_with_wrong_decimals(1 << 17, 4, {51234});
    EXPECT_STREQ(middle.result.error_message,
                 "Computed digits of pi are wrong from digit 51,234: the machine made an "
                 "arithmetic error");
    // A flipped bit takes a 16-bit digit out of its range; digit 12,346 is its first decimal.
    const checked_run flipped =
        compute(1 << 17, 4, [](mp_number *pi, int) { pi->digit[1 + 12345 / 4] ^= 0x4000; });
    EXPECT_EQ(flipped.check.first_wrong_digit, 12345 / 4 * 4 + 1);
    // The value's whole part itself.
    const checked_run whole = compute(1000, 0, [](mp_number *pi, int) { pi->digit[0] = 2; });
    EXPECT_EQ(whole.result.success, 0);
    EXPECT_EQ(whole.check.first_wrong_digit, 1);
}

TEST(PiCheck, PinsSeveralWrongDigitsToTheirBlock) {
    // Two wrong decimals in the second block.
    const checked_run two = compute_with_wrong_decimals(1 << 17, 4, {5000, 6000});
    EXPECT_EQ(two.result.success, 0);
    EXPECT_EQ(two.check.first_wrong_digit, 3073);
    EXPECT_EQ(two.check.verified_digits, 3072);
    EXPECT_STREQ(two.result.error_message,
                 "Computed digits of pi are wrong somewhere in digits 3,073 to 6,144: the "
                 "machine made an arithmetic error");
    // What a fault during the iteration leaves: every radix digit from decimal 70,001 on.
    const checked_run tail = compute(1 << 17, 4, [](mp_number *pi, int) {
        for (int j = 1 + 70000 / 4; j < (1 << 15) + 2; ++j) {
            pi->digit[j] = static_cast<std::int16_t>((pi->digit[j] + 1) % 10000);
        }
    });
    EXPECT_EQ(tail.check.first_wrong_digit, 67585); // 22 blocks of 3,072 are right
    EXPECT_STREQ(tail.result.error_message,
                 "Computed digits of pi are wrong somewhere in digits 67,585 to 70,656: the "
                 "machine made an arithmetic error");
}

int callbacks_seen = 0;
void count_callback(int, int, void *, double) {
    ++callbacks_seen;
}

TEST(PiCheck, EveryEntryPointReportsWrongDigits) {
    const auto wrong_decimal_100 = [](mp_number *pi, int radix) { change_decimal(pi, radix, 100); };
    const auto expect_failed = [](const pi_result &r) {
        EXPECT_EQ(r.success, 0);
        EXPECT_EQ(r.score, 0);
        EXPECT_STREQ(r.error_message, "Computed digits of pi are wrong from digit 100: the "
                                      "machine made an arithmetic error");
    };
    pi_result r{};
    corrupt = wrong_decimal_100;
    pi_calculate(1000, &r);
    expect_failed(r);
    callbacks_seen = 0;
    pi_calculate_with_progress(1000, &r, count_callback, nullptr);
    expect_failed(r);
    EXPECT_GT(callbacks_seen, 0);
    std::string seen;
    pi_calculate_value(
        1000, &r, nullptr, nullptr,
        [](const mp_number *pi, int, int, void *data) {
            *static_cast<std::string *>(data) = std::to_string(pi->digit[1 + 99 / 4]);
        },
        &seen);
    expect_failed(r);
    EXPECT_FALSE(seen.empty()) << "the value is still handed over";
    corrupt = nullptr;
}

// Every iteration stops on the precision it reaches, which faulty arithmetic may never
// reach: the computation still ends, and fails with its digits found wrong.
TEST(PiCheck, ArithmeticThatNeverConvergesStillEndsInAFailure) {
#ifndef NDEBUG
    GTEST_SKIP() << "with assertions on, the arithmetic stops the malformed numbers first";
#endif
    for (const int digits : {1000, 100000}) {
        SCOPED_TRACE(std::to_string(digits) + " digits");
        faulty_transforms = true;
        pi_result r{};
        pi_calculate(digits, &r);
        faulty_transforms = false;
        EXPECT_EQ(r.success, 0);
        EXPECT_NE(std::string(r.error_message).find("the machine made an arithmetic error"),
                  std::string::npos)
            << r.error_message;
    }
}

// A machine that computes wrongly can drive the set-up's square root negative, which the
// square root refuses. The computation still ends in a failure, and the same one whatever
// its memory held before: malloc fills each new block with a byte of the test's choice.
TEST(PiCheck, ARefusedSquareRootEndsInTheSameFailureWhateverMemoryHeld) {
    using value = std::vector<std::int32_t>;
    const auto keep_value = [](const mp_number *pi, int n, int, void *data) {
        value &v = *static_cast<value *>(data);
        v = {pi->sign, pi->exponent};
        v.insert(v.end(), pi->digit, pi->digit + n);
    };
    negative_integer_products = true;
    value first;
    for (const int fill : {100, 200, 1}) {
        SCOPED_TRACE("malloc fill " + std::to_string(fill));
        mallopt(M_PERTURB, fill);
        pi_result r{};
        value v;
        pi_calculate_value(1000, &r, nullptr, nullptr, keep_value, &v);
        mallopt(M_PERTURB, 0);
        EXPECT_EQ(r.success, 0);
        EXPECT_NE(std::string(r.error_message).find("the machine made an arithmetic error"),
                  std::string::npos)
            << r.error_message;
        if (first.empty()) {
            first = v;
        }
        ASSERT_EQ(v, first);
    }
    negative_integer_products = false;
}

// A flaky product in the radix test makes it measure a larger rounding error and choose a
// smaller radix: the computation fails at once, naming the cause, instead of doing a quarter
// or less of the work and passing its check.
TEST(PiCheck, ADisturbedRadixTestFailsTheComputation) {
    struct Case {
        double disturbance;
        const char *radix;
    };
    for (const int digits : {1000, 100000, int{pi_benchmark_digits}}) {
        for (const Case c : {Case{1e-6, "1,000"}, Case{1e-4, "100"}, Case{0.01, "10"}}) {
            SCOPED_TRACE(testing::Message() << digits << " digits, disturbed by " << c.disturbance);
            radix_test_disturbance = c.disturbance;
            callbacks_seen = 0;
            checked_run o;
            pi_calculate_checked(digits, &o.result, count_callback, nullptr, &o.check);
            radix_test_disturbance = 0;
            EXPECT_EQ(o.result.success, 0);
            EXPECT_EQ(o.result.digits, 0);
            EXPECT_EQ(o.result.score, 0);
            EXPECT_EQ(o.result.error_message,
                      std::string("Radix test failed (radix ") + c.radix +
                          " where a correct machine chooses 10,000): the machine made an "
                          "arithmetic error");
            EXPECT_EQ(o.check.arithmetic_error, 1);
            EXPECT_EQ(o.check.verified_digits, 0);
            EXPECT_EQ(callbacks_seen, 0);
        }
    }
    // Whatever the disturbance, a computation either does the whole work or fails.
    for (double disturbance = 1e-10; disturbance < 1; disturbance *= 3) {
        SCOPED_TRACE(disturbance);
        radix_test_disturbance = disturbance;
        const checked_run o = compute(100000, 0, nullptr);
        radix_test_disturbance = 0;
        if (o.result.success != 0) {
            EXPECT_EQ(o.result.digits, 131072);
        } else {
            EXPECT_EQ(o.check.arithmetic_error, 1);
        }
    }
}

// The benchmark with runs 1 and 2 scripted to succeed and run 3 a real computation of
// third_run_digits digits, made wrong by whatever seam the test has set.
int driver_calls = 0;
int third_run_digits = 0;
void third_run_real(int digits, pi_result *r, pi_progress_callback cb, void *user_data,
                    pi_check *check) {
    EXPECT_EQ(digits, pi_benchmark_digits);
    if (++driver_calls < 3) {
        *r = {1, pi_benchmark_digits, 2.0, 1000, ""};
        *check = {pi_benchmark_digits - 16, 0, 0, 0};
        return;
    }
    pi_calculate_checked(third_run_digits, r, cb, user_data, check);
}

struct benchmark_run {
    pi_result result;
    pi_result runs[pi_benchmark_runs];
    pi_check checks[pi_benchmark_runs];
};

// The benchmark on third_run_real, its records filled with garbage first.
benchmark_run benchmark_with_real_third_run(int digits) {
    benchmark_run b;
    std::memset(&b, 0x5a, sizeof b);
    driver_calls = 0;
    third_run_digits = digits;
    pi_calculate_5x8m_with(&b.result, count_callback, nullptr, third_run_real, b.runs, b.checks);
    EXPECT_EQ(driver_calls, 3);
    EXPECT_EQ(b.result.success, 0);
    EXPECT_EQ(b.result.score, 0);
    EXPECT_EQ(b.result.digits, 0);
    EXPECT_EQ(b.result.time_seconds, 0);
    EXPECT_EQ(b.runs[2].success, 0);
    EXPECT_EQ(b.runs[3].success, 0);
    EXPECT_EQ(b.checks[4].first_wrong_digit, 0);
    return b;
}

TEST(PiCalculate5x8m, StopsAndFailsAtARunWhoseRadixTestWasDisturbed) {
    radix_test_disturbance = 1e-6;
    const benchmark_run b = benchmark_with_real_third_run(pi_benchmark_digits);
    radix_test_disturbance = 0;
    EXPECT_STREQ(b.result.error_message,
                 "Benchmark run 3 failed its radix test (radix 1,000 where a correct machine "
                 "chooses 10,000): the machine made an arithmetic error");
    EXPECT_EQ(b.checks[2].arithmetic_error, 1);
}

TEST(PiCalculate5x8m, StopsAndFailsAtTheFirstRunWithWrongDigits) {
    corrupt = [](mp_number *pi, int radix) { change_decimal(pi, radix, 1234); };
    callbacks_seen = 0;
    const benchmark_run b = benchmark_with_real_third_run(4000);
    corrupt = nullptr;
    EXPECT_STREQ(b.result.error_message, "Benchmark run 3 computed wrong digits of pi from digit "
                                         "1,234: the machine made an arithmetic error");
    EXPECT_EQ(b.checks[2].first_wrong_digit, 1234);
    EXPECT_GT(callbacks_seen, 0) << "run 3 reports its progress";
}

void first_run_wrong_without_text(int, pi_result *r, pi_progress_callback, void *,
                                  pi_check *check) {
    ++driver_calls;
    *r = {0, 0, 0, 0, ""};
    *check = {1234566, 1234567, 0, 1};
}

TEST(PiCalculate5x8m, NamesTheWrongDigitOfADriverThatGaveNoText) {
    driver_calls = 0;
    pi_result r{};
    pi_calculate_5x8m_with(&r, nullptr, nullptr, first_run_wrong_without_text, nullptr, nullptr);
    EXPECT_EQ(driver_calls, 1);
    EXPECT_STREQ(r.error_message, "Benchmark run 1 computed wrong digits of pi from digit "
                                  "1,234,567: the machine made an arithmetic error");
}

TEST(PiReferenceTable, SmallEntriesAgreeWithMpfr) {
    expect_reference_agrees_with_mpfr(1 << 16);
}

} // namespace
