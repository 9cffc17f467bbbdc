// tessary-cli's exit statuses, as the manual page and the README list them.
#ifndef TESSARY_CLI_EXIT_STATUS_H
#define TESSARY_CLI_EXIT_STATUS_H

enum exit_status : int {
    exit_success = 0,
    exit_failed = 1, // a computation failed or verified wrong digits, or output was lost
    exit_usage = 2,
    exit_interrupted = 130, // Ctrl-C, as a shell reports SIGINT
};

#endif
