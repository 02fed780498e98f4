// One whole query through a provider's entry vector, as the data server
// runs it, with the gathering and handing back timed.
#pragma once

#include <cstdint>
#include <string>

#include "hub/ds/scenario.h"

#include "platform/registration.h"
#include "stopwatch.h"

namespace bench {

struct QueryRun {
    // From the first processing call to the one that reports no further row:
    // the gathering plus every row handed back.
    Times elapsed;
    // Of that, the first processing call: the gathering and the first row.
    Times gathering;
    // The whole request: start, every processing call, termination.
    Times whole;
    int64_t rows = 0;
    // Of every row's bytes in the order handed back, to tell runs apart.
    uint64_t checksum = 0;
};

// Starts a request, processes until status 62 and terminates; throws
// std::runtime_error if an entry fails.
QueryRun runQuery(const PRB1_VectorRecord& provider);

// `SELECT * FROM table` through the SQL engine of the scenario's connection,
// on which the table must be attached, stepped to its end with every column
// of every row read; returns the time and sets `rows`. Throws what the
// statement runner throws.
Times runSqlQuery(const hub::ds::Scenario& scenario, const std::string& table, int64_t& rows);

}  // namespace bench
