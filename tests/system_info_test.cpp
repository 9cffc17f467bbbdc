#include "probe/system_info.h"

#include <gtest/gtest.h>

#include <sys/utsname.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>

namespace {

// Writes fixture files into a private temporary directory and probes them.
class SystemInfoProbe : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tessary-sysinfo-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    // Each source is a file with the given text, or missing when it is not set.
    void set_cpuinfo(const std::string &text) { cpuinfo_ = write("cpuinfo", text); }
    void set_cpufreq(const std::string &text) { cpufreq_ = write("cpuinfo_max_freq", text); }
    void set_meminfo(const std::string &text) { meminfo_ = write("meminfo", text); }
    void set_os_release(const std::string &text) { os_release_ = write("os-release", text); }
    void remove_cpufreq() { cpufreq_.clear(); }

    system_info probe() {
        const system_info_sources sources = {path(cpuinfo_), path(cpufreq_), path(meminfo_),
                                             path(os_release_)};
        system_info info;
        std::memset(&info, 0x5a, sizeof info); // the probe must clear it
        get_system_info_from(&sources, &info);
        return info;
    }

    static int online_processors() { return static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)); }
    static utsname kernel() {
        utsname names;
        EXPECT_EQ(uname(&names), 0);
        return names;
    }

  private:
    std::string write(const char *name, const std::string &text) {
        const std::string file = dir_ + "/" + name;
        std::ofstream(file, std::ios::binary) << text;
        return file;
    }
    static const char *path(const std::string &file) {
        return file.empty() ? nullptr : file.c_str();
    }

    std::string dir_;
    std::string cpuinfo_, cpufreq_, meminfo_, os_release_;
};

// Every text field is terminated inside its array.
void expect_terminated(const system_info &info) {
    EXPECT_LT(strnlen(info.cpu_model, sizeof info.cpu_model), sizeof info.cpu_model);
    EXPECT_LT(strnlen(info.os_name, sizeof info.os_name), sizeof info.os_name);
    EXPECT_LT(strnlen(info.kernel_release, sizeof info.kernel_release), sizeof info.kernel_release);
    EXPECT_LT(strnlen(info.architecture, sizeof info.architecture), sizeof info.architecture);
    EXPECT_LT(strnlen(info.error_message, sizeof info.error_message), sizeof info.error_message);
}

// An x86 block as Linux prints it: tabs before the colons.
std::string x86_processor(int processor, int package, int core, const char *mhz) {
    char block[512];
    std::snprintf(block, sizeof block,
                  "processor\t: %d\n"
                  "vendor_id\t: GenuineIntel\n"
                  "model name\t: Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz\n"
                  "cpu MHz\t\t: %s\n"
                  "physical id\t: %d\n"
                  "siblings\t: 12\n"
                  "core id\t\t: %d\n"
                  "cpu cores\t: 6\n"
                  "\n",
                  processor, mhz, package, core);
    return block;
}

TEST_F(SystemInfoProbe, ReadsATypicalX86Machine) {
    std::string cpuinfo;
    for (int p = 0; p < 12; ++p) {
        cpuinfo += x86_processor(p, 0, p % 6, "3192.001");
    }
    set_cpuinfo(cpuinfo);
    set_cpufreq("4600000\n");
    set_meminfo("MemTotal:       16318480 kB\nMemFree:         1234567 kB\n");
    set_os_release("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");

    const system_info info = probe();
    EXPECT_STREQ(info.cpu_model, "Intel(R) Core(TM) i7-8700 CPU @ 3.20GHz");
    EXPECT_EQ(info.physical_cores, 6);
    EXPECT_EQ(info.logical_cores, online_processors());
    EXPECT_EQ(info.cpu_mhz, 3192); // "cpu MHz" wins, the sysfs file is not read
    EXPECT_EQ(info.memory_mb, 15936);
    EXPECT_STREQ(info.os_name, "Debian GNU/Linux 12 (bookworm)");
    EXPECT_STREQ(info.kernel_release, kernel().release);
    EXPECT_STREQ(info.architecture, kernel().machine);
    EXPECT_EQ(info.valid, 1);
    EXPECT_STREQ(info.error_message, "");
}

