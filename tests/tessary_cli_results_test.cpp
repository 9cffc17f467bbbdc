// tessary-cli's results and memory in-process, on the fake engine: each result saved whole
// (or not, when told), a failed save that changes nothing else, the history as a table and
// as JSON, --delete, and stress sized by the memory of fixture machines.

#include "cli/stress_memory.h"
#include "results/results_store.h"
#include "tessary_cli_fakes.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace {

using json = nlohmann::json;

constexpr long long megabytes = 1000 * 1000;

TEST(StressMemory, ChoosesTheLargestSizeAllTheThreadsFit) {
    const machine_memory machine{1000 * megabytes, 1000 * megabytes};
    // 50 % of 1,000 MB: 302 MB a thread at 32M, 151 MB at 16M, 76 MB at 8M, 38 MB at 4M.
    const std::pair<int, int> by_threads[] = {
        {1, 33554432}, {2, 16777216}, {4, 8388608}, {8, 4194304}};
    for (const auto &[threads, digits] : by_threads) {
        SCOPED_TRACE(threads);
        const memory_sized sized = size_for_memory(50, threads, machine);
        EXPECT_EQ(sized.error, "");
        EXPECT_EQ(sized.digits, digits);
        EXPECT_LE(held_bytes(sized.digits, threads), 500 * megabytes);
    }
    EXPECT_EQ(size_for_memory(50, 2, machine).choice,
              "Chosen by --memory 50: the largest size whose 2 threads hold at most 500 MB "
              "(50 % of 1,000 MB)");

    // No more than is available now.
    const memory_sized busy = size_for_memory(50, 1, {1000 * megabytes, 200 * megabytes});
    EXPECT_EQ(busy.digits, 16777216);
    EXPECT_EQ(busy.choice, "Chosen by --memory 50: the largest size whose 1 thread hold at most "
                           "200 MB (50 % of 1,000 MB, less what is not available now)");

    EXPECT_EQ(size_for_memory(50, 4, {1000000, 1000000}).error,
              "--memory 50 leaves 0.5 MB (50 % of 1.0 MB) for 4 threads: too little for 16,384 "
              "digits on each");
    EXPECT_EQ(size_for_memory(50, 1, {-1, -1}).error,
              "--memory needs the machine's memory size, which /proc/meminfo does not give");
}

TEST(StressMemory, RefusesWhatTheAvailableMemoryCannotHold) {
    const machine_memory machine{4000 * megabytes, 1000 * megabytes};
    EXPECT_EQ(memory_shortfall(33554432, 3, machine), "");
    EXPECT_EQ(memory_shortfall(33554432, 4, machine),
              "4 computations of 33,554,432 digits hold 1,208 MB, more than the 1,000 MB of "
              "memory available");
    // Without MemAvailable the whole memory counts; without either nothing is refused.
    EXPECT_NE(memory_shortfall(33554432, 14, {4000 * megabytes, -1}), "");
    EXPECT_EQ(memory_shortfall(33554432, 1000, {}), "");
}

TEST(StressMemory, ReadsTheKernelsFigures) {
    const std::string path = testing::TempDir() + "meminfo." + std::to_string(getpid());
    std::ofstream(path) << "MemTotal:       24683044 kB\nMemFree:         1024 kB\n"
                           "MemAvailable:   20000000 kB\nBuffers:  12 kB\n";
    const machine_memory memory = read_machine_memory_from(path.c_str());
    EXPECT_EQ(memory.total_bytes, 24683044LL * 1024);
    EXPECT_EQ(memory.available_bytes, 20000000LL * 1024);
    std::remove(path.c_str());
    EXPECT_EQ(read_machine_memory_from("/nonexistent").total_bytes, -1);
}

// ---- The program in a forked child, its results in a store of the test's own ----

machine_memory fixture_memory() {
    return {1000 * megabytes, 1000 * megabytes};
}

struct child_outcome {
    int status = -1;
    std::string out;
    std::string err;
};

std::string read_file(const std::string &path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

child_outcome run_in_child(std::vector<std::string> arguments,
                           std::vector<fake_computation> script = {{}}) {
    const std::string out_path = testing::TempDir() + "results_out." + std::to_string(getpid());
    const std::string err_path = testing::TempDir() + "results_err." + std::to_string(getpid());
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
        set_fake_script(std::move(script));
        cli_engine engine = fake_engine();
        engine.memory = fixture_memory;
        _exit(run_tessary_cli(static_cast<int>(argv.size()) - 1, argv.data(), engine));
    }
    int status = 0;
    waitpid(child, &status, 0);
    child_outcome outcome{WIFEXITED(status) ? WEXITSTATUS(status) : -1, read_file(out_path),
                          read_file(err_path)};
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    return outcome;
}

