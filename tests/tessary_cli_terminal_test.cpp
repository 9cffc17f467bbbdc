// tessary-cli on a terminal: the program runs on a pseudo-terminal 60 and 100 columns wide, on
// the fake engine, and its output goes through a small terminal model (carriage return,
// erase to the end of the line, newline, wrapping at the last column) to the screen a user
// would read.

#include "cli/progress_bar.h"
#include "tessary_cli_fakes.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <regex>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <termios.h>
#include <vector>

namespace {

// What a terminal shows: rows of text, those that a long line wrapped into marked as such.
class screen {
  public:
    explicit screen(int columns) : columns(columns) {}

    void feed(std::string_view bytes) {
        for (const char c : bytes) {
            take(c);
        }
    }

    // The lines as a reader sees them, wrapped rows joined.
    std::vector<std::string> lines() const {
        std::vector<std::string> joined;
        for (std::size_t i = 0; i < rows.size(); ++i) {
            if (wrapped[i] && !joined.empty()) {
                joined.back() += rows[i];
            } else {
                joined.push_back(rows[i]);
            }
        }
        return joined;
    }

  private:
    void take(char c) {
        if (in_sequence) {
            // A control sequence ends at its first byte from '@' to '~'; of those only
            // "erase to the end of the line" is used.
            if (c >= '@' && c <= '~' && c != '[') {
                in_sequence = false;
                if (c == 'K') {
                    rows[row].resize(std::min(rows[row].size(), column));
                }
            }
            return;
        }
        if (c == '\033') {
            in_sequence = true;
        } else if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            new_row(false);
        } else if (static_cast<unsigned char>(c) >= ' ') {
            if (column == static_cast<std::size_t>(columns)) {
                new_row(true);
            }
            std::string &text = rows[row];
            text.resize(std::max(text.size(), column + 1), ' ');
            text[column++] = c;
        }
    }

    void new_row(bool wrap) {
        ++row;
        column = 0;
        if (row == rows.size()) {
            rows.emplace_back();
            wrapped.push_back(wrap);
        }
    }

    int columns;
    std::vector<std::string> rows{""};
    std::vector<bool> wrapped{false};
    std::size_t row = 0;
    std::size_t column = 0;
    bool in_sequence = false;
};

struct terminal_run {
    int status = -1;
    std::string raw; // every byte the program wrote to its terminal
    std::vector<std::string> lines;
};

struct terminal_options {
    std::string interrupt_after;   // the user presses Ctrl-C once this has been written
    bool errors_elsewhere = false; // standard error not on the terminal, so no bar
};