TEST_F(SystemInfoProbe, ModelIsTheTextAfterTheColonOfTheFirstModelLine) {
    struct Case {
        std::string cpuinfo;
        std::string model;
    };
    const Case cases[] = {
        {"model name\t: \t Ampere Altra\n", "Ampere Altra"},
        {"model name:Neoverse-N1", "Neoverse-N1"},        // no newline at the end of the file
        {"model name\nmodel name\t: Second\n", "Second"}, // no colon: skipped
        {"model name\t: First\nmodel name\t: Second\n", "First"},
        {"Model Name : lower\n model name : indented\n", ""},
        {"model name\t:\n", ""},
        {"processor\t: 0\nBogoMIPS\t: 50.00\n", ""},
        {"model name : " + std::string(200, 'M') + "\n", std::string(127, 'M')},
        // A line longer than the read buffer: the first piece still has the model.
        {"model name : " + std::string(300, 'x') + "\n", std::string(127, 'x')},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.cpuinfo);
        set_cpuinfo(c.cpuinfo);
        const system_info info = probe();
        expect_terminated(info);
        EXPECT_EQ(info.cpu_model, c.model);
    }
}

TEST_F(SystemInfoProbe, CountsPhysicalCoresFromTheHighestIds) {
    struct Case {
        const char *name;
        std::string cpuinfo;
        int cores; // -1: the logical count
    };
    auto packages = [](int count, std::initializer_list<int> cores) {
        std::string text;
        int processor = 0;
        for (int package = 0; package < count; ++package) {
            for (int core : cores) {
                text += x86_processor(processor++, package, core, "2000.000");
            }
        }
        return text;
    };
    const Case cases[] = {
        {"arm: no ids", "processor\t: 0\nBogoMIPS\t: 50.00\n\nprocessor\t: 1\n", -1},
        {"one package", packages(1, {0, 1, 2, 3, 4, 5, 6, 7}), 8},
        {"two packages", packages(2, {0, 1, 2, 3, 4, 5, 6, 7}), 16},
        {"gaps in core ids", packages(1, {0, 1, 4, 5}), 6},
        {"core ids only", "processor : 0\ncore id : 0\nprocessor : 1\ncore id : 3\n", 4},
        {"package ids only", "processor : 0\nphysical id : 1\n", -1},
        {"ids that do not parse", "physical id : x\ncore id :\ncore id  3\n", -1},
        {"negative ids", "physical id : -4\ncore id : -2\n", -1},
        {"huge ids saturate", "physical id : 99999999999999999999\ncore id : 2147483647\n",
         INT_MAX},
        {"huge core id alone", "core id : 9223372036854775807\n", INT_MAX},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        set_cpuinfo(c.cpuinfo);
        const system_info info = probe();
        EXPECT_EQ(info.physical_cores, c.cores < 0 ? info.logical_cores : c.cores);
    }
}

TEST_F(SystemInfoProbe, FrequencyComesFromCpuinfoThenSysfs) {
    struct Case {
        const char *cpuinfo;
        const char *cpufreq; // nullptr: no file
        int mhz;
    };
    const Case cases[] = {
        {"cpu MHz\t\t: 800.999\n", "3500000\n", 800},
        {"cpu MHz : 0.000\ncpu MHz : 0.9\ncpu MHz : 2400.5\ncpu MHz : 1200\n", nullptr, 2400},
        {"cpu MHz : 0.000\n", "3500000\n", 3500},
        {"processor : 0\n", "3500000", 3500},
        {"processor : 0\n", "  3499999\n", 3499},
        {"processor : 0\n", nullptr, 0},
        {"processor : 0\n", "unknown\n", 0},
        {"processor : 0\n", "", 0},
        {"cpu MHz : fast\n", nullptr, 0},
        {"cpu MHz : nan\n", nullptr, 0},
        {"cpu MHz : 1e30\n", nullptr, INT_MAX},
        {"processor : 0\n", "99999999999999999999999\n", INT_MAX},
        {"CPU MHz : 1000\n cpu MHz : 1000\n", nullptr, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.cpuinfo) + " / " + (c.cpufreq ? c.cpufreq : "no sysfs"));
        set_cpuinfo(c.cpuinfo);
        if (c.cpufreq) {
            set_cpufreq(c.cpufreq);
        } else {
            remove_cpufreq();
        }
        EXPECT_EQ(probe().cpu_mhz, c.mhz);
    }
}

