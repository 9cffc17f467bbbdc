// --print: exactly N correct decimals of pi, from computations that succeeded.
#ifndef TESSARY_CLI_PRINT_DIGITS_H
#define TESSARY_CLI_PRINT_DIGITS_H

#include "engine/pi_benchmark.h"

#include <string>

class progress_bar;

// pi_calculate_value or a test's stand-in.
using pi_value_calculator = void (*)(int digits, pi_result *result, pi_progress_callback callback,
                                     void *user_data, pi_value_hook hook, void *hook_data);

struct printed_digits {
    std::string text;          // "3." and the decimals, when there is no error
    std::string error_message; // empty on success
};

// Computes guard digits beyond `decimals` and more until the last printed one is certain.
printed_digits compute_printed_digits(int decimals, pi_value_calculator calculate,
                                      progress_bar *progress);

#endif
