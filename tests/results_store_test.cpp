// The results store on real SQLite files in temporary directories: round trips, several
// processes at once, processes killed inside a save, full disks, unusable directories, files
// that are damaged, foreign or newer, and the comparison with earlier results.

#include "results/results_store.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>

#include <pwd.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

extern "C" size_t results_row_size_from_c(void);

namespace fs = std::filesystem;
using json = nlohmann::json;

// Seam: a child armed with kill_at_commit dies at the start of its save's COMMIT, after the
// row went in and before anything made it durable.
extern "C" int __real_sqlite3_exec(sqlite3 *, const char *, int (*)(void *, int, char **, char **),
                                   void *, char **);
namespace {
bool kill_at_commit = false;
}
extern "C" int __wrap_sqlite3_exec(sqlite3 *db, const char *sql,
                                   int (*callback)(void *, int, char **, char **), void *data,
                                   char **error) {
    if (kill_at_commit && std::strcmp(sql, "COMMIT") == 0) {
        raise(SIGKILL);
    }
    return __real_sqlite3_exec(db, sql, callback, data, error);
}

namespace {

template <std::size_t size> void put(char (&field)[size], const std::string &text) {
    std::snprintf(field, size, "%s", text.c_str());
}

results_row make_row(double score, const char *recorded_at = "2026-12-07T10:00:00Z") {
    results_row row{};
    put(row.recorded_at, recorded_at);
    put(row.program, "tessary-cli");
    put(row.version, "1.0.0");
    put(row.engine_version, "ver. LG1.1.2-MP1.5.2a.memsave");
    put(row.simd_path, "avx2");
    put(row.machine.cpu_model, "Example CPU @ 3.00GHz");
    row.machine.physical_cores = 4;
    row.machine.logical_cores = 8;
    row.machine.cpu_mhz = 3000;
    row.machine.memory_mb = 15890;
    put(row.machine.os_name, "Debian GNU/Linux 12 (bookworm)");
    put(row.machine.kernel_release, "6.1.0-28-amd64");
    put(row.machine.architecture, "x86_64");
    row.machine.valid = 1;
    row.digits = 8388608;
    row.runs = 5;
    row.threads = 1;
    row.success = 1;
    row.computed_digits = 8388608;
    row.verified_digits = 8388592;
    row.score = score;
    row.time_seconds = 24.677;
    row.wall_seconds = 25.01;
    row.spread_min_seconds = 4.9;
    row.spread_median_seconds = 4.93;
    row.spread_max_seconds = 5.02;
    row.spread_relative = 0.0243;
    return row;
}

// A report of schema 1 with `runs` runs, each with a message of `padding` characters.
std::string make_report(int runs, std::size_t padding = 0) {
    json report = {{"schema", 1}, {"success", 1}, {"error_message", ""}};
    json &list = report["runs"] = json::array();
    for (int run = 1; run <= runs; ++run) {
        list.push_back({{"run", run},
                        {"time_seconds", 4.9 + run / 100.0},
                        {"error_message", std::string(padding, 'x')}});
    }
    return report.dump();
}

std::string slurp(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Runs `work` in a child process; its exit status, or 128 + the signal that ended it. What
// the child writes to `line` comes back in `said`.
int in_child(const std::function<int(int line)> &work, std::string *said = nullptr) {
    int pipe_ends[2];
    if (pipe(pipe_ends) != 0) {
        return -1;
    }
    const pid_t child = fork();
    if (child == 0) {
        close(pipe_ends[0]);
        _exit(work(pipe_ends[1]));
    }
    close(pipe_ends[1]);
    char buffer[512];
    for (ssize_t got; (got = read(pipe_ends[0], buffer, sizeof buffer)) > 0;) {
        if (said != nullptr) {
            said->append(buffer, got);
        }
    }
    close(pipe_ends[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

void tell(int line, const results_message &message) {
    [[maybe_unused]] const ssize_t written = write(line, message.text, std::strlen(message.text));
}

class ResultsStore : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tessary-results-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = (dir_ / "tessary" / "results.sqlite").string();
    }
    void TearDown() override {
        for (const auto &entry : fs::recursive_directory_iterator(dir_)) {
            fs::permissions(entry.path(), fs::perms::owner_all, fs::perm_options::add);
        }
        fs::remove_all(dir_);
    }

    std::int64_t save(const results_row &row, const std::string &report = make_report(5)) {
        std::int64_t id = 0;
        results_message message;
        EXPECT_EQ(results_save(path_.c_str(), &row, report.c_str(), &id, &message), 1)
            << message.text;
        return id;
    }

    std::vector<results_row> list(std::string *said = nullptr) {
        results_row *rows = nullptr;
        size_t count = 0;
        results_message message;
        EXPECT_EQ(results_list(path_.c_str(), &rows, &count, &message), 1) << message.text;
        std::vector<results_row> copy(rows, rows + count);
        std::free(rows);
        if (said != nullptr) {
            *said = message.text;
        }
        return copy;
    }

    std::string report(std::int64_t id) {
        results_message message;
        char *text = results_report(path_.c_str(), id, &message);
        EXPECT_NE(text, nullptr) << message.text;
        std::string copy = text != nullptr ? text : "";
        std::free(text);
        return copy;
    }

    // PRAGMA integrity_check's verdict on the store, through a connection of our own.
    std::string integrity() const {
        sqlite3 *db = nullptr;
        std::string verdict = "cannot open";
        if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
            sqlite3_exec(
                db, "PRAGMA integrity_check",
                [](void *out, int, char **values, char **) {
                    *static_cast<std::string *>(out) = values[0];
                    return 0;
                },
                &verdict, nullptr);
        }
        sqlite3_close(db);
        return verdict;
    }

    // Three results saved before whatever a test does next; their ids.
    std::vector<std::int64_t> save_three() {
        return {save(make_row(500)), save(make_row(501)),
                save(make_row(502), make_report(5, 3000))};
    }

    void expect_earlier_three(const std::vector<std::int64_t> &ids) {
        EXPECT_EQ(integrity(), "ok");
        std::vector<results_row> rows = list();
        ASSERT_GE(rows.size(), 3u);
        rows.erase(rows.begin(), rows.end() - 3);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(rows[2 - i].id, ids[i]);
            EXPECT_EQ(rows[2 - i].score, 500 + i);
        }
        EXPECT_EQ(report(ids[2]), make_report(5, 3000));
    }

    fs::path dir_;
    std::string path_;
};

TEST_F(ResultsStore, KeepsEveryFieldAndTheWholeReportNewestFirst) {
    std::string said;
    EXPECT_TRUE(list(&said).empty()) << "a missing store is an empty one";
    EXPECT_FALSE(fs::exists(dir_ / "tessary")) << "only a save creates the store";

    results_row multi = make_row(507, "2026-12-07T10:00:00Z");
    put(multi.error_message, "Run 3: digit 1234 is wrong, µ");
    multi.threads = 2;
    multi.multi_core_measured = 1;
    multi.multi_core_score = 990;
    multi.scaling_efficiency = 0.976;
    // A report of several kilobytes, as a multi-core one with every thread's runs is.
    const std::string multi_report = make_report(5, 2000);
    multi.id = save(multi, multi_report);
    results_row single = make_row(0, "2026-12-07T10:00:00Z");
    single.success = 0;
    single.id = save(single, make_report(3));
    const time_t before = std::time(nullptr);
    results_row stamped = make_row(511, "");
    stamped.id = save(stamped);
    results_row older = make_row(499, "2026-12-06T23:59:59Z");
    older.id = save(older);

    EXPECT_EQ(fs::status(dir_ / "tessary").permissions(), fs::perms::owner_all);
    const std::vector<results_row> rows = list();
    ASSERT_EQ(rows.size(), 4u);
    // Newest first; at the same second, the later save first.
    EXPECT_EQ(rows[0].id, stamped.id);
    EXPECT_EQ(rows[1].id, single.id);
    EXPECT_EQ(rows[2].id, multi.id);
    EXPECT_EQ(rows[3].id, older.id);
    ASSERT_EQ(results_row_size_from_c(), sizeof(results_row)) << "C sees another layout";
    EXPECT_EQ(std::memcmp(&rows[2], &multi, sizeof multi), 0) << "a field changed on its way";
    EXPECT_EQ(std::memcmp(&rows[1], &single, sizeof single), 0);
    EXPECT_EQ(rows[1].multi_core_measured, 0);
    std::tm parts{};
    ASSERT_NE(strptime(rows[0].recorded_at, "%Y-%m-%dT%H:%M:%SZ", &parts), nullptr);
    EXPECT_GE(timegm(&parts), before);
    EXPECT_LE(timegm(&parts), std::time(nullptr));

    EXPECT_EQ(report(multi.id), multi_report);
    EXPECT_EQ(json::parse(report(multi.id))["runs"].size(), 5u);

    results_message message;
    EXPECT_EQ(results_delete(path_.c_str(), single.id, &message), 1) << message.text;
    EXPECT_EQ(results_delete(path_.c_str(), single.id, &message), 0);
    EXPECT_STREQ(message.text,
                 ("result not deleted: no result with id " + std::to_string(single.id)).c_str());
    EXPECT_EQ(list().size(), 3u);
    EXPECT_EQ(results_report(path_.c_str(), single.id, &message), nullptr);
}

TEST_F(ResultsStore, RefusesWhatCouldNotBeReadBack) {
    results_message message;
    const results_row row = make_row(500);
    const std::string cut = make_report(5).substr(0, 40);
    EXPECT_EQ(results_save(path_.c_str(), &row, cut.c_str(), nullptr, &message), 0);
    EXPECT_STREQ(message.text, "result not saved: the report is not a JSON object of schema 1");
    EXPECT_EQ(results_save(path_.c_str(), &row, "{\"schema\": 2}", nullptr, &message), 0);
    const results_row local = make_row(500, "2026-12-07 10:00:00");
    EXPECT_EQ(results_save(path_.c_str(), &local, make_report(5).c_str(), nullptr, &message), 0);
    EXPECT_STREQ(message.text, "result not saved: not a UTC time: 2026-12-07 10:00:00");
    EXPECT_TRUE(list().empty());
}

TEST(ResultsPath, FollowsTheXdgRules) {
    const std::string home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
    const char *data = std::getenv("XDG_DATA_HOME");
    const std::string saved_data = data != nullptr ? data : "";
    char path[256];
    results_message message;
    setenv("HOME", "/home/someone", 1);

    setenv("XDG_DATA_HOME", "/data/here", 1);
    ASSERT_EQ(results_default_path(path, sizeof path, &message), 1);
    EXPECT_STREQ(path, "/data/here/tessary/results.sqlite");
    EXPECT_STREQ(message.text, "");
    for (const char *unusable : {"", "relative/dir"}) {
        SCOPED_TRACE(unusable);
        setenv("XDG_DATA_HOME", unusable, 1);
        ASSERT_EQ(results_default_path(path, sizeof path, &message), 1);
        EXPECT_STREQ(path, "/home/someone/.local/share/tessary/results.sqlite");
    }
    EXPECT_STREQ(message.text, "XDG_DATA_HOME is not an absolute path ('relative/dir'): ignored");
    EXPECT_EQ(results_default_path(path, 20, &message), 0);
    EXPECT_EQ(std::strchr(message.text, '\n'), nullptr);

    unsetenv("XDG_DATA_HOME");
    unsetenv("HOME");
    ASSERT_EQ(results_default_path(path, sizeof path, &message), 1) << message.text;
    EXPECT_EQ(std::string(path).find(getpwuid(getuid())->pw_dir), 0u) << path;

    setenv("HOME", home.c_str(), 1);
    if (data != nullptr) {
        setenv("XDG_DATA_HOME", saved_data.c_str(), 1);
    }
}

// `processes` processes started at once, each saving `saves` results (scores 100 p + s) to
// `path`; true when every save succeeded.
bool save_at_once(const std::string &path, int processes, int saves) {
    int start[2];
    if (pipe(start) != 0) {
        return false;
    }
    std::vector<pid_t> children;
    for (int p = 0; p < processes; ++p) {
        const pid_t child = fork();
        if (child == 0) {
            close(start[1]);
            char go;
            [[maybe_unused]] const ssize_t got = read(start[0], &go, 1); // until the parent closes
            for (int s = 0; s < saves; ++s) {
                const results_row row = make_row(100 * p + s);
                results_message message;
                if (results_save(path.c_str(), &row, make_report(5).c_str(), nullptr, &message) !=
                    1) {
                    std::fprintf(stderr, "process %d, save %d: %s\n", p, s, message.text);
                    _exit(1);
                }
            }
            _exit(0);
        }
        children.push_back(child);
    }
    close(start[0]);
    close(start[1]);
    bool all_saved = true;
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        all_saved = all_saved && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return all_saved;
}

// Processes finishing at once (the window and tessary-cli, several times over) all land,
// also when they are the first and create the store together.
TEST_F(ResultsStore, SeveralProcessesSavingAtOnceAllLand) {
    for (int round = 0; round < 40; ++round) {
        const std::string fresh = (dir_ / std::to_string(round) / "results.sqlite").string();
        ASSERT_TRUE(save_at_once(fresh, 4, 1)) << "round " << round;
    }
    constexpr int processes = 4;
    constexpr int saves = 25;
    ASSERT_TRUE(save_at_once(path_, processes, saves));
    EXPECT_EQ(integrity(), "ok");
    std::vector<double> scores;
    for (const results_row &row : list()) {
        scores.push_back(row.score);
    }
    std::sort(scores.begin(), scores.end());
    ASSERT_EQ(scores.size(), static_cast<std::size_t>(processes * saves));
    for (int p = 0; p < processes; ++p) {
        for (int s = 0; s < saves; ++s) {
            EXPECT_EQ(scores[p * saves + s], 100 * p + s);
        }
    }
}

// SQLite's writes, counted through its system call table; the armed one kills the process
// before it happens.
using positional_write = ssize_t (*)(int, const void *, size_t, off_t);
using plain_write = ssize_t (*)(int, const void *, size_t);
int writes_left = 0;
positional_write real_pwrite = nullptr;
positional_write real_pwrite64 = nullptr;
plain_write real_write = nullptr;

void count_write() {
    if (--writes_left == 0) {
        raise(SIGKILL);
    }
}
ssize_t counted_pwrite(int fd, const void *data, size_t size, off_t at) {
    count_write();
    return real_pwrite(fd, data, size, at);
}
ssize_t counted_pwrite64(int fd, const void *data, size_t size, off_t at) {
    count_write();
    return real_pwrite64(fd, data, size, at);
}
ssize_t counted_write(int fd, const void *data, size_t size) {
    count_write();
    return real_write(fd, data, size);
}

template <typename Call> void count_calls(const char *name, Call &real, Call counted) {
    sqlite3_vfs *vfs = sqlite3_vfs_find(nullptr);
    real = reinterpret_cast<Call>(vfs->xGetSystemCall(vfs, name));
    vfs->xSetSystemCall(vfs, name, reinterpret_cast<sqlite3_syscall_ptr>(counted));
}

// A save killed anywhere (before its commit, or at any one of its writes, the commit's and
// the checkpoint's included) leaves a sound store with every earlier record, and the new one
// either whole or not at all.
TEST_F(ResultsStore, SaveKilledAnywhereKeepsEveryEarlierRecord) {
    const std::vector<std::int64_t> ids = save_three();
    const std::string new_report = make_report(5, 500);
    const auto save_in_child = [&](int) {
        const results_row row = make_row(600);
        return results_save(path_.c_str(), &row, new_report.c_str(), nullptr, nullptr) == 1 ? 0 : 1;
    };

    EXPECT_EQ(in_child([&](int line) {
                  kill_at_commit = true;
                  return save_in_child(line);
              }),
              128 + SIGKILL)
        << "the save committed without an explicit COMMIT";
    expect_earlier_three(ids);
    EXPECT_EQ(list().size(), 3u) << "a save killed before its commit landed";

    int killed = 0;
    for (int write = 1; write < 100; ++write) {
        SCOPED_TRACE("killed at write " + std::to_string(write));
        const int status = in_child([&](int line) {
            writes_left = write;
            count_calls<positional_write>("pwrite", real_pwrite, counted_pwrite);
            count_calls<positional_write>("pwrite64", real_pwrite64, counted_pwrite64);
            count_calls<plain_write>("write", real_write, counted_write);
            return save_in_child(line);
        });
        expect_earlier_three(ids);
        const std::vector<results_row> rows = list();
        if (rows.size() == 4) {
            EXPECT_EQ(report(rows[0].id), new_report);
        } else {
            EXPECT_EQ(rows.size(), 3u);
        }
        if (status == 0) {
            break; // the save needed fewer writes
        }
        EXPECT_EQ(status, 128 + SIGKILL);
        ++killed;
        if (rows.size() == 4) {
            results_message message;
            ASSERT_EQ(results_delete(path_.c_str(), rows[0].id, &message), 1) << message.text;
        }
    }
    EXPECT_GE(killed, 2);
}

// The reason of a failed save is one line for the front end to print.
void expect_one_line_failure(const std::string &said, const char *reason) {
    EXPECT_EQ(said.find("result not saved: "), 0u) << said;
    EXPECT_NE(said.find(reason), std::string::npos) << said;
    EXPECT_EQ(said.find('\n'), std::string::npos) << said;
}

// A save of a report too large for the room left, in a child; its message in `said`.
int save_large_in_child(const std::string &path, const std::function<void()> &limit,
                        std::string &said) {
    return in_child(
        [&](int line) {
            limit();
            const results_row row = make_row(700);
            results_message message;
            const std::string large = make_report(5, 200000);
            const int saved = results_save(path.c_str(), &row, large.c_str(), nullptr, &message);
            tell(line, message);
            return saved;
        },
        &said);
}

TEST_F(ResultsStore, FileSizeLimitFailsTheSaveAndKeepsTheStore) {
    const std::vector<std::int64_t> ids = save_three();
    std::string said;
    const rlim_t size = fs::file_size(path_) + 16384;
    EXPECT_EQ(save_large_in_child(
                  path_,
                  [size] {
                      signal(SIGXFSZ, SIG_IGN);
                      const rlimit limit{size, size};
                      setrlimit(RLIMIT_FSIZE, &limit);
                  },
                  said),
              0);
    expect_one_line_failure(said, "File too large");
    expect_earlier_three(ids);
    EXPECT_EQ(list().size(), 3u);
}

TEST_F(ResultsStore, FullFileSystemFailsTheSaveAndKeepsTheStore) {
    const fs::path small = dir_ / "small";
    fs::create_directory(small);
    if (mount("tessary-test", small.c_str(), "tmpfs", 0, "size=128k") != 0) {
        GTEST_SKIP() << "no tmpfs to fill: " << std::strerror(errno);
    }
    struct unmount_at_end {
        const fs::path &point;
        ~unmount_at_end() { umount2(point.c_str(), MNT_DETACH); }
    } unmount{small};
    path_ = (small / "results.sqlite").string();
    const std::int64_t first = save(make_row(500));
    std::string said;
    EXPECT_EQ(save_large_in_child(
                  path_, [] {}, said),
              0);
    expect_one_line_failure(said, "full");
    EXPECT_EQ(integrity(), "ok");
    const std::vector<results_row> rows = list();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].id, first);
}

