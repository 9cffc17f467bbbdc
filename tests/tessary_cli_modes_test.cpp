// tessary-cli's run modes, options and exit statuses in-process, on a fake engine and a fake
// clock: the benchmark, several threads, stress runs, printed digits, failures, lost output,
// Ctrl-C and memory running out.

#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "cli/measure.h"
#include "cli/options.h"
#include "cli/stress.h"
#include "cli/stress_text.h"
#include "report/json_report.h"
#include "report/text_report.h"
#include "tessary_cli_fakes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <barrier>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <latch>
#include <new>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>

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

report_record measure(const measure_request &request) {
    measurement session(request,
                        planned_report(request, running_versions("tessary-cli"), some_machine()));
    return session.run();
}

measure_request fake_request(int digits = 0, int threads = 1) {
    measure_request request;
    request.digits = digits;
    request.threads = threads;
    request.driver = fake_driver;
    request.clock = fake_now;
    return request;
}

TEST(Measure, BenchmarkReportsEachRunAsItFinishesTimedOnTheClock) {
    set_fake_script({{fake_kind::verified, 10, 11},
                     {fake_kind::verified, 11, 13},
                     {fake_kind::no_memory},
                     {fake_kind::verified, 13, 17},
                     {fake_kind::verified, 30, 19}});
    std::vector<int> reported;
    measure_request request = fake_request();
    request.on_computation = [&](const computation_record &run) { reported.push_back(run.run); };
    const report_record record = measure(request);

    ASSERT_TRUE(record.success) << record.error_message;
    EXPECT_EQ(reported, (std::vector<int>{1, 2, 3, 4, 5}));
    ASSERT_EQ(record.single.runs.size(), 5u);
    const double wall[] = {11, 13, 0, 17, 19};
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(record.single.runs[i].wall_seconds, wall[i], 1e-6);
    }
    EXPECT_NEAR(record.summary.wall_seconds, 60, 1e-6);
    // The engine's figures: the failed run is left out of the sum.
    EXPECT_EQ(record.summary.time_seconds, 64);
    EXPECT_EQ(record.single.runs[2].result.success, 0);
    // The engine's mean of the successful runs' scores, on the wall clock.
    std::vector<pi_result> on_the_wall_clock;
    for (const double seconds : {11, 13, 17, 19}) {
        on_the_wall_clock.push_back({1, 8388608, seconds, pi_score(8388608, seconds), ""});
    }
    EXPECT_EQ(record.single.wall_score, pi_calculate_average_score(on_the_wall_clock.data(), 4));
}

TEST(Measure, FailuresStopAtTheSingleCorePartWithTheReason) {
    set_fake_script({{fake_kind::no_memory}});
    const report_record all_failed = measure(fake_request(0, 2));
    EXPECT_FALSE(all_failed.success);
    EXPECT_EQ(all_failed.error_message, "All 5 benchmark runs failed");
    ASSERT_TRUE(all_failed.multi_core);
    EXPECT_TRUE(all_failed.multi_core->per_thread.empty())
        << "a failing machine is measured no further";

    set_fake_script({{fake_kind::wrong}});
    const report_record wrong = measure(fake_request(1000));
    EXPECT_FALSE(wrong.success);
    EXPECT_TRUE(contains(wrong.error_message, "wrong from digit 17"));
}

// The multi-core computations meet at a barrier, which they pass only when all of them run at
// once; passing it moves the clock by one second, the wall time of each of them.
void advance_one_second() noexcept {
    advance_fake_clock(1);
}
std::barrier<decltype(&advance_one_second)> *multi_core_start = nullptr;

void concurrent_driver(int digits, pi_result *result, pi_progress_callback, void *,
                       pi_check *check) {
    if (fake_calls++ > 0) {
        multi_core_start->arrive_and_wait();
    } else {
        advance_fake_clock(1);
    }
    *result = pi_result{1, digits, 0.5, pi_score(digits, 0.5), ""};
    *check = pi_check{digits - 16, 0, 0, 0};
}

