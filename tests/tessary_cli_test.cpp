// tessary-cli run as a program: arguments, exit codes, reports, printed digits, output that
// cannot be written, Ctrl-C and memory limits.

#include "pi_reference.h"
#include "python_json.h"
#include "tessary_version.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using json = nlohmann::json;

// Where the program's standard output goes.
enum class output { captured, dev_full, closed_pipe };

struct run_options {
    output out = output::captured;
    bool ignore_sigpipe = false;
    bool interrupt = false;   // send SIGINT once the program watches for it
    rlim_t address_space = 0; // RLIMIT_AS when not 0
};

struct outcome {
    int status = -1; // exit status, or -1 when killed by a signal
    int signal = 0;
    std::string out;
    std::string err;
};

std::vector<std::string> words(const std::string &text) {
    std::istringstream in(text);
    std::vector<std::string> list;
    for (std::string word; in >> word;) {
        list.push_back(word);
    }
    return list;
}

std::string read_all(int fd) {
    std::string text;
    char buffer[65536];
    ssize_t got = 0;
    while ((got = read(fd, buffer, sizeof buffer)) > 0) {
        text.append(buffer, static_cast<std::size_t>(got));
    }
    return text;
}

std::string read_file(const std::string &path) {
    const int fd = open(path.c_str(), O_RDONLY);
    std::string text = fd >= 0 ? read_all(fd) : "";
    if (fd >= 0) {
        close(fd);
    }
    return text;
}

// Sends SIGINT once the program computes: when the engine's working memory (tens of MB at
// 8,388,608 digits) is in use, as /proc tells, the program's handler is in place.
void interrupt_when_computing(pid_t child) {
    const std::string status_path = "/proc/" + std::to_string(child) + "/status";
    for (int tries = 0; tries < 60000; ++tries) {
        std::istringstream status(read_file(status_path));
        long long resident_kb = 0;
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("VmRSS:", 0) == 0) {
                resident_kb = std::stoll(line.substr(6));
            }
        }
        if (resident_kb > 40000) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    kill(child, SIGINT);
}

// Runs tessary-cli with `arguments` (words split at blanks), standard input from /dev/null.
outcome run_cli(const std::string &arguments, const run_options &how = {}) {
    const std::string out_path = testing::TempDir() + "tessary_cli_out." + std::to_string(getpid());
    const std::string err_path = testing::TempDir() + "tessary_cli_err." + std::to_string(getpid());
    std::vector<std::string> argument_words = words(arguments);
    std::vector<char *> argv{const_cast<char *>(TESSARY_CLI)};
    for (std::string &word : argument_words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    // The read end is closed before the fork, so that no write can reach the pipe's buffer.
    int pipe_ends[2] = {-1, -1};
    if (how.out == output::closed_pipe) {
        if (pipe(pipe_ends) != 0) {
            ADD_FAILURE() << "no pipe";
            return {};
        }
        close(pipe_ends[0]);
    }
    const pid_t child = fork();
    if (child == 0) {
        const int in = open("/dev/null", O_RDONLY);
        const int out = how.out == output::dev_full ? open("/dev/full", O_WRONLY)
                        : how.out == output::captured
                            ? open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600)
                            : pipe_ends[1];
        const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        signal(SIGPIPE, how.ignore_sigpipe ? SIG_IGN : SIG_DFL);
        if (how.address_space != 0) {
            const rlimit limit{how.address_space, how.address_space};
            setrlimit(RLIMIT_AS, &limit);
        }
        execv(TESSARY_CLI, argv.data());
        _exit(127);
    }
    if (how.out == output::closed_pipe) {
        close(pipe_ends[1]);
    }
    if (how.interrupt) {
        interrupt_when_computing(child);
    }
    int status = 0;
    waitpid(child, &status, 0);
    outcome result;
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    if (how.out == output::captured) {
        result.out = read_file(out_path);
    }
    result.err = read_file(err_path);
    unlink(out_path.c_str());
    unlink(err_path.c_str());
    return result;
}

bool is_one_error_line(const std::string &err) {
    return err.rfind("tessary-cli: ", 0) == 0 && err.find('\n') == err.size() - 1;
}

