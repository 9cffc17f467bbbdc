// tessary-cli's report for scripts: one JSON object, schema 1 (documented in README.md).
#ifndef TESSARY_CLI_JSON_REPORT_H
#define TESSARY_CLI_JSON_REPORT_H

#include "cli/measure.h"
#include "probe/system_info.h"

#include <string>

constexpr int json_schema = 1;

// The whole report, one line ending in a newline.
std::string measure_json(const measure_report &report, const system_info &machine);

// The report when memory ran out, written without allocating.
const char *allocation_failure_json();

#endif
