// The AGM loop's bound for arithmetic that never converges, through link-time seams on the real
// engine: mp_sqrt is wrapped to learn which number holds the geometric mean, mp_sub to set the
// difference of the means (whose exponent the loop reads as the precision reached) to "not
// converged" or "converged" at a chosen iteration, and mp_idiv to see the power of two that
// the final division takes.

#include "arithmetic/pi_fftcs.h"
#include "engine/pi_benchmark.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

extern "C" {
int __real_mp_sqrt(int, int, const mp_number *, mp_number *, mp_number *, mp_number *, int,
                   double *, double *);
void __real_mp_sub(int, int, const mp_number *, const mp_number *, mp_number *);
int __real_mp_idiv(int, int, const mp_number *, int, mp_number *);
}

namespace {

struct Convergence {
    bool on = false;
    int converged_at = 0;            // the iteration whose difference of the means is zero
    int differences = 0;             // differences of the means seen so far
    const mp_number *root = nullptr; // where mp_sqrt left the geometric mean
    int divisor = 0;                 // what mp_idiv divided by last
} fake;

} // namespace

extern "C" int __wrap_mp_sqrt(int n, int radix, const mp_number *in, mp_number *out,
                              mp_number *tmp1, mp_number *tmp2, int nfft, double *fft1,
                              double *fft2) {
    fake.root = out;
    return __real_mp_sqrt(n, radix, in, out, tmp1, tmp2, nfft, fft1, fft2);
}

// e = (a + b)/2 - sqrt(a b): before the chosen iteration a normalised number with exponent 0
// (no digit correct), at it zero (every digit correct).
extern "C" void __wrap_mp_sub(int n, int radix, const mp_number *in1, const mp_number *in2,
                              mp_number *out) {
    __real_mp_sub(n, radix, in1, in2, out);
    if (!fake.on || in2 != fake.root) {
        return;
    }
    if (++fake.differences == fake.converged_at) {
        mp_load_0(n, radix, out);
        return;
    }
    out->sign = 1;
    out->exponent = 0;
    out->digit[0] = static_cast<int16_t>(std::max<int>(out->digit[0], 1));
}

extern "C" int __wrap_mp_idiv(int n, int radix, const mp_number *in1, int in2, mp_number *out) {
    fake.divisor = in2;
    return __real_mp_idiv(n, radix, in1, in2, out);
}

namespace {

void count_step(int, int, void *steps, double) {
    ++*static_cast<int *>(steps);
}

// The most iterations: npow = 4 * 2^28 = 2^30 is the largest power of two an int holds.
constexpr int iteration_bound = 28;

// Arithmetic that converges at the last allowed iteration ends there; arithmetic that would need
// one more stops at the bound, dividing by 2^30 without overflowing (UBSan checks that in the
// sanitizer build), and its check reports the wrong digits.
TEST(PiIterations, TheBoundEndsArithmeticThatDoesNotConverge) {
    for (const int needed : {iteration_bound, iteration_bound + 1}) {
        SCOPED_TRACE("converges at iteration " + std::to_string(needed));
        fake = Convergence{true, needed};
        int steps = 0;
        pi_result result{};
        pi_calculate_with_progress(1000, &result, count_step, &steps);
        fake.on = false;
        EXPECT_EQ(steps, iteration_bound);
        EXPECT_EQ(fake.divisor, 1 << 30);
        EXPECT_EQ(result.success, 0);
        EXPECT_TRUE(
            std::string_view(result.error_message).starts_with("Computed digits of pi are wrong"))
            << result.error_message;
    }
}

} // namespace