TEST(TessaryCli, RejectsBadArgumentsWithOneLineAndStatusTwo) {
    const char *bad[] = {
        "--digits",
        "--digits abc",
        "--digits 12x",
        "--digits 0",
        "--digits -5",
        "--digits +5",
        "--digits= 5",
        "--digits 99999999999999999999",
        "--digits 268435457",
        "--digits 5 --digits 6",
        "--json --json",
        "--threads 0",
        "--threads 1025",
        "--threads two",
        "--threads +2",
        "--stress --minutes 0",
        "--stress --minutes -1",
        "--stress --minutes 1e3",
        "--stress --minutes 10081",
        "--stress --minutes 1.2.3",
        "--minutes 5",
        "--stress --json",
        "--frobnicate",
        "-x",
        "--print",
        "--digits 10 --print --json",
        "--digits 10 --print --threads 2",
        "--digits 33555457 --print",
        "--digits 10 --print-unverified --json",
        "extra",
        "-- --json",
    };
    for (const char *arguments : bad) {
        SCOPED_TRACE(arguments);
        const outcome o = run_cli(arguments);
        EXPECT_EQ(o.status, 2);
        EXPECT_TRUE(o.out.empty());
        EXPECT_TRUE(is_one_error_line(o.err)) << o.err;
    }
}

TEST(TessaryCli, AcceptsEveryDocumentedArgumentForm) {
    struct accepted {
        const char *arguments;
        int digits;
        int threads;
    };
    const accepted forms[] = {
        {"--digits 1000 --json", 1000, 1},
        {"--digits=1000 --json", 1000, 1},
        {"--dig 1000 --js", 1000, 1},
        {"--json --digits 0100", 100, 1},
        {"--digits 1000 --json --", 1000, 1},
        {"--digits 1000 --threads 1 --json", 1000, 1},
        {"--threads=2 --digits 1000 --json", 1000, 2},
    };
    for (const accepted &form : forms) {
        SCOPED_TRACE(form.arguments);
        const outcome o = run_cli(form.arguments);
        ASSERT_EQ(o.status, 0) << o.err;
        const json report = json::parse(o.out);
        EXPECT_EQ(report["request"]["digits"], form.digits);
        EXPECT_EQ(report["request"]["threads"], form.threads);
    }
    const outcome all = run_cli("--digits 100 --threads all --json");
    ASSERT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(json::parse(all.out)["request"]["threads"], sysconf(_SC_NPROCESSORS_ONLN));
}

TEST(TessaryCli, DescribesEveryOptionTheScoreAndItsVersion) {
    for (const char *help_option : {"--help", "-h", "--digits 5 --help"}) {
        SCOPED_TRACE(help_option);
        const outcome help = run_cli(help_option);
        EXPECT_EQ(help.status, 0);
        for (const char *text :
             {"--digits", "--print", "--json", "--threads", "--stress", "--minutes", "--version",
              "-h, --help", "Multi-core score", "76 MB", "exactly N", "130", "--no-save",
              "--history", "--delete ID", "--memory P",
              "16K 32K 64K 128K 256K 512K 1M 2M 4M 8M 16M 32M",
              "$XDG_DATA_HOME/tessary/results.sqlite", "~/.local/share/tessary/results.sqlite"}) {
            EXPECT_NE(help.out.find(text), std::string::npos) << text;
        }
    }
    const outcome version = run_cli("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("tessary-cli ") + TESSARY_VERSION + "\nengine " +
                               pi_get_version() + "\nkernels " + pi_simd_path() + "\n");
}

// The kernels are named where a result is reported; a path that TESSARY_SIMD asks for and
// the build lacks is replaced with a note, never silently.
TEST(TessaryCli, NamesTheKernelsItRanOn) {
    const char *saved = std::getenv("TESSARY_SIMD");
    const std::string restore = saved != nullptr ? saved : "";
    setenv("TESSARY_SIMD", "baseline", 1);
    const outcome forced = run_cli("--version");
    const outcome forced_json = run_cli("--digits 100 --json");
    setenv("TESSARY_SIMD", "no-such-path", 1);
    const outcome unknown = run_cli("--digits 100 --json");
    saved != nullptr ? setenv("TESSARY_SIMD", restore.c_str(), 1) : unsetenv("TESSARY_SIMD");

    EXPECT_NE(forced.out.find("\nkernels baseline\n"), std::string::npos) << forced.out;
    EXPECT_TRUE(forced.err.empty()) << forced.err;
    ASSERT_EQ(forced_json.status, 0) << forced_json.err;
    EXPECT_EQ(json::parse(forced_json.out)["simd_path"], "baseline");
    EXPECT_TRUE(json::parse(forced_json.out)["simd_note"].is_null());

    ASSERT_EQ(unknown.status, 0) << unknown.err;
    const json report = json::parse(unknown.out);
    const std::string fastest = report["simd_path"];
    EXPECT_NE(fastest, "no-such-path");
    EXPECT_NE(report["simd_note"].get<std::string>().find("no-such-path"), std::string::npos);
    EXPECT_NE(unknown.err.find("tessary-cli: TESSARY_SIMD=no-such-path"), std::string::npos)
        << unknown.err;
}

