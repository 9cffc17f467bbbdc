// Linked into a build of the program with -Wl,--wrap=pi_calculate_checked and
// -Wl,--wrap=cdft: a machine that makes one arithmetic error late in the third run of the
// benchmark, in one of the transforms of the last few products.
#include <atomic>

#include "engine/pi_benchmark.h"

namespace {

constexpr int faulty_run = 3;
std::atomic<int> run{0};
std::atomic<long> large_transforms[pi_benchmark_runs + 1];

} // namespace

extern "C" void __real_pi_calculate_checked(int digits, pi_result *result,
                                            pi_progress_callback callback, void *user_data,
                                            pi_check *check);

extern "C" void __wrap_pi_calculate_checked(int digits, pi_result *result,
                                            pi_progress_callback callback, void *user_data,
                                            pi_check *check) {
    ++run;
    __real_pi_calculate_checked(digits, result, callback, user_data, check);
}

extern "C" void __real_cdft(int n, int sign, double *a);

// Counts each run's transforms of a million doubles or more; the third run's third-last
// comes out with one value off, by as much as it takes to survive the rounding.
extern "C" void __wrap_cdft(int n, int sign, double *a) {
    __real_cdft(n, sign, a);
    const int current = run;
    if (n < (1 << 20) || current < 1 || current > pi_benchmark_runs) {
        return;
    }
    const long count = ++large_transforms[current];
    if (current == faulty_run && count == large_transforms[1] - 2) {
        a[n / 2 + 1] += n;
    }
}
