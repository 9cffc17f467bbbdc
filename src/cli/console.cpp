#include "cli/console.h"

#include "cli/exit_status.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Back to the start of the line and clear it.
constexpr std::string_view erase_line = "\r\033[K";

bool is_terminal(std::FILE *stream) {
    const int fd = fileno(stream);
    return fd >= 0 && isatty(fd) != 0;
}

void write_text(std::FILE *stream, std::string_view text) {
    std::fwrite(text.data(), 1, text.size(), stream);
}

// Every message of the program begins with its name.
void write_prefix(std::FILE *stream) {
    write_text(stream, program_name);
    write_text(stream, ": ");
}

} // namespace

console::console(std::FILE *out, std::FILE *err)
    : out(out), err(err), bar_allowed(is_terminal(err)) {}

console::~console() {
    const std::lock_guard lock(mutex);
    hide_bar();
}

void console::print(std::string_view text) {
    const std::lock_guard lock(mutex);
    if (closed) {
        return;
    }
    hide_bar();
    errno = 0;
    write_text(out, text);
    check_flush();
    show_bar();
}

void console::error(std::string_view message) {
    const std::lock_guard lock(mutex);
    hide_bar();
    write_prefix(err);
    write_text(err, message);
    std::fputc('\n', err);
    std::fflush(err);
    show_bar();
}

void console::draw_bar(std::string_view line) {
    if (!bar_allowed) {
        return;
    }
    const std::lock_guard lock(mutex);
    if (frozen) {
        return;
    }
    bar_length = std::min(line.size(), bar_text.size());
    std::copy_n(line.begin(), bar_length, bar_text.begin());
    show_bar();
}

void console::erase_bar() {
    const std::lock_guard lock(mutex);
    hide_bar();
    bar_length = 0;
}

int console::columns() const {
    winsize size{};
    if (ioctl(fileno(err), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
        return size.ws_col;
    }
    return 80;
}

void console::clear_interrupted_line() {
    const std::lock_guard lock(mutex);
    frozen = true;
    bar_length = 0;
    bar_shown = false;
    if (bar_allowed) {
        write_text(err, erase_line);
        std::fflush(err);
    } else if (!closed && is_terminal(out)) {
        write_text(out, erase_line);
        std::fflush(out);
    }
}

int console::close(int status) {
    const std::lock_guard lock(mutex);
    hide_bar();
    closed = true;
    errno = 0;
    const bool lost = std::ferror(out) != 0;
    // ferror keeps no errno: flushing again repeats a failed write and tells why.
    if (std::fflush(out) != 0 || lost) {
        report_write_error(errno);
        std::fclose(out);
        return exit_failed;
    }
    if (std::fclose(out) != 0) {
        report_write_error(errno);
        return exit_failed;
    }
    return status;
}

void console::hide_bar() {
    if (bar_shown) {
        write_text(err, erase_line);
        std::fflush(err);
        bar_shown = false;
    }
}

void console::show_bar() {
    if (bar_length == 0 || frozen) {
        return;
    }
    std::fputc('\r', err);
    std::fwrite(bar_text.data(), 1, bar_length, err);
    // Clears what a longer bar before it left.
    write_text(err, "\033[K");
    std::fflush(err);
    bar_shown = true;
}

void console::report_write_error(int error) {
    write_prefix(err);
    write_text(err, "write error");
    if (error != 0) {
        write_text(err, ": ");
        write_text(err, std::strerror(error));
    }
    std::fputc('\n', err);
    std::fflush(err);
}

// A write that failed ends the program: the bar is already erased. A failed write leaves
// the stream's error set, though a later flush may succeed.
void console::check_flush() {
    if (std::fflush(out) != 0 || std::ferror(out) != 0) {
        report_write_error(errno);
        _exit(exit_failed);
    }
}