TEST_F(SystemInfoProbe, MemoryIsTheFirstMemTotalInMebibytes) {
    struct Case {
        const char *meminfo;
        long long mb;
    };
    const Case cases[] = {
        {"MemTotal:       16318480 kB\n", 15936},
        {"MemFree: 1 kB\nMemTotal: 2048 kB\nMemTotal: 4096 kB\n", 2},
        {"MemTotal: 1023 kB\n", 0},
        {"MemTotal: lots\nMemTotal: 4096 kB\n", 0}, // the first line ends the pass
        {"memtotal: 4096 kB\n", 0},
        {"MemTotal: 9223372036854775807 kB\n", 9223372036854775807LL / 1024},
        {"MemTotal: 99999999999999999999999 kB\n", 9223372036854775807LL / 1024},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.meminfo);
        set_meminfo(c.meminfo);
        EXPECT_EQ(probe().memory_mb, c.mb);
    }
}

TEST_F(SystemInfoProbe, OsNameIsThePrettyNameOrTheKernelName) {
    struct Case {
        std::string os_release;
        std::string name; // empty: the kernel's system name
    };
    const std::string long_name(100, 'n');
    const Case cases[] = {
        {"PRETTY_NAME=\"Ubuntu 24.04.1 LTS\"\n", "Ubuntu 24.04.1 LTS"},
        {"PRETTY_NAME=Arch Linux\n", "Arch Linux"},
        {"PRETTY_NAME='Fedora Linux 41'\n", "'Fedora Linux 41'"},
        {"PRETTY_NAME=\"" + long_name + "\"\n", long_name.substr(0, 63)},
        {"PRETTY_NAME=" + long_name + "\n", long_name.substr(0, 63)},
        {"PRETTY_NAME=\"Say \"hi\"\"\n", "Say "},
        {"PRETTY_NAME=\"First\"\nPRETTY_NAME=\"Second\"\n", "First"},
        {"NAME=\"Alpine Linux\"\n", ""},
        {" PRETTY_NAME=\"Indented\"\n", ""},
        {"PRETTY_NAME=" + std::string(400, 'x') + "\nPRETTY_NAME=Next\n", std::string(63, 'x')},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.os_release);
        set_os_release(c.os_release);
        const system_info info = probe();
        expect_terminated(info);
        EXPECT_EQ(info.os_name, c.name.empty() ? std::string(kernel().sysname) : c.name);
    }
}

TEST_F(SystemInfoProbe, MissingFilesLeaveDefaults) {
    const system_info info = probe();
    expect_terminated(info);
    EXPECT_STREQ(info.cpu_model, "");
    EXPECT_EQ(info.logical_cores, online_processors());
    EXPECT_EQ(info.physical_cores, info.logical_cores);
    EXPECT_EQ(info.cpu_mhz, 0);
    EXPECT_EQ(info.memory_mb, 0);
    EXPECT_STREQ(info.os_name, kernel().sysname);
    EXPECT_STREQ(info.kernel_release, kernel().release);
    EXPECT_STREQ(info.architecture, kernel().machine);
    EXPECT_EQ(info.valid, 1);
    EXPECT_STREQ(info.error_message, "");
}

TEST_F(SystemInfoProbe, SurvivesBinaryAndOverlongContent) {
    std::string noise;
    unsigned state = 12345; // fixed seed
    for (int i = 0; i < 100000; ++i) {
        state = state * 1103515245u + 12345u;
        noise += static_cast<char>(state >> 24);
    }
    const std::string endless_line = std::string(5000, ':') + "model name : x" + noise;
    for (const std::string &text : {noise, endless_line}) {
        set_cpuinfo(text);
        set_cpufreq(text);
        set_meminfo(text);
        set_os_release(text);
        const system_info info = probe();
        expect_terminated(info);
        EXPECT_EQ(info.valid, 1);
    }
}

TEST(SystemInfo, NullRecordIsLeftAlone) {
    get_system_info(nullptr);
    const system_info_sources sources = {"/proc/cpuinfo", nullptr, nullptr, nullptr};
    get_system_info_from(&sources, nullptr);
}

TEST(SystemInfo, DescribesThisMachine) {
    system_info info;
    std::memset(&info, 0x5a, sizeof info);
    get_system_info(&info);
    expect_terminated(info);
    EXPECT_EQ(info.valid, 1);
    EXPECT_EQ(info.logical_cores, static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN)));
    EXPECT_GE(info.physical_cores, 1);
    EXPECT_GT(info.memory_mb, 0);
    EXPECT_STRNE(info.os_name, "");
    EXPECT_STREQ(info.error_message, "");
}

} // namespace
