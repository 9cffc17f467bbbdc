// Our engine and our FFT side by side with their peers, in one process and alternating over
// rounds, so that a shared or throttled machine slows every contestant alike:
//   - one engine computation of D digits (processor time, as pi_calculate reports it),
//   - MPFR's mpfr_const_pi at the same precision (its cache freed before every call),
//   - a Chudnovsky binary splitting with GMP integers (below; a peer, not part of the program),
//   - cdft on 2^21 doubles against FFTW's in-place complex transform (FFTW_MEASURE plan),
// and the peak resident memory of one engine computation, run in a forked child.
// Prints each figure's median over the rounds and the median ratios against the goals.
//
//   peers [--digits D] [--rounds R]      defaults: D = 8388608, R = 3
#include "contestants.h"
#include "engine/pi_benchmark.h"
#include "fft/fftsg_h.h"

#include <fftw3.h>
#include <gmp.h>
#include <mpfr.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using contestants::cpu_seconds;

constexpr int fft_doubles = 1 << 21;
constexpr int fft_calls = 10;                         // per direction and round
constexpr double bits_per_digit = 3.3219280948873623; // log2(10)

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t m = v.size() / 2;
    return v.size() % 2 == 1 ? v[m] : 0.5 * (v[m - 1] + v[m]);
}

// MPFR's pi at the precision of `digits` decimal digits (plus guard bits); the cache is freed
// first so that every call computes.
void mpfr_pi(long digits, mpfr_t pi) {
    mpfr_free_cache();
    mpfr_set_prec(pi, static_cast<mpfr_prec_t>(std::ceil(digits * bits_per_digit)) + 64);
    mpfr_const_pi(pi, MPFR_RNDN);
}

// The Chudnovsky digits against MPFR's, on a size where that is quick; the last two digits are
// allowed to differ.
bool chudnovsky_agrees_with_mpfr(long digits) {
    mpz_t ours;
    mpz_init(ours);
    gmp_peer::chudnovsky_pi(digits, ours);
    char *text = mpz_get_str(nullptr, 10, ours);
    mpz_clear(ours);

    mpfr_t pi;
    mpfr_init2(pi, 64);
    mpfr_pi(digits + 10, pi);
    mpfr_exp_t exponent = 0;
    char *reference =
        mpfr_get_str(nullptr, &exponent, 10, static_cast<size_t>(digits + 5), pi, MPFR_RNDZ);
    mpfr_clear(pi);

    const size_t compared = static_cast<size_t>(digits) - 2;
    const bool same = exponent == 1 && std::strlen(text) >= compared &&
                      std::strncmp(text, reference, compared) == 0;
    std::printf("check: Chudnovsky pi to %ld digits %s MPFR's (%s...)\n", digits,
                same ? "agrees with" : "DIFFERS FROM", std::string(text, 12).c_str());
    mpfr_free_str(reference);
    void (*free_gmp)(void *, size_t) = nullptr;
    mp_get_memory_functions(nullptr, nullptr, &free_gmp);
    free_gmp(text, std::strlen(text) + 1);
    return same;
}

// ---- The contestants, each returning processor seconds ----

double time_mpfr(int digits) {
    mpfr_t pi;
    mpfr_init2(pi, 64);
    const double start = cpu_seconds();
    mpfr_pi(digits, pi);
    const double t = cpu_seconds() - start;
    mpfr_clear(pi);
    return t;
}

struct fft_pair {
    double *input, *data;
    fftw_plan forward, backward; // FFTW's signs opposite to ours: our forward is exp(+...)
};

fft_pair make_fft_pair() {
    fft_pair f{};
    f.input = fftw_alloc_real(fft_doubles);
    f.data = fftw_alloc_real(fft_doubles);
    auto *c = reinterpret_cast<fftw_complex *>(f.data);
    f.forward = fftw_plan_dft_1d(fft_doubles / 2, c, c, FFTW_BACKWARD, FFTW_MEASURE);
    f.backward = fftw_plan_dft_1d(fft_doubles / 2, c, c, FFTW_FORWARD, FFTW_MEASURE);
    std::mt19937_64 gen(2026);
    std::uniform_real_distribution<double> dist(-1.0, 1.0);
    for (int i = 0; i < fft_doubles; ++i) {
        f.input[i] = dist(gen);
    }
    return f;
}

// Mean processor time of one transform, each call on a fresh copy of the same input.
template <class Transform> double time_transform(const fft_pair &f, Transform transform) {
    double total = 0;
    for (int call = 0; call < fft_calls; ++call) {
        std::memcpy(f.data, f.input, sizeof(double) * fft_doubles);
        const double start = cpu_seconds();
        transform();
        total += cpu_seconds() - start;
    }
    return total / fft_calls;
}

