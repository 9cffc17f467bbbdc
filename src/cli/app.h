// tessary-cli from the command line to the exit status, on a replaceable engine.
#ifndef TESSARY_CLI_APP_H
#define TESSARY_CLI_APP_H

#include "cli/print_digits.h"
#include "engine/pi_benchmark.h"

// The engine entry points the program computes with; tests put fakes in their place.
struct cli_engine {
    pi_driver driver = pi_calculate_checked;
    pi_value_calculator value = pi_calculate_value;
    double seconds_per_minute = 60; // the unit of --minutes
};

// Runs tessary-cli with its arguments; returns the exit status.
int run_tessary_cli(int argc, char **argv, const cli_engine &engine);

#endif
