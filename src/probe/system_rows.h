// The machine as both front ends describe it: a caption and a value per row, in the window's
// order, the frequency only when it is known.
#ifndef TESSARY_SYSTEM_ROWS_H
#define TESSARY_SYSTEM_ROWS_H

#include "probe/system_info.h"

#include <string>
#include <vector>

struct system_row {
    const char *caption; // "CPU:", "Cores:", "Frequency:", "Memory:", "OS:", "Architecture:"
    std::string value;
};

// A count as the front end writes numbers: plainly, grouped in thousands, in the user's locale.
using count_writer = std::string (*)(long long count);

// The rows of a probed machine (`info.valid`); `count` writes the cores, MHz and MB.
std::vector<system_row> system_rows(const system_info &info, count_writer count);

#endif
