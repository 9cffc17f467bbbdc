// tessary-cli: Tessary's benchmark in a terminal, and pi's digits on demand.

#include "cli/app.h"

int main(int argc, char **argv) {
    return run_tessary_cli(argc, argv, cli_engine{});
}
