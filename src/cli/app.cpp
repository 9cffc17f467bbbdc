#include "cli/app.h"

#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "cli/measure.h"
#include "cli/options.h"
#include "cli/progress_bar.h"
#include "cli/saved_results.h"
#include "cli/stress.h"
#include "cli/stress_text.h"
#include "probe/system_info.h"
#include "report/json_report.h"
#include "report/number_style.h"
#include "report/text_report.h"

#include <chrono>
#include <new>
#include <optional>
#include <stop_token>
#include <unistd.h>

namespace {

int online_processors() {
    return static_cast<int>(sysconf(_SC_NPROCESSORS_ONLN));
}

// Ctrl-C in the middle of a measurement: what it measured so far, then status 130. The
// console draws no bar from here on.
[[noreturn]] void end_interrupted(const std::optional<report_record> &so_far, console &out,
                                  bool json) {
    out.clear_interrupted_line();
    try {
        if (so_far) {
            out.print(json ? json_report(*so_far) : text_summary(*so_far));
        }
    } catch (const std::bad_alloc &) {
    }
    _exit(out.close(exit_interrupted));
}

int print_mode(const cli_options &options, const cli_engine &engine, console &out) {
    progress_bar bar(out, engine.clock);
    // Nothing is measured but the digits, which are written only once they are certain.
    const interrupt_handler on_ctrl_c([&out] {
        out.clear_interrupted_line();
        _exit(exit_interrupted);
    });
    print_request request;
    request.decimals = options.digits;
    request.allow_unverified = options.print_unverified;
    request.calculate = engine.value;
    request.progress = &bar;
    request.write = [&out](std::string_view text) { out.print(text); };
    const print_outcome printed = print_digits(request);
    if (!printed.error_message.empty()) {
        out.error(printed.error_message);
        return out.close(exit_failed);
    }
    if (printed.verified_digits < options.digits) {
        out.error("decimals past " + grouped(printed.verified_digits) +
                  " are not checked: they are the computation's own, beyond the reference");
    }
    return out.close(exit_success);
}

// The start of a measurement, and what else the machine was doing then.
void record_start(report_record &record) {
    record.started_at = utc_timestamp(std::chrono::system_clock::now());
    run_conditions conditions{};
    get_run_conditions(&conditions);
    record.conditions = conditions;
}

// Refuses, before anything starts, computations that the memory available cannot hold.
bool fits_in_memory(int digits, int threads, const machine_memory &memory, console &out) {
    const std::string shortfall = memory_shortfall(digits, threads, memory);
    if (!shortfall.empty()) {
        out.error(shortfall);
    }
    return shortfall.empty();
}

int measure_mode(const cli_options &options, const cli_engine &engine, console &out) {
    const int digits = options.mode == cli_mode::benchmark ? pi_benchmark_digits : options.digits;
    if (!fits_in_memory(digits, options.threads, engine.memory(), out)) {
        return out.close(exit_usage);
    }
    system_info machine{};
    get_system_info(&machine);
    progress_bar bar(out, engine.clock);
    measure_request request;
    request.digits = options.mode == cli_mode::benchmark ? 0 : options.digits;
    request.threads = options.threads;
    request.driver = engine.driver;
    request.clock = engine.clock;
    request.progress = &bar;
    report_record planned = planned_report(request, running_versions(program_name), machine);
    record_start(planned);
    if (!options.json) {
        out.print(text_report_head(planned));
        request.on_computation = [&out, &planned](const computation_record &computation) {
            if (text_shows_line(planned.request, computation)) {
                out.print(text_computation_line(computation));
            }
        };
    }
    measurement session(request, planned);
    const interrupt_handler on_ctrl_c(
        [&] { end_interrupted(session.interrupt(), out, options.json); });
    report_record record = session.run();
    if (options.save) {
        save_result(record, out);
    }
    out.print(options.json ? json_report(record) : text_summary(record));
    if (!record.success) {
        out.error(record.error_message);
        return out.close(exit_failed);
    }
    return out.close(exit_success);
}

// The stress run's size: --digits, the benchmark's, or the one --memory chooses.
memory_sized stress_size(const cli_options &options, const machine_memory &memory) {
    if (options.memory_percent != 0) {
        return size_for_memory(options.memory_percent, options.threads, memory);
    }
    return {options.digits != 0 ? options.digits : pi_benchmark_digits, "", ""};
}

int stress_mode(const cli_options &options, const cli_engine &engine, console &out) {
    const machine_memory memory = engine.memory();
    const memory_sized size = stress_size(options, memory);
    if (!size.error.empty()) {
        out.error(size.error);
        return out.close(exit_usage);
    }
    if (!fits_in_memory(size.digits, options.threads, memory, out)) {
        return out.close(exit_usage);
    }
    std::stop_source stop;
    // The first Ctrl-C asks for the summary; a second one leaves at once.
    const interrupt_handler on_ctrl_c([stop]() mutable {
        if (!stop.request_stop()) {
            _exit(exit_interrupted);
        }
    });
    report_record planned;
    planned.versions = running_versions(program_name);
    get_system_info(&planned.machine);
    record_start(planned);
    progress_bar bar(out, engine.clock);
    stress_request request;
    request.digits = size.digits;
    request.threads = options.threads;
    request.seconds = options.minutes * 60;
    request.driver = engine.driver;
    request.clock = engine.clock;
    request.progress = &bar;
    request.stop = stop.get_token();
    request.on_computation = [&out](const stress_record &record) {
        out.print(stress_line(record));
    };
    out.print(stress_opening(request.digits, request.threads, options.minutes));
    if (!size.choice.empty()) {
        out.print(size.choice + "\n");
    }
    bar.start_stress(request.threads, request.seconds);
    const stress_report report = run_stress(request);
    bar.stop();
    if (report.interrupted) {
        // The computations still running use the bar and the console: the program ends here.
        out.clear_interrupted_line();
        out.print(stress_summary(report));
        _exit(out.close(exit_interrupted));
    }
    if (options.save) {
        report_record record = stress_report_record(report, std::move(planned));
        save_result(record, out);
    }
    out.print(stress_summary(report));
    return out.close(report.success() ? exit_success : exit_failed);
}

int version_mode(console &out) {
    const report_versions versions = running_versions(program_name);
    out.print(std::string(program_name) + " " + versions.version + "\nengine " + versions.engine +
              "\nkernels " + versions.kernels + "\n");
    return out.close(exit_success);
}

int run_mode(const cli_options &options, const cli_engine &engine, console &out) {
    switch (options.mode) {
    case cli_mode::help:
        out.print(usage_text());
        return out.close(exit_success);
    case cli_mode::version:
        return version_mode(out);
    case cli_mode::print:
        return print_mode(options, engine, out);
    case cli_mode::stress:
        return stress_mode(options, engine, out);
    case cli_mode::history:
        return history_mode(options.json, out);
    case cli_mode::delete_result:
        return delete_mode(options.delete_id, out);
    case cli_mode::benchmark:
    case cli_mode::digits:
        break;
    }
    return measure_mode(options, engine, out);
}

} // namespace

int run_tessary_cli(int argc, char **argv, const cli_engine &engine) {
    console out(stdout, stderr);
    bool json = false;
    try {
        const parsed_options parsed = parse_options(argc, argv, online_processors());
        if (!parsed.error.empty()) {
            out.error(parsed.error + " (try --help)");
            return exit_usage;
        }
        json = parsed.options.json;
        // A path forced with TESSARY_SIMD that this machine cannot run is not silently replaced.
        if (const char *note = pi_simd_note()) {
            out.error(note);
        }
        watch_interrupts();
        return run_mode(parsed.options, engine, out);
    } catch (const std::bad_alloc &) {
        if (json) {
            out.print(allocation_failure_json());
        }
        out.error("Memory allocation failed");
        return out.close(exit_failed);
    }
}
