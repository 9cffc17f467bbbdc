// tessary-cli's reports as text for people: the machine, a line per computation, summaries.
#ifndef TESSARY_CLI_TEXT_REPORT_H
#define TESSARY_CLI_TEXT_REPORT_H

#include "cli/measure.h"
#include "cli/stress.h"
#include "probe/system_info.h"

#include <cstdio>

void write_machine(std::FILE *out, const system_info &machine);
void write_computation_line(std::FILE *out, const computation_record &record);
// The summary of what succeeded; a failure's reason is the caller's to report.
void write_measure_summary(std::FILE *out, const measure_report &report);

void write_stress_line(std::FILE *out, const stress_record &record);
void write_stress_summary(std::FILE *out, const stress_report &report);

#endif