TEST(TessaryCli, ReportsOneComputationAsTextAndAsJson) {
    const outcome text = run_cli("--digits 1000");
    ASSERT_EQ(text.status, 0) << text.err;
    for (const char *line : {"Digits:           1,024\n", "Verified:         1,008 digits\n",
                             "Score:", "Processor time:", "Wall time:"}) {
        EXPECT_NE(text.out.find(line), std::string::npos) << line;
    }
    EXPECT_TRUE(text.err.empty()) << "no progress bar without a terminal: " << text.err;

    const outcome o = run_cli("--digits 1000 --json");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_TRUE(python_accepts_json(o.out));
    const json report = json::parse(o.out);
    EXPECT_EQ(report["schema"], 1);
    EXPECT_EQ(report["version"], TESSARY_VERSION);
    EXPECT_EQ(report["success"], 1);
    EXPECT_EQ(report["summary"]["digits"], 1024);
    EXPECT_TRUE(report["summary"].contains("verified_digits"));
    EXPECT_GT(report["summary"]["score"].get<double>(), 0);
    EXPECT_TRUE(report["multi_core"].is_null());
    ASSERT_EQ(report["runs"].size(), 1u);
    EXPECT_TRUE(report["runs"][0].contains("verified_digits"));
    for (const char *field :
         {"cpu_model", "physical_cores", "logical_cores", "cpu_mhz", "memory_mb", "os_name",
          "kernel_release", "architecture", "valid", "error_message"}) {
        EXPECT_TRUE(report["machine"].contains(field)) << field;
    }
}

TEST(TessaryCli, TwoThreadsBothComputeAndTheReportCarriesBoth) {
    const outcome o = run_cli("--digits 20000 --threads 2 --json");
    ASSERT_EQ(o.status, 0) << o.err;
    const json report = json::parse(o.out);
    const json &multi = report["multi_core"];
    ASSERT_EQ(multi["per_thread"].size(), 2u);
    double score_sum = 0;
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const json &thread = multi["per_thread"][i];
        EXPECT_EQ(thread["thread"], i + 1);
        EXPECT_EQ(thread["success"], 1);
        ASSERT_EQ(thread["runs"].size(), 1u);
        EXPECT_EQ(thread["runs"][0]["digits"], 32768);
        EXPECT_GT(thread["runs"][0]["wall_seconds"].get<double>(), 0);
        score_sum += thread["wall_score"].get<double>();
    }
    EXPECT_EQ(multi["score"].get<double>(), score_sum);
    EXPECT_EQ(report["summary"]["multi_core_score"], multi["score"]);

    const outcome text = run_cli("--digits 20000 --threads 2");
    ASSERT_EQ(text.status, 0) << text.err;
    for (const char *line :
         {"Thread 1, run 1: ", "Thread 2, run 1: ", "Multi-core score: ", "Scaling: "}) {
        EXPECT_NE(text.out.find(line), std::string::npos) << line;
    }
}

TEST(TessaryCli, PrintsExactlyTheRequestedCorrectDigits) {
    const std::string reference = mpfr_pi_digits(20100);
    for (const int decimals : {1, 2, 9, 10, 11, 1000, 4097, 20000}) {
        SCOPED_TRACE(decimals);
        const outcome o = run_cli("--digits " + std::to_string(decimals) + " --print");
        ASSERT_EQ(o.status, 0) << o.err;
        const std::string expected =
            "3." + reference.substr(1, static_cast<size_t>(decimals)) + "\n";
        EXPECT_EQ(o.out, expected);
    }
}

TEST(TessaryCli, StressRunsEveryThreadAndPassesWhenAllVerify) {
    const outcome o = run_cli("--stress --minutes 0.02 --digits 1000 --threads 2");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_NE(o.out.find(", thread 1: "), std::string::npos) << o.out;
    EXPECT_NE(o.out.find(", thread 2: "), std::string::npos) << o.out;
    EXPECT_NE(o.out.find("Result: PASSED"), std::string::npos) << o.out;
}

const char *const every_output_mode[] = {
    "--help",
    "--version",
    "--digits 1000",
    "--digits 1000 --json",
    "--digits 1000 --print",
    "--digits 1000 --threads 2",
    "--digits 1000 --threads 2 --json",
    "--stress --minutes 0.001 --digits 1000 --threads 1",
};

