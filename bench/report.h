// The benchmark's results: one line per hub and mode, printed as a table and
// written as CSV.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "synthetic_hub.h"

namespace bench {

// Best and median of repeated timings, in nanoseconds.
struct Timing {
    int runs = 0;
    double best = 0;
    double median = 0;
};
Timing summarize(std::vector<double> nanoseconds);

struct Measurement {
    std::string mode;      // "index" or "no index"
    HubShape shape;
    bool skipped = false;  // too slow to run without the index
    Timing query;
    Timing gathering;  // the first processing call of the same runs
    Timing floor;
    Timing handBack;   // the data server's side of handing back one row per identity
    std::size_t peakHeapBytes = 0;

    double ratio() const { return query.best / floor.best; }
    double nanosecondsPerRow() const { return query.best / static_cast<double>(shape.rows()); }
};

// The table of one mode, with times as the best of the runs.
void printTable(std::ostream& out, const std::string& title, const std::vector<Measurement>& lines);

// Every measurement, best and median, one line each, with a header.
void writeCsv(std::ostream& out, const std::vector<Measurement>& lines);

}  // namespace bench
