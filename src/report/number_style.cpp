#include "report/number_style.h"

#include <cmath>
#include <cstdio>

std::string grouped(long long count) {
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

std::string counted(long long count, std::string_view singular, std::string_view plural) {
    return grouped(count) + " " + std::string(count == 1 ? singular : plural);
}

std::string seconds_value(double seconds) {
    if (seconds < 0.0005) {
        return "< 0.001";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", seconds);
    return text;
}

std::string seconds_text(double seconds) {
    return seconds_value(seconds) + " sec";
}

std::string percent_text(double fraction) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f %%", 100 * fraction);
    return text;
}

double six_places(double value) {
    return std::round(value * 1e6) / 1e6;
}
