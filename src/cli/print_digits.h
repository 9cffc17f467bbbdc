// --print: "3." and exactly N correct decimals of pi, written from a computation's value.
#ifndef TESSARY_CLI_PRINT_DIGITS_H
#define TESSARY_CLI_PRINT_DIGITS_H

#include "engine/pi_benchmark.h"

#include <functional>
#include <string>
#include <string_view>

class progress_bar;

// pi_calculate_checked_value or a test's stand-in.
using pi_value_calculator = void (*)(int digits, pi_result *result, pi_progress_callback callback,
                                     void *user_data, pi_check *check, pi_value_hook hook,
                                     void *hook_data);

struct print_request {
    int decimals = 0;
    // Decimals past the reference's reach may be printed, made certain by the doubt rule.
    bool allow_unverified = false;
    pi_value_calculator calculate = pi_calculate_checked_value;
    progress_bar *progress = nullptr; // may be null
    // Receives the text in pieces: "3.", the decimals, "\n".
    std::function<void(std::string_view)> write;
};

struct print_outcome {
    std::string error_message; // empty when the digits were written
    int verified_digits = 0;   // the leading decimals written that the reference verified
};

// Computes with the smallest size whose check verifies every printed decimal and writes them
// straight from the computed value, so that no copy of the text is held. A larger computation
// follows only when the first leaves them unproven (or, past the reference's reach, when a
// carry or borrow from its untrusted last places could still change the last printed one).
print_outcome print_digits(const print_request &request);

#endif