TEST_F(ResultsStore, UnusableDirectoryFailsTheSaveInOneLine) {
    const std::string report = make_report(5);
    const results_row row = make_row(500);
    results_message message;
    std::ofstream(dir_ / "file") << "not a directory";
    path_ = (dir_ / "file" / "tessary" / "results.sqlite").string();
    EXPECT_EQ(results_save(path_.c_str(), &row, report.c_str(), nullptr, &message), 0);
    expect_one_line_failure(message.text, "Not a directory");

    // Read-only for whoever saves: root reads past permissions, so the child saves as nobody.
    const fs::path locked = dir_ / "locked";
    fs::create_directory(locked);
    fs::permissions(dir_, fs::perms::all & ~fs::perms::group_write & ~fs::perms::others_write);
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                                fs::perms::group_exec | fs::perms::others_read |
                                fs::perms::others_exec);
    path_ = (locked / "results.sqlite").string();
    std::string said;
    EXPECT_EQ(in_child(
                  [&](int line) {
                      if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
                          return 2;
                      }
                      results_message failure;
                      const int saved =
                          results_save(path_.c_str(), &row, report.c_str(), nullptr, &failure);
                      tell(line, failure);
                      return saved;
                  },
                  &said),
              0);
    expect_one_line_failure(said, "Permission denied");
    EXPECT_FALSE(fs::exists(path_));
}

