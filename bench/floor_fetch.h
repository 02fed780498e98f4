// The floors of a query: its routed statements fetched through the data
// server exactly as the SQL request layer fetches them, with nothing done to
// the rows; and, apart from it, what the data server spends taking the rows
// back from a provider.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/registration.h"
#include "stopwatch.h"

namespace bench {

// The routed statements (CreateAccessPlan on KQV.QVALCSYS) that the provider
// sends for the current scenario, in order, taken from the data server's
// call log of one query. Throws std::runtime_error if the query fails.
std::vector<std::string> routedStatements(const PRB1_VectorRecord& provider);

// Prepares, opens, fetches to the end, closes and drops each statement in
// turn; returns the rows fetched. Throws std::runtime_error naming the
// operation and status of any failure.
int64_t fetchAll(const std::vector<std::string>& statements);

// The data server's side of handing back `rows` rows, as request processing
// makes it for each: GetItem of the parameter list and PutItem of the row,
// on a request of its own. Returns the time the calls took.
Times handBack(int64_t rows);

}  // namespace bench
