#include "report/json_read.h"

#include "report/json_report.h"

#include <nlohmann/json.hpp>

#include <cstdio>

namespace {

using json = nlohmann::json;

template <std::size_t size> void copy_text(char (&field)[size], const std::string &text) {
    std::snprintf(field, size, "%s", text.c_str());
}

// A text that the writer leaves null when empty.
std::string text_or_empty(const json &value) {
    return value.is_null() ? "" : value.get<std::string>();
}

system_info machine_of(const json &in) {
    system_info machine{};
    copy_text(machine.cpu_model, in.at("cpu_model").get<std::string>());
    machine.physical_cores = in.at("physical_cores").get<int>();
    machine.logical_cores = in.at("logical_cores").get<int>();
    machine.cpu_mhz = in.at("cpu_mhz").get<int>();
    machine.memory_mb = in.at("memory_mb").get<long long>();
    copy_text(machine.os_name, in.at("os_name").get<std::string>());
    copy_text(machine.kernel_release, in.at("kernel_release").get<std::string>());
    copy_text(machine.architecture, in.at("architecture").get<std::string>());
    machine.valid = in.at("valid").get<int>();
    copy_text(machine.error_message, in.at("error_message").get<std::string>());
    return machine;
}

// What the probe could not tell was written as null.
run_conditions conditions_of(const json &in) {
    run_conditions conditions{};
    const json &load = in.at("load_average");
    const json &runnable = in.at("runnable");
    conditions.load_average = load.is_null() ? -1 : load.get<double>();
    conditions.runnable = runnable.is_null() ? -1 : runnable.get<int>();
    conditions.processors = in.at("processors").get<int>();
    copy_text(conditions.governor, text_or_empty(in.at("governor")));
    copy_text(conditions.huge_pages, text_or_empty(in.at("transparent_huge_pages")));
    return conditions;
}

std::optional<save_outcome> save_of(const json &in) {
    const json &saved = in.at("saved");
    if (saved.is_null()) {
        return std::nullopt;
    }
    const json &id = in.at("result_id");
    return save_outcome{saved.get<int>() != 0, id.is_null() ? 0 : id.get<long long>(),
                        text_or_empty(in.at("save_message"))};
}

std::vector<computation_record> runs_of(const json &in, bool multi_core) {
    std::vector<computation_record> runs;
    for (const json &item : in) {
        computation_record run;
        run.thread = item.at("thread").get<int>();
        run.run = item.at("run").get<int>();
        run.multi_core = multi_core;
        run.finish_order = static_cast<int>(runs.size()) + 1;
        run.result.success = item.at("success").get<int>();
        run.result.digits = item.at("digits").get<int>();
        run.result.time_seconds = item.at("time_seconds").get<double>();
        run.result.score = item.at("score").get<double>();
        copy_text(run.result.error_message, item.at("error_message").get<std::string>());
        run.check.verified_digits = item.at("verified_digits").get<int>();
        run.check.first_wrong_digit = item.at("first_wrong_digit").get<int>();
        run.wall_seconds = item.at("wall_seconds").get<double>();
        run.wall_score = item.at("wall_score").get<double>();
        runs.push_back(run);
    }
    return runs;
}

report_summary summary_of(const json &in) {
    report_summary summary;
    summary.digits = in.at("digits").get<int>();
    summary.verified_digits = in.at("verified_digits").get<int>();
    summary.verifiable = in.at("verifiable").get<int>() != 0;
    summary.score = in.at("score").get<double>();
    summary.time_seconds = in.at("time_seconds").get<double>();
    summary.wall_seconds = in.at("wall_seconds").get<double>();
    const json &spread = in.at("spread");
    summary.spread = {spread.at("min_seconds").get<double>(),
                      spread.at("median_seconds").get<double>(),
                      spread.at("max_seconds").get<double>(), spread.at("relative").get<double>()};
    return summary;
}

multi_core_part multi_core_of(const json &in) {
    multi_core_part multi;
    multi.score = in.at("score").get<double>();
    multi.reference_wall_score = in.at("reference_wall_score").get<double>();
    multi.scaling_efficiency = in.at("scaling_efficiency").get<double>();
    multi.wall_seconds = in.at("wall_seconds").get<double>();
    multi.error_message = in.at("error_message").get<std::string>();
    for (const json &item : in.at("per_thread")) {
        thread_outcome thread;
        thread.thread = item.at("thread").get<int>();
        thread.result.success = item.at("success").get<int>();
        copy_text(thread.result.error_message, item.at("error_message").get<std::string>());
        thread.wall_score = item.at("wall_score").get<double>();
        thread.runs = runs_of(item.at("runs"), true);
        multi.per_thread.push_back(std::move(thread));
    }
    return multi;
}

// The single-core part as the text report reads it: its outcome, figures and runs. Its
// success is the record's, or that of a part followed by a multi-core part that failed.
thread_outcome single_core_of(const report_record &record, const json &in) {
    thread_outcome single;
    single.result.success =
        record.success || (record.multi_core && !record.multi_core->error_message.empty() &&
                           record.error_message.starts_with("Multi-core: "));
    if (!single.result.success) {
        copy_text(single.result.error_message, record.error_message);
    }
    single.result.digits = record.summary.digits;
    single.result.score = record.summary.score;
    single.result.time_seconds = record.summary.time_seconds;
    single.wall_seconds = record.summary.wall_seconds;
    if (record.multi_core) {
        single.wall_score = record.multi_core->reference_wall_score;
    }
    single.runs = runs_of(in.at("runs"), false);
    return single;
}

report_record record_of(const json &in) {
    report_record record;
    record.versions = {in.at("program").get<std::string>(), in.at("version").get<std::string>(),
                       in.at("engine_version").get<std::string>(),
                       in.at("simd_path").get<std::string>(), text_or_empty(in.at("simd_note"))};
    record.machine = machine_of(in.at("machine"));
    const json &request = in.at("request");
    record.request = {request.at("digits").get<int>(), request.at("runs").get<int>(),
                      request.at("threads").get<int>()};
    record.started_at = text_or_empty(in.at("started_at"));
    if (!in.at("conditions").is_null()) {
        record.conditions = conditions_of(in.at("conditions"));
    }
    record.summary = summary_of(in.at("summary"));
    if (!in.at("multi_core").is_null()) {
        record.multi_core = multi_core_of(in.at("multi_core"));
    }
    record.success = in.at("success").get<int>() != 0;
    record.error_message = in.at("error_message").get<std::string>();
    record.single = single_core_of(record, in);
    record.comparison = text_or_empty(in.at("comparison"));
    record.saved = save_of(in);
    return record;
}

} // namespace

std::optional<report_record> report_from_json(std::string_view text, std::string &why) {
    try {
        const json in = json::parse(text);
        if (!in.is_object() || in.value("schema", 0) != json_schema) {
            why = "not a report of schema " + std::to_string(json_schema);
            return std::nullopt;
        }
        return record_of(in);
    } catch (const json::exception &error) {
        why = error.what();
        return std::nullopt;
    }
}