TEST(Measure, ThreadsComputeAtOnceAndTheirWallClockScoresAdd) {
    constexpr int threads = 3;
    std::barrier start(threads, &advance_one_second);
    multi_core_start = &start;
    set_fake_script({{}});
    measure_request request = fake_request(100000, threads);
    request.driver = concurrent_driver;
    std::vector<int> finish_order;
    request.on_computation = [&](const computation_record &run) {
        if (run.multi_core) {
            finish_order.push_back(run.finish_order);
        }
    };
    const report_record record = measure(request);

    ASSERT_TRUE(record.success) << record.error_message;
    const multi_core_part &multi = *record.multi_core;
    ASSERT_EQ(multi.per_thread.size(), std::size_t{threads});
    const double one_second_score = pi_score(100000, 1);
    for (int i = 0; i < threads; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(multi.per_thread[i].thread, i + 1);
        ASSERT_EQ(multi.per_thread[i].runs.size(), 1u);
        EXPECT_TRUE(multi.per_thread[i].runs[0].multi_core);
        EXPECT_EQ(multi.per_thread[i].wall_score, one_second_score);
    }
    EXPECT_EQ(finish_order, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(record.single.wall_score, one_second_score);
    EXPECT_NE(record.summary.score, one_second_score)
        << "the single-core score is on processor time";
    EXPECT_EQ(multi.score, threads * one_second_score);
    EXPECT_DOUBLE_EQ(multi.scaling_efficiency, 1);
}

TEST(Measure, AThreadThatFailsFailsTheMultiCorePart) {
    set_fake_script({{}, {}, {fake_kind::wrong}, {}});
    const report_record record = measure(fake_request(1000, 2));
    EXPECT_FALSE(record.success);
    EXPECT_TRUE(contains(record.error_message, "Multi-core: Thread ")) << record.error_message;
    EXPECT_TRUE(contains(record.error_message, " of 2: Computed digits of pi are wrong"));
    EXPECT_GT(record.summary.score, 0) << "the single-core score stands";
    const json parsed = json::parse(json_report(record));
    EXPECT_TRUE(parsed["summary"]["multi_core_score"].is_null());
    EXPECT_EQ(parsed["multi_core"]["success"], 0);
    EXPECT_EQ(parsed["multi_core"]["per_thread"].size(), 2u);
}

measurement *interrupted_session = nullptr;
std::optional<report_record> interrupted_so_far;

TEST(Measure, AnInterruptionKeepsWhatFinishedAndReportsNothingAfter) {
    set_fake_script({{}});
    measure_request request = fake_request();
    // Ctrl-C arrives during run 3.
    request.driver = [](int digits, pi_result *result, pi_progress_callback callback,
                        void *user_data, pi_check *check) {
        if (fake_calls == 2) {
            interrupted_so_far = interrupted_session->interrupt();
        }
        fake_driver(digits, result, callback, user_data, check);
    };
    int reported = 0;
    request.on_computation = [&](const computation_record &) { ++reported; };
    measurement session(request,
                        planned_report(request, running_versions("tessary-cli"), some_machine()));
    interrupted_session = &session;
    const report_record finished = session.run();

    ASSERT_TRUE(interrupted_so_far);
    const report_record &so_far = *interrupted_so_far;
    EXPECT_EQ(so_far.interrupted, interruption::single_core);
    EXPECT_EQ(so_far.single.runs.size(), 2u);
    EXPECT_FALSE(so_far.success);
    EXPECT_EQ(so_far.error_message, "Interrupted after 2 of 5 runs");
    EXPECT_EQ(so_far.summary.score, 0);
    EXPECT_EQ(reported, 2) << "nothing is reported after the interruption";
    EXPECT_FALSE(session.interrupt()) << "a finished measurement is not interrupted";
    EXPECT_TRUE(finished.success);
}

// One computation a second on the fake clock, the first one of each thread only once every
// thread has started one, so that the threads share the work.
std::barrier<> *stress_start = nullptr;
std::atomic<int> stress_failure_at{-1};

void stress_driver(int digits, pi_result *result, pi_progress_callback, void *, pi_check *check) {
    thread_local bool first = true;
    if (stress_start != nullptr && std::exchange(first, false)) {
        stress_start->arrive_and_wait();
    }
    if (fake_calls++ == stress_failure_at) {
        *result = pi_result{};
        *check = pi_check{4241, 4242, 0, 1};
        set_message(result, "Computed digits of pi are wrong from digit 4,242: the machine made "
                            "an arithmetic error");
        return;
    }
    advance_fake_clock(1);
    fake_verified(digits, 1, result, check);
}

stress_request fake_stress(double seconds, int threads = 2) {
    stress_request request;
    request.digits = 1000;
    request.threads = threads;
    request.seconds = seconds;
    request.driver = stress_driver;
    request.clock = fake_now;
    return request;
}

TEST(Stress, PassesWhenEveryComputationVerifiesOnEveryThread) {
    set_fake_script({{}});
    std::barrier both(2);
    stress_start = &both;
    stress_failure_at = -1;
    std::vector<int> numbers;
    std::set<int> threads;
    stress_request request = fake_stress(10);
    request.on_computation = [&](const stress_record &record) {
        numbers.push_back(record.number);
        threads.insert(record.thread);
    };
    const stress_report report = run_stress(request);
    stress_start = nullptr;
    ASSERT_TRUE(report.success());
    // Ten seconds of one-second computations on two threads: one more may start on time.
    EXPECT_GE(numbers.size(), 10u);
    EXPECT_LE(numbers.size(), 12u);
    EXPECT_EQ(numbers.size(), report.computations.size());
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        EXPECT_EQ(numbers[i], static_cast<int>(i) + 1);
    }
    EXPECT_EQ(threads, (std::set<int>{1, 2}));
    const std::string summary = stress_summary(report);
    EXPECT_TRUE(contains(summary, "Result: PASSED: " + std::to_string(numbers.size()) +
                                      " computations verified\n"))
        << summary;
}

