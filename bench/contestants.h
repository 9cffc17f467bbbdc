// What the comparisons of bench/ share: the processor clock, the engine's and the GMP
// Chudnovsky reference's computations of pi timed on it, and their common options.
#ifndef TESSARY_BENCH_CONTESTANTS_H
#define TESSARY_BENCH_CONTESTANTS_H

#include "chudnovsky.h"
#include "engine/pi_benchmark.h"

#include <gmp.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace contestants {

inline double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// One computation by the engine, in the processor seconds it reports; a failure ends the
// comparison.
inline double engine_seconds(int digits) {
    pi_result r{};
    pi_calculate(digits, &r);
    if (r.success != 1) {
        std::fprintf(stderr, "engine failed: %s\n", r.error_message);
        std::exit(1);
    }
    return r.time_seconds;
}

inline double chudnovsky_seconds(int digits) {
    mpz_t pi;
    mpz_init(pi);
    const double start = cpu_seconds();
    gmp_peer::chudnovsky_pi(digits, pi);
    const double seconds = cpu_seconds() - start;
    mpz_clear(pi);
    return seconds;
}

// "[--digits D] [--<count_name> N]": D at least 1,000, N at least `least`. Exits with status 2
// and the usage on anything else.
struct size_and_count {
    int digits;
    int count;
};
inline size_and_count parse_size_and_count(int argc, char **argv, const char *count_name,
                                           size_and_count defaults, int least) {
    size_and_count options = defaults;
    const std::string count_option = std::string("--") + count_name;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--digits") == 0 && i + 1 < argc) {
            options.digits = std::atoi(argv[++i]);
        } else if (argv[i] == count_option && i + 1 < argc) {
            options.count = std::atoi(argv[++i]);
        } else {
            options.digits = 0;
            break;
        }
    }
    if (options.digits < 1000 || options.count < least) {
        std::fprintf(stderr, "usage: %s [--digits D] [%s N]: D >= 1000, N >= %d\n", argv[0],
                     count_option.c_str(), least);
        std::exit(2);
    }
    return options;
}

} // namespace contestants

#endif
