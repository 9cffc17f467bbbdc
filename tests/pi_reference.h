// MPFR's digits of pi, and the engine's, as plain digit strings "31415...".
#ifndef TESSARY_TESTS_PI_REFERENCE_H
#define TESSARY_TESTS_PI_REFERENCE_H

#include "arithmetic/pi_fftcs.h"
#include "engine/pi_benchmark.h"
#include "mpfr_pi.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

struct ComputedPi {
    pi_result result{};
    int log10_radix = 0;
    std::string digits; // "3" and every decimal of the computed number
};

inline void keep_pi_digits(const mp_number *pi, int n, int log10_radix, void *data) {
    std::string text(static_cast<size_t>(n) * log10_radix + 16, '\0');
    mp_sprintf(n, log10_radix, pi, text.data());
    text.resize(text.find('e'));
    auto *computed = static_cast<ComputedPi *>(data);
    computed->log10_radix = log10_radix;
    computed->digits = text.substr(0, 1) + text.substr(2);
}

// Decimals of `computed` that agree with `reference`.
inline size_t correct_decimals(const ComputedPi &computed, const std::string &reference) {
    const std::string &a = computed.digits;
    const size_t length = std::min(a.size(), reference.size());
    const auto end = std::mismatch(a.begin(), a.begin() + length, reference.begin()).first;
    const auto prefix = static_cast<size_t>(end - a.begin());
    return prefix == 0 ? 0 : prefix - 1;
}

#endif
