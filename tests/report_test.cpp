// The report record, its builders and its text and JSON writers. The records are made so that
// every two figures differ (processor and wall clock, thread and run, score and time), so that
// a field filled from its neighbour shows.

#include "python_json.h"
#include "report/json_read.h"
#include "report/json_report.h"
#include "report/number_style.h"
#include "report/report_record.h"
#include "report/text_report.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstring>
#include <regex>

namespace {

using json = nlohmann::json;

pi_result succeeded(int digits, double seconds, double score) {
    pi_result result{1, digits, seconds, score, ""};
    return result;
}

computation_record computation(int thread, int run, bool multi_core, double processor_seconds,
                               double wall_seconds, double score, double wall_score, int verified) {
    computation_record record;
    record.thread = thread;
    record.run = run;
    record.multi_core = multi_core;
    record.finish_order = run;
    record.result = succeeded(8192, processor_seconds, score);
    record.check = pi_check{verified, 0, 0, 0};
    record.wall_seconds = wall_seconds;
    record.wall_score = wall_score;
    return record;
}

// A benchmark on two threads whose figures are all different from one another.
report_record distinct_figures() {
    report_record record;
    record.versions = {"tessary-cli", "9.8.7", "engine 6.5", "avx2", "TESSARY_SIMD=x: unknown"};
    std::strcpy(record.machine.cpu_model, "Test CPU 4000");
    record.machine.physical_cores = 3;
    record.machine.logical_cores = 5;
    record.machine.cpu_mhz = 3001;
    record.machine.memory_mb = 24105;
    std::strcpy(record.machine.os_name, "Debian");
    std::strcpy(record.machine.kernel_release, "6.1.7");
    std::strcpy(record.machine.architecture, "x86_64");
    record.machine.valid = 1;
    record.request = {8000, 5, 2};
    record.single.result = succeeded(8192, 2.617, 331);
    record.single.wall_score = 379;
    record.single.wall_seconds = 3.719;
    record.single.runs = {computation(1, 1, false, 1.101, 1.203, 301, 307, 8001),
                          computation(1, 2, false, 1.409, 1.511, 311, 313, 8002)};
    record.summary = {8192, 8003, true, 331, 2.617, 3.719, {1.101, 1.255, 1.409, 0.1234567}};
    multi_core_part multi;
    multi.per_thread.resize(2);
    multi.per_thread[0].thread = 1;
    multi.per_thread[0].result = succeeded(8192, 4.007, 337);
    multi.per_thread[0].wall_score = 341;
    multi.per_thread[0].runs = {computation(1, 1, true, 2.003, 2.105, 347, 349, 8004)};
    multi.per_thread[1].thread = 2;
    multi.per_thread[1].result = succeeded(8192, 4.409, 353);
    multi.per_thread[1].wall_score = 359;
    multi.per_thread[1].runs = {computation(2, 1, true, 2.207, 2.309, 367, 373, 8005)};
    multi.wall_seconds = 2.411;
    multi.score = 383;
    multi.reference_wall_score = 379;
    multi.scaling_efficiency = 0.5053087;
    record.multi_core = multi;
    record.success = true;
    return record;
}

TEST(NumberStyle, GroupsCountsAndNeverShowsATimeAsZero) {
    EXPECT_EQ(grouped(0), "0");
    EXPECT_EQ(grouped(999), "999");
    EXPECT_EQ(grouped(1000), "1,000");
    EXPECT_EQ(grouped(8388592), "8,388,592");
    EXPECT_EQ(grouped(-1), "-1");
    EXPECT_EQ(grouped(-123456), "-123,456");
    EXPECT_EQ(counted(1, "run", "runs"), "1 run");
    EXPECT_EQ(counted(0, "run", "runs"), "0 runs");
    EXPECT_EQ(counted(1024, "thread", "threads"), "1,024 threads");
    EXPECT_EQ(seconds_text(0), "< 0.001 sec");
    EXPECT_EQ(seconds_text(0.000499), "< 0.001 sec");
    EXPECT_EQ(seconds_text(0.0006), "0.001 sec");
    EXPECT_EQ(seconds_text(24.6774), "24.677 sec");
    EXPECT_EQ(percent_text(0.8), "80.0 %");
    // The JSON's numbers: a time to the microsecond, no binary noise left.
    EXPECT_EQ(json(six_places(0.043518999999999995)).dump(), "0.043519");
    EXPECT_EQ(json(six_places(1.0 / 3)).dump(), "0.333333");
    EXPECT_EQ(json(six_places(2.5)).dump(), "2.5");
}

TEST(TextReport, EveryFigureComesFromItsOwnField) {
    const report_record record = distinct_figures();
    EXPECT_EQ(text_report_head(record), "CPU:              Test CPU 4000\n"
                                        "Cores:            3 cores (5 logical)\n"
                                        "Frequency:        3,001 MHz\n"
                                        "Memory:           24,105 MB\n"
                                        "OS:               Debian 6.1.7\n"
                                        "Architecture:     x86_64\n"
                                        "Kernels:          avx2\n"
                                        "\n");
    EXPECT_EQ(text_computation_line(record.single.runs[1]),
              "Run 2: 1.409 sec processor, 1.511 sec wall, score 311, 8,002 verified\n");
    // The threads' lines are on the wall clock alone.
    EXPECT_EQ(text_computation_line(record.multi_core->per_thread[1].runs[0]),
              "Thread 2, run 1: 2.309 sec wall, score 373, 8,005 verified\n");
    EXPECT_EQ(text_summary(record),
              "Score:            331\n"
              "Processor time:   2.617 sec\n"
              "Wall time:        3.719 sec\n"
              "Spread:           1.101 / 1.255 / 1.409 sec min / median / max (12.3 %)\n"
              "Multi-core score: 383 (2 threads)\n"
              "Multi-core wall:  2.411 sec\n"
              "Scaling:          50.5 % of 2 x 379\n"
              "Clocks:           Score on processor time; multi-core and 379 on the wall clock\n"
              "Note:             scaling below 80.0 %: other work may have used the "
              "processors\n");

    report_record one = record;
    one.request = {8000, 1, 1};
    one.multi_core.reset();
    EXPECT_EQ(text_report_head(one), "") << "one computation tells no machine";
    EXPECT_EQ(text_summary(one), "Digits:           8,192\n"
                                 "Verified:         8,003 digits\n"
                                 "Score:            331\n"
                                 "Processor time:   2.617 sec\n"
                                 "Wall time:        3.719 sec\n");
}

TEST(TextReport, SaysWhatItCannotShow) {
    report_record record = distinct_figures();
    record.multi_core->scaling_efficiency = 0.8;
    EXPECT_EQ(text_summary(record).find("Note:"), std::string::npos) << "no hint at 80 %";

    // A computation too small to verify, in the singular, faster than the clock can tell.
    report_record tiny = distinct_figures();
    tiny.request = {10, 1, 1};
    tiny.multi_core.reset();
    tiny.summary = {16, 0, false, 5, 0.0001, 0, {}};
    EXPECT_EQ(text_summary(tiny), "Digits:           16\n"
                                  "Verified:         none: too few digits to verify\n"
                                  "Score:            5\n"
                                  "Processor time:   < 0.001 sec\n"
                                  "Wall time:        < 0.001 sec\n");
    computation_record one_digit = record.single.runs[0];
    one_digit.check.verified_digits = 1;
    EXPECT_TRUE(text_computation_line(one_digit).ends_with(", 1 verified\n"));
    one_digit.check.verified_digits = 0;
    EXPECT_TRUE(text_computation_line(one_digit).ends_with(", too few digits to verify\n"));

    // A failed run says what went wrong once, in the engine's words.
    computation_record failed = record.single.runs[0];
    failed.result = pi_result{};
    std::strcpy(failed.result.error_message, "Computed digits of pi are wrong from digit 1,234: "
                                             "the machine made an arithmetic error");
    EXPECT_EQ(text_computation_line(failed),
              "Run 1: FAILED: Computed digits of pi are wrong from digit 1,234: the machine made "
              "an arithmetic error\n");
    record.single.result = pi_result{};
    EXPECT_EQ(text_summary(record), "") << "the front end says why, once";

    // An interrupted benchmark: what finished, no score.
    report_record interrupted = distinct_figures();
    interrupted.interrupted = interruption::single_core;
    interrupted.single.runs.resize(1);
    interrupted.multi_core->per_thread.clear();
    summarise(interrupted);
    EXPECT_EQ(text_summary(interrupted), "Interrupted after 1 of 5 runs\n");
    EXPECT_EQ(text_report(interrupted), text_report_head(interrupted) +
                                            text_computation_line(interrupted.single.runs[0]) +
                                            "Interrupted after 1 of 5 runs\n");
}

TEST(TextReport, TheWholeReportHasTheLinesInTheOrderTheyFinished) {
    report_record record = distinct_figures();
    record.multi_core->per_thread[0].runs[0].finish_order = 2;
    record.multi_core->per_thread[1].runs[0].finish_order = 1;
    std::string expected = text_report_head(record);
    for (const computation_record &run : record.single.runs) {
        expected += text_computation_line(run);
    }
    expected += text_computation_line(record.multi_core->per_thread[1].runs[0]);
    expected += text_computation_line(record.multi_core->per_thread[0].runs[0]);
    EXPECT_EQ(text_report(record), expected + text_summary(record));
}

void expect_run(const json &out, const computation_record &run) {
    EXPECT_EQ(out["thread"], run.thread);
    EXPECT_EQ(out["run"], run.run);
    EXPECT_EQ(out["success"], run.result.success);
    EXPECT_EQ(out["digits"], run.result.digits);
    EXPECT_EQ(out["verified_digits"], run.check.verified_digits);
    EXPECT_EQ(out["unchecked_digits"], run.check.unchecked_digits);
    EXPECT_EQ(out["first_wrong_digit"], run.check.first_wrong_digit);
    EXPECT_EQ(out["time_seconds"], run.result.time_seconds);
    EXPECT_EQ(out["score"], run.result.score);
    EXPECT_EQ(out["wall_seconds"], run.wall_seconds);
    EXPECT_EQ(out["wall_score"], run.wall_score);
    EXPECT_EQ(out["error_message"], run.result.error_message);
}

TEST(JsonReport, EveryFieldComesFromItsOwnSource) {
    report_record record = distinct_figures();
    record.summary.unchecked_digits = 9;
    record.single.runs[0].check.unchecked_digits = 11;
    record.multi_core->per_thread[1].runs[0].check.unchecked_digits = 13;
    const std::string document = json_report(record);
    ASSERT_TRUE(python_accepts_json(document)) << document;
    const json out = json::parse(document);
    EXPECT_EQ(out["schema"], 1);
    EXPECT_EQ(out["program"], "tessary-cli");
    EXPECT_EQ(out["version"], "9.8.7");
    EXPECT_EQ(out["engine_version"], "engine 6.5");
    EXPECT_EQ(out["simd_path"], "avx2");
    EXPECT_EQ(out["simd_note"], "TESSARY_SIMD=x: unknown");
    EXPECT_EQ(out["success"], 1);
    EXPECT_EQ(out["error_message"], "");
    EXPECT_EQ(out["machine"], json::parse(R"({
        "cpu_model": "Test CPU 4000", "physical_cores": 3, "logical_cores": 5, "cpu_mhz": 3001,
        "memory_mb": 24105, "os_name": "Debian", "kernel_release": "6.1.7",
        "architecture": "x86_64", "valid": 1, "error_message": ""})"));
    EXPECT_EQ(out["request"], json::parse(R"({"digits": 8000, "runs": 5, "threads": 2})"));
    EXPECT_EQ(out["summary"], json::parse(R"({
        "digits": 8192, "verified_digits": 8003, "unchecked_digits": 9, "verifiable": 1, "score": 331,
        "time_seconds": 2.617, "wall_seconds": 3.719, "multi_core_score": 383,
        "scaling_efficiency": 0.505309,
        "spread": {"min_seconds": 1.101, "median_seconds": 1.255, "max_seconds": 1.409,
                   "relative": 0.123457}})"));
    ASSERT_EQ(out["runs"].size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        expect_run(out["runs"][i], record.single.runs[i]);
    }

    json multi = out["multi_core"];
    const json per_thread = multi["per_thread"];
    multi.erase("per_thread");
    EXPECT_EQ(multi, json::parse(R"({
        "threads": 2, "success": 1, "score": 383, "reference_wall_score": 379,
        "scaling_efficiency": 0.505309, "wall_seconds": 2.411, "error_message": ""})"));
    ASSERT_EQ(per_thread.size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        const json &thread = per_thread[i];
        const thread_outcome &outcome = record.multi_core->per_thread[i];
        EXPECT_EQ(thread["thread"], outcome.thread);
        EXPECT_EQ(thread["success"], 1);
        EXPECT_EQ(thread["wall_score"], outcome.wall_score);
        EXPECT_EQ(thread["error_message"], "");
        ASSERT_EQ(thread["runs"].size(), 1u);
        expect_run(thread["runs"][0], outcome.runs[0]);
    }

    report_record single = record;
    single.multi_core.reset();
    single.versions.kernels_note.clear();
    const json alone = json::parse(json_report(single));
    EXPECT_TRUE(alone["multi_core"].is_null());
    EXPECT_TRUE(alone["summary"]["multi_core_score"].is_null());
    EXPECT_TRUE(alone["simd_note"].is_null());
}

run_conditions busy_conditions() {
    run_conditions conditions{};
    conditions.load_average = 1.93;
    conditions.runnable = 3;
    conditions.processors = 2;
    std::strcpy(conditions.governor, "powersave");
    std::strcpy(conditions.huge_pages, "always");
    return conditions;
}

// Past the reference's reach the report says how far the digits were verified and how many
// were not checked, in the text as in the JSON.
TEST(Report, AComputationPastTheReferenceSaysWhatWasNotChecked) {
    report_record record;
    record.request = {67108864, 1, 1};
    computation_record run = computation(1, 1, false, 90, 95, 400, 380, 33555456);
    run.result.digits = 67108864;
    run.check.unchecked_digits = 33553392;
    record.single = computation_outcome(run);
    summarise(record);
    EXPECT_EQ(record.summary.unchecked_digits, 33553392);
    EXPECT_NE(text_summary(record).find("Verified:         to digit 33,555,456; the remaining "
                                        "33,553,392 digits are not checked\n"),
              std::string::npos)
        << text_summary(record);
    run.multi_core = true;
    EXPECT_TRUE(
        text_computation_line(run).ends_with(", 33,555,456 verified, 33,553,392 not checked\n"))
        << text_computation_line(run);
    const json out = json::parse(json_report(record));
    EXPECT_EQ(out["summary"]["verified_digits"], 33555456);
    EXPECT_EQ(out["summary"]["unchecked_digits"], 33553392);
    EXPECT_EQ(out["runs"][0]["unchecked_digits"], 33553392);

    // Within the reach nothing is said of unchecked digits.
    record.single.runs[0].check.unchecked_digits = 0;
    summarise(record);
    EXPECT_NE(text_summary(record).find("Verified:         33,555,456 digits\n"),
              std::string::npos);
}

TEST(TextReport, TellsTheConditionsTheDateAndTheComparison) {
    report_record record = distinct_figures();
    const std::string plain = text_summary(record);
    record.conditions = busy_conditions();
    record.started_at = "2026-12-09T20:55:12Z";
    record.comparison = "Score 331: 2.4 % above your median of 12 results (best 340)";
    EXPECT_EQ(text_summary(record),
              plain.substr(0, plain.size() - 1) + " (load 1.93 at the start)\n" +
                  "Load:             1.93 on 2 processors, 3 other processes runnable\n"
                  "Huge pages:       always\n"
                  "Governor:         powersave\n"
                  "The machine was busy: load 1.93 on 2 processors; scores may be low\n"
                  "Started:          2026-12-09T20:55:12Z\n"
                  "Compared:         Score 331: 2.4 % above your median of 12 results (best "
                  "340)\n");

    // A quiet machine gets no warning; what the probe could not tell is left out.
    run_conditions quiet{};
    quiet.load_average = 0.04;
    quiet.runnable = 1;
    quiet.processors = 1;
    record.conditions = quiet;
    record.started_at.clear();
    record.comparison.clear();
    EXPECT_TRUE(text_summary(record).ends_with(
        "Load:             0.04 on 1 processor, 1 other process runnable\n"));
    // Busy by the probe's rule, not the report's own.
    quiet.load_average = 0.6;
    record.conditions = quiet;
    EXPECT_NE(text_summary(record).find("The machine was busy: load 0.60 on 1 processor;"),
              std::string::npos);
    quiet.load_average = -1;
    record.conditions = quiet;
    EXPECT_EQ(text_summary(record).find("(load"), std::string::npos);
    EXPECT_EQ(text_summary(record).find("Load:"), std::string::npos);
}

TEST(JsonReport, TellsTheConditionsTheDateTheComparisonAndTheSave) {
    report_record record = distinct_figures();
    json out = json::parse(json_report(record));
    for (const char *unknown :
         {"started_at", "conditions", "comparison", "saved", "result_id", "save_message"}) {
        SCOPED_TRACE(unknown);
        ASSERT_TRUE(out.contains(unknown));
        EXPECT_TRUE(out[unknown].is_null());
    }

    record.conditions = busy_conditions();
    record.started_at = "2026-12-09T20:55:12Z";
    record.comparison = "Score 331: at your median of 2 results (best 333)";
    record.saved = save_outcome{true, 42, "moved aside"};
    out = json::parse(json_report(record));
    EXPECT_EQ(out["conditions"], json::parse(R"({"load_average": 1.93, "runnable": 3,
        "processors": 2, "governor": "powersave", "transparent_huge_pages": "always",
        "busy": 1})"));
    EXPECT_EQ(out["started_at"], "2026-12-09T20:55:12Z");
    EXPECT_EQ(out["comparison"], record.comparison);
    EXPECT_EQ(out["saved"], 1);
    EXPECT_EQ(out["result_id"], 42);
    EXPECT_EQ(out["save_message"], "moved aside");

    record.conditions = run_conditions{-1, -1, 4, "", ""};
    record.saved = save_outcome{false, 7, "result not saved: database or disk is full"};
    out = json::parse(json_report(record));
    EXPECT_EQ(out["conditions"], json::parse(R"({"load_average": null, "runnable": null,
        "processors": 4, "governor": null, "transparent_huge_pages": null, "busy": 0})"));
    EXPECT_EQ(out["saved"], 0);
    EXPECT_TRUE(out["result_id"].is_null());
    EXPECT_EQ(out["save_message"], record.saved->message);
}

TEST(ReportRecord, TimestampsAreUtcInIso8601) {
    EXPECT_EQ(utc_timestamp(std::chrono::system_clock::from_time_t(1796849712)),
              "2026-12-09T20:55:12Z");
    EXPECT_EQ(utc_timestamp(std::chrono::system_clock::from_time_t(0)), "1970-01-01T00:00:00Z");
}

// Times to the microsecond and fractions to six places, whatever the clocks gave.
TEST(JsonReport, NumbersForScriptsHaveAtMostSixPlaces) {
    report_record record = distinct_figures();
    record.single.runs[0].wall_seconds = 0.043518999999999995;
    record.single.runs[1].result.time_seconds = 1.0 / 7;
    record.summary.spread.relative = 2.0 / 3;
    record.multi_core->scaling_efficiency = 0.1 + 0.2;
    const std::string document = json_report(record);
    const std::regex long_fraction("[0-9]\\.[0-9]{7,}");
    EXPECT_FALSE(std::regex_search(document, long_fraction)) << document;
    const json out = json::parse(document);
    EXPECT_EQ(out["runs"][0]["wall_seconds"], 0.043519);
    EXPECT_EQ(out["runs"][1]["time_seconds"], 0.142857);
    EXPECT_EQ(out["summary"]["spread"]["relative"], 0.666667);
    EXPECT_EQ(out["multi_core"]["scaling_efficiency"], 0.3);
    EXPECT_TRUE(python_accepts_json(allocation_failure_json()));
}

// A benchmark whose runs verify, fail for memory and verify, as the engine gives it.
engine_benchmark three_runs() {
    engine_benchmark benchmark;
    benchmark.runs_done = 3;
    benchmark.runs[0] = succeeded(8388608, 10, 251);
    benchmark.runs[1] = pi_result{};
    std::strcpy(benchmark.runs[1].error_message, "Memory allocation failed");
    benchmark.runs[2] = succeeded(8388608, 14, 180);
    benchmark.checks[0] = pi_check{8388592, 0, 0, 0};
    benchmark.checks[2] = pi_check{8388590, 0, 0, 0};
    benchmark.run_wall_seconds[0] = 11;
    benchmark.run_wall_seconds[1] = 0.5;
    benchmark.run_wall_seconds[2] = 17;
    benchmark.result = succeeded(8388608, 24, 216);
    benchmark.wall_seconds = 29;
    return benchmark;
}

TEST(ReportRecord, TheWindowsBenchmarkRecordTakesEachFigureFromTheEngine) {
    const report_record record =
        single_core_benchmark_record(three_runs(), system_info{}, running_versions("tessary"));
    EXPECT_EQ(record.versions.program, "tessary");
    EXPECT_EQ(record.versions.engine, pi_get_version());
    EXPECT_EQ(record.versions.kernels, pi_simd_path());
    EXPECT_EQ(record.request.digits, 8388608);
    EXPECT_EQ(record.request.runs, 5);
    EXPECT_FALSE(record.multi_core);
    ASSERT_TRUE(record.success);
    ASSERT_EQ(record.single.runs.size(), 3u);
    const computation_record &third = record.single.runs[2];
    EXPECT_EQ(third.run, 3);
    EXPECT_EQ(third.result.time_seconds, 14);
    EXPECT_EQ(third.result.score, 180);
    EXPECT_EQ(third.wall_seconds, 17);
    EXPECT_EQ(third.wall_score, pi_score(8388608, 17));
    EXPECT_EQ(third.check.verified_digits, 8388590);
    EXPECT_EQ(record.single.runs[1].wall_score, 0) << "a failed run has no score";
    EXPECT_EQ(record.single.wall_score,
              std::round((pi_score(8388608, 11) + pi_score(8388608, 17)) / 2));
    const report_summary &summary = record.summary;
    EXPECT_EQ(summary.digits, 8388608);
    EXPECT_EQ(summary.score, 216);
    EXPECT_EQ(summary.time_seconds, 24);
    EXPECT_EQ(summary.wall_seconds, 29);
    EXPECT_EQ(summary.verified_digits, 8388590);
    EXPECT_TRUE(summary.verifiable);
    EXPECT_EQ(summary.spread.min_seconds, 10);
    EXPECT_EQ(summary.spread.median_seconds, 12);
    EXPECT_EQ(summary.spread.max_seconds, 14);
    EXPECT_DOUBLE_EQ(summary.spread.relative, 4.0 / 12);
}

TEST(ReportRecord, MultiCoreFiguresAndWhyTheyAreMissing) {
    report_record record = distinct_figures();
    summarise(record);
    ASSERT_TRUE(record.success) << record.error_message;
    EXPECT_EQ(record.multi_core->score, 341 + 359);
    EXPECT_EQ(record.multi_core->reference_wall_score, 379);
    EXPECT_DOUBLE_EQ(record.multi_core->scaling_efficiency, 700.0 / (2 * 379));

    record.multi_core->per_thread[1].result = pi_result{};
    std::strcpy(record.multi_core->per_thread[1].result.error_message, "Memory allocation failed");
    summarise(record);
    EXPECT_FALSE(record.success);
    EXPECT_EQ(record.error_message, "Multi-core: Thread 2 of 2: Memory allocation failed");
    EXPECT_EQ(record.multi_core->score, 0);

    report_record interrupted = distinct_figures();
    interrupted.interrupted = interruption::multi_core;
    interrupted.multi_core->per_thread[1].runs.clear();
    summarise(interrupted);
    EXPECT_FALSE(interrupted.success);
    EXPECT_EQ(interrupted.error_message, "Interrupted after 1 of 10 multi-core runs");
    EXPECT_EQ(interrupted.summary.score, 331) << "the single-core part had finished";
    EXPECT_EQ(interrupted.multi_core->score, 0);

    report_record alone_failed = distinct_figures();
    alone_failed.single.result = pi_result{};
    std::strcpy(alone_failed.single.result.error_message, "All 5 benchmark runs failed");
    summarise(alone_failed);
    EXPECT_EQ(alone_failed.error_message, "All 5 benchmark runs failed");
    EXPECT_EQ(alone_failed.multi_core->error_message, "Not measured: the single-core part failed");
    // A failure is one, with or without the engine's words for it.
    alone_failed.single.result.error_message[0] = '\0';
    summarise(alone_failed);
    EXPECT_FALSE(alone_failed.success);
    EXPECT_EQ(alone_failed.error_message, "The computation failed");
}

TEST(ReportRecord, AnInterruptedBenchmarkSumsWhatFinished) {
    report_record record =
        single_core_benchmark_record(three_runs(), system_info{}, running_versions("tessary"));
    record.interrupted = interruption::single_core;
    summarise(record);
    EXPECT_FALSE(record.success);
    EXPECT_EQ(record.error_message, "Interrupted after 3 of 5 runs");
    EXPECT_EQ(record.summary.score, 0);
    EXPECT_EQ(record.summary.time_seconds, 24);
    EXPECT_EQ(record.summary.digits, 8388608);
    const json out = json::parse(json_report(record));
    EXPECT_EQ(out["success"], 0);
    EXPECT_EQ(out["error_message"], "Interrupted after 3 of 5 runs");
    EXPECT_EQ(out["runs"].size(), 3u);

    record.request = {1000, 1, 1};
    record.single.runs.clear();
    summarise(record);
    EXPECT_EQ(record.error_message, "Interrupted before the computation finished");
}

// ---- Timed runs, on a clock that moves with the fake computations ----

std::chrono::nanoseconds fake_time{0};
wall_clock::time_point fake_now() {
    return wall_clock::time_point(fake_time);
}

// Run i (1-based) takes i seconds on the wall clock and i / 2 on the processor.
int runs_so_far = 0;
void timed_driver(int digits, pi_result *result, pi_progress_callback, void *, pi_check *check) {
    ++runs_so_far;
    fake_time += std::chrono::seconds(runs_so_far);
    *result = succeeded(digits, runs_so_far / 2.0, 100 + runs_so_far);
    *check = pi_check{digits - 16 - runs_so_far, 0, 0, 0};
}

TEST(ReportRecord, TimedBenchmarksTimeEachRunOnTheirClock) {
    runs_so_far = 0;
    std::vector<int> observed;
    engine_benchmark benchmark;
    run_timed_benchmark(benchmark, nullptr, nullptr, timed_driver, fake_now,
                        [&](const engine_benchmark &so_far, int index) {
                            EXPECT_EQ(so_far.runs_done, index + 1);
                            observed.push_back(so_far.checks[index].verified_digits);
                        });
    EXPECT_EQ(observed, (std::vector<int>{8388591, 8388590, 8388589, 8388588, 8388587}));
    EXPECT_EQ(benchmark.runs_done, 5);
    EXPECT_EQ(benchmark.wall_seconds, 15);
    EXPECT_EQ(benchmark.result.time_seconds, 7.5);
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(benchmark.run_wall_seconds[i], i + 1);
        EXPECT_EQ(benchmark.runs[i].time_seconds, (i + 1) / 2.0);
    }

