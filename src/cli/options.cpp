#include "cli/options.h"

#include <algorithm>
#include <charconv>
#include <getopt.h>
#include <optional>
#include <string_view>

namespace {

enum option_key : int {
    key_digits = 256,
    key_print,
    key_json,
    key_threads,
    key_stress,
    key_minutes,
    key_version,
    key_count,
    key_help = 'h',
};

constexpr option long_options[] = {
    {"digits", required_argument, nullptr, key_digits},
    {"print", no_argument, nullptr, key_print},
    {"json", no_argument, nullptr, key_json},
    {"threads", required_argument, nullptr, key_threads},
    {"stress", no_argument, nullptr, key_stress},
    {"minutes", required_argument, nullptr, key_minutes},
    {"version", no_argument, nullptr, key_version},
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
            fail(std::string("--") + name + " must be from 1 to " + std::to_string(max) + ", not " +
                 std::string(text));
            return std::nullopt;
        }
        return static_cast<int>(*value);
    }

    bool parse_digits(std::string_view text) {
        const auto value = parse_count("digits", text, max_digits, "a whole number");
        options.digits = value.value_or(options.digits);
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
            return fail("--minutes must be above 0 and at most 10080 (a week), not " +
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
        case key_json:
            options.json = true;
            return true;
        default:
            return true;
        }
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
        if (seen[key_print]) {
            if (!seen[key_digits]) {
                return fail("--print needs --digits N");
            }
            for (const int other : {key_json, key_threads, key_stress}) {
                if (seen[other]) {
                    return fail(std::string("--print and --") + option_name(other) +
                                " cannot be combined");
                }
            }
            options.mode = cli_mode::print;
            return true;
        }
        if (seen[key_stress]) {
            if (seen[key_json]) {
                return fail("--stress and --json cannot be combined");
            }
            if (!seen[key_threads]) {
                options.threads = std::clamp(online_processors, 1, max_threads);
            }
            options.mode = cli_mode::stress;
            return true;
        }
        if (seen[key_minutes]) {
            return fail("--minutes needs --stress");
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

Without options, runs the benchmark on one thread: five computations of
8,388,608 digits. It prints the machine first, then one line per run
(processor time, wall-clock time, score and digits verified), then the score
(the mean of the runs' scores; higher is faster), the total processor time,
the wall-clock time and the spread of the run times.

Options:
  --digits N     compute pi once instead, with the transform size for N
                 decimal digits (N from 1 to 268435456), and print the digits
                 computed and verified, the score and the times; the digits
                 computed are r x 2^k, where 2^k is the smallest power of two
                 (at least 2) not below N/4 rounded down, and r is 4 unless
                 the rounding error forces a smaller radix (r = 3, 2 or 1), so
                 with r = 4 from N-3 up to under 2N (8 for N up to 11)
  --print        with --digits: write "3." and exactly N correct decimals of
                 pi to standard output instead, from a computation that
                 succeeded, with guard digits until the last one is certain
  --threads T    also run T benchmarks (or T computations with --digits) at
                 once, one per thread, and report the multi-core score; T is a
                 number from 1 to 1024 or 'all' (the processors online); 1,
                 the default, is the single-core benchmark alone
  --json         print the report as one JSON object (schema 1; see README)
  --stress       repeat verified computations of 8,388,608 digits (or of
                 --digits N) on T threads (default: all processors online)
                 until the time is up or one fails
  --minutes M    the stress run's duration, a number such as 10 or 0.5
                 (default 10, at most 10080)
  -h, --help     print this text
  --version      print the program and engine versions and the transform
                 kernels in use

Multi-core score: with --threads T above 1, the single-core benchmark runs
first, on processor time, exactly as without the option. Then T copies run at
once, one per thread. The processor clock counts the whole process, so each
computation is timed on the wall clock instead, and a thread's score is the
same formula applied to its wall-clock times. The multi-core score is the sum
of the thread scores: a machine that scales perfectly gets T times the
single-core score. The scaling efficiency is the multi-core score divided by
T times the single-thread wall-clock score, from the single-core runs timed
on the same clock. Every thread holds one computation's working memory (about
76 MB at 8,388,608 digits), so memory grows by that much per thread.

Stress: one line per finished computation (thread, time, digits verified or
the first wrong digit), then a summary. No computation starts after the time
is up; those running finish. Ctrl-C prints the summary of the computations
finished so far at once, abandoning those still running.

Numbers are written with digits only: no sign and no spaces. Long options may
be abbreviated while unambiguous, take their value as --digits N or
--digits=N, and may each be given once; -- ends the options.

A progress bar goes to standard error when it is a terminal.

The transform kernels (baseline, avx2 or avx512 on x86-64) are the fastest
this processor supports; TESSARY_SIMD=name in the environment forces one
(a path the processor lacks falls back, with a note on standard error). A
score measures the kernels it ran on: compare scores of one program version.

Exit status: 0 on success, 1 when a computation failed or verified wrong
digits or output could not be written, 2 for bad arguments, 130 when
interrupted by Ctrl-C.
)";
}
