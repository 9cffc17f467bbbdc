#include "report/number_style.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {

thread_local bool in_locale = false;

// std::to_chars ignores the locale, so the reports' convention holds in any process.
std::string fixed_places(double value, int places) {
    char text[512];
    if (in_locale) {
        std::snprintf(text, sizeof text, "%'.*f", places, value);
        return text;
    }
    const auto written =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, places);
    return written.ec == std::errc{} ? std::string(text, written.ptr) : "inf";
}

std::string commas_between_thousands(long long count) {
    const std::string digits = std::to_string(count);
    const std::size_t first = digits.front() == '-' ? 1 : 0;
    std::string text = digits.substr(0, first);
    for (std::size_t i = first; i < digits.size(); ++i) {
        if (i != first && (digits.size() - i) % 3 == 0) {
            text += ',';
        }
        text += digits[i];
    }
    return text;
}

} // namespace

std::string grouped(long long count) {
    if (!in_locale) {
        return commas_between_thousands(count);
    }
    char text[64];
    std::snprintf(text, sizeof text, "%'lld", count);
    return text;
}

std::string counted(long long count, std::string_view singular, std::string_view plural) {
    return grouped(count) + " " + std::string(count == 1 ? singular : plural);
}

std::string seconds_value(double seconds) {
    if (seconds < 0.0005) {
        return "< " + fixed_places(0.001, 3);
    }
    return fixed_places(seconds, 3);
}

std::string seconds_text(double seconds) {
    return seconds_value(seconds) + " sec";
}

std::string percent_text(double fraction) {
    return fixed_places(100 * fraction, 1) + " %";
}

std::string decimal_text(double value, int places) {
    return fixed_places(value, places);
}

double six_places(double value) {
    return std::round(value * 1e6) / 1e6;
}

local_numbers::local_numbers() : outer(in_locale) {
    in_locale = true;
}

local_numbers::~local_numbers() {
    in_locale = outer;
}
