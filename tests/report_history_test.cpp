// Reports kept in the results store: the row a record gives, and the comparison and save of
// a record, on a real SQLite file in a temporary directory.

#include "report/json_report.h"
#include "results/report_history.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

namespace {

using json = nlohmann::json;

// A successful five-run benchmark on two threads whose figures all differ.
report_record benchmark(double score) {
    report_record record;
    record.versions = {"tessary-cli", "9.8.7", "engine 6.5", "avx2", ""};
    std::strcpy(record.machine.cpu_model, "Test CPU");
    record.machine.physical_cores = 3;
    record.machine.logical_cores = 5;
    record.machine.valid = 1;
    record.request = {8388608, 5, 2};
    record.started_at = "2026-12-09T20:55:12Z";
    record.summary = {8388608, 8388592, true, score, 23.5, 24.5, {4.1, 4.6, 5.2, 0.239}};
    record.multi_core.emplace();
    record.multi_core->score = 2 * score - 3;
    record.multi_core->scaling_efficiency = 0.75;
    record.success = true;
    return record;
}

TEST(ReportHistory, ARecordsRowTakesEachColumnFromItsField) {
    const results_row row = results_row_of(benchmark(507));
    EXPECT_STREQ(row.recorded_at, "2026-12-09T20:55:12Z");
    EXPECT_STREQ(row.program, "tessary-cli");
    EXPECT_STREQ(row.version, "9.8.7");
    EXPECT_STREQ(row.engine_version, "engine 6.5");
    EXPECT_STREQ(row.simd_path, "avx2");
    EXPECT_STREQ(row.machine.cpu_model, "Test CPU");
    EXPECT_EQ(row.digits, 8388608);
    EXPECT_EQ(row.runs, 5);
    EXPECT_EQ(row.threads, 2);
    EXPECT_EQ(row.success, 1);
    EXPECT_EQ(row.computed_digits, 8388608);
    EXPECT_EQ(row.verified_digits, 8388592);
    EXPECT_EQ(row.score, 507);
    EXPECT_EQ(row.time_seconds, 23.5);
    EXPECT_EQ(row.wall_seconds, 24.5);
    EXPECT_EQ(row.spread_min_seconds, 4.1);
    EXPECT_EQ(row.spread_median_seconds, 4.6);
    EXPECT_EQ(row.spread_max_seconds, 5.2);
    EXPECT_EQ(row.spread_relative, 0.239);
    EXPECT_EQ(row.multi_core_measured, 1);
    EXPECT_EQ(row.multi_core_score, 1011);
    EXPECT_EQ(row.scaling_efficiency, 0.75);

    report_record failed = benchmark(507);
    failed.success = false;
    failed.error_message = "Benchmark run 3 computed wrong digits";
    const results_row failed_row = results_row_of(failed);
    EXPECT_EQ(failed_row.success, 0);
    EXPECT_STREQ(failed_row.error_message, "Benchmark run 3 computed wrong digits");
    EXPECT_EQ(failed_row.multi_core_measured, 0) << "no multi-core figures of a failure";
}

TEST(ReportHistory, EachSaveComparesWithTheResultsBeforeIt) {
    const std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("tessary-history-" + std::to_string(getpid()));
    const std::string path = (dir / "results.sqlite").string();

    report_record first = benchmark(500);
    compare_and_save(path, first);
    ASSERT_TRUE(first.saved);
    EXPECT_TRUE(first.saved->saved) << first.saved->message;
    EXPECT_GT(first.saved->id, 0);
    EXPECT_EQ(first.comparison, "") << "nothing to compare with yet";

    report_record second = benchmark(510);
    compare_and_save(path, second);
    ASSERT_TRUE(second.saved && second.saved->saved);
    EXPECT_GT(second.saved->id, first.saved->id);
    EXPECT_EQ(second.comparison, "Score 510: 2.0 % above your earlier result (500)");

    // The store keeps the report as written before the save: no comparison, no save.
    results_message message{};
    const std::unique_ptr<char, decltype(&std::free)> kept(
        results_report(path.c_str(), second.saved->id, &message), &std::free);
    ASSERT_NE(kept, nullptr) << message.text;
    report_record unsaved = second;
    unsaved.comparison.clear();
    unsaved.saved.reset();
    EXPECT_EQ(json::parse(kept.get()), json::parse(json_report(unsaved)));

    // A store that cannot be written: the result keeps its figures, the save says why.
    report_record third = benchmark(520);
    compare_and_save((dir / "results.sqlite" / "inside-a-file").string(), third);
    ASSERT_TRUE(third.saved);
    EXPECT_FALSE(third.saved->saved);
    EXPECT_NE(third.saved->message, "");
    EXPECT_EQ(third.summary.score, 520);
    std::filesystem::remove_all(dir);
}

} // namespace