TEST(Stress, StopsAtTheFirstWrongComputationAndNamesItOnce) {
    set_fake_script({{}});
    stress_failure_at = 5;
    const stress_report report = run_stress(fake_stress(600));
    EXPECT_FALSE(report.success());
    const stress_record *failure = report.first_failure();
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->check.first_wrong_digit, 4242);
    const std::string summary = stress_summary(report);
    const std::string name = "computation " + std::to_string(failure->number) + " on thread " +
                             std::to_string(failure->thread);
    EXPECT_TRUE(contains(summary, "Result: FAILED at " + name + ": Computed digits")) << summary;
    const std::string line = stress_line(*failure);
    EXPECT_TRUE(contains(line, "FAILED: Computed digits of pi are wrong from digit 4,242")) << line;
    EXPECT_FALSE(contains(line.substr(line.find("4,242") + 1), "4,242")) << line;
}

TEST(Stress, WithNoComputationFinishedItFails) {
    set_fake_script({{}});
    stress_failure_at = -1;
    fake_tick_nanoseconds = 2'000'000'000; // every look at the clock finds two seconds gone
    const stress_report report = run_stress(fake_stress(1, 1));
    fake_tick_nanoseconds = 0;
    EXPECT_TRUE(report.computations.empty());
    EXPECT_FALSE(report.success());
    EXPECT_TRUE(
        contains(stress_summary(report), "Stress: 0 computations of 1,000 digits on 1 thread in "));
    EXPECT_TRUE(contains(stress_summary(report),
                         "Result: FAILED: no computation finished in the time given\n"));
}

std::stop_source *stress_stop = nullptr;
std::latch *stress_release = nullptr;
std::atomic<int> stopping_calls{0};
std::atomic<bool> stopper_released{false};

// The third computation asks to stop and then waits for the report. The computations left
// running touch nothing that a later test changes.
void stopping_driver(int digits, pi_result *result, pi_progress_callback, void *, pi_check *check) {
    if (stopping_calls++ == 2) {
        stress_stop->request_stop();
        stress_release->wait();
        stopper_released = true;
    }
    fake_verified(digits, 1, result, check);
}

// Were the report to wait for the computation that asked to stop, the test would never end.
TEST(Stress, AStopRequestEndsItAtOnceWithWhatFinished) {
    std::stop_source stop;
    std::latch release(1);
    stress_stop = &stop;
    stress_release = &release;
    stopping_calls = 0;
    stopper_released = false;
    stress_request request = fake_stress(600);
    request.stop = stop.get_token();
    request.driver = stopping_driver;
    const stress_report report = run_stress(request);
    release.count_down();
    while (!stopper_released) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(report.interrupted);
    EXPECT_FALSE(report.success());
    EXPECT_GE(report.abandoned, 1);
    EXPECT_GE(report.computations.size(), 1u) << "each thread's first computation came before";
    EXPECT_TRUE(contains(stress_summary(report), "Result: interrupted: "))
        << stress_summary(report);
}

