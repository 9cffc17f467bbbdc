#include "cli/json_report.h"

#include "tessary_version.h"

#include <nlohmann/json.hpp>

namespace {

// Objects are std::maps (keys in sorted order): nlohmann's ordered maps are vectors whose
// growth copies the members, which under a failing allocation cannot be undone safely.
using json = nlohmann::json;

// nlohmann-json 3.11 is not safe when memory runs out: it allocates a work stack whenever it
// destroys a non-empty array or object (and so when it builds objects from initializer
// lists), where a failure ends the program in std::terminate, and a null value that fails
// to become an object is left typed as one with no storage. The report is therefore built
// in place in one document, every container made explicitly (out = json::object()) before
// its members, and the document's holder empties its containers from the leaves up, which
// frees them without allocating, also while an exception unwinds.
void empty_from_the_leaves(json &value) {
    if (auto *members = value.get_ptr<json::object_t *>()) {
        for (auto &member : *members) {
            empty_from_the_leaves(member.second);
        }
        members->clear();
    } else if (auto *elements = value.get_ptr<json::array_t *>()) {
        for (json &element : *elements) {
            empty_from_the_leaves(element);
        }
        elements->clear();
    }
}

struct json_document {
    json root;
    json_document() = default;
    json_document(const json_document &) = delete;
    json_document &operator=(const json_document &) = delete;
    ~json_document() { empty_from_the_leaves(root); }
};

// Scores are whole numbers: written as integers.
long long whole(double score) {
    return static_cast<long long>(score);
}

void put_machine(json &out, const system_info &machine) {
    out = json::object();
    out["cpu_model"] = machine.cpu_model;
    out["physical_cores"] = machine.physical_cores;
    out["logical_cores"] = machine.logical_cores;
    out["cpu_mhz"] = machine.cpu_mhz;
    out["memory_mb"] = machine.memory_mb;
    out["os_name"] = machine.os_name;
    out["kernel_release"] = machine.kernel_release;
    out["architecture"] = machine.architecture;
    out["valid"] = machine.valid;
    out["error_message"] = machine.error_message;
}

void put_run(json &out, const computation_record &run) {
    out = json::object();
    out["thread"] = run.thread;
    out["run"] = run.run;
    out["success"] = run.result.success;
    out["digits"] = run.result.digits;
    out["verified_digits"] = run.check.verified_digits;
    out["first_wrong_digit"] = run.check.first_wrong_digit;
    out["time_seconds"] = run.result.time_seconds;
    out["score"] = whole(run.result.score);
    out["wall_seconds"] = run.wall_seconds;
    out["wall_score"] = whole(run.wall_score);
    out["error_message"] = run.result.error_message;
}

void put_runs(json &out, const std::vector<computation_record> &runs) {
    out = json::array();
    for (const computation_record &run : runs) {
        put_run(out.emplace_back(), run);
    }
}

void put_spread(json &out, const thread_outcome &outcome) {
    out = json::object();
    const time_spread spread = processor_time_spread(outcome);
    out["min_seconds"] = spread.min_seconds;
    out["median_seconds"] = spread.median_seconds;
    out["max_seconds"] = spread.max_seconds;
    out["relative"] = spread.relative;
}

void put_summary(json &out, const measure_report &report) {
    out = json::object();
    const pi_result &single = report.single.result;
    out["digits"] = single.digits;
    out["verified_digits"] = fewest_verified(report.single);
    out["score"] = whole(single.score);
    out["time_seconds"] = single.time_seconds;
    out["wall_seconds"] = report.single_wall_seconds;
    put_spread(out["spread"], report.single);
    const bool measured = report.multi_core() && report.success();
    out["multi_core_score"] = measured ? json(whole(report.multi_core_score)) : json(nullptr);
    out["scaling_efficiency"] = measured ? json(report.scaling_efficiency) : json(nullptr);
}

void put_multi_core(json &out, const measure_report &report) {
    out = json::object();
    out["threads"] = report.threads;
    out["success"] = report.multi_error.empty() ? 1 : 0;
    out["score"] = whole(report.multi_core_score);
    out["reference_wall_score"] = whole(report.single.wall_score);
    out["scaling_efficiency"] = report.scaling_efficiency;
    out["wall_seconds"] = report.multi_wall_seconds;
    out["error_message"] = report.multi_error;
    json &threads = out["per_thread"] = json::array();
    for (const thread_outcome &outcome : report.multi) {
        json &thread = threads.emplace_back() = json::object();
        thread["thread"] = outcome.thread;
        thread["success"] = outcome.result.success;
        thread["wall_score"] = whole(outcome.wall_score);
        thread["error_message"] = outcome.result.error_message;
        put_runs(thread["runs"], outcome.runs);
    }
}

} // namespace

std::string measure_json(const measure_report &report, const system_info &machine) {
    json_document document;
    json &root = document.root = json::object();
    root["schema"] = json_schema;
    root["program"] = "tessary-cli";
    root["version"] = TESSARY_VERSION;
    root["engine_version"] = pi_get_version();
    root["simd_path"] = pi_simd_path();
    const char *note = pi_simd_note();
    root["simd_note"] = note != nullptr ? json(note) : json(nullptr);
    put_machine(root["machine"], machine);
    json &request = root["request"] = json::object();
    request["digits"] = report.digits;
    request["runs"] = report.runs;
    request["threads"] = report.threads;
    root["success"] = report.success() ? 1 : 0;
    root["error_message"] = report.error_message();
    put_summary(root["summary"], report);
    put_runs(root["runs"], report.single.runs);
    if (report.multi_core()) {
        put_multi_core(root["multi_core"], report);
    } else {
        root["multi_core"] = nullptr;
    }
    // Texts from the system may be cut inside a UTF-8 sequence: replace, never throw.
    return root.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

const char *allocation_failure_json() {
    return "{\"schema\": 1, \"success\": 0, \"error_message\": \"Memory allocation failed\"}\n";
}
