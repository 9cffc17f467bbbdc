// Checked computations whose finished value a test can corrupt and whose radix it can
// force or disturb. The binary links with
// -Wl,--wrap=mp_idiv,--wrap=mp_mul_radix_test,--wrap=pi_least_log10_radix: the driver's last
// operation (the division that leaves pi) goes through a wrapper that applies `corrupt`, the
// radix test through one that reports a forcing or a disturbed error, and the least radix of
// a correct machine through one that takes a forced radix for it. Include it in one source
// file per binary.
#ifndef TESSARY_TESTS_PI_CHECK_SUPPORT_H
#define TESSARY_TESTS_PI_CHECK_SUPPORT_H

#include "arithmetic/pi_fftcs.h"
#include "engine/pi_benchmark.h"
#include "engine/pi_reference_table.h"
#include "mpfr_pi.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

extern "C" {
int __real_mp_idiv(int n, int radix, const mp_number *in1, int in2, mp_number *out);
int __wrap_mp_idiv(int n, int radix, const mp_number *in1, int in2, mp_number *out);
double __real_mp_mul_radix_test(int n, int radix, int nfft, double *d);
double __wrap_mp_mul_radix_test(int n, int radix, int nfft, double *d);
int __real_pi_least_log10_radix(int log2_nfft);
int __wrap_pi_least_log10_radix(int log2_nfft);
}

namespace {

// Changes the finished value of pi (n digits in base radix) when set.
std::function<void(mp_number *pi, int radix)> corrupt;
// 1 to 4 forces that log10_radix, as a correct machine's choice; 0 leaves the choice to the
// real test.
int forced_log10_radix = 0;
// Added to the real test's error: one product of the test off, as on a flaky machine.
double radix_test_disturbance = 0;

} // namespace

extern "C" int __wrap_mp_idiv(int n, int radix, const mp_number *in1, int in2, mp_number *out) {
    const int status = __real_mp_idiv(n, radix, in1, in2, out);
    if (corrupt) {
        corrupt(out, radix);
    }
    return status;
}

extern "C" double __wrap_mp_mul_radix_test(int n, int radix, int nfft, double *d) {
    // Errors that the radix rule maps to radix 10, 100, 1000 and 10000.
    const double forcing_error[] = {0, 5e-3, 1e-3, 1e-5, 0};
    const double real = __real_mp_mul_radix_test(n, radix, nfft, d) + radix_test_disturbance;
    return forced_log10_radix == 0 ? real : forcing_error[forced_log10_radix];
}

extern "C" int __wrap_pi_least_log10_radix(int log2_nfft) {
    return forced_log10_radix == 0 ? __real_pi_least_log10_radix(log2_nfft) : forced_log10_radix;
}

namespace {

using pi_reference::block_decimals;

struct checked_run {
    pi_result result{};
    pi_check check{};
};

// One checked computation with `log10_radix` forced (0: the machine's) and the finished
// value changed by `change`.
checked_run compute(int digits, int log10_radix, std::function<void(mp_number *, int)> change) {
    forced_log10_radix = log10_radix;
    corrupt = std::move(change);
    checked_run o;
    pi_calculate_checked(digits, &o.result, nullptr, nullptr, &o.check);
    forced_log10_radix = 0;
    corrupt = nullptr;
    return o;
}

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

checked_run compute_with_wrong_decimals(int digits, int log10_radix, std::vector<int> positions) {
    return compute(digits, log10_radix, [positions](mp_number *pi, int radix) {
        for (const int p : positions) {
            change_decimal(pi, radix, p);
        }
    });
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

// The reference's blocks and the tails of computations up to `decimals` decimals, against
// MPFR's pi.
void expect_reference_agrees_with_mpfr(int decimals) {
    namespace ref = pi_reference;
    const std::string pi = mpfr_pi_digits(decimals + 64);
    for (int block = 0; block < ref::block_count && (block + 1) * block_decimals <= decimals;
         ++block) {
        SCOPED_TRACE(block);
        const int first = block * block_decimals + 1;
        EXPECT_EQ(ref::block_residues[block], gmp_residue(pi, first, first + block_decimals - 1));
    }
    for (int log10_radix = 1; log10_radix <= 4; ++log10_radix) {
        for (int log2_nfft = 1;
             ref::has_tail(log10_radix, log2_nfft) && (log10_radix << log2_nfft) <= decimals;
             ++log2_nfft) {
            const ref::tail_entry &t = ref::tails[log10_radix - 1][log2_nfft - 1];
            SCOPED_TRACE(t.digits);
            EXPECT_EQ(t.digits, log10_radix << log2_nfft);
            EXPECT_EQ(t.verified % log10_radix, 0);
            EXPECT_LE(t.verified, std::max(0, t.digits - 16));
            EXPECT_GE(t.verified, std::max(0, t.digits - 16 - 3 * log10_radix));
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

#endif
