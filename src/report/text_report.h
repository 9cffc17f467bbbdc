// The text report for people, as tessary-cli prints it and the window copies it: pure
// functions of the report record, in pieces that a front end prints as a measurement goes.
#ifndef TESSARY_TEXT_REPORT_H
#define TESSARY_TEXT_REPORT_H

#include "report/report_record.h"

#include <string>

// A caption and its value, the values of a report in one column: "Score:            507\n".
std::string text_row(const char *caption, const std::string &value);

// The benchmark's opening: the machine, the kernels and a blank line; empty for a single
// computation.
std::string text_report_head(const report_record &record);

// Whether a computation has a line of its own: every run of the benchmark and every
// multi-core computation; one computation on one thread is told by the summary alone.
bool text_shows_line(const report_request &request, const computation_record &computation);
std::string text_computation_line(const computation_record &computation);

// The figures of what succeeded, or how far an interrupted measurement got. Why a
// measurement failed is the front end's to say, once.
std::string text_summary(const report_record &record);

// The whole report: the head, the lines in the order the computations finished, the summary.
std::string text_report(const report_record &record);

#endif
