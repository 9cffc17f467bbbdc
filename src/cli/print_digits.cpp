#include "cli/print_digits.h"

#include "cli/progress_bar.h"

#include <algorithm>
#include <climits>
#include <new>
#include <string_view>

namespace {

// Decimal places computed beyond those printed, and trailing places of a result that are
// not trusted (the error of its last radix digits).
constexpr int guard_digits = 48;
constexpr int untrusted_digits = 16;

// The decimal expansion "3.dddd..." of a computed value.
struct pi_text {
    std::string text;
    bool allocation_failed = false;
};

// Called from inside the engine, so a failed allocation is noted rather than thrown.
void keep_decimal_text(const mp_number *pi, int n, int log10_radix, void *data) {
    auto *out = static_cast<pi_text *>(data);
    try {
        std::string buffer(static_cast<std::size_t>(n) * log10_radix + 16, '\0');
        const int decimals = pi_value_decimals(pi, n, log10_radix, buffer.data());
        buffer.resize(static_cast<std::size_t>(decimals) + 2);
        out->text = std::move(buffer);
    } catch (const std::bad_alloc &) {
        out->allocation_failed = true;
    }
}

// Whether the places after `decimals` leave the last printed digit in doubt: a run of
// nines or zeros up to the trusted end could carry into it or borrow from it.
bool last_digit_uncertain(const std::string &text, int decimals, long long trusted) {
    const std::string_view tail(text.data() + 2 + decimals,
                                static_cast<std::size_t>(trusted - decimals));
    return tail.find_first_not_of('9') == std::string_view::npos ||
           tail.find_first_not_of('0') == std::string_view::npos;
}

} // namespace

printed_digits compute_printed_digits(int decimals, pi_value_calculator calculate,
                                      progress_bar *progress) {
    const long long first_request = static_cast<long long>(decimals) + guard_digits;
    long long request = first_request;
    for (;;) {
        pi_text pi;
        pi_result result{};
        const int digits = static_cast<int>(std::min<long long>(request, INT_MAX));
        if (progress) {
            progress->start_work(1, 1, pi_estimate_iterations(digits),
                                 request == first_request ? "Computing" : "Computing more digits");
        }
        calculate(digits, &result, progress ? progress_bar::report : nullptr,
                  progress ? progress->slot(0) : nullptr, keep_decimal_text, &pi);
        if (progress) {
            progress->stop();
        }
        if (pi.allocation_failed) {
            throw std::bad_alloc();
        }
        if (result.success == 0) {
            return {"", result.error_message};
        }
        const long long available = static_cast<long long>(pi.text.size()) - 2;
        const long long trusted = std::min<long long>(available, result.digits) - untrusted_digits;
        if (trusted > decimals && !last_digit_uncertain(pi.text, decimals, trusted)) {
            pi.text.resize(static_cast<std::size_t>(decimals) + 2);
            return {std::move(pi.text), ""};
        }
        if (request >= INT_MAX) {
            return {"", "cannot make digit " + std::to_string(decimals) + " certain"};
        }
        request *= 2;
    }
}
