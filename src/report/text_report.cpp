#include "report/text_report.h"

#include "probe/system_rows.h"
#include "report/number_style.h"

#include <algorithm>
#include <cmath>

namespace {

// Below this the multi-core part is likely to have shared the processors with other work.
constexpr double low_scaling_efficiency = 0.8;

// Scores are whole numbers.
std::string score_text(double score) {
    return grouped(std::llround(score));
}

// "8,388,592 verified": the line's other figures name their units, and this one would take a
// line past 80 columns.
std::string verified_text(const pi_check &check) {
    if (check.verified_digits == 0) {
        return "too few digits to verify";
    }
    if (check.unchecked_digits > 0) {
        return grouped(check.verified_digits) + " verified, " + grouped(check.unchecked_digits) +
               " not checked";
    }
    return grouped(check.verified_digits) + " verified";
}

// How far the computation was verified, and what lies past the reference's reach.
std::string verified_row(const report_summary &summary) {
    if (!summary.verifiable) {
        return "none: too few digits to verify";
    }
    if (summary.unchecked_digits > 0) {
        return "to digit " + grouped(summary.verified_digits) + "; the remaining " +
               counted(summary.unchecked_digits, "digit is", "digits are") + " not checked";
    }
    return counted(summary.verified_digits, "digit", "digits");
}

std::string single_core_summary(const report_record &record) {
    const report_summary &summary = record.summary;
    std::string text;
    if (record.request.runs == 1) {
        text += text_row("Digits:", grouped(summary.digits));
        text += text_row("Verified:", verified_row(summary));
    }
    text += text_row("Score:", score_text(summary.score));
    text += text_row("Processor time:", seconds_text(summary.time_seconds));
    text += text_row("Wall time:", seconds_text(summary.wall_seconds));
    if (record.request.runs > 1) {
        const time_spread &spread = summary.spread;
        text += text_row("Spread:", seconds_value(spread.min_seconds) + " / " +
                                        seconds_value(spread.median_seconds) + " / " +
                                        seconds_value(spread.max_seconds) +
                                        " sec min / median / max (" +
                                        percent_text(spread.relative) + ")");
    }
    return text;
}

// "1.93": the load average as the kernel writes it.
std::string load_text(double load) {
    return decimal_text(load, 2);
}

// The one line that says why the scaling may be low, with the load when it was known.
std::string scaling_hint(const report_record &record) {
    if (record.multi_core->scaling_efficiency >= low_scaling_efficiency) {
        return "";
    }
    std::string hint = "scaling below " + percent_text(low_scaling_efficiency) +
                       ": other work may have used the processors";
    if (record.conditions && record.conditions->load_average >= 0) {
        hint += " (load " + load_text(record.conditions->load_average) + " at the start)";
    }
    return text_row("Note:", hint);
}

// A row for each of the conditions the probe could tell.
std::string conditions_rows(const run_conditions &conditions) {
    std::string text;
    if (conditions.load_average >= 0) {
        std::string load = load_text(conditions.load_average) + " on " +
                           counted(conditions.processors, "processor", "processors");
        if (conditions.runnable >= 0) {
            load += ", " + counted(conditions.runnable, "other process", "other processes") +
                    " runnable";
        }
        text += text_row("Load:", load);
    }
    if (conditions.huge_pages[0] != '\0') {
        text += text_row("Huge pages:", conditions.huge_pages);
    }
    if (conditions.governor[0] != '\0') {
        text += text_row("Governor:", conditions.governor);
    }
    return text;
}

// The conditions the measurement started in, with a warning when the machine was busy; the
// date; the comparison with earlier results and the save.
std::string circumstances(const report_record &record) {
    std::string text;
    if (record.conditions) {
        const run_conditions &conditions = *record.conditions;
        text += conditions_rows(conditions);
        if (run_conditions_busy(&conditions)) {
            text += "The machine was busy: load " + load_text(conditions.load_average) + " on " +
                    counted(conditions.processors, "processor", "processors") +
                    "; scores may be low\n";
        }
    }
    if (!record.started_at.empty()) {
        text += text_row("Started:", record.started_at);
    }
    if (!record.comparison.empty()) {
        text += text_row("Compared:", record.comparison);
    }
    if (record.saved && record.saved->saved) {
        text += text_row("Saved:", "as result " + std::to_string(record.saved->id));
    }
    return text;
}

std::string multi_core_summary(const report_record &record) {
    const multi_core_part &multi = *record.multi_core;
    const std::string reference = score_text(multi.reference_wall_score);
    return text_row("Multi-core score:", score_text(multi.score) + " (" +
                                             counted(record.request.threads, "thread", "threads") +
                                             ")") +
           text_row("Multi-core wall:", seconds_text(multi.wall_seconds)) +
           text_row("Scaling:", percent_text(multi.scaling_efficiency) + " of " +
                                    std::to_string(record.request.threads) + " x " + reference) +
           text_row("Clocks:",
                    "Score on processor time; multi-core and " + reference + " on the wall clock") +
           scaling_hint(record);
}

} // namespace