parsed_options parse(std::vector<std::string> words) {
    std::vector<char *> argv{const_cast<char *>("tessary-cli")};
    for (std::string &word : words) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    return parse_options(static_cast<int>(argv.size()) - 1, argv.data(), 6);
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
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        const parsed_options parsed = parse(c.arguments);
        ASSERT_EQ(parsed.error, "");
        EXPECT_EQ(parsed.options.mode, c.mode);
        EXPECT_EQ(parsed.options.threads, c.threads);
        EXPECT_EQ(parsed.options.minutes, c.minutes);
    }
}

TEST(Options, AcceptsTheDocumentedLimitsAndRefusesOnePast) {
    EXPECT_EQ(parse({"--digits", "268435456"}).options.digits, 268435456);
    EXPECT_EQ(parse({"--threads", "1024"}).options.threads, 1024);
    EXPECT_EQ(parse({"--stress", "--minutes", "10080"}).options.minutes, 10080);
    EXPECT_EQ(parse({"--stress", "--digits", "20"}).options.digits, 20);
    EXPECT_EQ(parse({"--digits", "268435457"}).error,
              "--digits must be from 1 to 268,435,456, not 268435457");
    EXPECT_EQ(parse({"--threads", "1025"}).error, "--threads must be from 1 to 1,024, not 1025");
    EXPECT_EQ(parse({"--stress", "--minutes", "10080.1"}).error,
              "--minutes must be above 0 and at most 10,080 (a week), not 10080.1");
    // The smallest size the check verifies any digit of.
    EXPECT_EQ(pi_smallest_verified_digits(), 20);
    EXPECT_EQ(parse({"--stress", "--digits", "19"}).error,
              "--stress needs --digits of at least 20: the check verifies no digit of smaller "
              "computations");
}

TEST(Options, ReadsTheSizesOfTheLadderAndRefusesOthers) {
    const std::pair<const char *, int> sizes[] = {
        {"16K", 16384},    {"32k", 32768},      {"1M", 1048576},  {"8M", 8388608},
        {"32M", 33554432}, {"256M", 268435456}, {"0016K", 16384}, {"1000", 1000},
    };
    for (const auto &[text, digits] : sizes) {
        SCOPED_TRACE(text);
        const parsed_options parsed = parse({"--digits", text});
        EXPECT_EQ(parsed.error, "");
        EXPECT_EQ(parsed.options.digits, digits);
    }
    const std::string malformed = "--digits needs a whole number, or one with K (x 1,024) or M "
                                  "(x 1,048,576) such as 16K or 32M, not ";
    const std::pair<const char *, std::string> refused[] = {
        {"32X", malformed + "'32X'"},
        {"K", malformed + "'K'"},
        {"-1K", malformed + "'-1K'"},
        {"1KM", malformed + "'1KM'"},
        {"0K", "--digits must be from 1 to 268,435,456, not 0K"},
        {"257M", "--digits must be from 1 to 268,435,456, not 257M"},
        {"9007199254740993M", "--digits must be from 1 to 268,435,456, not 9007199254740993M"},
        {"99999999999999999999K", "--digits must be from 1 to 268,435,456, not "
                                  "99999999999999999999K"},
    };
    for (const auto &[text, error] : refused) {
        EXPECT_EQ(parse({"--digits", text}).error, error);
    }
}

