// tessary-cli: Tessary's benchmark in a terminal, and pi's digits on demand.

#include "pi_benchmark.h"
#include "pi_fftcs.h"
#include "system_info.h"
#include "tessary_version.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

constexpr const char *kProgramVersion = TESSARY_VERSION;
constexpr int kBenchmarkSteps = 5 * 19;
// Beyond this the working memory passes several gigabytes.
constexpr int kMaxDigits = 1 << 28;
// Decimal places computed beyond those printed, and trailing places of a result
// that are not trusted (the error of its last radix digits).
constexpr int kGuardDigits = 48;
constexpr int kUntrustedDigits = 16;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: tessary-cli [--digits N [--print]] [--json]\n"
    "Computes pi with Tessary's FFT-based arithmetic and reports the processor time.\n"
    "\n"
    "Without options, runs the benchmark: five computations of 8,388,608 digits,\n"
    "then prints the machine, the score (higher is faster) and the processor time.\n"
    "\n"
    "Options:\n"
    "  --digits N   compute pi once to N decimal digits (1 to 268435456) and print\n"
    "               the digits computed, the processor time and the score\n"
    "  --print      with --digits: write \"3.\" and exactly N correct decimals of pi\n"
    "               to standard output instead\n"
    "  --json       print the result record as one JSON object (keys success,\n"
    "               digits, time_seconds, score, error_message)\n"
    "  --version    print the program and engine versions\n"
    "  --help       print this text\n"
    "\n"
    "A progress bar goes to standard error when it is a terminal.\n"
    "Exit status: 0 on success, 1 when the computation failed, 2 for bad arguments.\n";

struct Options {
    std::optional<int> digits;
    bool print = false;
    bool json = false;
    bool help = false;
    bool version = false;
};

[[noreturn]] void usage_error(const std::string &message) {
    std::fprintf(stderr, "tessary-cli: %s (try --help)\n", message.c_str());
    std::exit(kExitUsage);
}

int parse_digit_count(const char *text) {
    errno = 0;
    char *end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (end == text || *end != '\0') {
        usage_error(std::string("--digits needs a whole number, not '") + text + "'");
    }
    if (value <= 0) {
        usage_error(std::string("--digits must be at least 1, not ") + text);
    }
    if (errno == ERANGE || value > kMaxDigits) {
        usage_error(std::string("--digits must be at most ") + std::to_string(kMaxDigits) +
                    ", not " + text);
    }
    return static_cast<int>(value);
}

Options parse_options(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--print") {
            options.print = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--digits") {
            if (i + 1 == argc) {
                usage_error("--digits needs a number");
            }
            options.digits = parse_digit_count(argv[++i]);
        } else if (arg.starts_with("--digits=")) {
            options.digits = parse_digit_count(argv[i] + std::strlen("--digits="));
        } else {
            usage_error(std::string("unknown option '") + argv[i] + "'");
        }
    }
    if (options.print && !options.digits) {
        usage_error("--print needs --digits N");
    }
    if (options.print && options.json) {
        usage_error("--print and --json cannot be combined");
    }
    return options;
}

// A one-line progress bar on standard error, redrawn in place.
struct ProgressBar {
    int total_steps;
    std::clock_t start = std::clock();

    static void report(int step, int precision_digits, void *data, double) {
        const auto *bar = static_cast<const ProgressBar *>(data);
        constexpr int kWidth = 30;
        const int filled = std::clamp(step * kWidth / std::max(bar->total_steps, 1), 0, kWidth);
        const double seconds = static_cast<double>(std::clock() - bar->start) / CLOCKS_PER_SEC;
        std::fprintf(stderr, "\r[%.*s%*s] step %d of %d, %d digits, %.1f s ", filled,
                     "##############################", kWidth - filled, "", step, bar->total_steps,
                     precision_digits, seconds);
        std::fflush(stderr);
    }

    void finish() const { std::fputc('\n', stderr); }
};

std::optional<ProgressBar> make_progress_bar(int total_steps) {
    if (isatty(STDERR_FILENO) == 0) {
        return std::nullopt;
    }
    return ProgressBar{total_steps};
}

std::string json_string(const char *text) {
    std::string out = "\"";
    for (const unsigned char ch : std::string_view(text)) {
        if (ch == '"' || ch == '\\') {
            out += '\\';
            out += static_cast<char>(ch);
        } else if (ch < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", ch);
            out += escaped;
        } else {
            out += static_cast<char>(ch);
        }
    }
    return out + '"';
}

void print_json(const pi_result &result) {
    std::printf("{\"success\": %d, \"digits\": %d, \"time_seconds\": %.6f, \"score\": %.0f, "
                "\"error_message\": %s}\n",
                result.success, result.digits, result.time_seconds, result.score,
                json_string(result.error_message).c_str());
}

