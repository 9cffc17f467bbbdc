// The engine's interface: step estimate, version, failures, and the five-run
// aggregation through a replaceable driver.

#include "engine/pi_benchmark.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

// The test binary links with --wrap=malloc: an armed countdown makes the engine's
// allocations fail from a given one on, and every live block is counted.
extern "C" void *__real_malloc(std::size_t size);
extern "C" void __real_free(void *p);
namespace {
thread_local int allocations_before_failure = -1;
thread_local int live_engine_blocks = 0;
} // namespace
extern "C" void *__wrap_malloc(std::size_t size) {
    if (allocations_before_failure == 0) {
        return nullptr;
    }
    if (allocations_before_failure > 0) {
        --allocations_before_failure;
    }
    void *p = __real_malloc(size);
    live_engine_blocks += p != nullptr;
    return p;
}
extern "C" void __wrap_free(void *p) {
    live_engine_blocks -= p != nullptr;
    __real_free(p);
}

namespace {

bool record_is_clear_but_message(const pi_result &r) {
    return r.success == 0 && r.digits == 0 && r.time_seconds == 0 && r.score == 0;
}

TEST(PiEstimateIterations, FollowsTheFftLengthAtItsBoundaries) {
    struct Case {
        int digits;
        int steps;
    };
    const Case cases[] = {
        {INT_MIN, 0},  {-1, 0},       {0, 0},        {1, 1},        {35, 1},       {36, 2},
        {1000000, 16}, {8388608, 19}, {8388611, 19}, {8388612, 20}, {INT_MAX, 20},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.digits);
        EXPECT_EQ(pi_estimate_iterations(c.digits), c.steps);
    }
    // The window's ring and the terminal's bar count this many steps for a whole benchmark.
    EXPECT_EQ(pi_benchmark_steps(), 95);
}

TEST(PiGetVersion, IsTheSameConstantTextOnEveryCall) {
    const char *first = pi_get_version();
    EXPECT_STREQ(first, "ver. LG1.1.2-MP1.5.2a.memsave");
    EXPECT_EQ(pi_get_version(), first);
    pi_cleanup();
    pi_cleanup();
    EXPECT_STREQ(pi_get_version(), first);
}

int callbacks_seen = 0;
void count_callback(int, int, void *, double) {
    ++callbacks_seen;
}

TEST(PiCalculate, RejectsDigitCountsBelowOne) {
    for (const int digits : {0, -1, INT_MIN}) {
        SCOPED_TRACE(digits);
        pi_result r;
        std::memset(&r, 0x5a, sizeof r);
        callbacks_seen = 0;
        pi_calculate_with_progress(digits, &r, count_callback, nullptr);
        EXPECT_TRUE(record_is_clear_but_message(r));
        char expected[64];
        std::snprintf(expected, sizeof expected, "Invalid number of digits: %d", digits);
        EXPECT_STREQ(r.error_message, expected);
        EXPECT_EQ(callbacks_seen, 0);
    }
    pi_calculate(5, nullptr); // nothing happens
}

TEST(PiCalculate, ReportsFailedAllocationsAndReleasesTheRest) {
    // Each of the nine allocations in turn is the first to fail.
    for (int k = 0; k < 9; ++k) {
        SCOPED_TRACE(k);
        pi_result r{};
        callbacks_seen = 0;
        live_engine_blocks = 0;
        allocations_before_failure = k;
        pi_calculate_with_progress(1000, &r, count_callback, nullptr);
        allocations_before_failure = -1;
        EXPECT_TRUE(record_is_clear_but_message(r));
        EXPECT_STREQ(r.error_message, "Memory allocation failed");
        EXPECT_EQ(callbacks_seen, 0);
        EXPECT_EQ(live_engine_blocks, 0);
    }
}

TEST(PiCalculate, SmallCountsSizeToTheShortestTransform) {
    for (int digits = 1; digits <= 11; ++digits) {
        SCOPED_TRACE(digits);
        pi_result r{};
        callbacks_seen = 0;
        pi_calculate_with_progress(digits, &r, count_callback, nullptr);
        EXPECT_EQ(r.success, 1);
        EXPECT_EQ(r.digits % 2, 0); // 2 * log10_radix
        EXPECT_GE(r.digits, 2);
        EXPECT_LE(r.digits, 8);
        EXPECT_GE(callbacks_seen, 1);
        EXPECT_STREQ(r.error_message, "");
    }
}

// A fake computation whose outcome per run is scripted by the test.
struct Script {
    std::vector<bool> succeed;
    std::vector<double> scores;
    std::vector<double> times;
    std::vector<int> steps_per_run;
    int call = 0;
};
Script *script = nullptr;

