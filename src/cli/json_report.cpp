#include "cli/json_report.h"

#include "tessary_version.h"

#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::ordered_json;

// Scores are whole numbers: written as integers.
long long whole(double score) {
    return static_cast<long long>(score);
}

json machine_json(const system_info &machine) {
    return {
        {"cpu_model", machine.cpu_model},
        {"physical_cores", machine.physical_cores},
        {"logical_cores", machine.logical_cores},
        {"cpu_mhz", machine.cpu_mhz},
        {"memory_mb", machine.memory_mb},
        {"os_name", machine.os_name},
        {"kernel_release", machine.kernel_release},
        {"architecture", machine.architecture},
        {"valid", machine.valid},
        {"error_message", machine.error_message},
    };
}

json run_json(const computation_record &run) {
    return {
        {"thread", run.thread},
        {"run", run.run},
        {"success", run.result.success},
        {"digits", run.result.digits},
        {"verified_digits", run.check.verified_digits},
        {"first_wrong_digit", run.check.first_wrong_digit},
        {"time_seconds", run.result.time_seconds},
        {"score", whole(run.result.score)},
        {"wall_seconds", run.wall_seconds},
        {"wall_score", whole(run.wall_score)},
        {"error_message", run.result.error_message},
    };
}

json runs_json(const std::vector<computation_record> &runs) {
    json list = json::array();
    for (const computation_record &run : runs) {
        list.push_back(run_json(run));
    }
    return list;
}

json spread_json(const thread_outcome &outcome) {
    const time_spread spread = processor_time_spread(outcome);
    return {
        {"min_seconds", spread.min_seconds},
        {"median_seconds", spread.median_seconds},
        {"max_seconds", spread.max_seconds},
        {"relative", spread.relative},
    };
}

json multi_core_json(const measure_report &report) {
    json threads = json::array();
    for (const thread_outcome &outcome : report.multi) {
        threads.push_back({
            {"thread", outcome.thread},
            {"success", outcome.result.success},
            {"wall_score", whole(outcome.wall_score)},
            {"error_message", outcome.result.error_message},
            {"runs", runs_json(outcome.runs)},
        });
    }
    return {
        {"threads", report.threads},
        {"success", report.multi_error.empty() ? 1 : 0},
        {"score", whole(report.multi_core_score)},
        {"reference_wall_score", whole(report.single.wall_score)},
        {"scaling_efficiency", report.scaling_efficiency},
        {"wall_seconds", report.multi_wall_seconds},
        {"error_message", report.multi_error},
        {"per_thread", threads},
    };
}

} // namespace

std::string measure_json(const measure_report &report, const system_info &machine) {
    const pi_result &single = report.single.result;
    json summary = {
        {"digits", single.digits},
        {"verified_digits", fewest_verified(report.single)},
        {"score", whole(single.score)},
        {"time_seconds", single.time_seconds},
        {"wall_seconds", report.single_wall_seconds},
        {"spread", spread_json(report.single)},
        {"multi_core_score", nullptr},
        {"scaling_efficiency", nullptr},
    };
    if (report.multi_core() && report.success()) {
        summary["multi_core_score"] = whole(report.multi_core_score);
        summary["scaling_efficiency"] = report.scaling_efficiency;
    }
    const json document = {
        {"schema", json_schema},
        {"program", "tessary-cli"},
        {"version", TESSARY_VERSION},
        {"engine_version", pi_get_version()},
        {"machine", machine_json(machine)},
        {"request",
         {{"digits", report.digits}, {"runs", report.runs}, {"threads", report.threads}}},
        {"success", report.success() ? 1 : 0},
        {"error_message", report.error_message()},
        {"summary", summary},
        {"runs", runs_json(report.single.runs)},
        {"multi_core", report.multi_core() ? multi_core_json(report) : json(nullptr)},
    };
    // Texts from the system may be cut inside a UTF-8 sequence: replace, never throw.
    return document.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

const char *allocation_failure_json() {
    return "{\"schema\": 1, \"success\": 0, \"error_message\": \"Memory allocation failed\"}\n";
}