// What sits at the store's path when it is not a store of ours.
struct bad_file {
    const char *name;
    const char *suffix;                                   // of the name it is moved to
    std::function<void(const std::string &path)> make_at; // writes it
};

void PrintTo(const bad_file &bad, std::ostream *out) {
    *out << bad.name;
}

class ResultsStoreBadFile : public ResultsStore, public ::testing::WithParamInterface<bad_file> {};

TEST_P(ResultsStoreBadFile, IsMovedAsideWholeAndANewStoreStarted) {
    const bad_file &bad = GetParam();
    fs::create_directories(fs::path(path_).parent_path());
    bad.make_at(path_);
    const std::string bytes = slurp(path_);

    const bool by_listing = std::strcmp(bad.suffix, "damaged") == 0;
    std::string said;
    if (by_listing) {
        EXPECT_TRUE(list(&said).empty());
    } else {
        results_message message;
        const results_row row = make_row(500);
        ASSERT_EQ(results_save(path_.c_str(), &row, make_report(5).c_str(), nullptr, &message), 1)
            << message.text;
        said = message.text;
    }
    std::vector<fs::path> aside;
    for (const auto &entry : fs::directory_iterator(fs::path(path_).parent_path())) {
        const std::string name = entry.path().filename().string();
        // Its write-ahead log and index, if any, go with it.
        if (name.starts_with("results.sqlite." + std::string(bad.suffix) + "-") &&
            !name.ends_with("-wal") && !name.ends_with("-shm")) {
            aside.push_back(entry.path());
        }
    }
    ASSERT_EQ(aside.size(), 1u) << said;
    EXPECT_EQ(slurp(aside[0]), bytes) << "the file was not kept as it was";
    EXPECT_NE(said.find("moved to " + aside[0].string() + ", and a new store started"),
              std::string::npos)
        << said;
    EXPECT_EQ(said.find('\n'), std::string::npos);
    EXPECT_EQ(list().size(), by_listing ? 0u : 1u);
}

