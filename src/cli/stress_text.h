// Stress mode's text: what it is about to do, a line per computation, the summary.
#ifndef TESSARY_CLI_STRESS_TEXT_H
#define TESSARY_CLI_STRESS_TEXT_H

#include "cli/stress.h"

#include <string>

std::string stress_opening(int digits, int threads, double minutes);
std::string stress_line(const stress_record &record);
// Counts and times, then one line that begins "Result: " and says whether it passed.
std::string stress_summary(const stress_report &report);

#endif