// XDG_DATA_HOME for one test: a fresh directory, or `path` as it is.
class data_home {
  public:
    explicit data_home(std::string path = "") : saved(std::getenv("XDG_DATA_HOME")) {
        if (path.empty()) {
            std::string pattern = testing::TempDir() + "tessary-results.XXXXXX";
            path = mkdtemp(pattern.data());
        }
        setenv("XDG_DATA_HOME", path.c_str(), 1);
        store = path + "/tessary/results.sqlite";
    }
    ~data_home() { setenv("XDG_DATA_HOME", saved.c_str(), 1); }

    std::string store;

  private:
    std::string saved;
};

struct free_deleter {
    void operator()(void *p) const noexcept { std::free(p); }
};

std::vector<results_row> saved_rows(const std::string &store) {
    results_row *rows = nullptr;
    size_t count = 0;
    results_message message{};
    EXPECT_EQ(results_list(store.c_str(), &rows, &count, &message), 1) << message.text;
    const std::unique_ptr<results_row, free_deleter> owned(rows);
    return {rows, rows + count};
}

json saved_report(const std::string &store, int64_t id) {
    results_message message{};
    const std::unique_ptr<char, free_deleter> text(results_report(store.c_str(), id, &message));
    return text ? json::parse(text.get()) : json();
}

std::size_t lines_starting(const std::string &text, const std::string &start) {
    std::size_t count = 0;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        count += line.rfind(start, 0) == 0 ? 1 : 0;
    }
    return count;
}

TEST(Saving, EachResultIsSavedWholeUnlessToldNot) {
    const data_home home;
    const child_outcome benchmark = run_in_child({"--json"});
    ASSERT_EQ(benchmark.status, 0) << benchmark.err;
    EXPECT_EQ(benchmark.err, "");
    const json printed = json::parse(benchmark.out);
    std::vector<results_row> rows = saved_rows(home.store);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(printed["saved"], 1);
    EXPECT_EQ(printed["result_id"], rows[0].id);
    // The saved report is the printed one, every run included, as it was before the save.
    json kept = saved_report(home.store, rows[0].id);
    EXPECT_EQ(kept["runs"].size(), 5u);
    EXPECT_TRUE(kept["saved"].is_null());
    json expected = printed;
    for (const char *field : {"saved", "result_id", "save_message", "comparison"}) {
        kept.erase(field);
        expected.erase(field);
    }
    EXPECT_EQ(kept, expected);
    EXPECT_TRUE(std::regex_match(printed["started_at"].get<std::string>(),
                                 std::regex("20[0-9]{2}-[01][0-9]-[0-3][0-9]T[0-9:]{8}Z")));
    EXPECT_TRUE(printed["conditions"].is_object());

    // Told not to, or printing digits: nothing more is saved.
    EXPECT_EQ(run_in_child({"--no-save", "--digits", "1000"}).status, 0);
    EXPECT_EQ(run_in_child({"--digits", "1000", "--print"}).status, 0);
    EXPECT_EQ(saved_rows(home.store).size(), 1u);

    // The next benchmark is compared with the first and says where it was saved.
    const child_outcome second = run_in_child({});
    EXPECT_EQ(lines_starting(second.out, "Compared:         Score "), 1u) << second.out;
    EXPECT_EQ(lines_starting(second.out, "Saved:            as result 2"), 1u) << second.out;

    // A stress run is one record of every computation, without a count of runs or a score.
    const child_outcome stress =
        run_in_child({"--stress", "--minutes", "0.2", "--digits", "1000", "--threads", "2"});
    ASSERT_EQ(stress.status, 0) << stress.err;
    rows = saved_rows(home.store);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].runs, 0);
    EXPECT_EQ(rows[0].threads, 2);
    EXPECT_EQ(rows[0].success, 1);
    EXPECT_EQ(saved_report(home.store, rows[0].id)["runs"].size(),
              lines_starting(stress.out, "Computation "));
}

TEST(Saving, AFailedSaveChangesNothingElse) {
    const std::string unusable = testing::TempDir() + "not-a-directory." + std::to_string(getpid());
    std::ofstream(unusable) << "a file\n";
    const data_home home(unusable);
    const child_outcome text = run_in_child({"--digits", "1000"});
    EXPECT_EQ(text.status, 0);
    EXPECT_EQ(lines_starting(text.out, "Score:"), 1u) << text.out;
    EXPECT_EQ(lines_starting(text.err, "tessary-cli: result not saved: "), 1u) << text.err;
    EXPECT_EQ(std::count(text.err.begin(), text.err.end(), '\n'), 1) << text.err;

    const child_outcome report = run_in_child({"--digits", "1000", "--json"});
    EXPECT_EQ(report.status, 0);
    const json printed = json::parse(report.out);
    EXPECT_EQ(printed["success"], 1);
    EXPECT_EQ(printed["saved"], 0);
    EXPECT_TRUE(printed["result_id"].is_null());
    EXPECT_EQ("tessary-cli: " + printed["save_message"].get<std::string>() + "\n", report.err);

    // A failure keeps its own status and its own line.
    const child_outcome wrong = run_in_child({"--digits", "1000"}, {{fake_kind::wrong}});
    EXPECT_EQ(wrong.status, 1);
    EXPECT_EQ(std::count(wrong.err.begin(), wrong.err.end(), '\n'), 2) << wrong.err;
    std::remove(unusable.c_str());
}