    // An observer that throws stops the benchmark's remaining runs, then the error goes on.
    runs_so_far = 0;
    EXPECT_THROW(run_timed_benchmark(benchmark, nullptr, nullptr, timed_driver, fake_now,
                                     [](const engine_benchmark &, int index) {
                                         if (index == 1) {
                                             throw std::bad_alloc();
                                         }
                                     }),
                 std::bad_alloc);
    EXPECT_EQ(runs_so_far, 2);

    runs_so_far = 0;
    const computation_record one =
        timed_computation(1000, timed_driver, nullptr, nullptr, fake_now);
    EXPECT_EQ(one.wall_seconds, 1);
    EXPECT_EQ(one.wall_score, pi_score(1000, 1));
    EXPECT_EQ(computation_outcome(one).wall_score, one.wall_score);
}

// The wall-clock scores use the engine's formula.
TEST(PiScore, AgreesWithTheEngineOnItsOwnComputations) {
    for (const int digits : {1000, 30000, 200000}) {
        SCOPED_TRACE(digits);
        pi_result result{};
        pi_calculate(digits, &result);
        ASSERT_EQ(result.success, 1);
        EXPECT_EQ(pi_score(result.digits, result.time_seconds), result.score);
    }
    EXPECT_EQ(pi_score(8388608, 0), 0);
    EXPECT_EQ(pi_score(0, 1), 0);
}

