#include "cli/stress_text.h"

#include "cli/stress_memory.h"
#include "report/number_style.h"

#include <charconv>

namespace {

// "0.5 minutes", "1 minute", "0.000001 minutes": the number as given, without an exponent.
std::string minutes_text(double minutes) {
    char text[400];
    char *end = std::to_chars(text, text + sizeof text, minutes, std::chars_format::fixed).ptr;
    return std::string(text, end) + (minutes == 1 ? " minute" : " minutes");
}

// "8,388,592 verified", as the benchmark's lines say it, or what went wrong in the engine's
// words.
std::string outcome_text(const stress_record &record) {
    if (record.result.success != 0) {
        return grouped(record.check.verified_digits) + " verified";
    }
    return std::string("FAILED: ") + record.result.error_message;
}

std::string result_line(const stress_report &report) {
    if (const stress_record *failure = report.first_failure()) {
        return "FAILED at computation " + grouped(failure->number) + " on thread " +
               std::to_string(failure->thread) + ": " + failure->result.error_message;
    }
    if (!report.start_error.empty()) {
        return "FAILED: " + report.start_error;
    }
    const auto verified = static_cast<long long>(report.computations.size());
    if (report.interrupted) {
        return "interrupted: " + counted(verified, "computation", "computations") + " verified, " +
               grouped(report.abandoned) + " running abandoned; not a pass";
    }
    if (verified == 0) {
        return "FAILED: no computation finished in the time given";
    }
    return "PASSED: " + counted(verified, "computation", "computations") + " verified";
}

} // namespace

std::string stress_opening(int digits, int threads, double minutes) {
    return "Stress: computations of " + counted(digits, "digit", "digits") + " on " +
           counted(threads, "thread", "threads") + " for " + minutes_text(minutes) +
           "; each thread holds " + megabytes_text(held_bytes(digits, 1)) + ", " +
           megabytes_text(held_bytes(digits, threads)) + " in all\n";
}

std::string stress_line(const stress_record &record) {
    return "Computation " + grouped(record.number) + ", thread " + std::to_string(record.thread) +
           ": " + seconds_text(record.wall_seconds) + ", " + outcome_text(record) + "\n";
}

std::string stress_summary(const stress_report &report) {
    return "Stress: " +
           counted(static_cast<long long>(report.computations.size()), "computation",
                   "computations") +
           " of " + counted(report.digits, "digit", "digits") + " on " +
           counted(report.threads, "thread", "threads") + " in " +
           seconds_text(report.elapsed_seconds) + "\nResult: " + result_line(report) + "\n";
}