void print_system(const system_info &info) {
    std::printf("CPU:          %s\n", info.cpu_model);
    std::printf("Cores:        %d cores (%d logical)\n", info.physical_cores, info.logical_cores);
    if (info.cpu_mhz > 0) {
        std::printf("Frequency:    %d MHz\n", info.cpu_mhz);
    }
    std::printf("Memory:       %lld MB\n", static_cast<long long>(info.memory_mb));
    std::printf("OS:           %s %s\n", info.os_name, info.kernel_release);
    std::printf("Architecture: %s\n", info.architecture);
}

// Runs one computation or the benchmark with the progress bar when there is a terminal.
template <class Compute> pi_result run_with_progress(int total_steps, Compute compute) {
    pi_result result{};
    auto bar = make_progress_bar(total_steps);
    if (bar) {
        compute(&result, ProgressBar::report, &*bar);
        bar->finish();
    } else {
        compute(&result, nullptr, nullptr);
    }
    return result;
}

int report_failure(const pi_result &result, bool json) {
    if (json) {
        print_json(result);
    } else {
        std::fprintf(stderr, "tessary-cli: %s\n", result.error_message);
    }
    return kExitFailed;
}

int run_benchmark(bool json) {
    const pi_result result =
        run_with_progress(kBenchmarkSteps, [](pi_result *r, pi_progress_callback cb, void *data) {
            pi_calculate_5x8m(r, cb, data);
        });
    if (result.success == 0) {
        return report_failure(result, json);
    }
    if (json) {
        print_json(result);
        return 0;
    }
    system_info info{};
    get_system_info(&info);
    print_system(info);
    std::printf("Score:        %.0f\n", result.score);
    std::printf("Time:         %.3f sec\n", result.time_seconds);
    return 0;
}

int run_once(int digits, bool json) {
    const pi_result result =
        run_with_progress(pi_estimate_iterations(digits),
                          [digits](pi_result *r, pi_progress_callback cb, void *data) {
                              pi_calculate_with_progress(digits, r, cb, data);
                          });
    if (result.success == 0) {
        return report_failure(result, json);
    }
    if (json) {
        print_json(result);
        return 0;
    }
    std::printf("Digits:       %d\n", result.digits);
    std::printf("Score:        %.0f\n", result.score);
    std::printf("Time:         %.3f sec\n", result.time_seconds);
    return 0;
}

// The decimal expansion "3.dddd..." of a computed value, cut to its trusted places.
struct PiText {
    std::string text;
    int trusted_decimals = 0;
};

void keep_decimal_text(const mp_number *pi, int n, int log10_radix, void *data) {
    auto *out = static_cast<PiText *>(data);
    std::string buffer(static_cast<std::size_t>(n) * log10_radix + 16, '\0');
    mp_sprintf(n, log10_radix, pi, buffer.data());
    buffer.resize(buffer.find('e'));
    out->text = std::move(buffer);
}

// Whether the places after `decimals` leave the last printed digit in doubt: a run
// of nines or zeros up to the trusted end could carry into it or borrow from it.
bool last_digit_uncertain(const std::string &text, int decimals, int trusted) {
    const std::string_view tail(text.data() + 2 + decimals,
                                static_cast<std::size_t>(trusted - decimals));
    return tail.find_first_not_of('9') == std::string_view::npos ||
           tail.find_first_not_of('0') == std::string_view::npos;
}

// Writes "3." and exactly `decimals` correct decimals of pi, computing more
// places until the last printed one is certain.
int print_digits(int decimals) {
    long long request = static_cast<long long>(decimals) + kGuardDigits;
    for (;;) {
        PiText pi;
        const int digits = static_cast<int>(std::min<long long>(request, INT_MAX));
        const pi_result result = run_with_progress(
            pi_estimate_iterations(digits), [&](pi_result *r, pi_progress_callback cb, void *data) {
                pi_calculate_value(digits, r, cb, data, keep_decimal_text, &pi);
            });
        if (result.success == 0) {
            return report_failure(result, false);
        }
        const long long available = static_cast<long long>(pi.text.size()) - 2;
        const long long trusted = std::min<long long>(available, result.digits) - kUntrustedDigits;
        if (trusted > decimals &&
            !last_digit_uncertain(pi.text, decimals, static_cast<int>(trusted))) {
            std::fwrite(pi.text.data(), 1, static_cast<std::size_t>(decimals) + 2, stdout);
            std::fputc('\n', stdout);
            return std::fflush(stdout) == 0 ? 0 : kExitFailed;
        }
        if (request >= INT_MAX) {
            std::fprintf(stderr, "tessary-cli: cannot make digit %d certain\n", decimals);
            return kExitFailed;
        }
        request *= 2;
    }
}

} // namespace

int main(int argc, char **argv) {
    const Options options = parse_options(argc, argv);
    if (options.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("tessary-cli %s\nengine %s\n", kProgramVersion, pi_get_version());
        return 0;
    }
    if (options.print) {
        return print_digits(*options.digits);
    }
    if (options.digits) {
        return run_once(*options.digits, options.json);
    }
    return run_benchmark(options.json);
}
