// tessary-cli's run modes, reports and options in-process, on fake engines: the five-run
// benchmark, several threads, stress runs, failures, the progress bar and memory running out.

#include "cli/app.h"
#include "cli/json_report.h"
#include "cli/measure.h"
#include "cli/options.h"
#include "cli/progress_bar.h"
#include "cli/stress.h"
#include "cli/text_report.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <barrier>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <set>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Every C++ allocation of the test binary goes through here, so that a forked child can make
// the n-th one fail. The engine's malloc is left alone.
namespace {
std::atomic<long> allocations_before_failure{-1};
} // namespace

void *operator new(std::size_t size) {
    if (allocations_before_failure.load() >= 0 && allocations_before_failure.fetch_sub(1) == 0) {
        throw std::bad_alloc();
    }
    if (void *p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
void operator delete(void *p) noexcept {
    std::free(p);
}
void operator delete(void *p, std::size_t) noexcept {
    std::free(p);
}

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;

void set_message(pi_result *result, const char *text) {
    std::snprintf(result->error_message, sizeof result->error_message, "%s", text);
}

// ---- fake drivers, configured through globals since a pi_driver takes no context ----

struct fake_run {
    int success;
    double seconds;
    double score;
    int verified;
};
std::vector<fake_run> fake_runs;
std::atomic<int> fake_calls{0};

// Plays fake_runs in turn, reporting 19 progress steps each.
void scripted_driver(int digits, pi_result *result, pi_progress_callback callback, void *user_data,
                     pi_check *check) {
    const fake_run &run = fake_runs[static_cast<std::size_t>(fake_calls++) % fake_runs.size()];
    *result = pi_result{};
    *check = pi_check{};
    if (run.success == 0) {
        set_message(result, "Memory allocation failed");
        return;
    }
    for (int step = 1; callback != nullptr && step <= 19; ++step) {
        callback(step, step * 1000, user_data, 0);
    }
    result->success = 1;
    result->digits = digits;
    result->time_seconds = run.seconds;
    result->score = run.score;
    check->verified_digits = run.verified;
}

// A computation whose digits are wrong from a given position, as the engine reports it.
void wrong_digits(pi_result *result, pi_check *check, int position) {
    *result = pi_result{};
    *check = pi_check{};
    check->first_wrong_digit = position;
    std::snprintf(result->error_message, sizeof result->error_message,
                  "Computed digits of pi are wrong from digit %d: the machine made an arithmetic "
                  "error",
                  position);
}

void succeed(int digits, pi_result *result, pi_check *check) {
    *result = pi_result{};
    result->success = 1;
    result->digits = digits;
    result->time_seconds = 0.01;
    result->score = 100;
    *check = pi_check{digits - 16, 0, 0, 0};
}

std::string captured(const std::function<void(std::FILE *)> &write) {
    char *text = nullptr;
    std::size_t size = 0;
    std::FILE *out = open_memstream(&text, &size);
    write(out);
    std::fclose(out);
    std::string result(text, size);
    std::free(text);
    return result;
}

bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

system_info some_machine() {
    system_info machine{};
    std::strcpy(machine.cpu_model, "Test CPU");
    machine.logical_cores = 2;
    machine.valid = 1;
    return machine;
}

bool python_accepts_json(const std::string &text) {
    const std::string path = testing::TempDir() + "tessary_modes_json." + std::to_string(getpid());
    std::FILE *file = std::fopen(path.c_str(), "w");
    std::fputs(text.c_str(), file);
    std::fclose(file);
    return std::system(("python3 -m json.tool " + path + " >/dev/null").c_str()) == 0;
}

TEST(Measure, BenchmarkReportsEveryRunTheSpreadAndTheEnginesFigures) {
    fake_runs = {{1, 10, 251, 8388592},
                 {1, 11, 229, 8388592},
                 {0, 0, 0, 0},
                 {1, 13, 194, 8388590},
                 {1, 30, 84, 8388592}};
    fake_calls = 0;
    std::vector<int> lines;
    measure_request request;
    request.driver = scripted_driver;
    request.on_computation = [&](const computation_record &run) { lines.push_back(run.run); };
    const measure_report report = run_measurement(request);

    ASSERT_TRUE(report.success());
    EXPECT_EQ(lines, (std::vector<int>{1, 2, 3, 4, 5}));
    // The engine's figures: the failed run is left out of the mean (758 / 4 = 189.5) and sum.
    EXPECT_EQ(report.single.result.score, 190);
    EXPECT_EQ(report.single.result.time_seconds, 64);
    EXPECT_EQ(fewest_verified(report.single), 8388590);
    const time_spread spread = processor_time_spread(report.single);
    EXPECT_EQ(spread.min_seconds, 10);
    EXPECT_EQ(spread.median_seconds, 12);
    EXPECT_EQ(spread.max_seconds, 30);
    EXPECT_DOUBLE_EQ(spread.relative, 20.0 / 12);

    const std::string text = captured([&](std::FILE *out) {
        for (const computation_record &run : report.single.runs) {
            write_computation_line(out, run);
        }
        write_measure_summary(out, report);
    });
    EXPECT_TRUE(contains(text, "Run 1:            10.000 sec processor, ")) << text;
    EXPECT_TRUE(contains(text, "score 251, 8388592 digits verified\n")) << text;
    EXPECT_TRUE(contains(text, "Run 3:            FAILED: Memory allocation failed\n")) << text;
    EXPECT_TRUE(contains(text, "Score:            190\nProcessor time:   64.000 sec\n")) << text;
    EXPECT_TRUE(contains(text, "10.000 / 12.000 / 30.000 sec")) << text;

    const std::string document = measure_json(report, some_machine());
    ASSERT_TRUE(python_accepts_json(document)) << document;
    const json parsed = json::parse(document);
    EXPECT_EQ(parsed["success"], 1);
    EXPECT_EQ(parsed["request"]["runs"], 5);
    EXPECT_EQ(parsed["summary"]["score"], 190);
    EXPECT_EQ(parsed["summary"]["verified_digits"], 8388590);
    EXPECT_EQ(parsed["summary"]["spread"]["median_seconds"], 12.0);
    ASSERT_EQ(parsed["runs"].size(), 5u);
    EXPECT_EQ(parsed["runs"][2]["success"], 0);
    EXPECT_EQ(parsed["runs"][2]["error_message"], "Memory allocation failed");
    EXPECT_EQ(parsed["runs"][4]["time_seconds"], 30.0);
}

TEST(Measure, FailuresGiveValidReportsWithTheReason) {
    fake_runs = {{0, 0, 0, 0}};
    fake_calls = 0;
    measure_request request;
    request.driver = scripted_driver;
    request.threads = 2;
    const measure_report all_failed = run_measurement(request);
    EXPECT_FALSE(all_failed.success());
    EXPECT_EQ(all_failed.error_message(), "All 5 benchmark runs failed");
    EXPECT_TRUE(all_failed.multi.empty()) << "a failing machine is not measured further";

    request.digits = 1000;
    request.threads = 1;
    request.driver = [](int, pi_result *result, pi_progress_callback, void *, pi_check *check) {
        wrong_digits(result, check, 731);
    };
    const measure_report wrong = run_measurement(request);
    EXPECT_FALSE(wrong.success());
    EXPECT_TRUE(contains(wrong.error_message(), "wrong from digit 731"));
    const std::string line =
        captured([&](std::FILE *out) { write_computation_line(out, wrong.single.runs[0]); });
    EXPECT_TRUE(contains(line, "WRONG from digit 731")) << line;

    // System texts may end inside a UTF-8 sequence, cut to fit their record.
    system_info machine = some_machine();
    std::strcpy(machine.cpu_model, "Proc\xc3");
    for (const measure_report *report : {&all_failed, &wrong}) {
        const std::string document = measure_json(*report, machine);
        ASSERT_TRUE(python_accepts_json(document)) << document;
        const json parsed = json::parse(document);
        EXPECT_EQ(parsed["success"], 0);
        EXPECT_EQ(parsed["error_message"], report->error_message());
    }
    EXPECT_EQ(json::parse(measure_json(wrong, machine))["runs"][0]["first_wrong_digit"], 731);
}

std::atomic<int> computations_at_once{0};
std::atomic<int> most_at_once{0};
std::barrier<> *multi_core_start = nullptr;

// Sleeps, so that the threads scale perfectly; the multi-core calls meet at a barrier first,
// which they pass only when all of them run at the same time.
void sleeping_driver(int digits, pi_result *result, pi_progress_callback, void *, pi_check *check) {
    if (fake_calls++ > 0) {
        multi_core_start->arrive_and_wait();
    }
    const int now = ++computations_at_once;
    int most = most_at_once;
    while (now > most && !most_at_once.compare_exchange_weak(most, now)) {
    }
    std::this_thread::sleep_for(100ms);
    --computations_at_once;
    succeed(digits, result, check);
}

TEST(Measure, ThreadsComputeAtOnceAndTheirScoresAdd) {
    constexpr int threads = 3;
    std::barrier<> start(threads);
    multi_core_start = &start;
    fake_calls = 0;
    most_at_once = 0;
    measure_request request;
    request.digits = 100000;
    request.threads = threads;
    request.driver = sleeping_driver;
    const measure_report report = run_measurement(request);

    ASSERT_TRUE(report.success()) << report.error_message();
    EXPECT_EQ(most_at_once, threads);
    ASSERT_EQ(report.multi.size(), std::size_t{threads});
    double sum = 0;
    for (int i = 0; i < threads; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(report.multi[i].thread, i + 1);
        ASSERT_EQ(report.multi[i].runs.size(), 1u);
        EXPECT_TRUE(report.multi[i].runs[0].multi_core);
        sum += report.multi[i].wall_score;
    }
    EXPECT_EQ(report.multi_core_score, sum);
    // Perfect scaling: T times the single thread's score on the same clock.
    EXPECT_NEAR(report.scaling_efficiency, 1, 0.3);
    EXPECT_NEAR(report.multi_core_score, threads * report.single.wall_score,
                0.3 * threads * report.single.wall_score);
}

TEST(Measure, AThreadThatFailsFailsTheMultiCorePart) {
    fake_calls = 0;
    measure_request request;
    request.digits = 1000;
    request.threads = 2;
    request.driver = [](int digits, pi_result *result, pi_progress_callback, void *,
                        pi_check *check) {
        if (fake_calls++ == 2) {
            wrong_digits(result, check, 17);
        } else {
            succeed(digits, result, check);
        }
    };
    const measure_report report = run_measurement(request);
    EXPECT_FALSE(report.success());
    EXPECT_TRUE(contains(report.error_message(), "Multi-core: Thread ")) << report.error_message();
    EXPECT_TRUE(contains(report.error_message(), " of 2: Computed digits of pi are wrong"));
    const json parsed = json::parse(measure_json(report, some_machine()));
    EXPECT_EQ(parsed["summary"]["score"], 100) << "the single-core score stands";
    EXPECT_TRUE(parsed["summary"]["multi_core_score"].is_null());
    EXPECT_EQ(parsed["multi_core"]["success"], 0);
    EXPECT_EQ(parsed["multi_core"]["per_thread"].size(), 2u);
}

TEST(ScoreForSeconds, AgreesWithTheEngineOnItsOwnComputations) {
    for (const int digits : {1000, 30000, 200000}) {
        SCOPED_TRACE(digits);
        pi_result result{};
        pi_calculate(digits, &result);
        ASSERT_EQ(result.success, 1);
        EXPECT_EQ(score_for_seconds(result.digits, result.time_seconds), result.score);
    }
    EXPECT_EQ(score_for_seconds(8388608, 0), 0);
    EXPECT_EQ(score_for_seconds(0, 1), 0);
}

std::atomic<int> stress_failure_at{-1};

void stress_driver(int digits, pi_result *result, pi_progress_callback, void *, pi_check *check) {
    std::this_thread::sleep_for(2ms);
    if (fake_calls++ == stress_failure_at) {
        wrong_digits(result, check, 4242);
    } else {
        succeed(digits, result, check);
    }
}

TEST(Stress, PassesWhenEveryComputationVerifiesOnEveryThread) {
    fake_calls = 0;
    stress_failure_at = -1;
    std::vector<int> numbers;
    std::set<int> threads;
    stress_request request;
    request.digits = 1000;
    request.threads = 2;
    request.seconds = 0.1;
    request.driver = stress_driver;
    request.on_computation = [&](const stress_record &record) {
        numbers.push_back(record.number);
        threads.insert(record.thread);
    };
    const stress_report report = run_stress(request);
    ASSERT_TRUE(report.success());
    ASSERT_GE(numbers.size(), 2u);
    EXPECT_EQ(numbers.size(), report.computations.size());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        EXPECT_EQ(numbers[i], static_cast<int>(i) + 1);
    }
    EXPECT_EQ(threads, (std::set<int>{1, 2}));
    const std::string summary =
        captured([&](std::FILE *out) { write_stress_summary(out, report); });
    EXPECT_TRUE(
        contains(summary, "Result: PASSED: all " + std::to_string(numbers.size()) + " verified\n"))
        << summary;
}

TEST(Stress, StopsAtTheFirstWrongComputationAndNamesIt) {
    fake_calls = 0;
    stress_failure_at = 5;
    stress_request request;
    request.digits = 1000;
    request.threads = 2;
    request.seconds = 600;
    request.driver = stress_driver;
    const auto start = std::chrono::steady_clock::now();
    const stress_report report = run_stress(request);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    EXPECT_FALSE(report.success());
    const stress_record *failure = report.first_failure();
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->check.first_wrong_digit, 4242);
    const std::string text = captured([&](std::FILE *out) {
        write_stress_line(out, *failure);
        write_stress_summary(out, report);
    });
    const std::string name = "computation " + std::to_string(failure->number) + " on thread " +
                             std::to_string(failure->thread);
    EXPECT_TRUE(contains(text, "Result: FAILED at " + name + ": Computed digits")) << text;
    EXPECT_TRUE(contains(text, "WRONG from digit 4242")) << text;
}

