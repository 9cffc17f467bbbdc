// The report for scripts: one JSON object, schema 1 (documented in README.md), a pure function
// of the report record, the same document from both front ends.
#ifndef TESSARY_JSON_REPORT_H
#define TESSARY_JSON_REPORT_H

#include "report/report_record.h"

#include <string>

constexpr int json_schema = 1;

// The whole report, one line ending in a newline.
std::string json_report(const report_record &record);

// The report when memory ran out, written without allocating.
const char *allocation_failure_json();

#endif
