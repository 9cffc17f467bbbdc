// How well a score repeats: N single computations of the engine alternating with the GMP
// Chudnovsky reference of peers, in one process, so that both meet the same machine in the same
// minutes. For each, the processor times' spread (max / min - 1) and coefficient of variation
// (standard deviation / mean), and the engine's over the reference's: a ratio at most 1 means
// the engine adds no noise of its own to the machine's. The machine's load and huge-page mode
// are printed before and after, so that a figure says what it was measured in.
//
//   repeatability [--digits D] [--runs N]      defaults: D = 8388608, N = 10
#include "chudnovsky.h"
#include "engine/pi_benchmark.h"
#include "probe/run_conditions.h"

#include <gmp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <numeric>
#include <vector>

namespace {

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double engine_seconds(int digits) {
    pi_result r{};
    pi_calculate(digits, &r);
    if (r.success != 1) {
        std::fprintf(stderr, "engine failed: %s\n", r.error_message);
        std::exit(1);
    }
    return r.time_seconds;
}

double chudnovsky_seconds(int digits) {
    mpz_t pi;
    mpz_init(pi);
    const double start = cpu_seconds();
    gmp_peer::chudnovsky_pi(digits, pi);
    const double seconds = cpu_seconds() - start;
    mpz_clear(pi);
    return seconds;
}

struct variation {
    double spread;      // max / min - 1
    double coefficient; // standard deviation / mean
};

variation variation_of(const std::vector<double> &times) {
    const auto [low, high] = std::minmax_element(times.begin(), times.end());
    const double mean = std::accumulate(times.begin(), times.end(), 0.0) / times.size();
    double squares = 0;
    for (double t : times) {
        squares += (t - mean) * (t - mean);
    }
    const double deviation = times.size() > 1 ? std::sqrt(squares / (times.size() - 1)) : 0;
    return {*high / *low - 1, deviation / mean};
}

void print_conditions(const char *when) {
    run_conditions c{};
    get_run_conditions(&c);
    std::printf("%s: load %.2f on %d processors, %d other processes runnable, huge pages %s, "
                "governor %s\n",
                when, c.load_average, c.processors, c.runnable,
                c.huge_pages[0] ? c.huge_pages : "unknown", c.governor[0] ? c.governor : "none");
}

void print_variation(const char *name, const std::vector<double> &times) {
    const variation v = variation_of(times);
    std::printf("  %-12s spread %6.2f %%, coefficient of variation %6.2f %%\n", name,
                100 * v.spread, 100 * v.coefficient);
}

} // namespace

int main(int argc, char **argv) {
    int digits = pi_benchmark_digits;
    int runs = 10;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--digits") == 0 && i + 1 < argc) {
            digits = std::atoi(argv[++i]);
        } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::atoi(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: %s [--digits D] [--runs N]\n", argv[0]);
            return 2;
        }
    }
    if (digits < 1000 || runs < 2) {
        std::fprintf(stderr, "need at least 1000 digits and two runs\n");
        return 2;
    }
    print_conditions("before");
    std::vector<double> engine, chudnovsky;
    for (int run = 1; run <= runs; ++run) {
        engine.push_back(engine_seconds(digits));
        chudnovsky.push_back(chudnovsky_seconds(digits));
        std::printf("run %2d: engine %.3f s, Chudnovsky %.3f s (processor time)\n", run,
                    engine.back(), chudnovsky.back());
        std::fflush(stdout);
    }
    print_conditions("after");
    std::printf("%d runs of %d digits, %s kernels:\n", runs, digits, pi_simd_path());
    print_variation("engine", engine);
    print_variation("Chudnovsky", chudnovsky);
    const double ratio = variation_of(engine).coefficient / variation_of(chudnovsky).coefficient;
    std::printf("  engine's coefficient over Chudnovsky's: %.2f (goal <= 1)\n", ratio);
    return 0;
}
