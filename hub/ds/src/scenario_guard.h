// What a scenario's connection refuses: a scenario describes a hub in memory
// and has no business with files, and once loaded it stays read-only.
#pragma once

#include <sqlite3.h>

#include <string>

namespace hub::ds {

// While the scenario's script runs: ATTACH of anything but ':memory:'
// (VACUUM INTO attaches its target, so it is refused too) and the pragmas
// that name directories for files are refused. `refusal` is set to why the
// last refused action was, for the message of the statement that failed; it
// must outlive the loading.
void guardLoading(sqlite3* db, std::string* refusal);

// Once the scenario has loaded, for the connection's whole life: the same,
// and neither its databases (ATTACH, DETACH) nor the settings it was loaded
// with (query_only, case_sensitive_like) change.
void guardLoaded(sqlite3* db);

}  // namespace hub::ds