void scripted_driver(int digits, pi_result *r, pi_progress_callback cb, void *user_data,
                     pi_check *) {
    EXPECT_EQ(digits, 8388608);
    const int i = script->call++;
    r->success = script->succeed[i] ? 1 : 0;
    // A failed run may leave stale values; the aggregation must ignore them.
    r->digits = script->succeed[i] ? 8388608 + i : 0;
    r->score = script->scores[i];
    r->time_seconds = script->times[i];
    if (script->succeed[i] && cb != nullptr) {
        for (int step = 1; step <= script->steps_per_run[i]; ++step) {
            cb(step, 4 * step, user_data, 0.5);
        }
    }
}

std::vector<int> steps_seen;
void record_step(int step, int, void *user_data, double) {
    EXPECT_EQ(user_data, &steps_seen);
    steps_seen.push_back(step);
}

std::vector<int> range(int first, int last) {
    std::vector<int> v;
    for (int i = first; i <= last; ++i) {
        v.push_back(i);
    }
    return v;
}

TEST(PiCalculate5x8m, AveragesScoresAndSumsTimesOfAllRuns) {
    struct Case {
        std::vector<double> scores;
        double mean;
    };
    for (const Case &c : {Case{{10, 10, 10, 10, 11}, 10}, Case{{10, 10, 11, 11, 11}, 11}}) {
        Script s{{true, true, true, true, true}, c.scores, {1, 2, 3, 4, 5.5}, {19, 19, 19, 19, 19}};
        script = &s;
        steps_seen.clear();
        pi_result r;
        std::memset(&r, 0x5a, sizeof r);
        pi_calculate_5x8m_with(&r, record_step, &steps_seen, scripted_driver, nullptr, nullptr);
        EXPECT_EQ(r.success, 1);
        EXPECT_EQ(r.digits, 8388608);
        EXPECT_EQ(r.score, c.mean);
        EXPECT_EQ(r.time_seconds, 15.5);
        EXPECT_STREQ(r.error_message, "");
        EXPECT_EQ(steps_seen, range(1, 95));
    }
}

TEST(PiCalculate5x8m, LeavesFailedRunsOutOfStepsTimeAndScore) {
    Script s{{false, true, true, false, true},
             {999, 10, 20, 999, 31},
             {99, 1, 2, 99, 4},
             {19, 19, 19, 19, 19}};
    script = &s;
    steps_seen.clear();
    pi_result r{};
    pi_calculate_5x8m_with(&r, record_step, &steps_seen, scripted_driver, nullptr, nullptr);
    EXPECT_EQ(r.success, 1);
    EXPECT_EQ(r.digits, 0); // run 1 failed
    EXPECT_EQ(r.time_seconds, 7);
    EXPECT_EQ(r.score, 20); // 61 / 3
    EXPECT_EQ(steps_seen, range(1, 57));
}

TEST(PiCalculate5x8m, FailsWhenEveryRunFails) {
    Script s{{false, false, false, false, false}, {5, 5, 5, 5, 5}, {1, 1, 1, 1, 1}, {}};
    script = &s;
    pi_result r;
    std::memset(&r, 0x5a, sizeof r);
    pi_calculate_5x8m_with(&r, nullptr, nullptr, scripted_driver, nullptr, nullptr);
    EXPECT_TRUE(record_is_clear_but_message(r));
    EXPECT_STREQ(r.error_message, "All 5 benchmark runs failed");
    pi_calculate_5x8m(nullptr, nullptr, nullptr); // nothing happens
}

TEST(PiCalculate5x8m, RunsWithoutProgressWhenNoCallbackIsGiven) {
    Script s{
        {true, true, true, true, true}, {1, 2, 3, 4, 5}, {1, 1, 1, 1, 1}, {19, 19, 19, 19, 19}};
    script = &s;
    pi_result r{};
    pi_calculate_5x8m_with(&r, nullptr, nullptr, scripted_driver, nullptr, nullptr);
    EXPECT_EQ(s.call, 5);
    EXPECT_EQ(r.score, 3);
}

TEST(PiCalculateAverageScore, CountsOnlySuccessfulRecords) {
    pi_result records[4] = {};
    records[0] = {1, 8, 1.0, 10, ""};
    records[1] = {0, 0, 0.0, 500, "stale"};
    records[2] = {1, 8, 1.0, 11, ""};
    records[3] = {1, 8, 1.0, 11, ""};
    EXPECT_EQ(pi_calculate_average_score(records, 4), 11); // 32 / 3 = 10.67
    EXPECT_EQ(pi_calculate_average_score(records, 2), 10);
    EXPECT_EQ(pi_calculate_average_score(records + 1, 1), 0);
    EXPECT_EQ(pi_calculate_average_score(records, 0), 0);
    EXPECT_EQ(pi_calculate_average_score(records, -3), 0);
    EXPECT_EQ(pi_calculate_average_score(nullptr, 4), 0);
    const pi_result halves[2] = {{1, 8, 1.0, 10, ""}, {1, 8, 1.0, 11, ""}};
    EXPECT_EQ(pi_calculate_average_score(halves, 2), 11); // 10.5 rounds away from zero
}

} // namespace
