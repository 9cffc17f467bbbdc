#include "report/json_report.h"

#include "report/number_style.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <initializer_list>
#include <optional>
#include <utility>

namespace {

// Objects are std::maps (keys in sorted order): nlohmann's ordered maps are vectors whose
// growth copies the members, which under a failing allocation cannot be undone safely.
using json = nlohmann::json;

// nlohmann-json 3.11 is not safe when memory runs out: it allocates a work stack whenever it
// destroys a non-empty array or object (and so when it builds objects from initializer
// lists), where a failure ends the program in std::terminate, and a null value that fails
// to become an object is left typed as one with no storage. The report is therefore built
// in place in one document, every container made explicitly (out = json::object()) before
// its members, scalar members only passed around as values, and the document's holder
// empties its containers from the leaves up, which frees them without allocating, also
// while an exception unwinds.
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

// A scalar member: a number, a text or null.
using field = std::pair<const char *, json>;

// Makes `out` an object with these scalar members; objects and arrays go in afterwards.
void put_fields(json &out, std::initializer_list<field> fields) {
    out = json::object();
    for (const field &member : fields) {
        out[member.first] = member.second;
    }
}

// Scores are whole numbers: written as integers.
long long whole(double score) {
    return std::llround(score);
}

json text_or_null(const std::string &text) {
    return text.empty() ? json(nullptr) : json(text);
}

void put_machine(json &out, const system_info &machine) {
    put_fields(out, {{"cpu_model", machine.cpu_model},
                     {"physical_cores", machine.physical_cores},
                     {"logical_cores", machine.logical_cores},
                     {"cpu_mhz", machine.cpu_mhz},
                     {"memory_mb", machine.memory_mb},
                     {"os_name", machine.os_name},
                     {"kernel_release", machine.kernel_release},
                     {"architecture", machine.architecture},
                     {"valid", machine.valid},
                     {"error_message", machine.error_message}});
}

// What the probe could not tell is null.
void put_conditions(json &out, const run_conditions &conditions) {
    const bool load_known = conditions.load_average >= 0;
    put_fields(
        out,
        {{"load_average", load_known ? json(six_places(conditions.load_average)) : json(nullptr)},
         {"runnable", conditions.runnable >= 0 ? json(conditions.runnable) : json(nullptr)},
         {"processors", conditions.processors},
         {"governor", text_or_null(conditions.governor)},
         {"transparent_huge_pages", text_or_null(conditions.huge_pages)},
         {"busy", run_conditions_busy(&conditions)}});
}

// Null where the front end did not try to save.
void put_save(json &out, const std::optional<save_outcome> &saved) {
    out["saved"] = saved ? json(saved->saved ? 1 : 0) : json(nullptr);
    out["result_id"] = saved && saved->saved ? json(saved->id) : json(nullptr);
    out["save_message"] = saved ? text_or_null(saved->message) : json(nullptr);
}

void put_runs(json &out, const std::vector<computation_record> &runs) {
    out = json::array();
    for (const computation_record &run : runs) {
        put_fields(out.emplace_back(), {{"thread", run.thread},
                                        {"run", run.run},
                                        {"success", run.result.success},
                                        {"digits", run.result.digits},
                                        {"verified_digits", run.check.verified_digits},
                                        {"unchecked_digits", run.check.unchecked_digits},
                                        {"first_wrong_digit", run.check.first_wrong_digit},
                                        {"time_seconds", six_places(run.result.time_seconds)},
                                        {"score", whole(run.result.score)},
                                        {"wall_seconds", six_places(run.wall_seconds)},
                                        {"wall_score", whole(run.wall_score)},
                                        {"error_message", run.result.error_message}});
    }
}

void put_summary(json &out, const report_record &record) {
    const report_summary &summary = record.summary;
    const bool measured = record.multi_core && record.success;
    put_fields(
        out,
        {{"digits", summary.digits},
         {"verified_digits", summary.verified_digits},
         {"unchecked_digits", summary.unchecked_digits},
         {"verifiable", summary.verifiable ? 1 : 0},
         {"score", whole(summary.score)},
         {"time_seconds", six_places(summary.time_seconds)},
         {"wall_seconds", six_places(summary.wall_seconds)},
         {"multi_core_score", measured ? json(whole(record.multi_core->score)) : json(nullptr)},
         {"scaling_efficiency",
          measured ? json(six_places(record.multi_core->scaling_efficiency)) : json(nullptr)}});
    const time_spread &spread = summary.spread;
    put_fields(out["spread"], {{"min_seconds", six_places(spread.min_seconds)},
                               {"median_seconds", six_places(spread.median_seconds)},
                               {"max_seconds", six_places(spread.max_seconds)},
                               {"relative", six_places(spread.relative)}});
}

void put_multi_core(json &out, const report_record &record) {
    const multi_core_part &multi = *record.multi_core;
    put_fields(out, {{"threads", record.request.threads},
                     {"success", multi.error_message.empty() ? 1 : 0},
                     {"score", whole(multi.score)},
                     {"reference_wall_score", whole(multi.reference_wall_score)},
                     {"scaling_efficiency", six_places(multi.scaling_efficiency)},
                     {"wall_seconds", six_places(multi.wall_seconds)},
                     {"error_message", multi.error_message}});
    json &threads = out["per_thread"] = json::array();
    for (const thread_outcome &outcome : multi.per_thread) {
        json &thread = threads.emplace_back();
        put_fields(thread, {{"thread", outcome.thread},
                            {"success", outcome.result.success},
                            {"wall_score", whole(outcome.wall_score)},
                            {"error_message", outcome.result.error_message}});
        put_runs(thread["runs"], outcome.runs);
    }
}

} // namespace

std::string json_report(const report_record &record) {
    json_document document;
    json &root = document.root;
    const report_versions &versions = record.versions;
    put_fields(root, {{"schema", json_schema},
                      {"program", versions.program},
                      {"version", versions.version},
                      {"engine_version", versions.engine},
                      {"simd_path", versions.kernels},
                      {"simd_note", text_or_null(versions.kernels_note)},
                      {"success", record.success ? 1 : 0},
                      {"error_message", record.error_message},
                      {"started_at", text_or_null(record.started_at)},
                      {"comparison", text_or_null(record.comparison)},
                      {"conditions", nullptr},
                      {"multi_core", nullptr}});
    put_save(root, record.saved);
    if (record.conditions) {
        put_conditions(root["conditions"], *record.conditions);
    }
    put_machine(root["machine"], record.machine);
    put_fields(root["request"], {{"digits", record.request.digits},
                                 {"runs", record.request.runs},
                                 {"threads", record.request.threads}});
    put_summary(root["summary"], record);
    put_runs(root["runs"], record.single.runs);
    if (record.multi_core) {
        put_multi_core(root["multi_core"], record);
    }
    // Texts from the system may be cut inside a UTF-8 sequence: replace, never throw.
    return root.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

const char *allocation_failure_json() {
    return "{\"schema\": 1, \"success\": 0, \"error_message\": \"Memory allocation failed\"}\n";
}
