// tessary-cli's command line: getopt_long into one options record, and the help text.
#ifndef TESSARY_CLI_OPTIONS_H
#define TESSARY_CLI_OPTIONS_H

#include <string>

enum class cli_mode { benchmark, digits, print, stress, history, delete_result, help, version };

struct cli_options {
    cli_mode mode = cli_mode::benchmark;
    int digits = 0;         // --digits N; 0 when not given
    int threads = 1;        // --threads, with `all` resolved; stress defaults to every processor
    double minutes = 10;    // --minutes, the stress budget
    int memory_percent = 0; // --memory: stress sized to this share of the memory; 0 when not given
    bool json = false;
    bool save = true;              // false with --no-save
    long long delete_id = 0;       // --delete ID
    bool print_unverified = false; // --print-unverified: past the reference's reach too
};

// The options, or a one-line reason (without the program's name) why the command line
// is not valid.
struct parsed_options {
    cli_options options;
    std::string error;
};

constexpr int max_digits = 1 << 28;    // beyond this the working memory passes several GB
constexpr int max_threads = 1024;      // each thread holds one computation's working memory
constexpr double max_minutes = 10080;  // a week
constexpr int max_memory_percent = 90; // the rest for the system and the other programs

// Parses argv; `online_processors` is what `--threads all` and the stress default mean.
parsed_options parse_options(int argc, char **argv, int online_processors);

// The --help text.
const char *usage_text();

#endif
