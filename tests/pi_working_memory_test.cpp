// The working memory the engine says a computation holds, against the peak a real computation
// reaches in a child process.

#include "engine/pi_benchmark.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A field of /proc/self/status in kB ("VmHWM:", "VmRSS:").
long long status_kilobytes(const std::string &field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field, 0) == 0) {
            return std::stoll(line.substr(field.size()));
        }
    }
    return -1;
}

// The growth of the peak resident memory over one computation, in a child whose memory holds
// nothing else; in kB, or -1.
long long peak_growth_kilobytes(int digits) {
    int ends[2];
    if (pipe(ends) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        const long long before = status_kilobytes("VmHWM:");
        pi_result result{};
        pi_calculate(digits, &result);
        const long long growth = result.success != 0 ? status_kilobytes("VmHWM:") - before : -1;
        const ssize_t written = write(ends[1], &growth, sizeof growth);
        _exit(written == sizeof growth ? 0 : 1);
    }
    close(ends[1]);
    long long growth = -1;
    if (read(ends[0], &growth, sizeof growth) != sizeof growth) {
        growth = -1;
    }
    close(ends[0]);
    waitpid(child, nullptr, 0);
    return growth;
}

TEST(WorkingMemory, MatchesThePeakOfARealComputation) {
    for (const int digits : {1 << 20, 1 << 22}) {
        SCOPED_TRACE(digits);
        const double said = static_cast<double>(pi_working_memory_bytes(digits)) / 1024;
        const auto peak = static_cast<double>(peak_growth_kilobytes(digits));
        ASSERT_GT(peak, 0);
        // The arrays are touched whole; the rest is the program's own growth, a few MB at most
        // (more under the sanitizers, whose shadow memory follows every byte touched).
        EXPECT_GE(peak, 0.97 * said) << "said " << said << " kB";
        EXPECT_LE(peak, 1.2 * said + 4096) << "said " << said << " kB";
    }
}

TEST(WorkingMemory, GrowsWithTheTransformLengthAndNothingAtNoDigits) {
    EXPECT_EQ(pi_working_memory_bytes(0), 0u);
    EXPECT_EQ(pi_working_memory_bytes(-5), 0u);
    // 8,388,608 digits: six numbers of 2^21 + 2 16-bit digits and three work arrays of
    // 2^21 + 2 doubles, each of a whole number of pages.
    EXPECT_EQ(pi_working_memory_bytes(pi_benchmark_digits), 6 * 4198400u + 3 * 16781312u);
    // One length serves from N - 3 up: 33,554,432 digits twice 16,777,216's.
    EXPECT_EQ(pi_working_memory_bytes(1 << 25), pi_working_memory_bytes((1 << 25) + 3));
    EXPECT_GT(pi_working_memory_bytes((1 << 25) + 4), pi_working_memory_bytes(1 << 25));
}

TEST(WorkingMemory, TheLargestVerifiedSizeIsTheReferencesReach) {
    EXPECT_EQ(pi_largest_verified_digits(), 33554435);
}

} // namespace