// A row of a result as the store keeps it.
results_row row(const char *at, int64_t digits, int runs, int threads, double score) {
    results_row saved{};
    std::snprintf(saved.recorded_at, sizeof saved.recorded_at, "%s", at);
    std::strcpy(saved.program, "tessary-cli");
    std::strcpy(saved.version, "1.0.0");
    std::strcpy(saved.simd_path, "avx2");
    saved.digits = digits;
    saved.runs = runs;
    saved.threads = threads;
    saved.success = 1;
    saved.verified_digits = digits - 16;
    saved.score = score;
    saved.time_seconds = 26.4651;
    return saved;
}

int64_t save(const std::string &store, const results_row &saved) {
    int64_t id = 0;
    results_message message{};
    EXPECT_EQ(results_save(store.c_str(), &saved, "{\"schema\": 1, \"runs\": []}", &id, &message),
              1)
        << message.text;
    return id;
}

TEST(History, ListsTheResultsNewestFirstAndDeletesOne) {
    const data_home home;
    EXPECT_EQ(run_in_child({"--history", "--json"}).out, "[]\n");
    EXPECT_EQ(run_in_child({"--history"}).out, "No results saved yet in " + home.store + "\n");

    save(home.store, row("2026-12-01T10:00:00Z", 8388608, 5, 2, 1234.4));
    results_row failed = row("2026-12-02T10:00:00Z", 1000000, 1, 1, 0);
    failed.success = 0;
    std::strcpy(failed.error_message, "Computed digits of pi are wrong from digit 17");
    save(home.store, failed);
    const int64_t stress = save(home.store, row("2026-12-03T10:00:00Z", 33554432, 0, 4, 0));

    const child_outcome list = run_in_child({"--history"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_EQ(list.out,
              "ID  Date (UTC)           Measured                              Score  Processor time"
              "  Kernels  Version  Outcome\n"
              " 3  2026-12-03 10:00:00  stress, 33,554,432 digits, 4 threads      -               -"
              "  avx2     1.0.0    verified\n"
              " 2  2026-12-02 10:00:00  1,000,000 digits                          -               -"
              "  avx2     1.0.0    failed: Computed digits of pi are wrong from digit 17\n"
              " 1  2026-12-01 10:00:00  benchmark, 2 threads                  1,234      26.465 sec"
              "  avx2     1.0.0    verified\n"
              "Saved in " +
                  home.store + "; --delete ID removes one\n");

    const child_outcome reports = run_in_child({"--history", "--json"});
    const json all = json::parse(reports.out);
    ASSERT_EQ(all.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(all[i]["result_id"], 3 - static_cast<int>(i));
        EXPECT_EQ(all[i]["saved"], 1);
    }

    EXPECT_EQ(run_in_child({"--delete", std::to_string(stress)}).out,
              "Deleted result 3 from " + home.store + "\n");
    EXPECT_EQ(saved_rows(home.store).size(), 2u);
    const child_outcome missing = run_in_child({"--delete", "3"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "tessary-cli: result not deleted: no result with id 3\n");
    EXPECT_EQ(run_in_child({"--delete", "three"}).status, 2);
}

TEST(StressMemory, TheProgramSaysWhatItHoldsAndRefusesWhatDoesNotFitBeforeStarting) {
    const child_outcome chosen = run_in_child(
        {"--no-save", "--stress", "--memory", "50", "--threads", "2", "--minutes", "0.01"});
    EXPECT_EQ(chosen.status, 0) << chosen.err;
    EXPECT_EQ(chosen.out.substr(0, chosen.out.find("Computation ")),
              "Stress: computations of 16,777,216 digits on 2 threads for 0.01 minutes; each "
              "thread holds 151 MB, 302 MB in all\n"
              "Chosen by --memory 50: the largest size whose 2 threads hold at most 500 MB (50 % "
              "of 1,000 MB)\n");
    for (const std::vector<std::string> &too_large :
         {std::vector<std::string>{"--stress", "--digits", "32M", "--threads", "4"},
          {"--digits", "32M", "--threads", "4"}}) {
        const child_outcome refused = run_in_child(too_large);
        EXPECT_EQ(refused.status, 2);
        EXPECT_EQ(refused.out, "");
        EXPECT_EQ(refused.err, "tessary-cli: 4 computations of 33,554,432 digits hold 1,208 MB, "
                               "more than the 1,000 MB of memory available\n");
    }
}

} // namespace
