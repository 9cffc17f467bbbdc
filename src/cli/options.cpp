#include "cli/options.h"

#include "cli/digit_count.h"
#include "engine/pi_benchmark.h"
#include "report/number_style.h"

#include <algorithm>
#include <charconv>
#include <getopt.h>
#include <initializer_list>
#include <optional>
#include <string_view>

namespace {

enum option_key : int {
    key_digits = 256,
    key_print,
    key_print_unverified,
    key_json,
    key_threads,
    key_stress,
    key_minutes,
    key_version,
    key_no_save,
    key_history,
    key_delete,
    key_memory,
    key_count,
    key_help = 'h',
};

constexpr option long_options[] = {
    {"digits", required_argument, nullptr, key_digits},
    {"print", no_argument, nullptr, key_print},
    {"print-unverified", no_argument, nullptr, key_print_unverified},
    {"json", no_argument, nullptr, key_json},
    {"threads", required_argument, nullptr, key_threads},
    {"stress", no_argument, nullptr, key_stress},
    {"minutes", required_argument, nullptr, key_minutes},
    {"version", no_argument, nullptr, key_version},
    {"no-save", no_argument, nullptr, key_no_save},
    {"history", no_argument, nullptr, key_history},
    {"delete", required_argument, nullptr, key_delete},
    {"memory", required_argument, nullptr, key_memory},
    {"help", no_argument, nullptr, key_help},
    {nullptr, 0, nullptr, 0},
};

const char *option_name(int key) {
    for (const option &o : long_options) {
        if (o.val == key) {
            return o.name;
        }
    }
    return "?";
}

// A whole number written with decimal digits only: no sign, no white space, no exponent,
// so that every number on the command line follows the same rule.
std::optional<long long> parse_whole(std::string_view text) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// Digits with at most one decimal point ("10", "0.5", ".5"), by the same rule.
std::optional<double> parse_decimal(std::string_view text) {
    const std::size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    const std::string_view fraction =
        point == std::string_view::npos ? std::string_view{} : text.substr(point + 1);
    if (whole.empty() && fraction.empty()) {
        return std::nullopt;
    }
    for (const std::string_view part : {whole, fraction}) {
        if (part.find_first_not_of("0123456789") != std::string_view::npos) {
            return std::nullopt;
        }
    }
    double value = 0;
    const auto [end, error] =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::fixed);
    if (error != std::errc{} || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::string quoted(std::string_view text) {
    std::string out(1, '\'');
    out.append(text);
    out.push_back('\'');
    return out;
}

struct option_parser {
    int online_processors = 1;
    cli_options options;
    bool seen[key_count] = {};
    std::string error;

    bool fail(std::string message) {
        error = std::move(message);
        return false;
    }

    // A whole number from 1 to max for option --name; `expected` says what it may be.
    std::optional<int> parse_count(const char *name, std::string_view text, int max,
                                   const char *expected) {
        const auto value = parse_whole(text);
        if (!value) {
            fail(std::string("--") + name + " needs " + expected + ", not " + quoted(text));
            return std::nullopt;
        }
        if (*value < 1 || *value > max) {
            fail(std::string("--") + name + " must be from 1 to " + grouped(max) + ", not " +
                 std::string(text));
            return std::nullopt;
        }
        return static_cast<int>(*value);
    }

    bool parse_digits(std::string_view text) {
        const auto value = parse_digit_count(text);
        if (!value) {
            return fail("--digits needs a whole number, or one with K (x 1,024) or M (x 1,048,576) "
                        "such as 16K or 32M, not " +
                        quoted(text));
        }
        if (*value < 1 || *value > max_digits) {
            return fail("--digits must be from 1 to " + grouped(max_digits) + ", not " +
                        std::string(text));
        }
        options.digits = static_cast<int>(*value);
        return true;
    }

    bool parse_delete(std::string_view text) {
        const auto value = parse_whole(text);
        if (!value || *value < 1) {
            return fail("--delete needs the id of a saved result, a whole number that --history "
                        "lists, not " +
                        quoted(text));
        }
        options.delete_id = *value;
        return true;
    }

    bool parse_memory(std::string_view text) {
        const auto value =
            parse_count("memory", text, max_memory_percent, "a whole percentage such as 50");
        options.memory_percent = value.value_or(0);
        return value.has_value();
    }

    bool parse_threads(std::string_view text) {
        if (text == "all") {
            options.threads = std::clamp(online_processors, 1, max_threads);
            return true;
        }
        const auto value = parse_count("threads", text, max_threads, "a whole number or 'all'");
        options.threads = value.value_or(options.threads);
        return value.has_value();
    }

    bool parse_minutes(std::string_view text) {
        const auto value = parse_decimal(text);
        if (!value) {
            return fail("--minutes needs a number such as 10 or 0.5, not " + quoted(text));
        }
        if (!(*value > 0) || *value > max_minutes) {
            return fail("--minutes must be above 0 and at most 10,080 (a week), not " +
                        std::string(text));
        }
        options.minutes = *value;
        return true;
    }

    // Records one option; a repeated option is an error, since which one counts is a guess.
    bool take(int key, const char *argument) {
        if (seen[key]) {
            return fail(std::string("--") + option_name(key) + " given twice");
        }
        seen[key] = true;
        switch (key) {
        case key_digits:
            return parse_digits(argument);
        case key_threads:
            return parse_threads(argument);
        case key_minutes:
            return parse_minutes(argument);
        case key_delete:
            return parse_delete(argument);
        case key_memory:
            return parse_memory(argument);
        case key_no_save:
            options.save = false;
            return true;
        case key_json:
            options.json = true;
            return true;
        default:
            return true;
        }
    }

    // Fails when any of `others` was given beside `key`.
    bool alone(int key, std::initializer_list<int> others) {
        for (const int other : others) {
            if (seen[other]) {
                return fail(std::string("--") + option_name(key) + " and --" + option_name(other) +
                            " cannot be combined");
            }
        }
        return true;
    }

    // --history (with --json, if asked) and --delete ID measure nothing.
    bool choose_results_mode() {
        const std::initializer_list<int> measuring = {
            key_digits, key_print, key_threads, key_stress, key_minutes, key_no_save, key_memory,
        };
        if (seen[key_delete]) {
            options.mode = cli_mode::delete_result;
            return alone(key_delete, measuring) && alone(key_delete, {key_history, key_json});
        }
        options.mode = cli_mode::history;
        return alone(key_history, measuring);
    }

    bool choose_stress_mode() {
        if (seen[key_json]) {
            return fail("--stress and --json cannot be combined");
        }
        if (seen[key_memory] && seen[key_digits]) {
            return fail("--memory and --digits cannot be combined: --memory chooses the size");
        }
        if (!seen[key_threads]) {
            options.threads = std::clamp(online_processors, 1, max_threads);
        }
        // A stress run that verifies nothing would pass on any machine, and one that verifies
        // part of each computation would pass on some that compute wrongly.
        const int smallest = pi_smallest_verified_digits();
        if (seen[key_digits] && options.digits < smallest) {
            return fail("--stress needs --digits of at least " + grouped(smallest) +
                        ": the check verifies no digit of smaller computations");
        }
        const int largest = pi_largest_verified_digits();
        if (options.digits > largest) {
            return fail("--stress needs --digits of at most " + grouped(largest) +
                        ": the reference checks only part of larger computations");
        }
        options.mode = cli_mode::stress;
        return true;
    }

    // Which mode the options ask for, and whether they fit together.
    bool choose_mode() {
        if (seen[key_help]) {
            options.mode = cli_mode::help;
            return true;
        }
        if (seen[key_version]) {
            options.mode = cli_mode::version;
            return true;
        }
        if (seen[key_history] || seen[key_delete]) {
            return choose_results_mode();
        }
        if (seen[key_print] || seen[key_print_unverified]) {
            const std::string print =
                std::string("--") + option_name(seen[key_print] ? key_print : key_print_unverified);
            if (!seen[key_digits]) {
                return fail(print + " needs --digits N");
            }
            for (const int other : {key_json, key_threads, key_stress, key_memory}) {
                if (seen[other]) {
                    return fail(print + " and --" + option_name(other) + " cannot be combined");
                }
            }
            // Digits that the reference cannot verify are printed only when asked for by name.
            options.print_unverified = seen[key_print_unverified];
            const int verifiable = pi_reference_decimals();
            if (!options.print_unverified && options.digits > verifiable) {
                return fail("--print verifies at most " + grouped(verifiable) +
                            " decimals; --print-unverified prints more, unchecked past that");
            }
            options.mode = cli_mode::print;
            return true;
        }
        if (seen[key_stress]) {
            return choose_stress_mode();
        }
        for (const int stress_option : {key_minutes, key_memory}) {
            if (seen[stress_option]) {
                return fail(std::string("--") + option_name(stress_option) + " needs --stress");
            }
        }
        options.mode = seen[key_digits] ? cli_mode::digits : cli_mode::benchmark;
        return true;
    }
};

} // namespace

parsed_options parse_options(int argc, char **argv, int online_processors) {
    option_parser parser;
    parser.online_processors = online_processors;
    // A leading ':' reports a missing argument as ':', and "+" stops at the first operand
    // (there are none to permute); optind 0 restarts getopt for each call.
    optind = 0;
    opterr = 0;
    int key = 0;
    bool valid = true;
    while (valid && (key = getopt_long(argc, argv, "+:h", long_options, nullptr)) != -1) {
        if (key == '?') {
            const char *written = argv[optind - 1];
            valid = parser.fail(optopt != 0 && optopt < 256
                                    ? "unknown option '-" + std::string(1, char(optopt)) + "'"
                                    : "unknown or ambiguous option " + quoted(written));
        } else if (key == ':') {
            valid = parser.fail(std::string("--") + option_name(optopt) + " needs a value");
        } else {
            valid = parser.take(key, optarg);
        }
    }
    if (valid && optind < argc) {
        valid = parser.fail("unexpected argument " + quoted(argv[optind]));
    }
    if (valid) {
        parser.choose_mode();
    }
    return {parser.options, parser.error};
}

const char *usage_text() {
    return R"(Usage: tessary-cli [OPTION]...
Benchmarks the processor by computing pi with Tessary's FFT-based arithmetic.

Modes:
  tessary-cli                      the benchmark: 5 computations of 8,388,608 digits
  tessary-cli --threads all        the same, then one benchmark per processor at once
  tessary-cli --digits N           one computation of N digits, timed and verified
  tessary-cli --digits N --print   "3." and exactly N correct decimals of pi
  tessary-cli --stress             verified computations on every processor, 10 minutes
  tessary-cli --history            the saved results, newest first (--json: as reports)
  tessary-cli --version            the program and engine versions and the kernels

Options:
  --digits N     compute pi once instead, for N digits (1 to 268,435,456); N may be
                 a size of the ladder 16K 32K 64K 128K 256K 512K 1M 2M 4M 8M 16M 32M
                 (K = 1,024, M = 1,048,576: 32M is 33,554,432) or any K or M count
  --print        with --digits: write exactly N correct decimals of pi instead,
                 every one verified (N at most 33,555,456)
  --print-unverified
                 the same for any N; decimals past 33,555,456 are not checked
  --threads T    also run T at once, for the multi-core score (1 to 1,024, or 'all')
  --json         print the report as one JSON object (schema 1)
  --stress       repeat verified computations until the time is up or one fails
  --minutes M    the stress run's duration (10 by default, at most 10,080)
  --memory P     stress with the largest ladder size whose threads together hold at
                 most P % of the machine's memory (1 to 90)
  --no-save      keep no record of this result
  --history      list the saved results, newest first
  --delete ID    delete the saved result ID (as --history lists it)
  -h, --help     print this text
  --version      print the versions and the transform kernels in use

The score is higher for a faster machine. Multi-core score: with --threads T,
the single-core benchmark runs first, then T copies at once, each timed on the
wall clock; their scores add up. Each thread holds one computation's memory:
about 76 MB at 8,388,608 digits, 302 MB at 32M. Ctrl-C ends any mode with a
summary of what was measured.

Results: every benchmark, --digits computation and stress run is compared with
your earlier ones and saved in $XDG_DATA_HOME/tessary/results.sqlite (by default
~/.local/share/tessary/results.sqlite). --delete ID removes one; deleting the
file removes them all.

Exit status: 0 on success, 1 when a computation failed or verified wrong
digits or output could not be written, 2 for bad arguments, 130 when
interrupted by Ctrl-C. A result that could not be saved keeps its status.

The manual page tessary-cli(1) and README.md tell how many digits --digits N
computes, how the scores are made, and what the JSON report holds.
)";
}