// Runs tessary-cli on a terminal `columns` wide.
terminal_run run_on_terminal(int columns, std::vector<std::string> arguments,
                             std::vector<fake_computation> script,
                             const terminal_options &how = {}) {
    std::vector<char *> argv{const_cast<char *>("tessary-cli")};
    for (std::string &word : arguments) {
        argv.push_back(word.data());
    }
    argv.push_back(nullptr);
    winsize size{};
    size.ws_row = 50;
    size.ws_col = static_cast<unsigned short>(columns);
    int master = -1;
    std::fflush(nullptr);
    const pid_t child = forkpty(&master, nullptr, nullptr, &size);
    if (child == 0) {
        if (how.errors_elsewhere) {
            dup2(open("/dev/null", O_WRONLY), 2);
        }
        set_fake_script(std::move(script));
        _exit(run_tessary_cli(static_cast<int>(argv.size()) - 1, argv.data(), fake_engine()));
    }
    // The terminal echoes Ctrl-C as "^C" but raises no signal: the test sends SIGINT itself
    // once the echo is on the screen, as a terminal usually does, so that the order of the two
    // is fixed.
    termios settings{};
    tcgetattr(master, &settings);
    settings.c_lflag &= ~ISIG;
    tcsetattr(master, TCSANOW, &settings);
    terminal_run run;
    screen shown(columns);
    std::size_t typed_at = std::string::npos;
    bool interrupted = false;
    for (;;) {
        pollfd ready{master, POLLIN, 0};
        // A minute without output is a program that hangs.
        if (poll(&ready, 1, 60000) <= 0) {
            ADD_FAILURE() << "no output for a minute";
            kill(child, SIGKILL);
            break;
        }
        char buffer[4096];
        const ssize_t got = read(master, buffer, sizeof buffer);
        if (got <= 0) {
            break; // the program has ended and closed the terminal
        }
        run.raw.append(buffer, static_cast<std::size_t>(got));
        shown.feed({buffer, static_cast<std::size_t>(got)});
        if (!how.interrupt_after.empty() && typed_at == std::string::npos &&
            run.raw.find(how.interrupt_after) != std::string::npos &&
            write(master, "\x03", 1) == 1) {
            typed_at = run.raw.size();
        }
        if (!interrupted && typed_at != std::string::npos &&
            run.raw.find("^C", typed_at) != std::string::npos) {
            interrupted = kill(child, SIGINT) == 0;
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    close(master);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.lines = shown.lines();
    return run;
}

std::string screen_text(const terminal_run &run) {
    std::string text;
    for (const std::string &line : run.lines) {
        text += line + "\n";
    }
    return text;
}

// Every line begins with what it reports, none shares its line with a bar, and no bar is
// left on the screen.
void expect_clean_screen(const terminal_run &run) {
    const std::regex bar("[0-9]+%  [0-9]+:[0-9]{2}| elapsed|\\[[#-]+\\]");
    const std::regex report_line("Run [0-9]+:|Thread [0-9]+, run|Computation [0-9]+,|Result:|"
                                 "Interrupted|Score:|Stress:");
    for (const std::string &line : run.lines) {
        EXPECT_FALSE(std::regex_search(line, bar)) << "a bar is left: " << line;
        std::smatch found;
        if (std::regex_search(line, found, report_line)) {
            EXPECT_EQ(found.position(0), 0) << "glued to what came before: " << line;
        }
    }
}

// Each bar as drawn: the text between a carriage return and the erasure of the rest of the
// line.
std::vector<std::string> drawn_bars(const std::string &raw) {
    std::vector<std::string> bars;
    std::size_t start = 0;
    while ((start = raw.find('\r', start)) != std::string::npos) {
        const std::size_t end = raw.find("\033[K", ++start);
        const std::size_t next = raw.find_first_of("\r\n", start);
        if (end != std::string::npos && end > start && (next == std::string::npos || next > end)) {
            bars.push_back(raw.substr(start, end - start));
        }
    }
    return bars;
}

// The bars fit the terminal and their done share never falls within one part of the work
// (the multi-core part starts a bar of its own).
void expect_bars_move_forward(const terminal_run &run, int columns) {
    const std::vector<std::string> bars = drawn_bars(run.raw);
    EXPECT_GT(bars.size(), 10u) << run.raw;
    const std::regex share("([0-9]+)%  [0-9]+:[0-9]{2}");
    int last = 0;
    bool multi_core = false;
    for (const std::string &bar : bars) {
        SCOPED_TRACE(bar);
        // Room is left for Ctrl-C's "^C" before the terminal's last column.
        EXPECT_LE(bar.size(), static_cast<std::size_t>(columns - 3));
        std::smatch found;
        ASSERT_TRUE(std::regex_search(bar, found, share));
        const int percent = std::stoi(found[1]);
        if (!multi_core && bar.find(" threads: ") != std::string::npos) {
            multi_core = true;
            last = 0;
        }
        EXPECT_GE(percent, last);
        last = percent;
    }
}

bool has_line(const terminal_run &run, const std::string &pattern) {
    const std::regex line_pattern(pattern);
    return std::any_of(run.lines.begin(), run.lines.end(), [&](const std::string &line) {
        return std::regex_match(line, line_pattern);
    });
}

class Terminal : public testing::TestWithParam<int> {};

TEST_P(Terminal, TheBenchmarkReadsCleanly) {
    const int columns = GetParam();
    const terminal_run run = run_on_terminal(columns, {}, {{}});
    SCOPED_TRACE(screen_text(run));
    EXPECT_EQ(run.status, 0);
    expect_clean_screen(run);
    expect_bars_move_forward(run, columns);
    for (int i = 1; i <= 5; ++i) {
        EXPECT_TRUE(has_line(run, "Run " + std::to_string(i) +
                                      ": 2.000 sec processor, 3.000 sec wall, score [0-9,]+, "
                                      "8,388,592 verified"));
    }
    EXPECT_TRUE(has_line(run, "Score: +[0-9,]+"));
    EXPECT_TRUE(has_line(run, "Kernels: +[a-z0-9]+"));
}

TEST_P(Terminal, SeveralThreadsAComputationAndStressReadCleanly) {
    const int columns = GetParam();
    const std::vector<std::vector<std::string>> modes = {
        {"--threads", "2"},
        {"--digits", "1000000"},
        {"--stress", "--minutes", "0.5", "--digits", "1000", "--threads", "2"},
    };
    for (const auto &arguments : modes) {
        const terminal_run run = run_on_terminal(columns, arguments, {{}});
        SCOPED_TRACE(arguments[0] + "\n" + screen_text(run));
        EXPECT_EQ(run.status, 0);
        expect_clean_screen(run);
        expect_bars_move_forward(run, columns);
    }
}

// With the bar and without it: the terminal's "^C" does not begin the summary's line.
TEST_P(Terminal, CtrlCAfterTheFirstRunSummarisesIt) {
    const int columns = GetParam();
    for (const bool errors_elsewhere : {false, true}) {
        const terminal_run run =
            run_on_terminal(columns, {}, {{}, {fake_kind::hang}}, {"Run 1:", errors_elsewhere});
        SCOPED_TRACE(screen_text(run));
        EXPECT_EQ(run.status, 130);
        expect_clean_screen(run);
        EXPECT_TRUE(has_line(run, "Run 1: .* verified"));
        EXPECT_FALSE(has_line(run, "Run 2: .*"));
        EXPECT_FALSE(has_line(run, "Score: .*"));
        ASSERT_GE(run.lines.size(), 2u);
        EXPECT_EQ(run.lines.end()[-2], "Interrupted after 1 of 5 runs");
        EXPECT_EQ(run.lines.back(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(Columns, Terminal, testing::Values(60, 100));

// Narrower terminals than the tests above run on: the bar gives up its graphic, then the time
// elapsed, then its end, but never passes the width.
TEST(BarLine, FitsEveryWidthAndShowsTheShareWhileItCan) {
    const bar_view view{"2 threads: 3 of 10 runs done", 0.375, 14, 24};
    for (int columns = 4; columns <= 120; ++columns) {
        SCOPED_TRACE(columns);
        const std::string line = bar_line(view, columns);
        EXPECT_LE(line.size(), static_cast<std::size_t>(columns - 3));
        EXPECT_TRUE(line.starts_with(std::string("2 threads").substr(0, line.size()))) << line;
        if (columns >= 62) {
            EXPECT_NE(line.find(" 37%  0:14 elapsed, 0:24 left"), std::string::npos) << line;
        } else if (columns >= 50) {
            EXPECT_NE(line.find(" 37%  0:24 left"), std::string::npos) << line;
        }
    }
    EXPECT_EQ(bar_line(view, 100), "2 threads: 3 of 10 runs done  [###########-------------------]"
                                   "  37%  0:14 elapsed, 0:24 left");
}

} // namespace
