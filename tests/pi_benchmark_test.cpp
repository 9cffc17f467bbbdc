#include "pi_benchmark.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

TEST(PiEstimateIterations, FollowsTheFftLengthAtItsBoundaries) {
    struct Case {
        int digits;
        int steps;
    };
    const Case cases[] = {
        {INT_MIN, 0}, {-1, 0},       {0, 0},        {1, 1},        {35, 1},
        {36, 2},      {1000000, 16}, {8388608, 19}, {8388611, 19}, {8388612, 20},
        {INT_MAX, 20},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.digits);
        EXPECT_EQ(pi_estimate_iterations(c.digits), c.steps);
    }
}

TEST(PiGetVersion, IsTheSameConstantTextOnEveryCall) {
    const char *first = pi_get_version();
    EXPECT_STREQ(first, "ver. LG1.1.2-MP1.5.2a.memsave");
    EXPECT_EQ(pi_get_version(), first);
    pi_cleanup();
    pi_cleanup();
    EXPECT_STREQ(pi_get_version(), first);
}