std::stop_source *stress_stop = nullptr;

TEST(Stress, AStopRequestEndsItAtOnceWithWhatFinished) {
    static std::stop_source stop;
    stress_stop = &stop;
    fake_calls = 0;
    stress_request request;
    request.threads = 2;
    request.seconds = 600;
    request.stop = stop.get_token();
    // The third computation asks to stop and then takes long: the report must not wait.
    request.driver = [](int digits, pi_result *result, pi_progress_callback, void *,
                        pi_check *check) {
        if (fake_calls++ == 2) {
            stress_stop->request_stop();
            std::this_thread::sleep_for(3s);
        }
        succeed(digits, result, check);
    };
    const auto start = std::chrono::steady_clock::now();
    const stress_report report = run_stress(request);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_TRUE(report.interrupted);
    EXPECT_FALSE(report.success());
    EXPECT_GE(report.abandoned, 1);
    // The thread that asked had its first computation recorded; the other thread's first
    // may still be in flight when the report ends.
    EXPECT_GE(report.computations.size(), 1u);
    const std::string summary =
        captured([&](std::FILE *out) { write_stress_summary(out, report); });
    EXPECT_TRUE(contains(summary, "Result: interrupted: ")) << summary;
}

TEST(ProgressBar, ShowsThePrecisionEveryThreadReachedNeverPastTheTarget) {
    char *text = nullptr;
    std::size_t size = 0;
    std::FILE *terminal = open_memstream(&text, &size);
    {
        progress_bar bar(terminal);
        bar.start("2 threads", 2, 10, 1000);
        progress_bar::report(4, 352, bar.slot(0), 0);
        bar.end_line();
        bar.start("", 2, 10, 1000);
        progress_bar::report(10, 1100, bar.slot(0), 0);
        progress_bar::report(10, 1200, bar.slot(1), 0);
        bar.end_line();
        bar.end_line();
    }
    std::fclose(terminal);
    const std::string drawn(text, size);
    std::free(text);
    EXPECT_TRUE(contains(drawn, "2 threads [####                ]  20%, 0 of 1000 digits"))
        << drawn;
    EXPECT_TRUE(contains(drawn, "] 100%, 1000 of 1000 digits")) << drawn;
    EXPECT_FALSE(contains(drawn, "1100") || contains(drawn, "1200")) << drawn;
    EXPECT_EQ(std::count(drawn.begin(), drawn.end(), '\n'), 2) << drawn;
    EXPECT_EQ(drawn.back(), '\n');
}

