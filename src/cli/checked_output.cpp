#include "cli/checked_output.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

constexpr int exit_failed = 1;

void report_write_error(int error) {
    if (error != 0) {
        std::fprintf(stderr, "tessary-cli: write error: %s\n", std::strerror(error));
    } else {
        std::fputs("tessary-cli: write error\n", stderr);
    }
}

} // namespace

void flush_stdout_or_exit() {
    errno = 0;
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        report_write_error(errno);
        _exit(exit_failed);
    }
}

int close_stdout(int status) {
    errno = 0;
    const bool lost = std::ferror(stdout) != 0;
    // ferror keeps no errno: flushing again repeats a failed write and tells why.
    if (std::fflush(stdout) != 0 || lost) {
        report_write_error(errno);
        std::fclose(stdout);
        return exit_failed;
    }
    if (std::fclose(stdout) != 0) {
        report_write_error(errno);
        return exit_failed;
    }
    return status;
}