std::string text_row(const char *caption, const std::string &value) {
    std::string line = caption;
    line.resize(std::max<std::size_t>(line.size(), 18), ' ');
    return line + value + "\n";
}

std::string text_report_head(const report_record &record) {
    if (record.request.runs == 1) {
        return "";
    }
    std::string text;
    for (const system_row &machine_row : system_rows(record.machine, grouped)) {
        text += text_row(machine_row.caption, machine_row.value);
    }
    return text + text_row("Kernels:", record.versions.kernels) + "\n";
}

bool text_shows_line(const report_request &request, const computation_record &computation) {
    return computation.multi_core || request.runs > 1;
}

std::string text_computation_line(const computation_record &computation) {
    std::string line = computation.multi_core ? "Thread " + std::to_string(computation.thread) +
                                                    ", run " + std::to_string(computation.run)
                                              : "Run " + std::to_string(computation.run);
    line += ": ";
    const pi_result &result = computation.result;
    if (result.success == 0) {
        return line + "FAILED: " + result.error_message + "\n";
    }
    if (!computation.multi_core) {
        line += seconds_text(result.time_seconds) + " processor, ";
    }
    const double score = computation.multi_core ? computation.wall_score : result.score;
    return line + seconds_text(computation.wall_seconds) + " wall, score " + score_text(score) +
           ", " + verified_text(computation.check) + "\n";
}

std::string text_summary(const report_record &record) {
    if (record.interrupted == interruption::single_core) {
        return record.error_message + "\n";
    }
    if (record.single.result.success == 0) {
        return "";
    }
    std::string text = single_core_summary(record);
    if (record.interrupted == interruption::multi_core) {
        text += record.error_message + "\n";
    } else if (record.multi_core && record.multi_core->error_message.empty()) {
        text += multi_core_summary(record);
    }
    return text + circumstances(record);
}

std::string text_report(const report_record &record) {
    std::vector<const computation_record *> lines;
    for (const computation_record &run : record.single.runs) {
        lines.push_back(&run);
    }
    // The multi-core part's computations finish in no fixed order of threads.
    const std::size_t multi_start = lines.size();
    if (record.multi_core) {
        for (const thread_outcome &thread : record.multi_core->per_thread) {
            for (const computation_record &run : thread.runs) {
                lines.push_back(&run);
            }
        }
    }
    std::stable_sort(lines.begin() + static_cast<std::ptrdiff_t>(multi_start), lines.end(),
                     [](const computation_record *a, const computation_record *b) {
                         return a->finish_order < b->finish_order;
                     });
    std::string text = text_report_head(record);
    for (const computation_record *line : lines) {
        if (text_shows_line(record.request, *line)) {
            text += text_computation_line(*line);
        }
    }
    return text + text_summary(record);
}