TEST(Options, ResolvesModesThreadsAndMinutes) {
    struct expected {
        std::vector<std::string> arguments;
        cli_mode mode;
        int threads;
        double minutes;
    };
    const expected cases[] = {
        {{}, cli_mode::benchmark, 1, 10},
        {{"--threads", "all"}, cli_mode::benchmark, 6, 10},
        {{"--digits", "5", "--print"}, cli_mode::print, 1, 10},
        {{"--digits=5", "--threads=3"}, cli_mode::digits, 3, 10},
        {{"--stress"}, cli_mode::stress, 6, 10},
        {{"--stress", "--threads", "1", "--minutes", ".5"}, cli_mode::stress, 1, 0.5},
        {{"--str", "--min=2.25"}, cli_mode::stress, 6, 2.25},
        {{"--json", "--version"}, cli_mode::version, 1, 10},
        {{"--version", "-h"}, cli_mode::help, 1, 10},
    };
    for (const expected &c : cases) {
        std::vector<std::string> words = c.arguments;
        std::vector<char *> argv{const_cast<char *>("tessary-cli")};
        std::string trace;
        for (std::string &word : words) {
            argv.push_back(word.data());
            trace += word + " ";
        }
        SCOPED_TRACE(trace);
        argv.push_back(nullptr);
        const parsed_options parsed =
            parse_options(static_cast<int>(argv.size()) - 1, argv.data(), 6);
        ASSERT_EQ(parsed.error, "");
        EXPECT_EQ(parsed.options.mode, c.mode);
        EXPECT_EQ(parsed.options.threads, c.threads);
        EXPECT_EQ(parsed.options.minutes, c.minutes);
    }
}

