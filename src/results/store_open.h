// Opening the results database: its directory, its schema and its migrations, and what to do
// with a file at its path that is damaged, not ours, or newer than this build.
#ifndef TESSARY_RESULTS_STORE_OPEN_H
#define TESSARY_RESULTS_STORE_OPEN_H

#include "results/sqlite_handle.h"

#include <ctime>
#include <memory>
#include <string>

namespace results {

enum class purpose { read, write };

struct opened_store {
    std::unique_ptr<connection> db; // null when reading a store that does not exist yet
    bool newer_schema = false;      // written by a newer build: read it, never write it
};

// Opens the store at `path`. Writing creates the directories and the database as needed and
// brings an older schema up to date. A damaged or foreign file is moved aside (never deleted)
// and a new store started. What the user should hear about is appended to `notice`.
opened_store open_store(const std::string &path, purpose why, std::string &notice);

// Refuses to write a store of a newer schema.
void check_writable(const opened_store &store, const std::string &path);

// `when` in UTC as "2026-12-07T10:11:12Z".
std::string utc_timestamp(std::time_t when);

} // namespace results

#endif
