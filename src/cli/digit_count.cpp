#include "cli/digit_count.h"

#include <charconv>
#include <climits>

namespace {

long long multiplier_of(char suffix) {
    switch (suffix) {
    case 'K':
    case 'k':
        return 1LL << 10;
    case 'M':
    case 'm':
        return 1LL << 20;
    default:
        return 0;
    }
}

} // namespace

std::optional<long long> parse_digit_count(std::string_view text) {
    long long multiplier = 1;
    if (!text.empty() && multiplier_of(text.back()) != 0) {
        multiplier = multiplier_of(text.back());
        text.remove_suffix(1);
    }
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error == std::errc::result_out_of_range || value > LLONG_MAX / multiplier) {
        return LLONG_MAX;
    }
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value * multiplier;
}