struct child_outcome {
    int status;
    std::string out;
    std::string err;
};

std::string read_file(const std::string &path) {
    std::string text;
    if (std::FILE *file = std::fopen(path.c_str(), "r")) {
        char buffer[4096];
        std::size_t got = 0;
        while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
            text.append(buffer, got);
        }
        std::fclose(file);
    }
    return text;
}

// Added to the exit status of a child whose countdown never reached its allocation.
constexpr int untouched = 100;

// run_tessary_cli in a forked child whose `countdown`-th C++ allocation fails.
child_outcome run_in_child(std::vector<std::string> arguments, long countdown) {
    const std::string out_path =
        testing::TempDir() + "tessary_modes_out." + std::to_string(getpid());
    const std::string err_path =
        testing::TempDir() + "tessary_modes_err." + std::to_string(getpid());
    std::vector<char *> argv{const_cast<char *>("tessary-cli")};
    for (std::string &word : arguments) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        dup2(open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
        dup2(open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        allocations_before_failure = countdown;
        cli_engine engine;
        engine.seconds_per_minute = 1;
        const int status = run_tessary_cli(static_cast<int>(argv.size()) - 1, argv.data(), engine);
        _exit(allocations_before_failure >= 0 ? untouched + status : status);
    }
    int status = 0;
    waitpid(child, &status, 0);
    child_outcome outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out_path),
                          read_file(err_path)};
    unlink(out_path.c_str());
    unlink(err_path.c_str());
    return outcome;
}

