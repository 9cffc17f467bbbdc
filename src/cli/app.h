// tessary-cli from the command line to the exit status, on a replaceable engine.
#ifndef TESSARY_CLI_APP_H
#define TESSARY_CLI_APP_H

#include "cli/print_digits.h"
#include "cli/stress_memory.h"
#include "report/report_record.h"

// The engine entry points the program computes with, the wall clock it reads for its
// timings, its progress bar and --minutes, and the machine's memory it sizes computations
// by; tests put fakes in their place.
struct cli_engine {
    pi_driver driver = pi_calculate_checked;
    pi_value_calculator value = pi_calculate_checked_value;
    clock_function clock = wall_clock::now;
    machine_memory (*memory)() = read_machine_memory;
};

// Runs tessary-cli with its arguments; returns the exit status.
int run_tessary_cli(int argc, char **argv, const cli_engine &engine);

#endif
