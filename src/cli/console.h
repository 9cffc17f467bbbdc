// Standard output and standard error as a terminal shows them beside a progress bar. The bar
// lives on standard error, only when it is a terminal, and owns its line: it is erased before
// any other text is written, on either stream, and drawn again after. Output is checked as it
// goes and once at the end (the close_stdout pattern), so that no lost write slips through.
#ifndef TESSARY_CLI_CONSOLE_H
#define TESSARY_CLI_CONSOLE_H

#include <array>
#include <cstdio>
#include <mutex>
#include <string_view>

// The program's name, which begins each of its messages and reports.
constexpr char program_name[] = "tessary-cli";

class console {
  public:
    console(std::FILE *out, std::FILE *err);
    console(const console &) = delete;
    console &operator=(const console &) = delete;
    ~console(); // erases the bar

    // Writes whole lines of the report to standard output. A lost write ends the program at
    // once, with a message and status 1, rather than compute on with nowhere to report.
    void print(std::string_view text);
    // "tessary-cli: message" on standard error.
    void error(std::string_view message);

    // Whether standard error is a terminal, where a bar is drawn.
    bool shows_bar() const { return bar_allowed; }
    // Shows `line` as the bar, when standard error is a terminal.
    void draw_bar(std::string_view line);
    // No bar until the next draw_bar.
    void erase_bar();
    // The terminal's width for the bar.
    int columns() const;
    // After Ctrl-C: the bar and the terminal's "^C" erased, so that a summary starts on a fresh
    // line; no bar is drawn any more.
    void clear_interrupted_line();

    // Flushes and closes standard output. Returns `status`, or 1 after a message when any
    // output was lost.
    int close(int status);

  private:
    void hide_bar();
    void show_bar();
    void report_write_error(int error);
    void check_flush();

    std::FILE *out;
    std::FILE *err;
    bool bar_allowed; // standard error is a terminal
    std::mutex mutex;
    // The bar's text in place: it is drawn from progress callbacks, where nothing may throw.
    std::array<char, 1024> bar_text{};
    std::size_t bar_length = 0;
    bool bar_shown = false;
    bool frozen = false; // after Ctrl-C
    bool closed = false;
};

#endif