// ---- A JSON report read back ----

report_record read_back(const std::string &report) {
    std::string why;
    const std::optional<report_record> read = report_from_json(report, why);
    EXPECT_TRUE(read.has_value()) << why;
    return read.value_or(report_record{});
}

// Every figure of these records differs from every other, so a field read into its neighbour
// changes the report written again; the text report reads back as well.
TEST(JsonRead, GivesTheRecordThatWritesTheSameReport) {
    report_record full = distinct_figures();
    full.conditions = busy_conditions();
    full.started_at = "2026-12-09T20:55:12Z";
    full.comparison = "Score 331: 2.4 % above your median of 12 results (best 340)";
    full.saved = save_outcome{true, 42, "moved aside"};

    report_record single = distinct_figures();
    single.multi_core.reset();
    single.request.threads = 1;
    single.conditions = run_conditions{-1, -1, 4, "", ""};
    single.saved = save_outcome{false, 0, "result not saved: database or disk is full"};

    report_record failed = single;
    failed.success = false;
    failed.single.result = pi_result{0, 8192, 1.3, 0, "Benchmark run 2 failed"};
    failed.single.runs[1].result = failed.single.result;
    failed.single.runs[1].check.first_wrong_digit = 77;
    failed.error_message = "Benchmark run 2 failed";
    failed.summary = {0, 8001, true, 0, 1.3, 2.9, {1.101, 1.101, 1.101, 0}};

    report_record multi_failed = distinct_figures();
    multi_failed.success = false;
    multi_failed.multi_core->error_message = "Thread 2 of 2: Memory allocation failed";
    multi_failed.error_message = "Multi-core: Thread 2 of 2: Memory allocation failed";
    multi_failed.multi_core->per_thread[1].result.success = 0;

    for (const auto &[name, record] : {std::pair{"multi-core", full},
                                       {"single-core", single},
                                       {"failed", failed},
                                       {"multi-core failed", multi_failed}}) {
        SCOPED_TRACE(name);
        const std::string report = json_report(record);
        const report_record read = read_back(report);
        EXPECT_EQ(json_report(read), report);
        EXPECT_EQ(text_report(read), text_report(record));
    }
}