TEST(Options, ResultsAndMemoryOptionsFitTogetherOrSayWhy) {
    EXPECT_EQ(parse({"--history"}).options.mode, cli_mode::history);
    EXPECT_TRUE(parse({"--history", "--json"}).options.json);
    const parsed_options deleting = parse({"--delete", "7"});
    EXPECT_EQ(deleting.options.mode, cli_mode::delete_result);
    EXPECT_EQ(deleting.options.delete_id, 7);
    EXPECT_TRUE(parse({"--digits", "5"}).options.save);
    EXPECT_FALSE(parse({"--digits", "5", "--no-save"}).options.save);
    const parsed_options memory = parse({"--stress", "--memory", "50"});
    EXPECT_EQ(memory.error, "");
    EXPECT_EQ(memory.options.memory_percent, 50);
    EXPECT_EQ(parse({"--stress", "--digits", "32M"}).options.digits, 33554432);

    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--history", "--digits", "5"}, "--history and --digits cannot be combined"},
        {{"--history", "--no-save"}, "--history and --no-save cannot be combined"},
        {{"--delete", "3", "--json"}, "--delete and --json cannot be combined"},
        {{"--delete", "x"},
         "--delete needs the id of a saved result, a whole number that --history lists, not 'x'"},
        {{"--delete", "0"},
         "--delete needs the id of a saved result, a whole number that --history lists, not '0'"},
        {{"--memory", "50"}, "--memory needs --stress"},
        {{"--stress", "--memory", "91"}, "--memory must be from 1 to 90, not 91"},
        {{"--stress", "--memory", "50", "--digits", "1M"},
         "--memory and --digits cannot be combined: --memory chooses the size"},
        {{"--stress", "--digits", "33554436"},
         "--stress needs --digits of at most 33,554,435: the reference checks only part of "
         "larger computations"},
    };
    for (const auto &[arguments, error] : refused) {
        EXPECT_EQ(parse(arguments).error, error);
    }
}

std::atomic<bool> first_interrupt_handled{false};

// The first Ctrl-C's handler never finishes, as one whose output is blocked would not.
TEST(Interrupt, ASecondCtrlCEndsTheProgramWhileTheFirstIsHandled) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        alarm(60); // rather than hang, the test fails
        watch_interrupts();
        const interrupt_handler stuck([] {
            first_interrupt_handled = true;
            hang();
        });
        kill(getpid(), SIGINT);
        while (!first_interrupt_handled) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        kill(getpid(), SIGINT);
        hang();
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), exit_interrupted);
}

// ---- The whole program in a forked child ----

enum class output_fault { none, first_write, close };

// Standard output through a stream whose first write or whose close fails, as a full disk or
// a network file system may.
struct faulty_output {
    int fd;
    output_fault fault;
    int writes = 0;
};

ssize_t faulty_write(void *cookie, const char *data, std::size_t size) {
    auto *output = static_cast<faulty_output *>(cookie);
    if (output->fault == output_fault::first_write && output->writes++ == 0) {
        errno = EIO;
        return 0;
    }
    return write(output->fd, data, size);
}

int faulty_close(void *cookie) {
    auto *output = static_cast<faulty_output *>(cookie);
    close(output->fd);
    if (output->fault == output_fault::close) {
        errno = EIO;
        return -1;
    }
    return 0;
}

struct child_run {
    std::vector<std::string> arguments;
    std::vector<fake_computation> script{{}};
    cli_engine engine = fake_engine();
    output_fault fault = output_fault::none;
    long long tick_nanoseconds = 0;
    long allocation_countdown = -1;
};

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

// run_tessary_cli in a forked child, whose exit status or _exit is the program's.
child_outcome run_in_child(const child_run &run) {
    const std::string out_path =
        testing::TempDir() + "tessary_modes_out." + std::to_string(getpid());
    const std::string err_path =
        testing::TempDir() + "tessary_modes_err." + std::to_string(getpid());
    std::vector<std::string> arguments = run.arguments;
    std::vector<char *> argv{const_cast<char *>("tessary-cli")};
    for (std::string &word : arguments) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 2);
        static faulty_output output{out, run.fault};
        if (run.fault == output_fault::none) {
            dup2(out, 1);
        } else {
            stdout = fopencookie(&output, "w", {nullptr, faulty_write, nullptr, faulty_close});
        }
        set_fake_script(run.script);
        fake_tick_nanoseconds = run.tick_nanoseconds;
        allocations_before_failure = run.allocation_countdown;
        const int status =
            run_tessary_cli(static_cast<int>(argv.size()) - 1, argv.data(), run.engine);
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

