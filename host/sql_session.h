// What kqvhost does with a loaded provider: its tables made tables of the
// scenario's SQL engine, and the user's statements run on them.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "hub/ds/scenario.h"
#include "result_format.h"

namespace host {

// Exit statuses of kqvhost.
inline constexpr int kExitOk = 0;
inline constexpr int kExitQueryFailed = 1;  // an entry of the provider failed
inline constexpr int kExitBadInput = 2;
inline constexpr int kExitOutputFailed = 3;  // standard output or standard error could not be written

// Makes every table that a provider has registered, and that the hub's
// catalog defines, a table of the scenario's engine. Each scan runs `passes`
// passes within its request. Throws std::runtime_error when `required` is
// not among them.
void attachRegisteredTables(const hub::ds::Scenario& scenario, const std::string& required, int passes);

// SELECT * FROM the table, with one equality per COLUMN=VALUE (the value a
// text literal). Throws std::invalid_argument for a condition without '='
// or without a column name.
std::string defaultQuery(const std::string& table, const std::vector<std::string>& conditions);

// Runs the statements and writes each result on `out` as its rows are
// stepped (result_format.h). A failure is one line on `err`, which begins
// with `source` (where the statements come from, "--read q.sql") when it is
// given; the rows of the failing statement written before it stay written.
// A result that cannot be written ends the run. Adds the rows written to
// `rowsPrinted` when it is given. Returns the exit status.
int runStatements(const hub::ds::Scenario& scenario, std::string_view script, Format format, std::ostream& out,
                  std::ostream& err, std::string_view source = {}, std::size_t* rowsPrinted = nullptr);

}  // namespace host
