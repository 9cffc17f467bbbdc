// Two computations of pi at once on two threads must give the same digits; built
// with ThreadSanitizer, which reports any shared state they touch.

#include "arithmetic/pi_fftcs.h"
#include "engine/pi_benchmark.h"

#include <cstdio>
#include <string>
#include <thread>

namespace {

void keep_digits(const mp_number *pi, int n, int log10_radix, void *data) {
    std::string text(static_cast<size_t>(n) * log10_radix + 16, '\0');
    mp_sprintf(n, log10_radix, pi, text.data());
    *static_cast<std::string *>(data) = text.c_str();
}

std::string compute(int digits) {
    std::string text;
    pi_result result{};
    pi_calculate_value(digits, &result, nullptr, nullptr, keep_digits, &text);
    return result.success == 1 ? text : std::string();
}

} // namespace

int main() {
    constexpr int digits_each = 100000;
    std::string first, second;
    std::thread a([&] { first = compute(digits_each); });
    std::thread b([&] { second = compute(digits_each); });
    a.join();
    b.join();
    if (first.empty() || first != second || first.compare(0, 12, "3.1415926535") != 0) {
        std::puts("the two threads computed different values");
        return 1;
    }
    std::printf("both threads computed %zu characters of pi\n", first.size());
    return 0;
}
