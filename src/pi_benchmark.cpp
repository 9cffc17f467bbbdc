#include "pi_benchmark.h"

#include "fftsg_h.h"
#include "pi_fftcs.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <iterator>
#include <memory>

static_assert(offsetof(pi_result, success) == 0);
static_assert(offsetof(pi_result, digits) == 4);
static_assert(offsetof(pi_result, time_seconds) == 8);
static_assert(offsetof(pi_result, score) == 16);
static_assert(offsetof(pi_result, error_message) == 24);
static_assert(sizeof(pi_result) == 280);

namespace {

constexpr int kBenchmarkRuns = pi_benchmark_runs;
constexpr int kBenchmarkDigits = pi_benchmark_digits;

// clock() ticks once per microsecond on POSIX systems.
static_assert(CLOCKS_PER_SEC == 1000000);
constexpr double kSecondsPerTick = 1e-6;

double seconds_since(std::clock_t start) {
    return static_cast<double>(std::clock() - start) * kSecondsPerTick;
}

// Smallest k >= 1 with 2^k >= digits / 4: the FFT length exponent for `digits` digits.
int log2_nfft_for(int digits) {
    const int quarter = static_cast<int>(static_cast<unsigned>(digits) / 4);
    int k = 1;
    while ((1 << k) < quarter) {
        ++k;
    }
    return k;
}

// Nearest whole number, halves away from zero.
double round_half_away(double x) {
    return std::trunc(x + std::copysign(0.49999999999999994, x));
}

// Score of D digits in T processor seconds: ceil(log2(D)^2 * D * 5.663691143091034e-7 / T).
double score_for(int digits, double seconds) {
    if (digits <= 0 || !(seconds > 0)) {
        return 0;
    }
    const double t = std::log2(static_cast<double>(digits));
    return std::ceil(t * t * (static_cast<double>(digits) * 5.663691143091034e-7) / seconds);
}

template <std::size_t N> void set_text(char (&buffer)[N], const char *text) {
    std::snprintf(buffer, N, "%s", text);
}

struct FreeDeleter {
    void operator()(void *p) const noexcept { std::free(p); }
};
template <class T> using HeapPtr = std::unique_ptr<T, FreeDeleter>;

template <class T> HeapPtr<T> allocate(std::size_t bytes) {
    return HeapPtr<T>(static_cast<T *>(std::malloc(bytes)));
}

// The six numbers and three FFT work arrays of one computation, allocated in this
// order before any is tested, and released together.
struct Workspace {
    HeapPtr<mp_number> a, b, c, e, tmp1, tmp2;
    HeapPtr<double> work1, work2, work3;

    Workspace(int n, int nfft) {
        const std::size_t number_bytes = mp_number_size(n);
        const std::size_t work_bytes = (static_cast<std::size_t>(nfft) + 2) * sizeof(double);
        a = allocate<mp_number>(number_bytes);
        b = allocate<mp_number>(number_bytes);
        c = allocate<mp_number>(number_bytes);
        e = allocate<mp_number>(number_bytes);
        tmp1 = allocate<mp_number>(number_bytes);
        tmp2 = allocate<mp_number>(number_bytes);
        work1 = allocate<double>(work_bytes);
        work2 = allocate<double>(work_bytes);
        work3 = allocate<double>(work_bytes);
    }