TEST(JsonRead, RefusesWhatIsNotAReport) {
    std::string report = json_report(distinct_figures());
    const auto missing = report.find("\"wall_score\"");
    ASSERT_NE(missing, std::string::npos);
    const std::string renamed = report.replace(missing + 1, 4, "hall");
    for (const char *text :
         {"", "[1, 2]", "{\"schema\": 2}", "{\"schema\": \"1\"}", "{\"sch", renamed.c_str()}) {
        SCOPED_TRACE(text);
        std::string why;
        EXPECT_FALSE(report_from_json(text, why).has_value());
        EXPECT_FALSE(why.empty());
    }
}

// Whatever the process's locale, the reports write numbers their own way; a local_numbers
// hands them to the locale on its thread only.
TEST(NumberStyle, TheReportsConventionIgnoresTheLocaleUnlessAsked) {
    EXPECT_EQ(decimal_text(1.925, 2), "1.93"); // 1.925 is a little above, in binary
    EXPECT_EQ(seconds_text(1234.5675), "1234.568 sec");
    {
        const local_numbers local;
        // The C locale has no grouping.
        EXPECT_EQ(grouped(8388592), "8388592");
        EXPECT_EQ(seconds_text(0), "< 0.001 sec");
    }
    EXPECT_EQ(grouped(8388592), "8,388,592");
}

} // namespace
