// Digit counts as the users of fixed-size pi benchmarks write them: plain numbers, or the
// binary sizes of their ladder, 16K = 16,384 up to 32M = 33,554,432.
#ifndef TESSARY_CLI_DIGIT_COUNT_H
#define TESSARY_CLI_DIGIT_COUNT_H

#include <optional>
#include <string_view>

// The sizes of the ladder, 16K to 32M, smallest first.
constexpr int size_ladder_first = 1 << 14;
constexpr int size_ladder_last = 1 << 25;

// Digits with an optional K (1,024) or M (1,048,576) after them, either case: "1000",
// "16K", "32M". A count too large for long long is LLONG_MAX, for the range check to refuse;
// anything else is no count.
std::optional<long long> parse_digit_count(std::string_view text);

#endif