// Peak resident memory (MB) of a forked child that runs one computation of `digits` digits
// (or none, for the baseline the child inherits).
double child_peak_mb(int digits) {
    const pid_t child = fork();
    if (child == 0) {
        if (digits > 0) {
            pi_result r{};
            pi_calculate(digits, &r);
        }
        _exit(0);
    }
    int status = 0;
    rusage usage{};
    if (child < 0 || wait4(child, &status, 0, &usage) != child) {
        return -1;
    }
    return static_cast<double>(usage.ru_maxrss) / 1024.0; // kB
}

void print_row(const char *name, double value, const char *unit, double goal,
               const char *goal_text) {
    std::printf("  %-34s %10.4f %-4s  goal %s %-6.2f %s\n", name, value, unit, goal_text, goal,
                value <= goal ? "met" : "NOT met");
}

} // namespace

int main(int argc, char **argv) {
    const auto [digits, rounds] =
        contestants::parse_size_and_count(argc, argv, "rounds", {pi_benchmark_digits, 3}, 1);

    // Memory first, while this process is still small, so that the child inherits little.
    const double baseline_mb = child_peak_mb(0);
    const double engine_mb = child_peak_mb(digits);
    const double benchmark_mb =
        digits == pi_benchmark_digits ? engine_mb : child_peak_mb(pi_benchmark_digits);
    std::printf("peak resident memory: one computation of %d digits %.1f MB, of %d digits %.1f MB "
                "(empty child %.1f MB)\n",
                digits, engine_mb, pi_benchmark_digits, benchmark_mb, baseline_mb);

    if (!chudnovsky_agrees_with_mpfr(20000)) {
        return 1;
    }
    const fft_pair fft = make_fft_pair();

    std::vector<double> engine, mpfr, chud, ours_f, fftw_f, ours_b, fftw_b;
    std::vector<double> vs_mpfr, vs_chud, fft_forward, fft_backward;
    for (int round = 1; round <= rounds; ++round) {
        engine.push_back(contestants::engine_seconds(digits));
        mpfr.push_back(time_mpfr(digits));
        chud.push_back(contestants::chudnovsky_seconds(digits));
        ours_f.push_back(time_transform(fft, [&] { cdft(fft_doubles, 1, fft.data); }));
        fftw_f.push_back(time_transform(fft, [&] { fftw_execute(fft.forward); }));
        ours_b.push_back(time_transform(fft, [&] { cdft(fft_doubles, -1, fft.data); }));
        fftw_b.push_back(time_transform(fft, [&] { fftw_execute(fft.backward); }));
        vs_mpfr.push_back(engine.back() / mpfr.back());
        vs_chud.push_back(engine.back() / chud.back());
        fft_forward.push_back(ours_f.back() / fftw_f.back());
        fft_backward.push_back(ours_b.back() / fftw_b.back());
        std::printf("round %d: engine %.3f s, mpfr_const_pi %.3f s, Chudnovsky %.3f s, "
                    "cdft %.2f/%.2f ms, FFTW %.2f/%.2f ms (forward/backward)\n",
                    round, engine.back(), mpfr.back(), chud.back(), 1e3 * ours_f.back(),
                    1e3 * ours_b.back(), 1e3 * fftw_f.back(), 1e3 * fftw_b.back());
        std::fflush(stdout);
    }

    std::printf("\nmedians over %d rounds, %d digits (processor time, %s kernels):\n", rounds,
                digits, fft_simd_path());
    std::printf("  engine %.3f s, mpfr_const_pi %.3f s, Chudnovsky (GMP) %.3f s\n", median(engine),
                median(mpfr), median(chud));
    std::printf("  cdft %.2f ms forward, %.2f ms backward; FFTW %.2f ms, %.2f ms (2^21 doubles)\n",
                1e3 * median(ours_f), 1e3 * median(ours_b), 1e3 * median(fftw_f),
                1e3 * median(fftw_b));
    std::printf("ratios (median of the per-round ratios) against the goals:\n");
    print_row("engine / mpfr_const_pi", median(vs_mpfr), "", 0.35, "<=");
    print_row("engine / Chudnovsky", median(vs_chud), "", 0.75, "<=");
    print_row("cdft / FFTW forward", median(fft_forward), "", 0.7, "<=");
    print_row("cdft / FFTW backward", median(fft_backward), "", 0.7, "<=");
    if (digits == pi_benchmark_digits) {
        print_row("peak resident memory", engine_mb, "MB", 80, "<=");
    } else {
        // How memory grows with the size, against the benchmark's computation.
        print_row("peak memory / at 8,388,608 digits", engine_mb / benchmark_mb, "", 4.2, "<=");
    }

    fftw_destroy_plan(fft.forward);
    fftw_destroy_plan(fft.backward);
    fftw_free(fft.input);
    fftw_free(fft.data);
    mpfr_free_cache();
    return 0;
}
