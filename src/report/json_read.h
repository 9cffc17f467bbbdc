// A JSON report of schema 1 read back into the record it was written from, so that a saved
// result can be shown and written again as it was: json_report of the record read is the
// report read.
#ifndef TESSARY_JSON_READ_H
#define TESSARY_JSON_READ_H

#include "report/report_record.h"

#include <optional>
#include <string>
#include <string_view>

// The record, or nothing with the reason in `why` (not JSON, another schema, a field missing
// or of the wrong type).
std::optional<report_record> report_from_json(std::string_view text, std::string &why);

#endif
