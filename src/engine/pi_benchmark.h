/* Tessary benchmark engine: computes pi with FFT-based multi-precision
 * arithmetic and reports the processor time and a score. */
#ifndef TESSARY_PI_BENCHMARK_H
#define TESSARY_PI_BENCHMARK_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Outcome of one computation or of the five-run benchmark. Every computing
 * entry point clears the whole record before filling it. */
typedef struct pi_result {
    int32_t success;         /* 1 when the computation (or at least one run) completed with
                                correct digits */
    int32_t digits;          /* decimal digits computed; 0 when nothing was computed */
    double time_seconds;     /* processor seconds, also of a computation with wrong digits */
    double score;            /* a whole number, higher is faster; 0 on failure */
    char error_message[256]; /* empty on success */
} pi_result;

/* Called once per AGM iteration on the computing thread. */
typedef void (*pi_progress_callback)(int step, int precision_digits, void *user_data,
                                     double iteration_seconds);

void pi_calculate(int digits, pi_result *result);
void pi_calculate_with_progress(int digits, pi_result *result, pi_progress_callback callback,
                                void *user_data);
/* Five computations of 8,388,608 digits; steps keep counting across the runs. The first run
 * that finds the machine computing wrongly (wrong digits, a radix test that chose a smaller
 * radix than a correct machine's, fewer than 8,388,608 digits) ends the benchmark and fails
 * it. */
void pi_calculate_5x8m(pi_result *result, pi_progress_callback callback, void *user_data);
/* Mean score of the successful records, rounded to a whole number. */
double pi_calculate_average_score(const pi_result *results, int count);

/* Number of progress steps that one computation of `digits` digits reports. */
int pi_estimate_iterations(int digits);
const char *pi_get_version(void);
void pi_cleanup(void);

/* ---- For the front ends and the tests: not part of the engine's public interface ---- */

/* The instruction-set path the computation's kernels run on ("baseline", "avx2" or "avx512"),
 * as their tables name it, and null or an English note when TESSARY_SIMD asked for a path
 * that is not available here.
 * A score is a benchmark of the path it ran on. */
const char *pi_simd_path(void);
const char *pi_simd_note(void);

/* Size of the five-run benchmark. */
enum { pi_benchmark_runs = 5, pi_benchmark_digits = 8388608 };
/* The progress steps the five-run benchmark reports when every run succeeds:
 * pi_benchmark_runs * pi_estimate_iterations(pi_benchmark_digits). */
int pi_benchmark_steps(void);

/* The score of `digits` digits computed in `seconds`: the formula every result uses. */
double pi_score(int digits, double seconds);

/* What the check of one computation's digits against the engine's reference of pi found. */
typedef struct pi_check {
    int32_t verified_digits;   /* leading decimals after "3." confirmed correct */
    int32_t first_wrong_digit; /* 1-based position of the first wrong decimal; 0 when none */
    /* Decimals computed past the reference's reach, which nothing checked (the last places,
     * which carry the rounding, not counted); 0 when the reference reaches them all. */
    int32_t unchecked_digits;
    /* 1 when the machine was caught computing wrongly: a wrong digit, or a radix test that
     * chose a smaller radix than a correct machine's, before any digit was computed. */
    int32_t arithmetic_error;
} pi_check;

/* pi_calculate_with_progress that also reports its check (`check` may be null). */
void pi_calculate_checked(int digits, pi_result *result, pi_progress_callback callback,
                          void *user_data, pi_check *check);

struct mp_number;

/* Receives the computed value of pi (n digits in base 10^log10_radix) after the
 * time has been measured and before the working memory is released. */
typedef void (*pi_value_hook)(const struct mp_number *pi, int n, int log10_radix, void *hook_data);

/* pi_calculate_with_progress that also hands the value of pi to `hook` (may be null). */
void pi_calculate_value(int digits, pi_result *result, pi_progress_callback callback,
                        void *user_data, pi_value_hook hook, void *hook_data);

/* One computation as the five-run benchmark sees it; `check` may be null. */
typedef void (*pi_driver)(int digits, pi_result *result, pi_progress_callback callback,
                          void *user_data, pi_check *check);

/* pi_calculate_5x8m with its computations done by `driver`. When not null, `runs` and
 * `checks` (pi_benchmark_runs entries each) receive every run's record and check. */
void pi_calculate_5x8m_with(pi_result *result, pi_progress_callback callback, void *user_data,
                            pi_driver driver, pi_result *runs, pi_check *checks);

/* ---- For tessary-cli's printed digits and stress mode ---- */

/* pi_calculate_checked that also hands the value of pi to `hook` (may be null), called once
 * `result` and `check` (may be null) are filled. */
void pi_calculate_checked_value(int digits, pi_result *result, pi_progress_callback callback,
                                void *user_data, pi_check *check, pi_value_hook hook,
                                void *hook_data);

/* Decimals first ... first + count - 1 (the first after "3." is 1, the last at most
 * (n - 1) * log10_radix) of a value that a pi_value_hook received from a computation that
 * succeeded, as characters in `text`, without a terminator. */
void pi_value_decimal_range(const struct mp_number *pi, int log10_radix, int first, int count,
                            char *text);

/* The most leading decimals that the check of any computation verifies: the reference's
 * reach. */
int pi_reference_decimals(void);

/* The digits to ask for so that the computation is the smallest whose check, on a correct
 * machine, verifies at least its first `decimals` decimals; 0 when decimals exceeds
 * pi_reference_decimals(). */
int pi_digits_verifying(int decimals);

/* The fewest digits a computation may ask for and have any of them verified: the reference
 * leaves the last places of every computation unchecked, which is all of a smaller one. */
int pi_smallest_verified_digits(void);

/* The most digits a computation may ask for and have all of them verified (but the last
 * places): past it the reference checks only the first part of the digits. */
int pi_largest_verified_digits(void);

/* The bytes of working memory one computation of `digits` digits holds while it runs: its
 * numbers and transform work arrays, as it allocates them. 0 for digits <= 0. */
size_t pi_working_memory_bytes(int digits);

#ifdef __cplusplus
}
#endif

#endif