std::vector<std::string> lines_of(const std::string &text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Whether a line of the text (its first 200 characters, for the printed digits) matches.
bool has_line(const std::string &text, const std::string &pattern) {
    const std::regex line_pattern(pattern);
    for (const std::string &line : lines_of(text)) {
        if (std::regex_match(line.substr(0, 200), line_pattern)) {
            return true;
        }
    }
    return false;
}

enum class outcome_kind {
    success,
    wrong_digits,
    allocation_failure,
    nothing_finished,
    write_lost_early,
    write_lost_at_close,
    interrupted,
};

child_run run_of(std::vector<std::string> arguments, outcome_kind what, bool stress) {
    child_run run;
    run.arguments = std::move(arguments);
    switch (what) {
    case outcome_kind::success:
        break;
    case outcome_kind::wrong_digits:
        run.script = {{fake_kind::wrong}};
        break;
    case outcome_kind::allocation_failure:
        run.script = {{fake_kind::no_memory}};
        break;
    case outcome_kind::nothing_finished:
        // Stress: the time is up before the first computation; elsewhere Ctrl-C comes first.
        if (stress) {
            run.tick_nanoseconds = 61'000'000'000;
        } else {
            run.script = {{fake_kind::interrupt}, {fake_kind::hang}};
        }
        break;
    case outcome_kind::write_lost_early:
        run.fault = output_fault::first_write;
        break;
    case outcome_kind::write_lost_at_close:
        run.fault = output_fault::close;
        break;
    case outcome_kind::interrupted:
        // One Ctrl-C: the computations after it never end.
        run.script = {{}, {fake_kind::interrupt}, {fake_kind::hang}};
        break;
    }
    return run;
}

// Every mode ends every way it can with an exit status, a summary line and (with --json) a
// report's `success` that agree.
TEST(App, ExitStatusSummaryAndJsonAgreeForEveryModeAndOutcome) {
    struct mode {
        std::vector<std::string> arguments;
        bool json;
        bool stress;
    };
    const mode benchmark{{}, false, false};
    const mode benchmark_json{{"--json"}, true, false};
    const mode digits{{"--digits", "20000"}, false, false};
    const mode threads_json{{"--digits", "20000", "--threads", "2", "--json"}, true, false};
    const mode stress{
        {"--stress", "--minutes", "1", "--digits", "20000", "--threads", "2"}, false, true};
    const mode print{{"--digits", "20000", "--print"}, false, false};
    const std::string write_error = "tessary-cli: write error: Input/output error";
    const std::string wrong =
        "Computed digits of pi are wrong from digit 17: the machine made an arithmetic error";
    // The summary: a line of the output (text) or the report's error_message (--json).
    struct expected {
        const mode &how;
        outcome_kind what;
        int status;
        std::string summary;
    };
    using enum outcome_kind;
    const expected cases[] = {
        {benchmark, success, 0, "Score: +[0-9,]+"},
        {benchmark, wrong_digits, 1,
         "tessary-cli: Benchmark run 1 computed wrong digits of pi from digit 17: the machine "
         "made an arithmetic error"},
        {benchmark, allocation_failure, 1, "tessary-cli: All 5 benchmark runs failed"},
        {benchmark, nothing_finished, 130, "Interrupted after 0 of 5 runs"},
        {benchmark, write_lost_early, 1, write_error},
        {benchmark, write_lost_at_close, 1, write_error},
        {benchmark, interrupted, 130, "Interrupted after 1 of 5 runs"},

        {benchmark_json, success, 0, ""},
        {benchmark_json, wrong_digits, 1,
         "Benchmark run 1 computed wrong digits of pi from digit 17: the machine made an "
         "arithmetic error"},
        {benchmark_json, allocation_failure, 1, "All 5 benchmark runs failed"},
        {benchmark_json, nothing_finished, 130, "Interrupted after 0 of 5 runs"},
        {benchmark_json, write_lost_early, 1, write_error},
        {benchmark_json, write_lost_at_close, 1, write_error},
        {benchmark_json, interrupted, 130, "Interrupted after 1 of 5 runs"},

        {digits, success, 0, "Verified: +19,984 digits"},
        {digits, wrong_digits, 1, "tessary-cli: " + wrong},
        {digits, allocation_failure, 1, "tessary-cli: Memory allocation failed"},
        {digits, nothing_finished, 130, "Interrupted before the computation finished"},
        {digits, write_lost_early, 1, write_error},
        {digits, write_lost_at_close, 1, write_error},

        {threads_json, success, 0, ""},
        {threads_json, wrong_digits, 1, wrong},
        {threads_json, allocation_failure, 1, "Memory allocation failed"},
        {threads_json, nothing_finished, 130, "Interrupted before the computation finished"},
        {threads_json, write_lost_early, 1, write_error},
        {threads_json, write_lost_at_close, 1, write_error},
        {threads_json, interrupted, 130, "Interrupted after 0 of 2 multi-core computations"},

        {stress, success, 0, "Result: PASSED: [0-9]+ computations verified"},
        {stress, wrong_digits, 1, "Result: FAILED at computation 1 on thread [12]: " + wrong},
        {stress, allocation_failure, 1,
         "Result: FAILED at computation 1 on thread [12]: Memory allocation failed"},
        {stress, nothing_finished, 1, "Result: FAILED: no computation finished in the time given"},
        {stress, write_lost_early, 1, write_error},
        {stress, write_lost_at_close, 1, write_error},
        {stress, interrupted, 130,
         "Result: interrupted: [01] computations? verified, [12] running abandoned; not a pass"},

        {print, success, 0, "3\\.14159265358979[0-9]+"},
        {print, wrong_digits, 1, "tessary-cli: " + wrong},
        {print, allocation_failure, 1, "tessary-cli: Memory allocation failed"},
        {print, nothing_finished, 130, ""},
        {print, write_lost_early, 1, write_error},
        {print, write_lost_at_close, 1, write_error},
    };
    for (const expected &c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.how.arguments) + " outcome " +
                     std::to_string(static_cast<int>(c.what)));
        const child_outcome o = run_in_child(run_of(c.how.arguments, c.what, c.how.stress));
        EXPECT_EQ(o.status, c.status) << o.out << o.err;
        const bool write_fault = c.what == write_lost_early || c.what == write_lost_at_close;
        if (write_fault) {
            EXPECT_EQ(o.err, c.summary + "\n");
            continue;
        }
        if (c.how.json) {
            const json report = json::parse(o.out);
            EXPECT_EQ(report["success"], c.status == 0 ? 1 : 0) << o.out;
            EXPECT_TRUE(
                std::regex_match(report["error_message"].get<std::string>(), std::regex(c.summary)))
                << report["error_message"];
            // A failure is said once more on standard error, in the same words.
            EXPECT_EQ(o.err,
                      c.status == 1
                          ? "tessary-cli: " + report["error_message"].get<std::string>() + "\n"
                          : "");
        } else if (c.summary.empty()) {
            EXPECT_EQ(o.out + o.err, "");
        } else {
            EXPECT_TRUE(has_line(o.out + o.err, c.summary)) << o.out << o.err;
            // Failures are one line on standard error; other outcomes none.
            EXPECT_EQ(std::count(o.err.begin(), o.err.end(), '\n'),
                      c.status == 1 && !c.how.stress ? 1 : 0)
                << o.err;
        }
    }
}

