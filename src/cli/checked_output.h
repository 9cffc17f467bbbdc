// Standard output that never loses a write silently: the close_stdout pattern.
#ifndef TESSARY_CLI_CHECKED_OUTPUT_H
#define TESSARY_CLI_CHECKED_OUTPUT_H

// Flushes standard output; when a write has failed, says so on standard error and ends
// the program with status 1 at once, rather than compute on with nowhere to report.
void flush_stdout_or_exit();

// Flushes and closes standard output. Returns `status`, or 1 after a message on standard
// error when any output was lost.
int close_stdout(int status);

#endif
