#include "probe/run_conditions.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// Probes fixture files written into a private temporary directory.
class RunConditionsProbe : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tessary-conditions-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string write(const char *name, const std::string &text) {
        const std::string file = dir_ + "/" + name;
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }

    // A path that names no file.
    std::string missing() const { return dir_ + "/missing"; }

    static run_conditions probe(const std::string &loadavg, const std::string &governor,
                                const std::string &huge_pages, int processors = 2) {
        const run_conditions_sources sources = {loadavg.c_str(), governor.c_str(),
                                                huge_pages.c_str(), processors};
        run_conditions conditions;
        std::memset(&conditions, 0x5a, sizeof conditions); // the probe must clear it
        get_run_conditions_from(&sources, &conditions);
        return conditions;
    }

  private:
    std::string dir_;
};

TEST_F(RunConditionsProbe, ReadsALoadedMachineWithItsGovernor) {
    const run_conditions c =
        probe(write("loadavg", "1.93 1.20 0.71 3/412 90210\n"), write("governor", "powersave\n"),
              write("thp", "[always] madvise never\n"));
    EXPECT_DOUBLE_EQ(c.load_average, 1.93);
    EXPECT_EQ(c.runnable, 2); // the reader itself is not other work
    EXPECT_EQ(c.processors, 2);
    EXPECT_STREQ(c.governor, "powersave");
    EXPECT_STREQ(c.huge_pages, "always");
    EXPECT_TRUE(run_conditions_busy(&c));
}

TEST_F(RunConditionsProbe, AQuietVirtualMachineHasNoGovernor) {
    const run_conditions c = probe(write("loadavg", "0.04 0.10 0.09 1/125 23077\n"), missing(),
                                   write("thp", "always madvise [never]\n"), 8);
    EXPECT_DOUBLE_EQ(c.load_average, 0.04);
    EXPECT_EQ(c.runnable, 0);
    EXPECT_EQ(c.processors, 8);
    EXPECT_STREQ(c.governor, "");
    EXPECT_STREQ(c.huge_pages, "never");
    EXPECT_FALSE(run_conditions_busy(&c));
}

TEST_F(RunConditionsProbe, TheBusyThresholdIsHalfAProcessor) {
    const std::string quiet = write("quiet", "0.49 0 0 1/1 1\n");
    const std::string busy = write("busy", "0.50 0 0 1/1 1\n");
    const run_conditions below = probe(quiet, missing(), missing());
    const run_conditions at = probe(busy, missing(), missing());
    EXPECT_FALSE(run_conditions_busy(&below));
    EXPECT_TRUE(run_conditions_busy(&at));
}

TEST_F(RunConditionsProbe, UnreadableFilesSayUnknownAndNotBusy) {
    const std::string garbage = write("garbage", "load: high\n[unterminated\n");
    const std::string overlong = write("overlong", "[" + std::string(200, 'x') + "]\n");
    for (const std::string &file : {missing(), garbage, overlong}) {
        SCOPED_TRACE(file);
        const run_conditions c = probe(file, file, file);
        EXPECT_EQ(c.load_average, -1);
        EXPECT_EQ(c.runnable, -1);
        EXPECT_EQ(c.governor[sizeof c.governor - 1], '\0');
        EXPECT_STREQ(c.huge_pages, "");
        EXPECT_FALSE(run_conditions_busy(&c));
    }
}

TEST(RunConditions, DescribesThisMachine) {
    run_conditions c;
    get_run_conditions(&c);
    EXPECT_GE(c.load_average, 0); // Linux always has /proc/loadavg
    EXPECT_GE(c.runnable, 0);
    EXPECT_EQ(c.processors, static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
    get_run_conditions(nullptr); // left alone, no crash
}

} // namespace