// A wall clock that moves one second with each computation of the real engine.
void engine_then_one_second(int digits, pi_result *result, pi_progress_callback callback,
                            void *user_data, pi_check *check) {
    pi_calculate_checked(digits, result, callback, user_data, check);
    advance_fake_clock(1);
}

// Every C++ allocation of every mode, made to fail in turn, ends in the allocation failure
// (a JSON report saying so with --json) or is done without, never in a crash.
TEST(App, EveryAllocationFailureEndsWithTheMessage) {
    // The save's own allocation failures are the results tests': the store grows with every
    // child, and so would the count of allocations.
    const std::vector<std::vector<std::string>> modes = {
        {"--no-save", "--digits", "1000", "--json"},
        {"--no-save", "--digits", "1000", "--threads", "2"},
        {"--digits", "1000", "--print"},
        {"--no-save", "--stress", "--minutes", "0.05", "--digits", "1000", "--threads", "2"},
    };
    for (const auto &arguments : modes) {
        SCOPED_TRACE(arguments[1] + " " + arguments.back());
        const bool json_report = arguments.back() == "--json";
        long countdown = 0;
        for (;; ++countdown) {
            SCOPED_TRACE(countdown);
            child_run run;
            run.arguments = arguments;
            run.engine = {engine_then_one_second, pi_calculate_checked_value, fake_now};
            run.allocation_countdown = countdown;
            const child_outcome o = run_in_child(run);
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
