#include "probe/system_rows.h"

std::vector<system_row> system_rows(const system_info &info, count_writer count) {
    std::vector<system_row> rows;
    rows.push_back({"CPU:", info.cpu_model});
    rows.push_back({"Cores:", count(info.physical_cores) + " cores (" + count(info.logical_cores) +
                                  " logical)"});
    if (info.cpu_mhz > 0) {
        rows.push_back({"Frequency:", count(info.cpu_mhz) + " MHz"});
    }
    rows.push_back({"Memory:", count(info.memory_mb) + " MB"});
    rows.push_back({"OS:", std::string(info.os_name) + " " + info.kernel_release});
    rows.push_back({"Architecture:", info.architecture});
    return rows;
}
