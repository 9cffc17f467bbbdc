// The check of every computation against the engine's reference of pi: no false alarm at
// any size or radix, the first wrong digit named, and the reference against MPFR.

#include "pi_check_support.h"
#include "pi_reference.h"

#include <gmp.h>
#include <malloc.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

int log10_of(int radix) {
    return radix == 10 ? 1 : radix == 100 ? 2 : radix == 1000 ? 3 : 4;
}

// Makes decimal `position` (1-based after "3.") of pi a different decimal.
void change_decimal(mp_number *pi, int radix, int position) {
    const int log10_radix = log10_of(radix);
    int scale = 1;
    for (int i = (position - 1) % log10_radix; i < log10_radix - 1; ++i) {
        scale *= 10;
    }
    std::int16_t &digit = pi->digit[1 + (position - 1) / log10_radix];
    const int decimal = digit / scale % 10;
    digit = static_cast<std::int16_t>(digit + ((decimal + 5) % 10 - decimal) * scale);
}

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

checked_run compute_with_wrong_decimals(int digits, int log10_radix, std::vector<int> positions) {
    return compute(digits, log10_radix, [positions](mp_number *pi, int radix) {
        for (const int p : positions) {
            change_decimal(pi, radix, p);
        }
    });
}

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
        for (const int position : {1, checked / 2, block_decimals, block_decimals + 1, checked}) {
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

// The benchmark with runs 1 and 2 scripted to succeed and run 3 a real computation with
// one wrong digit.
int driver_calls = 0;
void third_run_wrong(int digits, pi_result *r, pi_progress_callback cb, void *user_data,
                     pi_check *check) {
    EXPECT_EQ(digits, pi_benchmark_digits);
    if (++driver_calls < 3) {
        *r = {1, pi_benchmark_digits, 2.0, 1000, ""};
        *check = {pi_benchmark_digits - 16, 0};
        return;
    }
    corrupt = [](mp_number *pi, int radix) { change_decimal(pi, radix, 1234); };
    pi_calculate_checked(4000, r, cb, user_data, check);
    corrupt = nullptr;
}

TEST(PiCalculate5x8m, StopsAndFailsAtTheFirstRunWithWrongDigits) {
    driver_calls = 0;
    pi_result r;
    std::memset(&r, 0x5a, sizeof r);
    pi_result runs[pi_benchmark_runs];
    pi_check checks[pi_benchmark_runs];
    std::memset(runs, 0x5a, sizeof runs);
    callbacks_seen = 0;
    pi_calculate_5x8m_with(&r, count_callback, nullptr, third_run_wrong, runs, checks);
    EXPECT_EQ(driver_calls, 3);
    EXPECT_EQ(r.success, 0);
    EXPECT_EQ(r.score, 0);
    EXPECT_EQ(r.digits, 0);
    EXPECT_EQ(r.time_seconds, 0);
    EXPECT_STREQ(r.error_message, "Benchmark run 3 computed wrong digits of pi from digit "
                                  "1,234: the machine made an arithmetic error");
    EXPECT_EQ(checks[2].first_wrong_digit, 1234);
    EXPECT_EQ(runs[2].success, 0);
    EXPECT_EQ(runs[3].success, 0);
    EXPECT_EQ(checks[4].first_wrong_digit, 0);
    EXPECT_GT(callbacks_seen, 0) << "run 3 reports its progress";
}

void first_run_wrong_without_text(int, pi_result *r, pi_progress_callback, void *,
                                  pi_check *check) {
    ++driver_calls;
    *r = {0, 0, 0, 0, ""};
    *check = {1234566, 1234567};
}

TEST(PiCalculate5x8m, NamesTheWrongDigitOfADriverThatGaveNoText) {
    driver_calls = 0;
    pi_result r{};
    pi_calculate_5x8m_with(&r, nullptr, nullptr, first_run_wrong_without_text, nullptr, nullptr);
    EXPECT_EQ(driver_calls, 1);
    EXPECT_STREQ(r.error_message, "Benchmark run 1 computed wrong digits of pi from digit "
                                  "1,234,567: the machine made an arithmetic error");
}

// The residue of decimals first ... last of `pi` ("3" and decimals), by GMP.
std::uint64_t gmp_residue(const std::string &pi, int first, int last) {
    if (last < first) {
        return 0;
    }
    mpz_t value;
    mpz_init_set_str(value, pi.substr(first, last - first + 1).c_str(), 10);
    const std::uint64_t r = mpz_fdiv_ui(value, pi_reference::modulus);
    mpz_clear(value);
    return r;
}

TEST(PiReferenceTable, SmallEntriesAgreeWithMpfr) {
    constexpr int decimals = 1 << 16;
    const std::string pi = mpfr_pi_digits(decimals + 64);
    for (int block = 0; block * block_decimals + block_decimals <= decimals; ++block) {
        SCOPED_TRACE(block);
        const int first = block * block_decimals + 1;
        EXPECT_EQ(pi_reference::block_residues[block],
                  gmp_residue(pi, first, first + block_decimals - 1));
    }
    for (int log10_radix = 1; log10_radix <= 4; ++log10_radix) {
        for (int log2_nfft = 1; (log10_radix << log2_nfft) <= decimals; ++log2_nfft) {
            const pi_reference::tail_entry &t = pi_reference::tails[log10_radix - 1][log2_nfft - 1];
            SCOPED_TRACE(t.digits);
            EXPECT_EQ(t.digits, log10_radix << log2_nfft);
            EXPECT_EQ(t.verified % log10_radix, 0);
            const int first = t.verified - t.verified % block_decimals + 1;
            EXPECT_EQ(t.residue, gmp_residue(pi, first, t.verified));
            // No run of 9s or 0s next to the checked end, through which a rounding error
            // could carry into it.
            if (t.verified > 0) {
                const std::string guard = pi.substr(t.verified + 1, 4);
                EXPECT_NE(guard, "9999");
                EXPECT_NE(guard, "0000");
            }
        }
    }
}

} // namespace
