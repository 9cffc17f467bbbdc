// One computation at the benchmark's size: progress, radix, digits and score.

#include "pi_reference.h"

#include <cmath>
#include <vector>

namespace {

struct Report {
    int step;
    int precision_digits;
};

void record(int step, int precision_digits, void *data, double iteration_seconds) {
    EXPECT_GE(iteration_seconds, 0);
    static_cast<std::vector<Report> *>(data)->push_back({step, precision_digits});
}

TEST(PiCalculateSlow, BenchmarkSizeReportsNineteenStepsAndCorrectDigits) {
    constexpr int benchmark_digits = 8388608;
    constexpr int benchmark_length = 2097152 + 2;
    ComputedPi c;
    std::vector<Report> reports;
    pi_calculate_value(benchmark_digits, &c.result, record, &reports, keep_pi_digits, &c);

    ASSERT_EQ(c.result.success, 1);
    EXPECT_EQ(c.log10_radix, 4);
    EXPECT_EQ(c.result.digits, benchmark_digits);
    EXPECT_STREQ(c.result.error_message, "");

    ASSERT_EQ(reports.size(), 19u);
    const int early_precision[] = {48, 80, 176, 352, 688, 1392};
    for (size_t i = 0; i < reports.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(reports[i].step, static_cast<int>(i) + 1);
        if (i < std::size(early_precision)) {
            EXPECT_EQ(reports[i].precision_digits, early_precision[i]);
        }
        if (i + 1 < reports.size()) {
            EXPECT_LE(reports[i].precision_digits, 4 * benchmark_length);
        }
    }
    EXPECT_GT(reports.back().precision_digits, 4 * benchmark_length);

    ASSERT_GT(c.result.time_seconds, 0);
    EXPECT_EQ(c.result.score, std::ceil(2513.304647637271 / c.result.time_seconds));

    // All but the last two radix digits of the claimed places are pi's.
    EXPECT_GE(correct_decimals(c, mpfr_pi_digits(benchmark_digits + 64)),
              static_cast<size_t>(benchmark_digits - 8));
}

} // namespace
