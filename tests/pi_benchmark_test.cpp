// The engine's interface: step estimate, version, failures, and the five-run
// aggregation through a replaceable driver.

#include "engine/pi_benchmark.h"

#include <sys/mman.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The test binary links with --wrap=malloc,--wrap=mmap: an armed countdown makes the
// engine's allocations (small arrays from malloc, large ones mapped) fail from a given one on;
// every live block and every mapped byte is counted, and the huge-page advice
// (--wrap=madvise) is recorded when asked.
extern "C" void *__real_malloc(std::size_t size);
extern "C" void __real_free(void *p);
extern "C" void *__real_mmap(void *addr, std::size_t length, int prot, int flags, int fd,
                             off_t offset);
extern "C" int __real_munmap(void *addr, std::size_t length);
extern "C" int __real_madvise(void *addr, std::size_t length, int advice);
namespace {
thread_local int allocations_before_failure = -1;
thread_local int live_engine_blocks = 0;
thread_local long long mapped_bytes = 0;

struct advice {
    std::uintptr_t address;
    std::size_t bytes;
    int how;
};
thread_local std::vector<advice> *advice_given = nullptr;

// Whether the next allocation may go ahead.
bool allocation_allowed() {
    if (allocations_before_failure == 0) {
        return false;
    }
    if (allocations_before_failure > 0) {
        --allocations_before_failure;
    }
    return true;
}
} // namespace
extern "C" void *__wrap_malloc(std::size_t size) {
    if (!allocation_allowed()) {
        return nullptr;
    }
    void *p = __real_malloc(size);
    live_engine_blocks += p != nullptr;
    return p;
}
extern "C" void __wrap_free(void *p) {
    live_engine_blocks -= p != nullptr;
    __real_free(p);
}
extern "C" void *__wrap_mmap(void *addr, std::size_t length, int prot, int flags, int fd,
                             off_t offset) {
    if (!allocation_allowed()) {
        errno = ENOMEM;
        return MAP_FAILED;
    }
    void *p = __real_mmap(addr, length, prot, flags, fd, offset);
    mapped_bytes += p != MAP_FAILED ? static_cast<long long>(length) : 0;
    return p;
}
extern "C" int __wrap_munmap(void *addr, std::size_t length) {
    mapped_bytes -= static_cast<long long>(length);
    return __real_munmap(addr, length);
}
extern "C" int __wrap_madvise(void *addr, std::size_t length, int how) {
    if (advice_given != nullptr) {
        advice_given->push_back({reinterpret_cast<std::uintptr_t>(addr), length, how});
    }
    return __real_madvise(addr, length, how);
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

// Small arrays from malloc and mapped ones alike: 1,000 digits, and 4,194,304 digits, whose
// arrays are all of 2 MB or more.
TEST(PiCalculate, ReportsFailedAllocationsAndReleasesTheRest) {
    for (const int digits : {1000, 1 << 22}) {
        // Each of the nine allocations in turn is the first to fail.
        for (int k = 0; k < 9; ++k) {
            SCOPED_TRACE(testing::Message() << digits << " digits, allocation " << k);
            pi_result r{};
            callbacks_seen = 0;
            live_engine_blocks = 0;
            mapped_bytes = 0;
            allocations_before_failure = k;
            pi_calculate_with_progress(digits, &r, count_callback, nullptr);
            allocations_before_failure = -1;
            EXPECT_TRUE(record_is_clear_but_message(r));
            EXPECT_STREQ(r.error_message, "Memory allocation failed");
            EXPECT_EQ(callbacks_seen, 0);
            EXPECT_EQ(live_engine_blocks, 0);
            EXPECT_EQ(mapped_bytes, 0);
        }
    }
}

// Every array of a huge page or more starts on one, and exactly its whole huge pages are
// advised as such: the part past them stays in small pages, so that memory does not grow by
// a huge page per array. The last allocation fails, so that nothing is computed.
TEST(PiCalculate, PutsEveryLargeArrayOnWholeHugePages) {
    constexpr std::size_t huge_page = 2 << 20;
    std::vector<advice> advised;
    advice_given = &advised;
    allocations_before_failure = 8;
    pi_result r{};
    pi_calculate(1 << 22, &r); // numbers of 2 MB and 12 bytes, work arrays of 8 MB and 16
    allocations_before_failure = -1;
    advice_given = nullptr;
    EXPECT_STREQ(r.error_message, "Memory allocation failed");
    ASSERT_EQ(advised.size(), 8u);
    for (std::size_t i = 0; i < advised.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "array " << i + 1);
        EXPECT_EQ(advised[i].address % huge_page, 0u);
        EXPECT_EQ(advised[i].bytes, (i < 6 ? 1 : 4) * huge_page);
        EXPECT_EQ(advised[i].how, MADV_HUGEPAGE);
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
    std::vector<int> digits = {}; // of each successful run; 8,388,608 + its index when empty
    int call = 0;
};
Script *script = nullptr;

void scripted_driver(int digits, pi_result *r, pi_progress_callback cb, void *user_data,
                     pi_check *) {
    EXPECT_EQ(digits, 8388608);
    const int i = script->call++;
    r->success = script->succeed[i] ? 1 : 0;
    // A failed run may leave stale values; the aggregation must ignore them.
    const int digits_done = script->digits.empty() ? 8388608 + i : script->digits[i];
    r->digits = script->succeed[i] ? digits_done : 0;
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

// A run that succeeds with fewer digits than the benchmark's did less work than the others:
// only a radix test that went wrong unseen leaves that, and it fails the benchmark.
TEST(PiCalculate5x8m, FailsAtARunThatComputedFewerDigits) {
    for (int short_run = 0; short_run < pi_benchmark_runs; ++short_run) {
        SCOPED_TRACE(short_run + 1);
        Script s{{true, true, true, true, true},
                 {10, 10, 10, 10, 10},
                 {1, 1, 1, 1, 1},
                 {19, 19, 19, 19, 19}};
        s.digits.assign(pi_benchmark_runs, 8388608);
        s.digits[short_run] = 6291456;
        script = &s;
        pi_result r{};
        pi_calculate_5x8m_with(&r, nullptr, nullptr, scripted_driver, nullptr, nullptr);
        EXPECT_EQ(s.call, short_run + 1);
        EXPECT_TRUE(record_is_clear_but_message(r));
        EXPECT_EQ(r.error_message, "Benchmark run " + std::to_string(short_run + 1) +
                                       " computed 6,291,456 digits instead of 8,388,608: the "
                                       "machine made an arithmetic error");
    }
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