// Every C++ allocation of every mode, made to fail in turn, ends in the allocation failure
// (a JSON report saying so with --json) or is done without, never in a crash.
TEST(App, EveryAllocationFailureEndsWithTheMessage) {
    const std::vector<std::vector<std::string>> modes = {
        {"--digits", "1000", "--json"},
        {"--digits", "1000", "--threads", "2"},
        {"--digits", "1000", "--print"},
        {"--stress", "--minutes", "0.01", "--digits", "1000", "--threads", "2"},
    };
    for (const auto &arguments : modes) {
        SCOPED_TRACE(arguments[0] + " " + arguments.back());
        const bool json_report = arguments.back() == "--json";
        long countdown = 0;
        for (;; ++countdown) {
            SCOPED_TRACE(countdown);
            const child_outcome o = run_in_child(arguments, countdown);
            if (o.status == untouched) {
                break;
            }
            ASSERT_LT(countdown, 20000);
            if (o.status == 0) {
                continue; // a failure that the program could do without
            }
            ASSERT_EQ(o.status, 1) << o.err;
            // Possibly naming where: "tessary-cli: Multi-core: Thread 2 of 2: Memory ...".
            ASSERT_EQ(o.err.rfind("tessary-cli: ", 0), 0u) << o.err;
            ASSERT_TRUE(o.err.ends_with("Memory allocation failed\n")) << o.err;
            ASSERT_EQ(std::count(o.err.begin(), o.err.end(), '\n'), 1) << o.err;
            if (json_report) {
                ASSERT_EQ(json::parse(o.out)["success"], 0) << o.out;
            }
        }
        EXPECT_GT(countdown, 0);
    }
}

} // namespace
