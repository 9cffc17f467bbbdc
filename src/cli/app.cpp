#include "cli/app.h"

#include "cli/checked_output.h"
#include "cli/interrupt.h"
#include "cli/json_report.h"
#include "cli/measure.h"
#include "cli/options.h"
#include "cli/progress_bar.h"
#include "cli/stress.h"
#include "cli/text_report.h"
#include "probe/system_info.h"
#include "tessary_version.h"

#include <cstdio>
#include <memory>
#include <new>
#include <stop_token>
#include <unistd.h>

namespace {

constexpr int exit_failed = 1;
constexpr int exit_usage = 2;

int online_processors() {
    return static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
}

// A bar on standard error when it is a terminal; nothing otherwise.
std::unique_ptr<progress_bar> terminal_progress_bar() {
    if (isatty(STDERR_FILENO) == 0) {
        return nullptr;
    }
    return std::make_unique<progress_bar>(stderr);
}

// Ctrl-C during a computation that cannot be cancelled: end the bar's line and leave.
void exit_on_interrupt(progress_bar *bar) {
    on_interrupt([bar] {
        if (bar) {
            bar->end_line();
        }
        _exit(exit_interrupted);
    });
}

void report_error(const std::string &message) {
    std::fprintf(stderr, "tessary-cli: %s\n", message.c_str());
}

int print_mode(const cli_options &options, const cli_engine &engine) {
    const auto bar = terminal_progress_bar();
    exit_on_interrupt(bar.get());
    const printed_digits pi = compute_printed_digits(options.digits, engine.value, bar.get());
    if (!pi.error_message.empty()) {
        report_error(pi.error_message);
        return close_stdout(exit_failed);
    }
    std::fputs(pi.text.c_str(), stdout);
    std::fputc('\n', stdout);
    return close_stdout(0);
}

int measure_mode(const cli_options &options, const cli_engine &engine) {
    system_info machine{};
    get_system_info(&machine);
    const auto bar = terminal_progress_bar();
    exit_on_interrupt(bar.get());

    measure_request request;
    request.digits = options.mode == cli_mode::benchmark ? 0 : options.digits;
    request.threads = options.threads;
    request.driver = engine.driver;
    request.progress = bar.get();
    if (!options.json) {
        if (request.digits == 0) {
            write_machine(stdout, machine);
            std::fputc('\n', stdout);
            flush_stdout_or_exit();
        }
        // One computation on one thread needs no line of its own beside the summary.
        request.on_computation = [one = request.digits != 0](const computation_record &record) {
            if (!one || record.multi_core) {
                write_computation_line(stdout, record);
                flush_stdout_or_exit();
            }
        };
    }
    const measure_report report = run_measurement(request);
    if (options.json) {
        std::fputs(measure_json(report, machine).c_str(), stdout);
    } else {
        write_measure_summary(stdout, report);
    }
    if (!report.success()) {
        report_error(report.error_message());
        return close_stdout(exit_failed);
    }
    return close_stdout(0);
}

int stress_mode(const cli_options &options, const cli_engine &engine) {
    std::stop_source stop;
    // The first Ctrl-C asks for the summary; a second one leaves at once.
    on_interrupt([stop]() mutable {
        if (!stop.request_stop()) {
            _exit(exit_interrupted);
        }
    });
    stress_request request;
    request.digits = options.digits != 0 ? options.digits : pi_benchmark_digits;
    request.threads = options.threads;
    request.seconds = options.minutes * engine.seconds_per_minute;
    request.driver = engine.driver;
    request.stop = stop.get_token();
    request.on_computation = [](const stress_record &record) {
        write_stress_line(stdout, record);
        flush_stdout_or_exit();
    };
    std::printf("Stress: computations of %d digits on %d threads for %g minutes\n", request.digits,
                request.threads, options.minutes);
    flush_stdout_or_exit();
    const stress_report report = run_stress(request);
    write_stress_summary(stdout, report);
    if (report.interrupted) {
        return close_stdout(exit_interrupted);
    }
    return close_stdout(report.success() ? 0 : exit_failed);
}

int run_mode(const cli_options &options, const cli_engine &engine) {
    switch (options.mode) {
    case cli_mode::help:
        std::fputs(usage_text(), stdout);
        return close_stdout(0);
    case cli_mode::version:
        std::printf("tessary-cli %s\nengine %s\nkernels %s\n", TESSARY_VERSION, pi_get_version(),
                    pi_simd_path());
        return close_stdout(0);
    case cli_mode::print:
        return print_mode(options, engine);
    case cli_mode::stress:
        return stress_mode(options, engine);
    case cli_mode::benchmark:
    case cli_mode::digits:
        break;
    }
    return measure_mode(options, engine);
}

} // namespace

int run_tessary_cli(int argc, char **argv, const cli_engine &engine) {
    bool json = false;
    try {
        const parsed_options parsed = parse_options(argc, argv, online_processors());
        if (!parsed.error.empty()) {
            std::fprintf(stderr, "tessary-cli: %s (try --help)\n", parsed.error.c_str());
            return exit_usage;
        }
        json = parsed.options.json;
        // A path forced with TESSARY_SIMD that this machine cannot run is not silently replaced.
        if (const char *note = pi_simd_note()) {
            std::fprintf(stderr, "tessary-cli: %s\n", note);
        }
        watch_interrupts();
        return run_mode(parsed.options, engine);
    } catch (const std::bad_alloc &) {
        if (json) {
            std::fputs(allocation_failure_json(), stdout);
        }
        std::fputs("tessary-cli: Memory allocation failed\n", stderr);
        return close_stdout(exit_failed);
    }
}