void write_text(const std::string &path) {
    std::ofstream(path) << "These are my notes, not a database.\n";
}

void write_other_database(const std::string &path) {
    sqlite3 *db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE notes (text); INSERT INTO notes VALUES ('mine')", nullptr,
                 nullptr, nullptr);
    sqlite3_close(db);
}

// A store of ours with its table's pages overwritten, as a failing disk leaves it.
void write_damaged_store(const std::string &path) {
    const results_row row = make_row(500);
    for (int i = 0; i < 20; ++i) {
        results_save(path.c_str(), &row, make_report(5, 2000).c_str(), nullptr, nullptr);
    }
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    file.seekp(4096);
    file << std::string(3 * 4096, '\x5a');
}

INSTANTIATE_TEST_SUITE_P(, ResultsStoreBadFile,
                         ::testing::Values(bad_file{"Text", "foreign", write_text},
                                           bad_file{"OtherDatabase", "foreign",
                                                    write_other_database},
                                           bad_file{"Damaged", "damaged", write_damaged_store}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(ResultsStore, NewerSchemaIsReadNeverWritten) {
    const std::vector<std::int64_t> ids = save_three();
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "PRAGMA user_version = 2", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const std::string bytes = slurp(path_);

    std::string said;
    EXPECT_EQ(list(&said).size(), 3u);
    EXPECT_EQ(said, path_ + " was written by a newer Tessary (store schema 2, this one knows " +
                        "1): it is read but not changed");
    EXPECT_EQ(report(ids[2]), make_report(5, 3000));
    results_message message;
    const results_row row = make_row(600);
    EXPECT_EQ(results_save(path_.c_str(), &row, make_report(5).c_str(), nullptr, &message), 0);
    EXPECT_NE(std::string(message.text).find("result not saved: " + path_ + " belongs to a newer"),
              std::string::npos)
        << message.text;
    EXPECT_EQ(results_delete(path_.c_str(), ids[0], &message), 0);
    EXPECT_EQ(slurp(path_), bytes);
}

// A history around a result of 507 (id 50, at noon): twelve comparable earlier results, and
// one of each way a result can fail to compare.
TEST(ResultsCompare, PutsAResultBesideItsComparableEarlierResults) {
    results_row result = make_row(507, "2026-12-07T12:00:00Z");
    result.id = 50;
    std::vector<results_row> history = {result};
    for (double score : {480, 482, 485, 488, 490, 494, 496, 500, 502, 505, 510, 523}) {
        history.push_back(make_row(score, "2026-12-01T08:00:00Z"));
        history.back().id = static_cast<std::int64_t>(history.size());
    }
    const auto add_outlier = [&](const std::function<void(results_row &)> &change) {
        results_row other = make_row(900, "2026-12-02T08:00:00Z");
        other.id = 30 + static_cast<std::int64_t>(history.size());
        change(other);
        history.push_back(other);
    };
    add_outlier([](results_row &r) { put(r.version, "1.1.0"); });
    add_outlier([](results_row &r) { put(r.simd_path, "avx512"); });
    add_outlier([](results_row &r) { put(r.machine.cpu_model, "Other CPU"); });
    add_outlier([](results_row &r) { r.machine.logical_cores = 4; });
    add_outlier([](results_row &r) { r.runs = 1; });
    add_outlier([](results_row &r) { r.digits = 1000000; });
    add_outlier([](results_row &r) { r.success = 0; });
    add_outlier([](results_row &r) { put(r.recorded_at, "2026-12-07T12:00:01Z"); });
    add_outlier([](results_row &r) {
        put(r.recorded_at, "2026-12-07T12:00:00Z");
        r.id = 51;
    });
    // The same machine after a kernel update and with another clock still compares.
    add_outlier([](results_row &r) {
        put(r.machine.kernel_release, "6.1.0-30-amd64");
        r.machine.cpu_mhz = 3200;
        r.machine.memory_mb = 15880;
        r.score = 523;
    });

    results_comparison comparison;
    ASSERT_EQ(results_compare(&result, history.data(), history.size(), &comparison), 13);
    EXPECT_EQ(comparison.median_score, 496);
    EXPECT_EQ(comparison.best_score, 523);
    EXPECT_STREQ(comparison.text, "Score 507: 2.2 % above your median of 13 results (best 523)");

    history.pop_back();
    ASSERT_EQ(results_compare(&result, history.data(), history.size(), &comparison), 12);
    EXPECT_EQ(comparison.median_score, 495);
    EXPECT_STREQ(comparison.text, "Score 507: 2.4 % above your median of 12 results (best 523)");

    result.score = 470;
    results_compare(&result, history.data(), 2, &comparison);
    EXPECT_STREQ(comparison.text, "Score 470: 2.1 % below your earlier result (480)");
    result.score = 495.2;
    results_compare(&result, history.data(), history.size(), &comparison);
    EXPECT_STREQ(comparison.text, "Score 495: at your median of 12 results (best 523)");

    result.success = 0;
    EXPECT_EQ(results_compare(&result, history.data(), history.size(), &comparison), 0);
    EXPECT_STREQ(comparison.text, "");
}

} // namespace
