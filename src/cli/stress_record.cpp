// A stress run as the one record the results store keeps of it.
#include "cli/stress.h"

#include "report/number_style.h"

#include <cstdio>

namespace {

computation_record computation_of(const stress_record &computation) {
    computation_record record;
    record.thread = computation.thread;
    record.run = computation.number;
    record.finish_order = computation.number;
    record.result = computation.result;
    record.check = computation.check;
    record.wall_seconds = computation.wall_seconds;
    return record;
}

// Why the run failed, in the words of its summary's result line.
std::string failure_text(const stress_report &report) {
    if (const stress_record *failure = report.first_failure()) {
        return "Computation " + grouped(failure->number) + " on thread " +
               std::to_string(failure->thread) + ": " + failure->result.error_message;
    }
    if (!report.start_error.empty()) {
        return report.start_error;
    }
    return "No computation finished in the time given";
}

} // namespace

report_record stress_report_record(const stress_report &report, report_record planned) {
    report_record record = std::move(planned);
    record.request = {report.digits, 0, report.threads};
    thread_outcome &all = record.single;
    for (const stress_record &computation : report.computations) {
        all.runs.push_back(computation_of(computation));
    }
    all.wall_seconds = report.elapsed_seconds;
    all.result.success = report.success() ? 1 : 0;
    all.result.digits = report.computations.empty() ? 0 : report.computations.front().result.digits;
    if (!report.success()) {
        const std::string why = failure_text(report);
        std::snprintf(all.result.error_message, sizeof all.result.error_message, "%s", why.c_str());
    }
    summarise(record);
    // Each computation's processor time counts every thread's: their spread means nothing.
    record.summary.spread = time_spread{};
    return record;
}
