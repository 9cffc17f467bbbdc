#include "pi_benchmark.h"

#include <algorithm>
#include <cstddef>

static_assert(offsetof(pi_result, success) == 0);
static_assert(offsetof(pi_result, digits) == 4);
static_assert(offsetof(pi_result, time_seconds) == 8);
static_assert(offsetof(pi_result, score) == 16);
static_assert(offsetof(pi_result, error_message) == 24);
static_assert(sizeof(pi_result) == 280);

namespace {

// Smallest k >= 1 with 2^k >= digits / 4: the FFT length exponent for `digits` digits.
int log2_nfft_for(int digits) {
    const int quarter = static_cast<int>(static_cast<unsigned>(digits) / 4);
    int k = 1;
    while ((1 << k) < quarter) {
        ++k;
    }
    return k;
}

} // namespace

extern "C" int pi_estimate_iterations(int digits) {
    if (digits <= 0) {
        return 0;
    }
    return std::clamp(log2_nfft_for(digits), 3, 22) - 2;
}

extern "C" const char *pi_get_version(void) { return "ver. LG1.1.2-MP1.5.2a.memsave"; }

extern "C" void pi_cleanup(void) {}