TEST(TessaryCli, FailsWithAMessageWhenOutputCannotBeWritten) {
    for (const char *arguments : every_output_mode) {
        SCOPED_TRACE(arguments);
        const outcome full = run_cli(arguments, {.out = output::dev_full});
        EXPECT_EQ(full.status, 1);
        EXPECT_EQ(full.err, "tessary-cli: write error: No space left on device\n");
        const outcome closed =
            run_cli(arguments, {.out = output::closed_pipe, .ignore_sigpipe = true});
        EXPECT_EQ(closed.status, 1);
        EXPECT_EQ(closed.err, "tessary-cli: write error: Broken pipe\n");
    }
}

TEST(TessaryCli, EndsQuietlyOnSigpipeLikeOtherTools) {
    for (const char *arguments : every_output_mode) {
        SCOPED_TRACE(arguments);
        const outcome o = run_cli(arguments, {.out = output::closed_pipe});
        EXPECT_EQ(o.signal, SIGPIPE);
        EXPECT_TRUE(o.err.empty()) << o.err;
    }
}

TEST(TessaryCli, CtrlCEndsAComputationWithStatus130AndSaysSo) {
    const outcome o = run_cli("--digits 8388608 --json", {.interrupt = true});
    EXPECT_EQ(o.status, 130);
    const json report = json::parse(o.out);
    EXPECT_EQ(report["success"], 0);
    EXPECT_EQ(report["error_message"], "Interrupted before the computation finished");
    EXPECT_TRUE(o.err.empty()) << o.err;
}

TEST(TessaryCli, CtrlCEndsAStressRunWithTheSummarySoFar) {
    const outcome o = run_cli("--stress --minutes 5 --threads 2", {.interrupt = true});
    EXPECT_EQ(o.status, 130);
    EXPECT_NE(o.out.find("Result: interrupted: 0 computations verified, "), std::string::npos)
        << o.out;
}

#if !defined(__SANITIZE_ADDRESS__)
// Under every limit on the address space from where the program loads at all to where
// everything fits, memory runs out in the engine, in a thread's stack or in the front end:
// the outcome is the digits or the allocation failure, never a crash.
TEST(TessaryCli, RunsOutOfMemoryWithTheAllocationFailure) {
    const std::string reference = mpfr_pi_digits(100100);
    const std::string digits = "3." + reference.substr(1, 100000) + "\n";
    int successes = 0;
    int failures = 0;
    for (rlim_t megabytes = 4; megabytes <= 24; ++megabytes) {
        SCOPED_TRACE(megabytes);
        const outcome o = run_cli("--digits 100000 --print", {.address_space = megabytes << 20});
        if (o.status == 127) {
            continue; // below what the loader needs to start the program at all
        }
        if (o.status == 0) {
            ++successes;
            EXPECT_EQ(o.out, digits);
        } else {
            ++failures;
            EXPECT_EQ(o.status, 1);
            EXPECT_EQ(o.err, "tessary-cli: Memory allocation failed\n");
        }
    }
    EXPECT_GT(successes, 0);
    EXPECT_GT(failures, 0);
}
#endif

} // namespace

// Two computations in a store of their own, then their history: both, newest first.
TEST(TessaryCli, KeepsEachComputationAndListsThem) {
    std::string home = testing::TempDir() + "tessary-cli-history.XXXXXX";
    ASSERT_NE(mkdtemp(home.data()), nullptr);
    const std::string saved = std::getenv("XDG_DATA_HOME");
    setenv("XDG_DATA_HOME", home.c_str(), 1);
    const outcome first = run_cli("--digits 1000");
    const outcome second = run_cli("--digits 1000");
    const outcome reports = run_cli("--history --json");
    const outcome table = run_cli("--history");
    setenv("XDG_DATA_HOME", saved.c_str(), 1);

    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(first.err + second.err, "");
    EXPECT_NE(second.out.find("\nCompared:         Score "), std::string::npos) << second.out;
    ASSERT_TRUE(python_accepts_json(reports.out)) << reports.out;
    const json all = json::parse(reports.out);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0]["result_id"], 2);
    EXPECT_EQ(all[1]["result_id"], 1);
    for (const json &report : all) {
        EXPECT_EQ(report["success"], 1);
        EXPECT_EQ(report["request"]["digits"], 1000);
        EXPECT_EQ(report["runs"].size(), 1u);
    }
    EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), 4) << table.out;
}