    bool complete() const { return a && b && c && e && tmp1 && tmp2 && work1 && work2 && work3; }
};

struct Radix {
    int radix;
    int log10_radix;
};

// The largest radix whose FFT rounding error, measured on a worst-case square in
// radix 10 and scaled by 100 per step up, stays below 0.4. The allowance grows with
// the length; it is formed in 64 bits so that no length can wrap it.
Radix choose_radix(int n, int nfft, double *work) {
    const auto allowance = static_cast<double>(std::uint64_t{100} * static_cast<unsigned>(n) / 4);
    const double err = mp_mul_radix_test(n, 10, nfft, work) + DBL_EPSILON * allowance;
    if (err * 100 >= 0.4) {
        return {10, 1};
    }
    if (err * 10000 >= 0.4) {
        return {100, 2};
    }
    if (err * 1000000 >= 0.4) {
        return {1000, 3};
    }
    return {10000, 4};
}

// Decimal digits made correct so far, saturated where the product leaves the int range.
int precision_digits_of(int log10_radix, int nprc) {
    return static_cast<int>(std::min<std::int64_t>(std::int64_t{4} * log10_radix * nprc, INT_MAX));
}

// Computes pi to `digits` decimal digits by the AGM iteration and fills `result`.
void compute_pi(int digits, pi_result *result, pi_progress_callback callback, void *user_data,
                pi_value_hook hook, void *hook_data) {
    if (result == nullptr) {
        return;
    }
    *result = pi_result{};
    if (digits <= 0) {
        std::snprintf(result->error_message, sizeof result->error_message,
                      "Invalid number of digits: %d", digits);
        return;
    }

    const std::clock_t setup_start = std::clock();
    const int log2_nfft = log2_nfft_for(digits);
    const int nfft = 1 << log2_nfft;
    const int n = nfft + 2;
    Workspace w(n, nfft);
    if (!w.complete()) {
        set_text(result->error_message, "Memory allocation failed");
        return;
    }
    mp_number *a = w.a.get(), *b = w.b.get(), *c = w.c.get(), *e = w.e.get();
    mp_number *tmp1 = w.tmp1.get(), *tmp2 = w.tmp2.get();
    double *work1 = w.work1.get(), *work2 = w.work2.get(), *work3 = w.work3.get();

    const auto [radix, log10_radix] = choose_radix(n, nfft, work1);

    // a = 1 + 3/sqrt(8), b = 2 sqrt(a), c = sqrt(a) - 5/8 - 1/sqrt(8), and a += b/2 - 5/8.
    mp_invisqrt(n, radix, 8, c, tmp1, tmp2, nfft, work1, work2);
    mp_imul(n, radix, c, 3, e);
    mp_sscanf(n, log10_radix, "1", a);
    mp_add(n, radix, a, e, a);
    mp_sqrt(n, radix, a, b, tmp1, tmp2, nfft, work1, work2);
    mp_sscanf(n, log10_radix, "0.625", e);
    mp_sub(n, radix, b, e, e);
    mp_add(n, radix, b, b, b);
    mp_sub(n, radix, e, c, c);
    mp_add(n, radix, a, e, a);
    double total_seconds = seconds_since(setup_start);

    // AGM: e = (a - b)/2 measures convergence; each iteration doubles the correct digits.
    int npow = 4;
    int nprc = 0;
    for (int step = 1;; ++step) {
        const std::clock_t iteration_start = std::clock();
        mp_add(n, radix, a, b, e);
        mp_idiv_2(n, radix, e, e);
        mp_mul(n, radix, a, b, a, tmp1, nfft, work1, work2, work3);
        mp_sqrt(n, radix, a, b, tmp1, tmp2, nfft, work1, work2);
        mp_sub(n, radix, e, b, e);
        mp_add(n, radix, b, b, b);
        mp_sub(n, radix, c, e, c);
        mp_add(n, radix, e, b, a);
        nprc = e->sign == 0 ? n : -e->exponent;
        const double iteration_seconds = seconds_since(iteration_start);
        if (callback != nullptr) {
            callback(step, precision_digits_of(log10_radix, nprc), user_data, iteration_seconds);
        }
        total_seconds += iteration_seconds;
        npow *= 2;
        if (std::int64_t{4} * nprc > n) {
            break;
        }
    }

    // pi = (a^2 - e - e/2) / (a c - e) / npow with a = a + b and e = (e/2)^2; the
    // transform of a's leading half, made for a*c, is reused for a*a.
    const std::clock_t final_start = std::clock();
    mp_idiv_2(n, radix, e, e);
    mp_squh(n, radix, e, e, nfft, work1);
    mp_add(n, radix, a, b, a);
    mp_mulhf(n, radix, a, c, c, tmp1, nfft, work1, work2);
    mp_sub(n, radix, c, e, c);
    mp_inv(n, radix, c, b, tmp1, tmp2, nfft, work2, work3);
    mp_squhf_use_infft(n, radix, work1, a, a, tmp1, nfft, work2);
    mp_sub(n, radix, a, e, a);
    mp_idiv_2(n, radix, e, e);
    mp_sub(n, radix, a, e, a);
    mp_mul(n, radix, a, b, a, tmp1, nfft, work1, work2, work3);
    mp_idiv(n, radix, a, npow, a);
    total_seconds += seconds_since(final_start);

    // log10_radix << log2_nfft, held at INT_MAX where it would leave the int range.
    const auto computed = std::int64_t{log10_radix} << log2_nfft;
    result->success = 1;
    result->digits = static_cast<int>(std::min<std::int64_t>(computed, INT_MAX));
    result->time_seconds = total_seconds;
    result->score = score_for(result->digits, total_seconds);
    if (hook != nullptr) {
        hook(a, n, log10_radix, hook_data);
    }
}

void pi_calculate_internal(int digits, pi_result *result, pi_progress_callback callback,
                           void *user_data) {
    compute_pi(digits, result, callback, user_data, nullptr, nullptr);
}

void checked_driver(int digits, pi_result *result, pi_progress_callback callback, void *user_data,
                    pi_check *check) {
    if (check != nullptr) {
        *check = pi_check{};
    }
    pi_calculate_internal(digits, result, callback, user_data);
}

// Relays the progress of one benchmark run with steps continued across runs.
struct ProgressRelay {
    pi_progress_callback callback;
    void *user_data;
    int step_offset;
};

void progress_callback_wrapper(int step, int precision_digits, void *relay_data,
                               double iteration_seconds) {
    const auto *relay = static_cast<const ProgressRelay *>(relay_data);
    relay->callback(step + relay->step_offset, precision_digits, relay->user_data,
                    iteration_seconds);
}

} // namespace

