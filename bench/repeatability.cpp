// How well a score repeats: N single computations of the engine alternating with the GMP
// Chudnovsky reference of peers, in one process, so that both meet the same machine in the same
// minutes. For each, the processor times' spread (max / min - 1) and coefficient of variation
// (standard deviation / mean), and the engine's over the reference's: a ratio at most 1 means
// the engine adds no noise of its own to the machine's. The machine's load and huge-page mode
// are printed before and after, so that a figure says what it was measured in.
//
//   repeatability [--digits D] [--runs N]      defaults: D = 8388608, N = 10
#include "contestants.h"
#include "probe/run_conditions.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <vector>

namespace {

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
    const auto [digits, runs] =
        contestants::parse_size_and_count(argc, argv, "runs", {pi_benchmark_digits, 10}, 2);
    print_conditions("before");
    std::vector<double> engine, chudnovsky;
    for (int run = 1; run <= runs; ++run) {
        engine.push_back(contestants::engine_seconds(digits));
        chudnovsky.push_back(contestants::chudnovsky_seconds(digits));
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