extern "C" void pi_calculate_value(int digits, pi_result *result, pi_progress_callback callback,
                                   void *user_data, pi_value_hook hook, void *hook_data) {
    compute_pi(digits, result, callback, user_data, hook, hook_data);
}

extern "C" void pi_calculate_checked(int digits, pi_result *result, pi_progress_callback callback,
                                     void *user_data, pi_check *check) {
    checked_driver(digits, result, callback, user_data, check);
}

extern "C" void pi_calculate(int digits, pi_result *result) {
    pi_calculate_internal(digits, result, nullptr, nullptr);
}

extern "C" void pi_calculate_with_progress(int digits, pi_result *result,
                                           pi_progress_callback callback, void *user_data) {
    pi_calculate_internal(digits, result, callback, user_data);
}

extern "C" void pi_calculate_5x8m_with(pi_result *result, pi_progress_callback callback,
                                       void *user_data, pi_driver driver, pi_result *runs_out,
                                       pi_check *checks_out) {
    if (result == nullptr) {
        return;
    }
    *result = pi_result{};
    pi_result runs[kBenchmarkRuns] = {};
    pi_check checks[kBenchmarkRuns] = {};
    ProgressRelay relay{callback, user_data, 0};
    const int steps_per_run = pi_estimate_iterations(kBenchmarkDigits);

    int succeeded = 0;
    double time_sum = 0;
    double score_sum = 0;
    for (int i = 0; i < kBenchmarkRuns; ++i) {
        pi_result &run = runs[i];
        run = pi_result{};
        if (callback != nullptr) {
            driver(kBenchmarkDigits, &run, progress_callback_wrapper, &relay, &checks[i]);
        } else {
            driver(kBenchmarkDigits, &run, nullptr, nullptr, &checks[i]);
        }
        if (run.success != 0) {
            relay.step_offset += steps_per_run;
            ++succeeded;
            time_sum += run.time_seconds;
            score_sum += run.score;
        }
    }

    if (runs_out != nullptr) {
        std::copy(std::begin(runs), std::end(runs), runs_out);
    }
    if (checks_out != nullptr) {
        std::copy(std::begin(checks), std::end(checks), checks_out);
    }
    if (succeeded == 0) {
        set_text(result->error_message, "All 5 benchmark runs failed");
        return;
    }
    result->success = 1;
    result->digits = runs[0].digits;
    result->time_seconds = time_sum;
    result->score = round_half_away(score_sum / succeeded);
}

extern "C" void pi_calculate_5x8m(pi_result *result, pi_progress_callback callback,
                                  void *user_data) {
    pi_calculate_5x8m_with(result, callback, user_data, checked_driver, nullptr, nullptr);
}

extern "C" double pi_calculate_average_score(const pi_result *results, int count) {
    if (results == nullptr || count <= 0) {
        return 0;
    }
    int succeeded = 0;
    double score_sum = 0;
    for (int i = 0; i < count; ++i) {
        if (results[i].success != 0) {
            ++succeeded;
            score_sum += results[i].score;
        }
    }
    return succeeded == 0 ? 0 : round_half_away(score_sum / succeeded);
}

extern "C" int pi_estimate_iterations(int digits) {
    if (digits <= 0) {
        return 0;
    }
    return std::clamp(log2_nfft_for(digits), 3, 22) - 2;
}

extern "C" const char *pi_simd_path(void) {
    return fft_simd_path();
}

extern "C" const char *pi_simd_note(void) {
    return fft_simd_note();
}

extern "C" const char *pi_get_version(void) {
    return "ver. LG1.1.2-MP1.5.2a.memsave";
}

extern "C" void pi_cleanup(void) {}
